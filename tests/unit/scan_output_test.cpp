// Whole records and whole files: what a full disk, a file size limit, a full device, a stalled
// reader and a stop request leave in pallet_scan's outputs.
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "tools/scan_output.hpp"

namespace fs = std::filesystem;

namespace {

volatile std::sig_atomic_t stop_flag = 0;

extern "C" void set_stop_flag(int)
{
    stop_flag = 1;
}

fs::path fresh_dir(const std::string& name)
{
    const fs::path dir = fs::temp_directory_path() /
                         ("scan_output_test_" + std::to_string(::getpid()) + "_" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string file_text(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A file size limit for this process, as `ulimit -f` sets one; writes past it fail with EFBIG
// instead of killing the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, old_handler_);
    }

private:
    rlimit saved_{};
    void (*old_handler_)(int) = nullptr;
};

// A stop signal that interrupts a blocked write, as pallet_scan installs it (no SA_RESTART).
class StopSignal {
public:
    StopSignal()
    {
        struct sigaction action {};
        action.sa_handler = set_stop_flag;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGUSR1, &action, &saved_);
        stop_flag = 0;
    }
    ~StopSignal() { ::sigaction(SIGUSR1, &saved_, nullptr); }

private:
    struct sigaction saved_ {};
};

}  // namespace

TEST(ScanOutput, AFileThatFillsUpEndsWithTheLastWholeRecord)
{
    const fs::path dir = fresh_dir("limit");
    const std::string record(700, 'r');
    const std::string line = record.substr(0, 699) + "\n";
    const int fd = ::open((dir / "out.jsonl").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    int written = 0;
    RecordWrite last;
    {
        const FileSizeLimit limit(4096);  // 5 records and 596 bytes of the sixth
        const volatile std::sig_atomic_t no_stop = 0;
        for (int i = 0; i < 10; ++i) {
            last = write_whole_record(fd, line, no_stop);
            if (last.end != WriteEnd::written) break;
            ++written;
        }
    }
    EXPECT_EQ(written, 5);
    EXPECT_EQ(last.end, WriteEnd::failed);
    EXPECT_EQ(last.error, "File too large");
    EXPECT_EQ(fs::file_size(dir / "out.jsonl"), 5u * 700u);

    // The output goes on from the cut: a record written after the failure follows the fifth.
    const volatile std::sig_atomic_t no_stop = 0;
    EXPECT_EQ(write_whole_record(fd, "last\n", no_stop).end, WriteEnd::written);
    ::close(fd);
    std::string expected;
    for (int i = 0; i < 5; ++i) expected += line;
    EXPECT_EQ(file_text(dir / "out.jsonl"), expected + "last\n");
    fs::remove_all(dir);
}

TEST(ScanOutput, AnAppendedFileKeepsWhatItHeldBefore)
{
    const fs::path dir = fresh_dir("append");
    const std::string before = "{\"kept\":1}\n";
    std::ofstream(dir / "out.jsonl", std::ios::binary) << before;
    // As `>> out.jsonl` opens it: the offset is 0 until the first write goes to the end.
    const int fd = ::open((dir / "out.jsonl").c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    RecordWrite write;
    {
        const FileSizeLimit limit(before.size() + 100);
        const volatile std::sig_atomic_t no_stop = 0;
        write = write_whole_record(fd, std::string(300, 'r') + "\n", no_stop);
    }
    ::close(fd);
    EXPECT_EQ(write.end, WriteEnd::failed);
    EXPECT_EQ(file_text(dir / "out.jsonl"), before);
    fs::remove_all(dir);
}

TEST(ScanOutput, AFullDeviceTakesNothingAndSaysWhy)
{
    const int fd = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(fd, 0);
    const volatile std::sig_atomic_t no_stop = 0;
    const RecordWrite write = write_whole_record(fd, "{\"index\":1}\n", no_stop);
    EXPECT_EQ(write.end, WriteEnd::failed);
    EXPECT_EQ(write.error, "No space left on device");
    ::close(fd);

    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    ::close(pipe_ends[0]);
    const auto old = std::signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(write_whole_record(pipe_ends[1], "x\n", no_stop).error, "Broken pipe");
    std::signal(SIGPIPE, old);
    ::close(pipe_ends[1]);
}

TEST(ScanOutput, AStopBeforeARecordLeavesItOut)
{
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    const volatile std::sig_atomic_t stop = 1;
    EXPECT_EQ(write_whole_record(pipe_ends[1], "x\n", stop).end, WriteEnd::stopped);
    ::close(pipe_ends[1]);
    char byte = 0;
    EXPECT_EQ(::read(pipe_ends[0], &byte, 1), 0) << "nothing went into the pipe";
    ::close(pipe_ends[0]);
}

// A record larger than the pipe, a stop signal while part of it is out: a reader that goes on
// reading within the second gets it whole, one that does not gets a cut record and the writer
// returns instead of waiting for ever.
TEST(ScanOutput, AStopDuringARecordFinishesItForAReaderThatReads)
{
    const StopSignal stop_signal;
    const std::string record(200000, 'r');
    const pthread_t writer = ::pthread_self();
    for (const int reader_pause_ms : {100, 3000}) {
        stop_flag = 0;
        int pipe_ends[2];
        ASSERT_EQ(::pipe(pipe_ends), 0);
        std::string received;
        std::thread reader([&] {
            std::vector<char> buffer(10000);
            const ssize_t first = ::read(pipe_ends[0], buffer.data(), buffer.size());
            if (first > 0) received.append(buffer.data(), static_cast<std::size_t>(first));
            ::pthread_kill(writer, SIGUSR1);  // the writer is blocked on the full pipe
            std::this_thread::sleep_for(std::chrono::milliseconds(reader_pause_ms));
            for (ssize_t n; (n = ::read(pipe_ends[0], buffer.data(), buffer.size())) > 0;)
                received.append(buffer.data(), static_cast<std::size_t>(n));
        });
        const RecordWrite write = write_whole_record(pipe_ends[1], record, stop_flag);
        ::close(pipe_ends[1]);
        reader.join();
        ::close(pipe_ends[0]);
        EXPECT_EQ(stop_flag, 1);
        if (reader_pause_ms < 1000) {
            EXPECT_EQ(write.end, WriteEnd::written) << write.error;
            EXPECT_EQ(received, record);
        } else {
            EXPECT_EQ(write.end, WriteEnd::failed);
            EXPECT_EQ(write.error, "stopped while the reader was not reading; the record is cut "
                                   "short: the output cannot be truncated");
            EXPECT_LT(received.size(), record.size());
        }
    }
}

TEST(ScanOutput, AFileThatCannotBeWrittenWholeIsRemoved)
{
    const fs::path dir = fresh_dir("files");
    const std::vector<unsigned char> bytes(10000, 42);
    EXPECT_EQ(write_whole_file((dir / "whole.png").string(), bytes), "");
    EXPECT_EQ(fs::file_size(dir / "whole.png"), bytes.size());
    {
        const FileSizeLimit limit(4096);
        EXPECT_EQ(write_whole_file((dir / "cut.png").string(), bytes),
                  "cannot write the file: File too large");
    }
    EXPECT_FALSE(fs::exists(dir / "cut.png"));
    EXPECT_EQ(write_whole_file((dir / "no_such_dir" / "x.png").string(), bytes),
              "cannot create the file: No such file or directory");
    fs::remove_all(dir);
}
