#include "console.hpp"

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>

#include <X11/Xlib.h>
#include <langinfo.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool x_display_opens(const char* name)
{
    Display* display = XOpenDisplay(name);
    if (display == nullptr) {
        return false;
    }
    XCloseDisplay(display);
    return true;
}

// A relative WAYLAND_DISPLAY names a socket in XDG_RUNTIME_DIR.
bool wayland_socket_answers(const char* name)
{
    std::string path = name;
    if (path.empty()) {
        return false;
    }
    if (path.front() != '/') {
        const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR");
        if (runtime_dir == nullptr) {
            return false;
        }
        path = std::string(runtime_dir) + "/" + path;
    }
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path)) {
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool answered = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return answered;
}

// Reads one byte; a signal ends the wait too.
void read_one_key(int fd)
{
    char key = 0;
    while (read(fd, &key, 1) < 0 && errno == EINTR) {
    }
}

}  // namespace

void clear_console(std::ostream& out, int fd)
{
    if (isatty(fd) == 1) {
        out << "\x1b[H\x1b[2J" << std::flush;  // cursor home, erase the screen
    }
}

void pause_console(std::ostream& out, int in_fd)
{
    termios saved{};
    if (isatty(in_fd) != 1 || tcgetattr(in_fd, &saved) != 0) {
        return;
    }
    out << "Press any key to continue . . ." << std::flush;
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);  // Ctrl-C is a key here too
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(in_fd, TCSANOW, &raw);
    read_one_key(in_fd);
    tcsetattr(in_fd, TCSANOW, &saved);
    out << '\n' << std::flush;
}

bool display_available()
{
    const char* x_display = std::getenv("DISPLAY");
    if (x_display != nullptr && *x_display != '\0') {
        return x_display_opens(x_display);
    }
    const char* wayland_display = std::getenv("WAYLAND_DISPLAY");
    if (wayland_display == nullptr || !wayland_socket_answers(wayland_display)) {
        return false;
    }
    // Without DISPLAY the window backend's default (X) would abort; point it at Wayland.
    setenv("QT_QPA_PLATFORM", "wayland", 0);
    return true;
}

TextEncoding console_text_encoding()
{
    std::setlocale(LC_CTYPE, "");
    return encoding_for_codeset(nl_langinfo(CODESET));
}
