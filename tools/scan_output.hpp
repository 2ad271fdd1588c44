// Writing pallet_scan's records and files so that a failure never leaves half of one behind.
#pragma once

#include <csignal>
#include <string>
#include <vector>

enum class WriteEnd {
    written,  // the whole record is out
    failed,   // it is not: error says why; the output ends at the last whole record
    stopped,  // a stop request came before any of it went out
};

struct RecordWrite {
    WriteEnd end = WriteEnd::written;
    std::string error;  // e.g. "No space left on device"
};

// Writes one record to fd. A short or failed write to a file (a seekable output) is cut off
// again, so that the file ends with the last whole record; where it cannot be cut off (a pipe or
// terminal that fails halfway), error says so. A stop request (a signal that interrupts a write
// waiting on a reader) abandons a record none of which went out; once part of it is out, the
// rest gets one second more, so that a reader which still reads sees whole lines.
RecordWrite write_whole_record(int fd, const std::string& record,
                               const volatile std::sig_atomic_t& stop_requested);

// Creates or replaces the file at path with bytes; a file that cannot be written whole (a full
// disk, a file size limit) is removed again. Returns the error text, empty on success.
std::string write_whole_file(const std::string& path, const std::vector<unsigned char>& bytes);
