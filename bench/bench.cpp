// Starts argreport and a program that does nothing with the same argument
// vector, standard output on /dev/null, and compares the CPU time each child
// used (user + system, from wait4) and its page faults. Runs alternate between
// the two, all on one CPU, so that drift in the machine's speed affects both
// alike; the ratio is the median of the ratios of neighbouring runs, and
// medians keep the odd slow run out.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

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

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// n arguments of 20 bytes each after the program's name.
void compare(benchmark::State &state)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    std::vector<std::string> strings{"argreport"};
    for (std::size_t i = 1; i <= n; ++i) {
        const std::string digits = std::to_string(i);
        strings.push_back(std::string(20 - digits.size(), '0') + digits);
    }
    std::vector<char *> argv(strings.size() + 1, nullptr);
    std::transform(strings.begin(), strings.end(), argv.begin(),
                   [](std::string &s) { return s.data(); });

    std::vector<double> cpu[2], faults[2], ratios;
    const char *paths[2] = {ARGREPORT_PATH, NOOP_PATH};
    bool flip = false;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        Usage u[2];
        for (int k = 0; k < 2; ++k) {
            const int which = flip ? 1 - k : k;
            u[which] = run(paths[which], argv);
        }
        flip = !flip;
        if (!u[0].ok || !u[1].ok) {
            state.SkipWithError("a child failed to start or did not exit with 0");
            return;
        }
        for (int w = 0; w < 2; ++w) {
            cpu[w].push_back(u[w].cpu_us);
            faults[w].push_back(u[w].faults);
        }
        if (u[1].cpu_us > 0)
            ratios.push_back(u[0].cpu_us / u[1].cpu_us);
        state.SetIterationTime(u[0].cpu_us / 1e6);
    }
    const double a = median(cpu[0]), z = median(cpu[1]);
    state.counters["argreport_us"] = a;
    state.counters["noop_us"] = z;
    state.counters["ratio"] = median(ratios);
    state.counters["argreport_faults"] = median(faults[0]);
    state.counters["noop_faults"] = median(faults[1]);
}

} // namespace

// Larger vectors take longer per run and vary less.
#define ARGREPORT_SIZE(args, runs)                                                                 \
    BENCHMARK(compare)                                                                             \
        ->Name("argreport_vs_noop")                                                                \
        ->Arg(args)                                                                                \
        ->Iterations(runs)                                                                         \
        ->UseManualTime()                                                                          \
        ->Unit(benchmark::kMicrosecond)
ARGREPORT_SIZE(2, 4000);
ARGREPORT_SIZE(1000, 3000);
ARGREPORT_SIZE(60000, 1000);

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
    return 0;
}
