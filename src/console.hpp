// The console and the display as the program meets them on Linux.
#pragma once

#include <iosfwd>

#include "analysis/result_report.hpp"

// The key that ends the frame loop: 'q' (113) only; 'Q', no key (-1) and every other code do not.
inline bool is_quit_key(int key)
{
    return key == 113;
}

// Clears the terminal with its escape sequence when fd (the descriptor behind out) is a
// terminal; writes nothing to a file or a pipe, so a log keeps every line.
void clear_console(std::ostream& out, int fd);

// When in_fd is a terminal: writes "Press any key to continue . . ." to out, reads one key
// in raw mode and puts the terminal back as it was. Otherwise returns at once, writing nothing.
void pause_console(std::ostream& out, int in_fd);

// The encoding of the Chinese texts for this console: takes the character type (LC_CTYPE, and
// nothing else: LC_NUMERIC stays "C", so "%f" and the matrix output keep their decimal points)
// from the environment and maps its codeset with encoding_for_codeset.
TextEncoding console_text_encoding();

// True when a graphical session is there for the windows: an X display that opens, or a
// Wayland socket that answers. Probed without the window backend, which aborts the process
// when it finds none.
bool display_available();
