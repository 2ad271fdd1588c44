#include "console.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sstream>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Both ends of a fresh pseudo-terminal; closed when the test ends.
struct PseudoTerminal {
    int master = -1;
    int slave = -1;
    PseudoTerminal()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) {
            slave = open(ptsname(master), O_RDWR | O_NOCTTY);
        }
    }
    ~PseudoTerminal()
    {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
};

// Sets an environment variable for the length of a scope, or removes it (value null).
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) old_ = old;
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv()
    {
        if (had_) {
            setenv(name_.c_str(), old_.c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }

private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

}  // namespace

TEST(ConsoleKeys, OnlyLowerCaseQQuits)
{
    EXPECT_TRUE(is_quit_key(113));
    EXPECT_TRUE(is_quit_key('q'));
    EXPECT_FALSE(is_quit_key(81));  // 'Q'
    EXPECT_FALSE(is_quit_key(-1));  // no key within the poll
    EXPECT_FALSE(is_quit_key(27));  // Escape
    EXPECT_FALSE(is_quit_key(113 + 256));  // q with a modifier bit
    EXPECT_FALSE(is_quit_key(0));
}

TEST(ConsoleTerminal, ClearWritesOnlyToATerminal)
{
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    std::ostringstream to_pipe;
    clear_console(to_pipe, pipe_fds[1]);
    EXPECT_EQ(to_pipe.str(), "");
    close(pipe_fds[0]);
    close(pipe_fds[1]);

    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::ostringstream to_file;
    clear_console(to_file, fileno(file));
    EXPECT_EQ(to_file.str(), "");
    std::fclose(file);

    PseudoTerminal terminal;
    ASSERT_GE(terminal.slave, 0);
    std::ostringstream to_terminal;
    clear_console(to_terminal, terminal.slave);
    EXPECT_EQ(to_terminal.str(), "\x1b[H\x1b[2J");
}

TEST(ConsoleTerminal, PauseReturnsAtOnceWithoutATerminal)
{
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    close(pipe_fds[1]);  // a read would see end of file, but pause must not even try
    std::ostringstream out;
    pause_console(out, pipe_fds[0]);
    EXPECT_EQ(out.str(), "");
    close(pipe_fds[0]);

    std::ostringstream closed_out;
    pause_console(closed_out, -1);
    EXPECT_EQ(closed_out.str(), "");
}

TEST(ConsoleTerminal, PauseWaitsForOneKeyAndRestoresTheTerminal)
{
    PseudoTerminal terminal;
    ASSERT_GE(terminal.slave, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(terminal.slave, &before), 0);
    ASSERT_TRUE(before.c_lflag & ICANON);  // line mode: without raw mode a lone key never arrives

    ASSERT_EQ(write(terminal.master, "xy", 2), 2);  // one key, no Enter; "y" must stay unread
    std::ostringstream out;
    pause_console(out, terminal.slave);
    EXPECT_EQ(out.str(), "Press any key to continue . . .\n");

    termios after{};
    ASSERT_EQ(tcgetattr(terminal.slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);

    // The second key is still queued: pause read exactly one.
    termios raw = after;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 1;
    ASSERT_EQ(tcsetattr(terminal.slave, TCSANOW, &raw), 0);
    char rest = 0;
    EXPECT_EQ(read(terminal.slave, &rest, 1), 1);
    EXPECT_EQ(rest, 'y');
}

TEST(ConsoleDisplay, NoDisplayWithoutAnyGraphicalSession)
{
    const ScopedEnv no_x("DISPLAY", nullptr);
    const ScopedEnv no_wayland("WAYLAND_DISPLAY", nullptr);
    EXPECT_FALSE(display_available());

    const ScopedEnv empty_x("DISPLAY", "");
    EXPECT_FALSE(display_available());
}

TEST(ConsoleDisplay, AnXDisplayThatCannotBeOpenedIsNoDisplay)
{
    const ScopedEnv bad_x("DISPLAY", ":4711");
    const ScopedEnv no_wayland("WAYLAND_DISPLAY", nullptr);
    EXPECT_FALSE(display_available());
}

TEST(ConsoleDisplay, WaylandCountsOnlyWhenItsSocketAnswers)
{
    std::string dir_template = std::filesystem::temp_directory_path() / "console_test_XXXXXX";
    ASSERT_NE(mkdtemp(dir_template.data()), nullptr);
    const std::string dir = dir_template;
    const ScopedEnv no_x("DISPLAY", nullptr);
    const ScopedEnv runtime("XDG_RUNTIME_DIR", dir.c_str());
    const ScopedEnv platform("QT_QPA_PLATFORM", nullptr);

    {
        const ScopedEnv missing("WAYLAND_DISPLAY", "wayland-test");
        EXPECT_FALSE(display_available());
        EXPECT_EQ(std::getenv("QT_QPA_PLATFORM"), nullptr);
    }

    const std::string path = dir + "/wayland-test";
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    {
        const ScopedEnv relative("WAYLAND_DISPLAY", "wayland-test");
        EXPECT_TRUE(display_available());
        ASSERT_NE(std::getenv("QT_QPA_PLATFORM"), nullptr);
        EXPECT_EQ(std::string(std::getenv("QT_QPA_PLATFORM")), "wayland");
    }
    {
        const ScopedEnv absolute("WAYLAND_DISPLAY", path.c_str());
        EXPECT_TRUE(display_available());
    }
    close(listener);
    unlink(path.c_str());
    rmdir(dir.c_str());
}
