// Runs the built viewer in a scratch directory linking data/'s files; reads back what it wrote.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ViewerRun {
    int exitCode = -1;  // -1 when it was killed: by a signal, or by us after the timeout
    std::string log;    // log.txt, empty when none was written
    std::string errors; // what it wrote to stderr
};

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    bool Empty() const { return rgba.empty(); }
    const uint8_t* At(int x, int y) const { return &rgba[(size_t(y) * width + x) * 4]; }
};

using Env = std::map<std::string, std::string>;

// A fresh directory under the build tree, with links to every file of data/ when withData.
std::string MakeScratchDir(const std::string& name, bool withData = true);

// Off-screen, on the fixed-step clock (40 ms a turn), seeded; entries of extra win.
Env Reproducible(Env extra = {});

// Runs program with args in dir; env entries are added to the environment (an empty value
// removes the variable). Kills it after timeoutSeconds.
ViewerRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const Env& env, const std::string& dir, int timeoutSeconds = 60);

// The same in two steps, for tests that act on the running program; its stdout and stderr go
// to output when given, else to dir/stderr.txt.
int StartProgram(const std::string& program, const std::vector<std::string>& args, const Env& env,
                 const std::string& dir, int output = -1);
ViewerRun WaitProgram(int pid, const std::string& dir, int timeoutSeconds = 60);

// The viewer variant built under that target name (duoscope, duoscope-pick, ...).
std::string ViewerPath(const std::string& target = "duoscope");

Image LoadPng(const std::string& path);
std::string ReadFile(const std::string& path);
