// The full-screen frame against the windowed frame at the same back-buffer size (640x480), as
// users run them: the whole viewer scene, drawn and presented on an X server (a private Xvfb;
// SDL's off-screen driver when Xvfb is missing). Full-screen renders with 4 samples and
// presents into a window the size of the screen: a 1920x1080 screen (the picture scaled, with
// bars) and a 640x480 one (the sizes match). A process holds one window, so each frame time
// comes from a child process of its own; the two kinds alternate, round after round, and the
// figure is the median of the per-round ratios.
#include "bench_spawn.h"
#include "core/settings.h"
#include "platform/win/window.h"
#include "render/render.h"
#include "support/gl_scene.h"
#include "support/xserver.h"

#include <epoxy/gl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kWarmFrames = 10, kTimedFrames = 40, kRounds = 9;

// Child: the median time of one drawn, presented and finished frame, printed on stdout.
int MeasureFrames(bool fullScreen) {
    if (!StartGlScene(fullScreen)) return 1;
    ShowWindow(g_hWnd, SW_SHOWDEFAULT);
    PlaceStartScene();
    std::vector<double> times;
    for (int i = 0; i < kWarmFrames + kTimedFrames; ++i) {
        const auto start = std::chrono::steady_clock::now();
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
        RenderScene();
        glFinish();
        const std::chrono::duration<double, std::milli> t =
            std::chrono::steady_clock::now() - start;
        if (i >= kWarmFrames) times.push_back(t.count());
    }
    std::printf("frame %.3f\n", Median(times));
    StopGlScene();
    return 0;
}

double FrameMs(bool fullScreen, const std::map<std::string, std::string>& env) {
    const SpawnResult r =
        Spawn({"/proc/self/exe", fullScreen ? "full" : "windowed"}, env, std::string());
    const size_t at = r.output.rfind("frame ");
    if (r.exitCode != 0 || at == std::string::npos) {
        std::fprintf(stderr, "bench_present: child failed:\n%s\n", r.output.c_str());
        std::exit(1);
    }
    return std::atof(r.output.c_str() + at + 6);
}

void Compare(const char* title, const std::map<std::string, std::string>& env) {
    std::vector<double> full, windowed, ratio;
    for (int round = 0; round < kRounds; ++round) {
        // Alternate which kind goes first, so drift in the machine's load hits both alike.
        double f, w;
        if (round % 2) {
            w = FrameMs(false, env);
            f = FrameMs(true, env);
        } else {
            f = FrameMs(true, env);
            w = FrameMs(false, env);
        }
        full.push_back(f);
        windowed.push_back(w);
        ratio.push_back(f / w);
    }
    std::printf("%-34s full-screen %6.2f ms  windowed %6.2f ms  ratio %.2f (median of %d)\n", title,
                Median(full), Median(windowed), Median(ratio), kRounds);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2) return MeasureFrames(std::strcmp(argv[1], "full") == 0);
    std::printf("Frame time, full-screen (4 samples) against windowed, back buffer 640x480\n");
    XvfbServer large, small;
    if (large.Start(1920, 1080) && small.Start(640, 480)) {
        Compare("screen 1920x1080 (scaled, bars):",
                {{"DISPLAY", large.display}, {"SDL_VIDEODRIVER", "x11"}});
        Compare("screen 640x480 (sizes match):",
                {{"DISPLAY", small.display}, {"SDL_VIDEODRIVER", "x11"}});
    } else {
        std::printf("(no Xvfb: off-screen)\n");
        Compare("off-screen:", {{"SDL_VIDEODRIVER", "offscreen"}});
    }
    return 0;
}
