#include "tools/stop_signal.hpp"

#include <signal.h>

volatile std::sig_atomic_t stop_requested = 0;

namespace {

extern "C" void request_stop(int)
{
    stop_requested = 1;
}

}  // namespace

void catch_stop_signals()
{
    struct sigaction action {};
    action.sa_handler = request_stop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}
