// Running the programs a benchmark times: each as a child process, its
// output thrown away, with its wall time, exit status and peak resident
// memory (from wait4's rusage: the child's own, not the benchmark's).
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

struct ChildRun {
    int status = -1;      // exit status; -1 when killed or not started
    double seconds = 0;   // wall time
    double cpuSeconds = 0;  // the child's user and system time
    long peakRssKb = 0;   // the child's peak resident memory
};

// Runs argv[0] (a path) with the arguments; stdout and stderr to /dev/null.
inline ChildRun RunChild(const std::vector<std::string>& argv) {
    std::fflush(stdout);
    ChildRun result;
    auto started = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return result;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    result.peakRssKb = usage.ru_maxrss;
    auto secondsOf = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    result.cpuSeconds = secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The middle of the values (the mean of the two middle ones for an even
// count); 0 for none. The machine is shared: medians over paired rounds
// are steadier than any single run.
inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

[[noreturn]] inline void Fail(const char* bench, const std::string& what) {
    std::fprintf(stderr, "%s: %s failed\n", bench, what.c_str());
    std::exit(1);
}

}  // namespace bench
