// Black-box tests: every case starts the built program with an exact argument
// vector and compares what it wrote, byte for byte, and how it ended.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <csignal>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace {

using Args = std::vector<std::string>;

// The program under test: the one named in the environment, so that the
// suite can check any build (the shipped binary among them), or else the one
// built beside the tests.
const char *const program = [] {
    const char *path = std::getenv("ARGREPORT_UNDER_TEST");
    return path != nullptr && *path != '\0' ? path : ARGREPORT_PATH;
}();

struct Result {
    std::string out;
    std::string err;
    int status = -1; // raw wait status
    double busy_ms = -1; // on a CPU or waiting for one, while the reader read nothing
    long woken = -1; // times put on a CPU meanwhile
    std::size_t filled = 0; // bytes that filled standard error before the start
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
    datagram,         // refuses any write larger than its send buffer, takes smaller ones
    full_stderr,      // a pipe; standard error an O_NONBLOCK pipe filled before the start
};

// Names a sink in the cases' names and traces.
std::ostream &operator<<(std::ostream &os, Sink sink)
{
    switch (sink) {
    case Sink::pipe: return os << "pipe";
    case Sink::dev_full: return os << "dev_full";
    case Sink::closed: return os << "closed";
    case Sink::broken_pipe: return os << "broken_pipe";
    case Sink::slow_nonblocking: return os << "slow_nonblocking";
    case Sink::stopped_often: return os << "stopped_often";
    case Sink::datagram: return os << "datagram";
    case Sink::full_stderr: return os << "full_stderr";
    }
    return os;
}

struct Setup {
    Sink sink = Sink::pipe;
    bool ignore_sigpipe = false;
    int send_buffer = 0; // SO_SNDBUF of the datagram socket
    std::size_t expected = 0; // the whole report's size, for the stopped_often sink
};

// A program that waits for a slow reader sleeps in the kernel until the
// reader reads; one that polls without blocking stays runnable, on a CPU or
// queued for one, however loaded the machine is; one that polls with a
// timeout is woken every time it runs out. Once the pipe is full (its page
// slots seldom fill to the last byte: over half queued, and no more for a
// while), the time the program spends runnable and the times it is put on a
// CPU (schedstat) while nothing is read tell them apart.
struct Waiting {
    double busy_ms = -1;
    long woken = -1;
};
Waiting while_reader_waits(int out_fd, pid_t pid)
{
    const int capacity = fcntl(out_fd, F_GETPIPE_SZ);
    int queued = 0;
    for (int tries = 0, before = -1; tries < 10000 && (queued <= capacity / 2 || queued != before);
         ++tries, before = queued) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        (void)ioctl(out_fd, FIONREAD, &queued);
    }
    const auto schedstat = [pid] {
        std::ifstream f("/proc/" + std::to_string(pid) + "/schedstat");
        double on_cpu = -1, waiting = -1; // NOLINT(readability-isolate-declaration)
        long runs = -1;
        return (f >> on_cpu >> waiting >> runs) ? Waiting{on_cpu + waiting, runs} : Waiting{};
    };
    // The least of a few periods, so that one still starting up (slowly, on
    // a loaded machine or under a sanitizer) is not taken for one that spins.
    Waiting least;
    for (int period = 0; period < 4 && (least.busy_ms < 0 || least.busy_ms > 30 || least.woken > 0);
         ++period) {
        const Waiting start = schedstat();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const Waiting end = schedstat();
        if (start.woken < 0 || end.woken < 0)
            continue;
        const double busy_ms = (end.busy_ms - start.busy_ms) / 1e6;
        if (least.busy_ms < 0 || busy_ms < least.busy_ms)
            least.busy_ms = busy_ms;
        if (least.woken < 0 || end.woken - start.woken < least.woken)
            least.woken = end.woken - start.woken;
    }
    return queued <= capacity / 2 ? Waiting{} : least;
}

// Reads both pipes together so that a child filling one cannot block on it
// while the test waits on the other.
// A datagram socket reports no end when its peer exits: its reading stops
// once standard error has ended and nothing more is queued.
// The stopped_often sink stops the program only while more of the report is
// to come than the pipe holds, when it is certain to be writing, not exiting:
// at exit, LeakSanitizer attaches to the program with ptrace, and the
// SIGCONT after a SIGSTOP discards the stop that the attach waits for.
void drain(int out_fd, int err_fd, pid_t pid, const Setup &setup, Result &r)
{
    const Sink sink = setup.sink;
    const bool slow = sink == Sink::slow_nonblocking || sink == Sink::stopped_often;
    if ((sink == Sink::slow_nonblocking || sink == Sink::full_stderr) && pid > 0) {
        const Waiting w = while_reader_waits(sink == Sink::full_stderr ? err_fd : out_fd, pid);
        r.busy_ms = w.busy_ms;
        r.woken = w.woken;
    }
    const auto capacity = static_cast<std::size_t>(fcntl(out_fd, F_GETPIPE_SZ));
    std::array<pollfd, 2> fds{{{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}}};
    std::array<std::string *, 2> into{{&r.out, &r.err}};
    int open_fds = out_fd < 0 ? 1 : 2;
    std::array<char, 65536> chunk{};
    for (unsigned reads = 0; open_fds > 0; ++reads) {
        const bool ended = sink == Sink::datagram && fds[1].fd < 0;
        const int ready = poll(fds.data(), fds.size(), ended ? 0 : -1);
        if (ready == 0) {
            close(out_fd);
            break;
        }
        if (ready < 0)
            continue;
        if (sink == Sink::stopped_often && reads % 4 == 0 && pid > 0 &&
            r.out.size() + capacity < setup.expected) {
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

Result run(const Args &args, Args env = {}, Setup setup = {})
{
    // The sanitizers' options reach the program, whose environment is
    // otherwise only what the case gives it.
    for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char *value = std::getenv(name))
            env.push_back(std::string(name) + "=" + value);
    // Children inherit an ignored SIGPIPE; the spawn attributes below restore
    // the default unless the case asks for it ignored.
    (void)signal(SIGPIPE, SIG_IGN);
    Result r;
    int out[2];
    int err[2];
    const bool made = (setup.sink == Sink::datagram
                           ? socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, out) == 0 &&
                                 setsockopt(out[1], SOL_SOCKET, SO_SNDBUF, &setup.send_buffer,
                                            sizeof setup.send_buffer) == 0
                           : pipe2(out, O_CLOEXEC) == 0) &&
                      pipe2(err, O_CLOEXEC) == 0;
    if (!made) {
        ADD_FAILURE() << "cannot make the output channels";
        return r;
    }
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
    case Sink::full_stderr:
        fcntl(err[1], F_SETFL, O_NONBLOCK);
        for (ssize_t n = 0; n >= 0; n = write(err[1], std::string(4096, '.').data(), 4096))
            r.filled += static_cast<std::size_t>(n);
        [[fallthrough]];
    case Sink::pipe:
    case Sink::stopped_often:
    case Sink::datagram:
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
    const int rc = posix_spawn(&pid, program, &fa, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        // Nothing was started, so nothing may be signalled or waited for.
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(rc);
        pid = -1;
    }
    drain(out[0], err[0], pid, setup, r);
    if (pid > 0)
        (void)waitpid(pid, &r.status, 0);
    return r;
}

// Compares whole outputs with ==: a report may be megabytes, and a line diff
// of two such strings takes minutes and gigabytes. On a mismatch it tells the
// sizes and shows a little of both around the first differing byte.
testing::AssertionResult same(const std::string &got, const std::string &want)
{
    if (got == want)
        return testing::AssertionSuccess();
    const auto at = static_cast<std::size_t>(
        std::mismatch(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(
                                                     std::min(got.size(), want.size())),
                      want.begin())
            .first -
        got.begin());
    const std::size_t from = at < 40 ? 0 : at - 40;
    return testing::AssertionFailure()
           << "got " << got.size() << " bytes, want " << want.size() << "; first difference at "
           << at << "\n  got:  " << testing::PrintToString(got.substr(from, 80))
           << "\n  want: " << testing::PrintToString(want.substr(from, 80));
}

// Waiting for a slow reader must not spin: over a period in which nothing is
// read, a program that polls without blocking is runnable throughout, one
// that polls with a timeout is woken again and again, one that waits is
// neither.
testing::AssertionResult waited(const Result &r)
{
    if (r.busy_ms < 0 || r.woken < 0)
        return testing::AssertionFailure()
               << "the pipe never filled, or the program's time was unreadable";
    if (r.busy_ms >= 150.0 || r.woken > 2)
        return testing::AssertionFailure()
               << "while nothing was read for 300 ms, the program was runnable for "
               << std::lround(r.busy_ms) << " ms and put on a CPU " << r.woken << " times";
    return testing::AssertionSuccess();
}

// What a complete report of `args` looks like, written out plainly.
std::string report(const Args &args, int num)
{
    std::string s = "argc = " + std::to_string(args.size()) + "\n";
    for (std::size_t i = 0; i < args.size(); ++i)
        s += "第" + std::to_string(i + 1) + "个命令行参数是:" + args[i] + "\n";
    return s + "num = " + std::to_string(num) + "\n";
}

// The kernel refuses a vector and environment larger than a quarter of the
// stack limit (sysconf's ARG_MAX); a case that needs more skips, and says so.
long vector_bytes(const Args &args)
{
    // The strings with their NULs, and a pointer to each (a few variables too).
    return static_cast<long>(std::accumulate(
        args.begin(), args.end(), (args.size() + 8) * sizeof(char *),
        [](std::size_t n, const std::string &arg) { return n + arg.size() + 1; }));
}
#define SKIP_UNLESS_THE_KERNEL_TAKES(args)                                                     \
    if (const long limit = sysconf(_SC_ARG_MAX); vector_bytes(args) > limit)                 \
    GTEST_SKIP() << "needs " << vector_bytes(args) << " bytes of arguments, more than this " \
                 << "machine's ARG_MAX (a quarter of ulimit -s): " << limit

const std::string wrong_argument_count = "error: 命令行参数个数错误!\n";
const std::string write_failed = "error: 写入标准输出失败!\n";

TEST(Usage, NoArgumentIsAnErrorWithExactMessage)
{
    // An empty vector reaches the program as one empty entry on current kernels.
    for (const Args &args : {Args{"argreport"}, Args{}, Args{""}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        const Result r = run(args);
        EXPECT_EQ(r.err, wrong_argument_count);
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
    EXPECT_TRUE(same(r.out, report(args, 0)));
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
    EXPECT_TRUE(same(r.out, report(args, GetParam().num)));
    EXPECT_TRUE(exited_with(r, 0)) << r.status;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Convert,
    testing::Values(
        Conversion{"42", 42}, Conversion{"-17", -17}, Conversion{"+5", 5}, Conversion{" 8", 8},
        Conversion{"\t\n\v\f\r 9", 9}, Conversion{"12abc", 12}, Conversion{"0x10", 0},
        // The bytes just outside white space and the digits.
        Conversion{"\b5", 0}, Conversion{"\x0e" "5", 0}, Conversion{"1/", 1}, Conversion{"1:", 1},
        // 0xa0, a no-break space in Latin-1, is no white space in the C locale.
        Conversion{"\xa0" "5", 0},
        // White space before the sign, and none after it.
        Conversion{" -5", -5}, Conversion{"\t-7", -7}, Conversion{"- 5", 0}, Conversion{"+ 5", 0},
        Conversion{"-", 0}, Conversion{"+-5", 0}, Conversion{"", 0}, Conversion{"abc", 0},
        Conversion{"00042", 42}, Conversion{"-0", 0}, Conversion{"2147483647", 2147483647},
        Conversion{"2147483648", 2147483647}, Conversion{"-2147483648", INT32_MIN},
        Conversion{"-2147483649", INT32_MIN}, Conversion{"4294967297", 2147483647},
        Conversion{"99999999999999999999", 2147483647}, Conversion{"\xef\xbc\x94\xef\xbc\x92", 0},
        Conversion{std::string(100000, '7'), 2147483647},
        Conversion{"-" + std::string(100000, '9'), INT32_MIN},
        Conversion{std::string(100000, '0') + "15", 15}),
    [](const testing::TestParamInfo<Conversion> &p) { return std::to_string(p.index); });

Args many_arguments(std::size_t n)
{
    Args args{"argreport"};
    for (std::size_t i = 1; i <= n; ++i)
        args.push_back(std::to_string(i));
    return args;
}

TEST(Echo, EntriesComeBackByteForByte)
{
    const std::vector<std::pair<Args, int>> cases{
        {{"argreport", "", "", "  "}, 0},
        {{"argreport", " two words ", "中文参数", "\xff\xfe\x80\xc3", "tab\there\nnewline"}, 0},
        {{"argreport", "%s%n%d%%", "\\0", "\x1b[31mred\x1b[0m", "\x7f\x01"}, 0},
        {{"argreport", "--help", "--", "-v"}, 0},
        {{"", "3"}, 3},
        {{"\xff/odd name %s", "-1"}, -1},
        {many_arguments(1000), 1}, // the positions' carry into a fourth digit
    };
    for (const auto &[args, num] : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        const Result r = run(args);
        EXPECT_TRUE(same(r.out, report(args, num)));
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
    EXPECT_TRUE(same(plain.out, report(args, 1)));
    EXPECT_TRUE(same(localised.out, plain.out));
    EXPECT_TRUE(exited_with(plain, 0) && exited_with(localised, 0))
        << plain.status << ", " << localised.status;
}

TEST(Large, HundredThousandArgumentsAreAllListed)
{
    // One entry a byte larger than the output buffer, then many short ones
    // that fill the buffer again and again behind it.
    Args args = many_arguments(100000);
    args.insert(args.begin() + 2, std::string(ARGREPORT_BUFFER_SIZE + 1, 'a'));
    SKIP_UNLESS_THE_KERNEL_TAKES(args);
    const Result r = run(args);
    EXPECT_TRUE(same(r.out, report(args, 1)));
    EXPECT_TRUE(exited_with(r, 0)) << r.status;
}

TEST(Large, ArgumentsOfTheKernelsLargestSize)
{
    // 131,072 bytes per string, the NUL included, is the most execve passes.
    const Args args{"argreport", std::string(131071, '5'), std::string(131071, 'y'),
                    std::string(131071, '\xe4')};
    const Result r = run(args);
    EXPECT_TRUE(same(r.out, report(args, 2147483647)));
    EXPECT_TRUE(exited_with(r, 0)) << r.status;
}

// Every line starts and ends, and the number line falls, at each place around
// the end of the output buffer: a program that miscounts its free space by a
// byte loses or garbles the report there, or writes past the buffer (which
// the sanitizers see).
TEST(Report, LinesEndingAroundTheBufferEnd)
{
    constexpr std::size_t buffer = ARGREPORT_BUFFER_SIZE;
    for (std::size_t len = buffer - 140; len <= buffer + 16; ++len) {
        SCOPED_TRACE(len);
        const Args args{"argreport", "9", std::string(len, 'a'), ""};
        const Result r = run(args);
        EXPECT_TRUE(same(r.out, report(args, 9)));
        EXPECT_TRUE(exited_with(r, 0)) << r.status;
    }
    // The same at position 10: its prefix is a byte longer, so that a line
    // a few bytes longer than the buffer is one that the program may take to
    // fit it. The same entry once more, after the next, runs far past the
    // buffer if the first did.
    const std::size_t prefix = std::string("第10个命令行参数是:").size();
    for (std::size_t line = buffer - 16; line <= buffer + 16; ++line) {
        SCOPED_TRACE(line);
        Args args{"argreport", "9", "", "", "", "", "", "", "", "", "", ""};
        args[9].assign(line - prefix - 1, 'a');
        args[11] = args[9];
        const Result r = run(args);
        EXPECT_TRUE(same(r.out, report(args, 9)));
        EXPECT_TRUE(exited_with(r, 0)) << r.status;
    }
    // Lines of about 107 bytes fill the buffer but for a little; the last
    // entry moves the ends of its line and of the number line across it.
    Args args{"argreport", "5"};
    while (report(args, 5).size() + 108 < buffer)
        args.emplace_back(80, 'b');
    args.emplace_back();
    for (std::size_t len = 0; len <= 240; ++len) {
        SCOPED_TRACE(len);
        args.back().assign(len, 'c');
        const Result r = run(args);
        EXPECT_TRUE(same(r.out, report(args, 5)));
        EXPECT_TRUE(exited_with(r, 0)) << r.status;
    }
}

// A row's arguments are made when its case runs: ctest starts a process for
// each case, which need not build the 100,000 strings of another.
struct Failure {
    Sink sink;
    bool ignore_sigpipe;
    const char *what; // the arguments, as the case's name gives them
    Args (*args)();
};

void PrintTo(const Failure &c, std::ostream *os)
{
    *os << c.sink << ", " << c.what;
}

// A row of its own for each, so that only those that need more arguments
// than the kernel takes skip.
class FailedWrite : public testing::TestWithParam<Failure> {};

TEST_P(FailedWrite, IsReportedAndFailsTheRun)
{
    const Failure &c = GetParam();
    const Args args = c.args();
    SKIP_UNLESS_THE_KERNEL_TAKES(args);
    const Result r = run(args, {}, {c.sink, c.ignore_sigpipe});
    EXPECT_EQ(r.err, write_failed);
    EXPECT_TRUE(exited_with(r, 1)) << r.status;
}

INSTANTIATE_TEST_SUITE_P(Table, FailedWrite, testing::ValuesIn([] {
    const auto one = [] { return many_arguments(1); };
    const auto many = [] { return many_arguments(100000); };
    // A buffer that failed and then an entry too large for it, past the end.
    const auto large_after_full = [] {
        return Args{"argreport", "5", std::string(ARGREPORT_BUFFER_SIZE - 110, 'f'),
                    std::string(20000, 'g')};
    };
    // After a failed write, an entry that fits the buffer but not behind its
    // prefix, then buffers more: each needs the buffer emptied again.
    const auto refilled = [] {
        Args args = many_arguments(3000);
        args.insert(args.begin() + 2,
                    {std::string(ARGREPORT_BUFFER_SIZE - 14, 'y'), std::string(20000, 'z')});
        return args;
    };
    return std::vector<Failure>{
        {Sink::dev_full, false, "1 number", one},
        {Sink::dev_full, false, "100,000 numbers", many},
        {Sink::dev_full, false, "a full buffer, then an entry larger than it", large_after_full},
        {Sink::dev_full, false, "an entry that fits the buffer alone, then more", refilled},
        {Sink::closed, false, "1 number", one},
        {Sink::closed, false, "100,000 numbers", many},
        {Sink::broken_pipe, true, "1 number", one},
        {Sink::broken_pipe, true, "100,000 numbers", many},
    };
}()));

// A socket that refuses a large write and takes the smaller ones after it:
// an early failure must not be forgotten once later writes succeed.
TEST(WriteFailure, FailureFollowedBySuccessStillFailsTheRun)
{
    struct Case {
        int send_buffer;
        Args args;
    };
    const std::vector<Case> cases{
        {6000, Args(201, std::string(100, '1'))},                        // a full buffer
        {65536, {"argreport", std::string(131071, '2'), "short", "x"}}, // one entry
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.send_buffer);
        const Result r = run(c.args, {}, {Sink::datagram, false, c.send_buffer});
        EXPECT_EQ(r.err, write_failed);
        EXPECT_TRUE(exited_with(r, 1)) << r.status;
        // What went out before the failure is the report's beginning: no
        // hole, and nothing after it.
        const std::string whole = report(c.args, 0);
        EXPECT_LT(r.out.size(), whole.size());
        EXPECT_TRUE(same(r.out, whole.substr(0, r.out.size())));
    }
}

TEST(WriteFailure, BrokenPipeWithDefaultSigpipeEndsQuietly)
{
    const Args args = many_arguments(3000); // its first write is in the middle
    const Result r = run(args, {}, {Sink::broken_pipe, false});
    EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == SIGPIPE) << r.status;
    EXPECT_EQ(r.err, "");
}

// A full standard error is waited on, as a slow reader of the report is.
TEST(WriteFailure, UsageMessageIsUnchangedWhenAnOutputIsUnusableOrFull)
{
    for (Sink sink : {Sink::dev_full, Sink::closed, Sink::full_stderr}) {
        SCOPED_TRACE(sink);
        const Result r = run({"argreport"}, {}, {sink, false});
        EXPECT_TRUE(same(r.err, std::string(r.filled, '.') + wrong_argument_count));
        EXPECT_TRUE(exited_with(r, 1)) << r.status;
        if (sink == Sink::full_stderr) {
            EXPECT_TRUE(waited(r));
        }
    }
}

TEST(SlowReader, WholeReportArrivesThroughNonBlockingOrInterruptedOutput)
{
    // A report of about ten pipes' worth, from a vector that a small stack
    // limit (ulimit -s 4096) still lets through.
    const Args args = many_arguments(20000);
    SKIP_UNLESS_THE_KERNEL_TAKES(args);
    const std::string whole = report(args, 1);
    for (Sink sink : {Sink::slow_nonblocking, Sink::stopped_often}) {
        SCOPED_TRACE(sink);
        const Result r = run(args, {}, {sink, false, 0, whole.size()});
        EXPECT_TRUE(same(r.out, whole));
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(exited_with(r, 0)) << r.status;
        if (sink == Sink::slow_nonblocking) {
            EXPECT_TRUE(waited(r));
        }
    }
}

} // namespace
