// Starts argreport, its floors and its peers with the same arguments, standard
// output on /dev/null, and compares the CPU time each child used (user +
// system, from wait4), its page faults, and the system calls it makes (counted
// in one more run of each, under ptrace, outside the timed rounds).
//
// The floors: a program with no C library that only exits (the kernel's cost
// of exec and exit), and one with no C library that copies its arguments out
// through a buffer (what any report must at least do). The peers: the report
// written with stdio and linked as the release is, statically against musl
// (what the hand-written output is measured against), a no-op and argreport
// linked statically against glibc, the stdio report linked dynamically
// against glibc, printf(1) and echo(1). Each round starts every program once,
// in an order that rotates from round to round, all on one CPU, so that drift
// in the machine's speed touches all alike; a ratio is the median of the
// ratios within rounds.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <csignal>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Program {
    const char *name;
    const char *path;
    std::vector<std::string> leading; // what comes before the arguments
};

const std::vector<Program> programs{
    {"exit only (floor)", EXIT_PATH, {"exit"}},
    {"copy (floor)", COPY_PATH, {"copy"}},
    {"argreport, musl static (release)", RELEASE_PATH, {"argreport"}},
    {"stdio report, musl static", STDIO_MUSL_PATH, {"stdio_report"}},
    {"argreport, glibc static", ARGREPORT_PATH, {"argreport"}},
    {"no-op, glibc static", NOOP_PATH, {"noop"}},
    {"stdio report, glibc dynamic", STDIO_PATH, {"stdio_report"}},
    {"/usr/bin/printf '%s\\n'", "/usr/bin/printf", {"printf", "%s\n"}},
    {"/bin/echo", "/bin/echo", {"echo"}},
};
constexpr std::size_t exit_only = 0, copy = 1, release = 2;

struct Usage {
    double cpu_us = 0;
    double faults = 0;
    bool ok = false;
};

Usage run(const char *path, const std::vector<char *> &argv)
{
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    char *envp[] = {nullptr};
    pid_t pid = -1;
    Usage u;
    if (posix_spawn(&pid, path, &fa, nullptr, argv.data(), envp) == 0) {
        int status = 0;
        rusage ru{};
        if (wait4(pid, &status, 0, &ru) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            u.cpu_us = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e6 +
                       static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec);
            u.faults = static_cast<double>(ru.ru_minflt + ru.ru_majflt);
            u.ok = true;
        }
    }
    posix_spawn_file_actions_destroy(&fa);
    return u;
}

// The system calls of one run, from its execve to its exit; -1 if it could not
// be traced.
long count_syscalls(const char *path, const std::vector<char *> &argv)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, 1) < 0 || ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) < 0)
            _exit(127);
        (void)kill(getpid(), SIGSTOP); // for the parent to start tracing
        char *envp[] = {nullptr};
        execve(path, argv.data(), envp);
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status))
        return -1;
    (void)ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    long count = 0;
    bool started = false;
    int signal = 0;
    while (ptrace(PTRACE_SYSCALL, pid, nullptr, signal) == 0 && waitpid(pid, &status, 0) == pid &&
           WIFSTOPPED(status)) {
        signal = 0;
        if (WSTOPSIG(status) == (SIGTRAP | 0x80)) {
            __ptrace_syscall_info info{};
            if (ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) > 0 &&
                info.op == PTRACE_SYSCALL_INFO_ENTRY) {
                started = started || info.entry.nr == SYS_execve;
                count += started ? 1 : 0;
            }
        } else if (WSTOPSIG(status) != SIGTRAP) { // SIGTRAP: the one after execve
            signal = WSTOPSIG(status);
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? count : -1;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Row {
    // cppcheck-suppress unusedStructMember
    double cpu_us, faults, to_exit, to_copy, to_release;
    long syscalls; // cppcheck-suppress unusedStructMember
};
std::vector<std::pair<long, std::vector<Row>>> table;

// n arguments of 20 bytes each.
void compare(benchmark::State &state)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    std::vector<std::string> arguments;
    for (std::size_t i = 1; i <= n; ++i) {
        const std::string digits = std::to_string(i);
        arguments.push_back(std::string(20 - digits.size(), '0') + digits);
    }
    const std::size_t count = programs.size();
    std::vector<std::vector<std::string>> strings(count);
    std::vector<std::vector<char *>> argv(count);
    for (std::size_t p = 0; p < count; ++p) {
        strings[p] = programs[p].leading;
        strings[p].insert(strings[p].end(), arguments.begin(), arguments.end());
        for (std::string &s : strings[p])
            argv[p].push_back(s.data());
        argv[p].push_back(nullptr);
    }

    std::vector<long> syscalls(count);
    for (std::size_t p = 0; p < count; ++p)
        syscalls[p] = count_syscalls(programs[p].path, argv[p]);

    std::vector<std::vector<double>> cpu(count), faults(count), to_exit(count), to_copy(count),
        to_release(count);
    std::size_t round = 0;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        std::vector<Usage> u(count);
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t p = (round + k) % count;
            u[p] = run(programs[p].path, argv[p]);
            if (!u[p].ok) {
                state.SkipWithError((std::string(programs[p].path) + " failed").c_str());
                return;
            }
        }
        ++round;
        for (std::size_t p = 0; p < count; ++p) {
            cpu[p].push_back(u[p].cpu_us);
            faults[p].push_back(u[p].faults);
            if (u[exit_only].cpu_us > 0)
                to_exit[p].push_back(u[p].cpu_us / u[exit_only].cpu_us);
            if (u[copy].cpu_us > 0)
                to_copy[p].push_back(u[p].cpu_us / u[copy].cpu_us);
            if (u[release].cpu_us > 0)
                to_release[p].push_back(u[p].cpu_us / u[release].cpu_us);
        }
        state.SetIterationTime(u[release].cpu_us / 1e6);
    }
    std::vector<Row> rows;
    for (std::size_t p = 0; p < count; ++p)
        rows.push_back({median(cpu[p]), median(faults[p]), median(to_exit[p]), median(to_copy[p]),
                        median(to_release[p]), syscalls[p]});
    state.counters["release_to_exit"] = rows[release].to_exit;
    state.counters["release_to_copy"] = rows[release].to_copy;
    state.counters["release_faults"] = rows[release].faults;
    state.counters["release_syscalls"] = static_cast<double>(rows[release].syscalls);
    table.emplace_back(static_cast<long>(n), rows);
}

off_t file_size(const char *path)
{
    struct stat st {};
    return stat(path, &st) == 0 ? st.st_size : 0;
}

} // namespace

// Larger vectors take longer per run and vary less.
#define ARGREPORT_SIZE(args, rounds)                                                               \
    BENCHMARK(compare)                                                                             \
        ->Name("floors_and_peers")                                                                 \
        ->Arg(args)                                                                                \
        ->Iterations(rounds)                                                                       \
        ->UseManualTime()                                                                          \
        ->Unit(benchmark::kMicrosecond)
ARGREPORT_SIZE(2, 1000);
ARGREPORT_SIZE(1000, 600);
ARGREPORT_SIZE(60000, 150);

int main(int argc, char **argv)
{
    // Children inherit the affinity: every run sees the same CPU and caches.
    // The last CPU, as the first tends to take the machine's interrupts.
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        std::size_t last = 0;
        for (std::size_t c = 0; c < static_cast<std::size_t>(CPU_SETSIZE); ++c)
            if (CPU_ISSET(c, &allowed))
                last = c;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(last, &one);
        (void)sched_setaffinity(0, sizeof one, &one);
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // The table for the README: medians of CPU time and page faults, the
    // system calls of a run, and the ratios to the two floors and to the
    // release.
    std::printf("\nrelease binary: %s, %lld bytes as built\n", RELEASE_PATH,
                static_cast<long long>(file_size(RELEASE_PATH)));
    std::printf("\n| arguments | program | CPU time | page faults | system calls | × exit only | "
                "× copy | × release |\n|---:|---|---:|---:|---:|---:|---:|---:|\n");
    for (const auto &[n, rows] : table)
        for (std::size_t p = 0; p < rows.size(); ++p)
            std::printf("| %ld | %s | %.0f µs | %.0f | %ld | %.2f | %.2f | %.2f |\n", n,
                        programs[p].name, rows[p].cpu_us, rows[p].faults, rows[p].syscalls,
                        rows[p].to_exit, rows[p].to_copy, rows[p].to_release);
    return 0;
}
