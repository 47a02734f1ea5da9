// The message queue in process (SDL's off-screen driver); the real window under a private Xvfb.
#include "app/shell.h"
#include "support/xserver.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <tuple>
#include <vector>

namespace {

// A window of the stand-in with the viewer's own window procedure, fed by pushed SDL events.
void OpenWindow() {
    ResetWindowSystemForTests();
    WNDCLASSEXA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.lpszClassName = "QueueTest";
    RegisterClassExA(&wc);
    ASSERT_TRUE(CreateWindowExA(0, "QueueTest", "", 0, 0, 0, 64, 64, 0, 0, 0, 0));
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
}

void Push(Uint32 type, int a = 0, int b = 0) { // a mouse move to (a, b), a window event a, a key
    SDL_Event e = {};
    e.type = type;
    if (type == SDL_MOUSEMOTION) e.motion.x = a, e.motion.y = b;
    if (type == SDL_WINDOWEVENT) e.window.event = Uint8(a);
    SDL_PushEvent(&e);
}

TEST(MessageQueue, AFloodWaitsAsOneMouseMoveAndOnePaintAndNoKeys) {
    OpenWindow();
    for (int i = 0; i < 50; ++i) {
        for (int j = 0; j < 60; ++j) Push(SDL_MOUSEMOTION, j, i + j);
        Push(SDL_WINDOWEVENT, SDL_WINDOWEVENT_EXPOSED);
        Push(i % 2 ? SDL_KEYUP : SDL_KEYDOWN);
    }
    std::vector<std::pair<UINT, LPARAM>> taken;
    for (MSG m; PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE);) taken.push_back({m.message, m.lParam});
    // The mouse move keeps the place of the first one and the position of the last (59, 108).
    const std::vector<std::pair<UINT, LPARAM>> expected = {{0x0200, 59 | (108 << 16)}, {0x000F, 0}};
    EXPECT_EQ(taken, expected);
}

// Main-loop turns, one message each, while the mouse keeps moving.
TEST(MessageQueue, EveryWayToEndIsTakenWithinAFewTurnsOfAFlood) {
    const std::vector<std::pair<const char*, std::function<void()>>> endings = {
        {"F10, Esc-Y", [] { PostQuitMessage(0); }},
        {"window closed", [] { Push(SDL_WINDOWEVENT, SDL_WINDOWEVENT_CLOSE); }},
        {"SIGTERM", [] { raise(SIGTERM); }}, // SDL's handler turns it into a quit event
    };
    for (const auto& [name, end] : endings) {
        OpenWindow();
        for (int i = 0; i < 3000; ++i) Push(SDL_MOUSEMOTION, i % 600, i % 400);
        int turns = 0;
        for (bool quit = false; !quit && turns < 4000; ++turns) {
            for (int i = 0; i < 20; ++i) Push(SDL_MOUSEMOTION, i, turns % 2);
            MSG m;
            if (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
                quit = m.message == WM_QUIT;
                DispatchMessageA(&m);
            }
            if (turns == 0) end();
        }
        EXPECT_LE(turns, 5) << name;
    }
}

TEST(Window, EveryWayTheDisplayEndsTheViewer) {
    const char* const lost = "duoscope: the connection to the X display was lost\n";
    using Act = std::function<void(XvfbServer&, unsigned long)>;
    const std::vector<std::tuple<Act, int, const char*>> cases = {
        {[](XvfbServer& x, unsigned long w) {
             ASSERT_TRUE(FloodPointer(x.display, w, 3000));
             ASSERT_EQ(CountFrames(x.display, w, 3, 20000), 3); // the moves are in its queue
             ASSERT_TRUE(SendKey(x.display, "F10"));
             const int frames = CountFrames(x.display, w, 100000, 60000); // -1: still open
             EXPECT_TRUE(frames >= 0 && frames <= 8) << frames << " frames after F10";
         },
         0, ""},
        {[](XvfbServer& x, unsigned long w) { EndWindowFromOutside(x.display, w, true); }, 1,
         lost}, // as xkill does
        {[](XvfbServer& x, unsigned long) { x.Stop(); }, 1, lost},
        {[](XvfbServer& x, unsigned long w) { EndWindowFromOutside(x.display, w, false); }, 1,
         "duoscope: the window was destroyed by another program\n"},
    };
    for (const auto& [act, exitCode, errors] : cases) {
        XvfbServer x;
        ASSERT_TRUE(x.Start(320, 240)) << "Xvfb could not start";
        const XViewer v = StartViewerWindow(x, "window", {"rx", "320", "ry", "240"},
                                            {{"DUOSCOPE_FIXED_STEP", "16"}});
        ASSERT_TRUE(v.ready) << ReadFile(v.dir + "/stderr.txt");
        EXPECT_EQ(std::make_pair(v.window.width, v.window.height), std::make_pair(320, 240));
        EXPECT_TRUE(v.window.fullScreenState); // a window manager would show it full-screen
        act(x, v.window.id);
        // A viewer that spins or waits on a dead connection is killed at the time-out (-1).
        const ViewerRun run = WaitProgram(v.pid, v.dir, 30);
        EXPECT_EQ(run.exitCode, exitCode) << errors;
        EXPECT_EQ(run.errors, errors);
        EXPECT_EQ(run.log, "Initialized DirectX 9\nInitialized resolution 320x240\n");
    }
}

} // namespace
