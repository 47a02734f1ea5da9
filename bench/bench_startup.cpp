// Start-up to the first presented frame: the viewer as shipped (full-screen build, off-screen,
// DUOSCOPE_FRAMES=1: the placing turn, then the turn that takes the quit message draws and
// presents the first running frame, then exit) against the floor of this machine
// (startup_floor: an SDL + OpenGL window, one clear, one read-back, exit). Whole processes,
// alternating, 21 rounds; the figure is the median of the per-round ratios. The viewer runs
// with DUOSCOPE_STARTUP_TRACE=1, and the median time of each phase says where its start-up
// goes.
#include "bench_spawn.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kRounds = 21;

// The phases the viewer traces, in order, with what each one covers.
const std::pair<const char*, const char*> kPhases[] = {
    {"window", "SDL video and the window"},
    {"device", "GL probe, context, back buffer, present shader"},
    {"shown", "window shown, joystick"},
    {"fonts", "two fonts (fontconfig, FreeType, atlas)"},
    {"effect", "effect file parsed and compiled"},
    {"models", "three models and their textures read"},
    {"frame-1", "placing frame"},
    {"frame-2", "first running frame, presented"},
    {"shutdown", "release in reverse order"},
};

} // namespace

int main() {
    const std::string data = DUO_SOURCE_DIR "/data";
    const std::map<std::string, std::string> env = {{"SDL_VIDEODRIVER", "offscreen"},
                                                    {"DUOSCOPE_FRAMES", "1"},
                                                    {"DUOSCOPE_FIXED_STEP", "20"},
                                                    {"DUOSCOPE_SEED", "1"},
                                                    {"DUOSCOPE_STARTUP_TRACE", "1"}};
    const std::vector<std::string> viewer = {DUO_BINARY_DIR "/duoscope", "rx", "640", "ry", "480"};
    const std::vector<std::string> floor = {DUO_BINARY_DIR "/bench/startup_floor"};
    std::vector<double> floorMs, viewerMs, ratio;
    std::vector<std::vector<double>> phases(std::size(kPhases) + 1);
    for (int round = 0; round < kRounds; ++round) {
        SpawnResult f, v;
        if (round % 2) {
            v = Spawn(viewer, env, data);
            f = Spawn(floor, env, data);
        } else {
            f = Spawn(floor, env, data);
            v = Spawn(viewer, env, data);
        }
        if (f.exitCode != 0 || v.exitCode != 0) {
            std::fprintf(stderr, "bench_startup: a run failed:\n%s%s\n", f.output.c_str(),
                         v.output.c_str());
            return 1;
        }
        floorMs.push_back(f.ms);
        viewerMs.push_back(v.ms);
        ratio.push_back(v.ms / f.ms);
        double previous = 0;
        for (size_t i = 0; i < std::size(kPhases); ++i) {
            const double t = PhaseTime(v.output, kPhases[i].first);
            phases[i].push_back(t - previous);
            previous = t;
        }
        phases.back().push_back(v.ms - previous);
    }
    std::printf("Start-up to the first presented frame, off-screen, %d rounds (medians)\n",
                kRounds);
    std::printf("  floor (SDL + GL, clear, read-back) %7.1f ms\n", Median(floorMs));
    std::printf("  viewer (full-screen build, 640x480) %6.1f ms\n", Median(viewerMs));
    std::printf("  ratio viewer / floor                %6.2f (median of per-round ratios)\n",
                Median(ratio));
    std::printf("Where the viewer's start-up goes (median per phase):\n");
    for (size_t i = 0; i < std::size(kPhases); ++i)
        std::printf("  %-9s %6.1f ms  %s\n", kPhases[i].first, Median(phases[i]),
                    kPhases[i].second);
    std::printf("  %-9s %6.1f ms  %s\n", "process", Median(phases.back()),
                "exec, libraries, static set-up and exit, outside main");
    return 0;
}
