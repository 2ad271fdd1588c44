// Ctrl-C and SIGTERM in the tools: one flag that the handler sets and the frame loops read.
#pragma once

#include <csignal>

// Set by Ctrl-C or SIGTERM once catch_stop_signals has run; the tool's only global.
extern volatile std::sig_atomic_t stop_requested;

// Installs the handler for SIGINT and SIGTERM without SA_RESTART, so that a write or an open
// that waits (on a pipe's reader, say) returns and the stop request is seen. SIGPIPE and SIGXFSZ
// are ignored: a closed pipe or a file size limit shows as a failed write, not a dead process.
void catch_stop_signals();
