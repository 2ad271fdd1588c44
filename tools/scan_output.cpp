#include "tools/scan_output.hpp"

#include <cerrno>
#include <chrono>
#include <climits>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string system_text(int error_number)
{
    return std::error_code(error_number, std::generic_category()).message();
}

// Cuts a file back to where the record began; the text to add to the error when it cannot be.
std::string cut_back(int fd, off_t record_start)
{
    if (record_start < 0) return "; the record is cut short: the output cannot be truncated";
    if (::ftruncate(fd, record_start) != 0 || ::lseek(fd, record_start, SEEK_SET) < 0)
        return "; the record is cut short: " + system_text(errno);
    return {};
}

// Where a record written now begins in a regular file, -1 for any other output (a pipe, a
// terminal, a socket, a device): nothing to cut back there. An output opened for appending
// (>>) writes at the file's end whatever its offset says, and its offset is 0 until the first
// write.
off_t record_start_of(int fd)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1 && (flags & O_APPEND) != 0) return status.st_size;
    return ::lseek(fd, 0, SEEK_CUR);
}

bool waits_for_reader(int error_number)
{
    return error_number == EINTR || error_number == EAGAIN || error_number == EWOULDBLOCK;
}

}  // namespace

RecordWrite write_whole_record(int fd, const std::string& record,
                               const volatile std::sig_atomic_t& stop_requested)
{
    using clock = std::chrono::steady_clock;
    const off_t record_start = record_start_of(fd);
    const char* data = record.data();
    std::size_t done = 0;
    bool stop_seen = false;
    clock::time_point give_up{};
    while (done < record.size()) {
        if (stop_requested != 0 && !stop_seen) {
            if (done == 0) return {WriteEnd::stopped, {}};
            stop_seen = true;
            give_up = clock::now() + std::chrono::seconds(1);
        }
        if (stop_seen) {
            // No more signals will come to interrupt a blocked write: wait for room with a
            // deadline, then write at most what a pipe takes in one piece.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                give_up - clock::now());
            pollfd out{fd, POLLOUT, 0};
            if (left.count() <= 0 || ::poll(&out, 1, static_cast<int>(left.count())) <= 0)
                return {WriteEnd::failed, "stopped while the reader was not reading" +
                                              cut_back(fd, record_start)};
        }
        std::size_t piece = record.size() - done;
        if (stop_seen && piece > PIPE_BUF) piece = PIPE_BUF;
        const ssize_t n = ::write(fd, data + done, piece);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        const int error_number = n < 0 ? errno : ENOSPC;  // 0 bytes for a non-empty write
        if (waits_for_reader(error_number)) {
            if (error_number != EINTR && !stop_seen) {
                pollfd out{fd, POLLOUT, 0};
                ::poll(&out, 1, 200);  // a non-blocking output: wait for room, see stops
            }
            continue;
        }
        if (done == 0) return {WriteEnd::failed, system_text(error_number)};
        return {WriteEnd::failed, system_text(error_number) + cut_back(fd, record_start)};
    }
    return {WriteEnd::written, {}};
}

std::string write_whole_file(const std::string& path, const std::vector<unsigned char>& bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return "cannot create the file: " + system_text(errno);
    std::size_t done = 0;
    int error_number = 0;
    while (done < bytes.size() && error_number == 0) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) done += static_cast<std::size_t>(n);
        else if (n == 0) error_number = ENOSPC;
        else if (errno != EINTR) error_number = errno;
    }
    if (::close(fd) != 0 && error_number == 0 && errno != EINTR) error_number = errno;
    if (error_number == 0) return {};
    ::unlink(path.c_str());  // a cut-off PNG would read as a damaged frame later
    return "cannot write the file: " + system_text(error_number);
}
