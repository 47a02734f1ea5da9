// The whole viewer: time from start to the first presented frame (the process is started with
// DUOSCOPE_FRAMES=2: the placing frame and the first running frame), the frame rate of the
// running loop off-screen at 640x480 (the full-screen device, as shipped), and the cost of
// posing a model at an unchanged time.
#include "core/settings.h"
#include "app/shell.h"
#include "models/model.h"
#include "render/camera.h"
#include "render/render.h"
#include "scene/scene.h"
#include "support/count_allocations.h" // the running frame reports how many it makes
#include "support/gl_scene.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>

static void RunViewer(int frames) {
    const std::string command = "cd " DUO_SOURCE_DIR "/data && SDL_VIDEODRIVER=offscreen "
                                "DUOSCOPE_FRAMES=" +
                                std::to_string(frames) +
                                " " DUO_BINARY_DIR "/duoscope rx 640 ry 480 2>/dev/null";
    if (std::system(command.c_str()) != 0) std::abort();
}

// Start-up, the first presented frame and shutdown, as a user waits for them.
static void BM_StartToFirstFrame(benchmark::State& state) {
    for (auto _ : state) RunViewer(2);
}
BENCHMARK(BM_StartToFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The same with 300 more frames: the difference per frame is the loop's frame time.
static void BM_Start300Frames(benchmark::State& state) {
    for (auto _ : state) RunViewer(302);
}
BENCHMARK(BM_Start300Frames)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

static bool g_sceneUp = false;
static void StartScene() {
    if (g_sceneUp) return;
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    if (!StartGlScene(true)) std::abort(); // full-screen, as shipped
    PlaceStartScene();
    g_sceneUp = true;
}

// One running frame in process, per technique (0 DuoscopeWithZ, 1 Duoscope, 2 Standard).
static void BM_RunningFrame(benchmark::State& state) {
    StartScene();
    g_bStandardView = state.range(0) == 2;
    g_bWithZ = state.range(0) == 0;
    float t = 0.0f;
    RenderScene(); // the first frame of a technique may make what later frames reuse
    long allocations = 0;
    for (auto _ : state) {
        t += 0.04f;
        g_SceneObjects[1].animTime = g_SceneObjects[2].animTime = std::fmod(t, 1.0f);
        const long before = g_allocations;
        RenderScene();
        allocations += g_allocations - before;
    }
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["allocs/frame"] = double(allocations) / double(state.iterations());
}
BENCHMARK(BM_RunningFrame)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Posing a character again at the time it already shows: the track position and a zero-step
// advance only.
static void BM_UpdateModelAnimationUnchanged(benchmark::State& state) {
    StartScene();
    UpdateModelAnimation(1, 0.25f);
    for (auto _ : state) UpdateModelAnimation(1, 0.25f);
}
BENCHMARK(BM_UpdateModelAnimationUnchanged);

// Posing at a new time every call: frame matrices and software skinning of the sailor.
static void BM_UpdateModelAnimationChanging(benchmark::State& state) {
    StartScene();
    float t = 0.0f;
    for (auto _ : state) {
        t = t > 0.9f ? 0.0f : t + 0.01f;
        UpdateModelAnimation(1, t);
    }
}
BENCHMARK(BM_UpdateModelAnimationChanging)->Unit(benchmark::kMicrosecond);

// The scene's effect, fonts and models are released, then the device and its context, before
// the program ends: left to the static destructors, they would touch a context whose window
// is already gone.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_sceneUp) StopGlScene();
    return 0;
}
