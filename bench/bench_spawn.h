// Runs a program as a child process for the benchmarks that compare whole processes: its wall
// time from fork to exit and everything it wrote (stdout and stderr together); the median
// the benchmarks report and the start-up phases a viewer traced.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

struct SpawnResult {
    double ms = 0;      // fork to exit
    int exitCode = -1;  // -1 when it did not exit normally
    std::string output; // stdout and stderr
};

inline SpawnResult Spawn(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env, const std::string& dir) {
    SpawnResult r;
    int out[2];
    if (pipe(out) != 0) return r;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(127);
        for (const auto& [key, value] : env) setenv(key.c_str(), value.c_str(), 1);
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(out[0]);
        close(out[1]);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) r.output.append(buffer, n);
    close(out[0]);
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        r.exitCode = WEXITSTATUS(status);
    r.ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return r;
}

inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The milliseconds of one start-up phase in a viewer's output under DUOSCOPE_STARTUP_TRACE=1
// (a line "duoscope: startup PHASE MS"), or -1 when it printed none.
inline double PhaseTime(const std::string& output, const char* phase) {
    const std::string key = std::string("duoscope: startup ") + phase + " ";
    const size_t at = output.find(key);
    return at == std::string::npos ? -1 : std::atof(output.c_str() + at + key.size());
}
