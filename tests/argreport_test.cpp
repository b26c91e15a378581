// Black-box tests: every case starts the built program with an exact argument
// vector and compares what it wrote, byte for byte, and how it ended.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace {

using Args = std::vector<std::string>;

struct Result {
    std::string out;
    std::string err;
    int status = -1; // raw wait status
};

bool exited_with(const Result &r, int code)
{
    return WIFEXITED(r.status) && WEXITSTATUS(r.status) == code;
}

// Where the program's standard output goes, and how the test treats it.
enum class Sink {
    pipe,             // read at once
    dev_full,         // every write fails with ENOSPC
    closed,           // descriptor 1 is not open
    broken_pipe,      // a pipe whose reader is already gone
    slow_nonblocking, // O_NONBLOCK pipe, read late and in small pieces
    stopped_often,    // read in small pieces while the program is stopped and continued
};

struct Setup {
    Sink sink = Sink::pipe;
    bool ignore_sigpipe = false;
};

// Reads both pipes together so that a child filling one cannot block on it
// while the test waits on the other.
void drain(int out_fd, int err_fd, pid_t pid, Sink sink, Result &r)
{
    const bool slow = sink == Sink::slow_nonblocking || sink == Sink::stopped_often;
    if (sink == Sink::slow_nonblocking)
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::array<pollfd, 2> fds{{{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}}};
    std::array<std::string *, 2> into{{&r.out, &r.err}};
    int open_fds = out_fd < 0 ? 1 : 2;
    std::array<char, 65536> chunk{};
    for (unsigned reads = 0; open_fds > 0; ++reads) {
        if (poll(fds.data(), fds.size(), -1) < 0)
            continue;
        if (sink == Sink::stopped_often && reads % 4 == 0) {
            kill(pid, SIGSTOP);
            kill(pid, SIGCONT);
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t n = read(fds[i].fd, chunk.data(), slow ? 3000 : chunk.size());
            if (n > 0) {
                into[i]->append(chunk.data(), static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
        if (slow)
            std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
}

std::vector<char *> c_vector(const Args &v)
{
    std::vector<char *> p(v.size() + 1, nullptr);
    std::transform(v.begin(), v.end(), p.begin(),
                   [](const std::string &s) { return const_cast<char *>(s.c_str()); });
    return p;
}

Result run(const Args &args, const Args &env = {}, Setup setup = {})
{
    // Children inherit an ignored SIGPIPE; the spawn attributes below restore
    // the default unless the case asks for it ignored.
    (void)signal(SIGPIPE, SIG_IGN);
    Result r;
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        ADD_FAILURE() << "pipe failed";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    switch (setup.sink) {
    case Sink::dev_full:
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/full", O_WRONLY, 0);
        break;
    case Sink::closed:
        posix_spawn_file_actions_addclose(&fa, 1);
        break;
    case Sink::broken_pipe:
        close(out[0]);
        out[0] = -1;
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        break;
    case Sink::slow_nonblocking:
        fcntl(out[1], F_SETFL, O_NONBLOCK);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        break;
    case Sink::pipe:
    case Sink::stopped_often:
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        break;
    }
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    if (!setup.ignore_sigpipe)
        sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    auto argv = c_vector(args);
    auto envp = c_vector(env);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, ARGREPORT_PATH, &fa, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    close(err[1]);
    EXPECT_EQ(rc, 0) << "cannot start " ARGREPORT_PATH;
    drain(out[0], err[0], pid, setup.sink, r);
    if (rc == 0)
        waitpid(pid, &r.status, 0);
    return r;
}

// What a complete report of `args` looks like, written out plainly.
std::string report(const Args &args, int num)
{
    std::string s = "argc = " + std::to_string(args.size()) + "\n";
    for (std::size_t i = 0; i < args.size(); ++i)
        s += "第" + std::to_string(i + 1) + "个命令行参数是:" + args[i] + "\n";
    return s + "num = " + std::to_string(num) + "\n";
}

const std::string usage = "error: 命令行参数个数错误!\n";
const std::string lost = "error: 写入标准输出失败!\n";

TEST(Usage, NoArgumentIsAnErrorWithExactMessage)
{
    ASSERT_EQ(usage.size(), 36U);
    // An empty vector reaches the program as one empty entry on current kernels.
    for (const Args &args : {Args{"argreport"}, Args{}, Args{""}}) {
        const Result r = run(args);
        EXPECT_EQ(r.err, usage);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(exited_with(r, 1)) << r.status;
    }
}

TEST(Report, TypicalRoad)
{
    const Result r = run({"argreport", "42", "x"});
    EXPECT_EQ(r.out, "argc = 3\n"
                     "第1个命令行参数是:argreport\n"
                     "第2个命令行参数是:42\n"
                     "第3个命令行参数是:x\n"
                     "num = 42\n");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(exited_with(r, 0)) << r.status;
}

TEST(Report, OnlyTheFirstArgumentIsConverted)
{
    const Args args{"argreport", "x", "7", "-3"};
    const Result r = run(args);
    EXPECT_EQ(r.out, report(args, 0));
    EXPECT_TRUE(exited_with(r, 0)) << r.status;
}

struct Conversion {
    std::string arg;
    int num;
};

// Keeps failure messages readable when the argument is 100,000 digits long.
void PrintTo(const Conversion &c, std::ostream *os)
{
    *os << testing::PrintToString(c.arg.substr(0, 24)) << (c.arg.size() > 24 ? "..." : "")
        << " -> " << c.num;
}

class Convert : public testing::TestWithParam<Conversion> {};

TEST_P(Convert, FirstArgument)
{
    const Args args{"argreport", GetParam().arg};
    const Result r = run(args);
    EXPECT_EQ(r.out, report(args, GetParam().num));
    EXPECT_TRUE(exited_with(r, 0)) << r.status;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Convert,
    testing::Values(
        Conversion{"42", 42}, Conversion{"-17", -17}, Conversion{"+5", 5}, Conversion{" 8", 8},
        Conversion{"\t\n\v\f\r 9", 9}, Conversion{"12abc", 12}, Conversion{"0x10", 0},
        Conversion{"-", 0}, Conversion{"+-5", 0}, Conversion{"", 0}, Conversion{"abc", 0},
        Conversion{"00042", 42}, Conversion{"-0", 0}, Conversion{"2147483647", 2147483647},
        Conversion{"2147483648", 2147483647}, Conversion{"-2147483648", INT32_MIN},
        Conversion{"-2147483649", INT32_MIN}, Conversion{"4294967297", 2147483647},
        Conversion{"99999999999999999999", 2147483647}, Conversion{"\xef\xbc\x94\xef\xbc\x92", 0},
        Conversion{std::string(100000, '7'), 2147483647},
        Conversion{"-" + std::string(100000, '9'), INT32_MIN},
        Conversion{std::string(100000, '0') + "15", 15}),
    [](const testing::TestParamInfo<Conversion> &p) { return std::to_string(p.index); });

TEST(Echo, EntriesComeBackByteForByte)
{
    const std::vector<Args> cases{
        {"argreport", "", "", "  "},
        {"argreport", " two words ", "中文参数", "\xff\xfe\x80\xc3", "tab\there\nnewline"},
        {"argreport", "%s%n%d%%", "\\0", "\x1b[31mred\x1b[0m", "\x7f\x01"},
        {"argreport", "--help", "--", "-v"},
        {"", "3"},
        {"\xff/odd name %s", "-1"},
    };
    for (const Args &args : cases) {
        const Result r = run(args);
        const int num = args[1] == "3" ? 3 : args[1] == "-1" ? -1 : 0;
        EXPECT_EQ(r.out, report(args, num));
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(exited_with(r, 0)) << r.status;
    }
}

TEST(Echo, EnvironmentChangesNothing)
{
    const Args args{"argreport", "1٢3", "ß", "\xe4\xb8"};
    const Result plain = run(args);
    const Result localised = run(args, {"LC_ALL=zh_CN.UTF-8", "LANG=tr_TR.UTF-8",
                                        "POSIXLY_CORRECT=1", "LD_BIND_NOW=1"});
    EXPECT_EQ(plain.out, report(args, 1));
    EXPECT_EQ(localised.out, plain.out);
    EXPECT_EQ(localised.status, plain.status);
}

Args many_arguments(std::size_t n)
{
    Args args{"argreport"};
    for (std::size_t i = 1; i <= n; ++i)
        args.push_back(std::to_string(i));
    return args;
}

TEST(Large, HundredThousandArgumentsAreAllListed)
{
    const Args args = many_arguments(100000);
    const Result r = run(args);
    EXPECT_EQ(r.out, report(args, 1));
    EXPECT_TRUE(exited_with(r, 0)) << r.status;
}

TEST(Large, ArgumentsOfTheKernelsLargestSize)
{
    // 131,072 bytes per string, the NUL included, is the most execve passes.
    const Args args{"argreport", std::string(131071, '5'), std::string(131071, 'y'),
                    std::string(131071, '\xe4')};
    const Result r = run(args);
    EXPECT_EQ(r.out, report(args, 2147483647));
    EXPECT_TRUE(exited_with(r, 0)) << r.status;
}

struct Failure {
    Sink sink;
    bool ignore_sigpipe;
    std::size_t count;
};

TEST(WriteFailure, IsReportedAndFailsTheRun)
{
    const std::vector<Failure> cases{
        {Sink::dev_full, false, 1},      {Sink::dev_full, false, 100000},
        {Sink::closed, false, 1},        {Sink::closed, false, 100000},
        {Sink::broken_pipe, true, 1},    {Sink::broken_pipe, true, 100000},
    };
    for (const Failure &c : cases) {
        const Result r = run(many_arguments(c.count), {}, {c.sink, c.ignore_sigpipe});
        EXPECT_EQ(r.err, lost) << static_cast<int>(c.sink) << " " << c.count;
        EXPECT_TRUE(exited_with(r, 1)) << r.status;
    }
}

TEST(WriteFailure, BrokenPipeWithDefaultSigpipeEndsQuietly)
{
    const Result r = run(many_arguments(100000), {}, {Sink::broken_pipe, false});
    EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == SIGPIPE) << r.status;
    EXPECT_EQ(r.err, "");
}

TEST(WriteFailure, UsageMessageIsUnchangedWhenStdoutIsUnusable)
{
    for (Sink sink : {Sink::dev_full, Sink::closed}) {
        const Result r = run({"argreport"}, {}, {sink, false});
        EXPECT_EQ(r.err, usage);
        EXPECT_TRUE(exited_with(r, 1)) << r.status;
    }
}

TEST(SlowReader, WholeReportArrivesThroughNonBlockingOrInterruptedOutput)
{
    const Args args = many_arguments(100000);
    for (Sink sink : {Sink::slow_nonblocking, Sink::stopped_often}) {
        const Result r = run(args, {}, {sink, false});
        EXPECT_TRUE(r.out == report(args, 1)) << "got " << r.out.size() << " bytes";
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(exited_with(r, 0)) << r.status;
    }
}

} // namespace
