#include "trace.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace kv3::detail {

namespace {

const char* trace_path()
{
    // Read per call, not cached: the first traced call comes before any context exists.
    const char* path = std::getenv("KV3_TRACE");
    return (path != nullptr && path[0] != '\0') ? path : nullptr;
}

}  // namespace

bool tracing()
{
    return trace_path() != nullptr;
}

void trace(const std::string& line)
{
    const char* path = trace_path();
    if (path == nullptr)
        return;
    static std::mutex write_mutex;
    const std::lock_guard<std::mutex> lock(write_mutex);
    // One write of the whole line to an O_APPEND descriptor: nothing sits in a user-space buffer.
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const std::string text = line + '\n';
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n <= 0)
            break;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    ::close(fd);
}

}  // namespace kv3::detail
