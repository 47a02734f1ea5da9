// Command line, frame rate, window procedure and message loop pieces of the shell.
#include "app/shell.h"
#include "core/settings.h"
#include "platform/win/input.h"
#include "platform/win/window.h"
#include "support/recording_scene.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(CommandLine, RxAndRyAreWholeCaseSensitiveTokensWhoseValuesGoThroughAtoi) {
    // In "rx ry ry 300" the first "ry" is taken as rx's value.
    for (auto [line, width, height] : {std::tuple("", 640, 480),
                                       {"rx 800 ry 600", 800, 600},
                                       {"ry 600 rx 800", 800, 600},
                                       {"foo rx 1024", 1024, 480},
                                       {"  rx   320    ry  200 ", 320, 200},
                                       {"rx abc", 0, 480},
                                       {"rx ry ry 300", 0, 300},
                                       {"ry -5", 640, -5},
                                       {"rx 12abc", 12, 480},
                                       {"rx800 RX 900 Ry 700 xrx 1", 640, 480},
                                       {"rx", 640, 480},
                                       {"rx 800 ry", 800, 480}}) {
        ResetSettings();
        ParseCommandLine(line);
        EXPECT_EQ(std::pair(g_nScreenWidth, g_nScreenHeight), std::pair(width, height)) << line;
    }
}

TEST(FrameRate, HundredFramesInTwoSecondsIsFiftyAlsoAcrossTheTickWrap) {
    g_fFrameRate = 0.0f;
    FrameRateCounter c;
    StartFrameRate(c, 1000);
    for (int i = 0; i < 99; ++i) CountFrame(c, 1000 + uint32_t(i) * 20);
    EXPECT_EQ(g_fFrameRate, 0.0f); // nothing before the hundredth frame
    CountFrame(c, 3000);
    EXPECT_EQ(std::tuple(g_fFrameRate, c.frames, c.startTick), std::tuple(50.0f, 0u, 3000u));
    StartFrameRate(c, 0xFFFFFF00u);
    for (int i = 0; i < 100; ++i) CountFrame(c, 0xFFFFFF00u + 1000u); // wraps past zero
    EXPECT_FLOAT_EQ(g_fFrameRate, 100.0f);
}

TEST(WindowProc, MouseMoveAndPaintPostNothingDestroyPostsTheQuit) {
    ResetWindowSystemForTests();
    MSG msg;
    for (UINT m : {WM_MOUSEMOVE, WM_PAINT, WM_DESTROY}) EXPECT_EQ(WindowProc(nullptr, m, 0, 0), 0);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(std::tuple(msg.message, msg.wParam), std::tuple(UINT(WM_QUIT), 0u));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(DispatchMessageA(&msg), 0) << "a quit with no window is harmless";
}

TEST(KeyScript, KeysAreDownInsideTheirWindowOnlyMalformedScriptsAreRefused) {
    SetTickCountForTests(5000);
    std::string error;
    ASSERT_TRUE(SetKeyScript("UP@100-200,a@0-50,0x70@10-20,NUM5@0-1", &error)) << error;
    StartKeyScript();
    const auto down = [](int vk) { return (GetAsyncKeyState(vk) & 0x8000) != 0; };
    EXPECT_EQ(std::tuple(down('A'), down(0x65), down(VK_UP)), std::tuple(true, true, false));
    SetTickCountForTests(5150);
    EXPECT_EQ(std::pair(down(VK_UP), down('A')), std::pair(true, false));
    SetTickCountForTests(5200); // the end is excluded
    EXPECT_FALSE(down(VK_UP));
    ClearKeyScript();
    SetTickCountForTests(std::nullopt);
    for (const char* bad :
         {"UP", "UP@", "UP@1", "UP@5-2", "NOPE@1-2", "UP@1-2,", "0x@1-2", "UP@a-b", "0x1FF@1-2"}) {
        error.clear();
        EXPECT_TRUE(!SetKeyScript(bad, &error) && !error.empty()) << bad;
    }
}

TEST(KeyState, InjectedStatesOverrideAndClearAndOutOfRangeKeysAreUp) {
    InjectKeyState(VK_F10, true);
    EXPECT_EQ(uint16_t(GetAsyncKeyState(VK_F10)), 0x8000u);
    ClearInjectedKeys();
    for (int vk : {VK_F10, -1, 256}) EXPECT_EQ(GetAsyncKeyState(vk), 0) << vk;
}

TEST(MainLoop, QuitPostedElsewhereSkipsThePrompts) {
    // A quit from the window or a hook, taken in a turn where Esc or P is still held, must not
    // open a prompt that waits for an answer no script will give.
    UseRecordingDevice();
    ResetWindowSystemForTests();
    g_nPhase = Running;
    PostQuitMessage(0);
    InjectKeyState(VK_ESCAPE, true);
    InjectKeyState('P', true);
    UpdateFrame(); // returns: no prompt waits
    ClearInjectedKeys();
    EXPECT_TRUE(QuitPosted());
    ReleaseRecordingDevice();
    ResetWindowSystemForTests();
    EXPECT_FALSE(QuitPosted());
}

} // namespace
