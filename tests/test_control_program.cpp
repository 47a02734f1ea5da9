// The built viewer driven by keys: off-screen with scripted keys (DUOSCOPE_KEYS), the
// selection-screen build, the real window under Xvfb with keys sent by xdotool; and the quit
// prompt on the real device in this process.
//
// Every scripted run first hides the help with F1 (the help holds the frame rate, which differs
// from run to run), so whole pictures can be compared.
#include "app/frame_update.h"
#include "app/settings.h"
#include "app/shell.h"
#include "platform/win/input.h"
#include "support/gl_scene.h"
#include "support/viewer_process.h"
#include "support/xserver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

// Hides the help as soon as the first frames run; the keys under test come after it.
constexpr const char kHideHelp[] = "F1@100-700,";

struct Shot {
    ViewerRun run;
    Image image;
};

// Runs a viewer variant off-screen with a key script until it ends by itself.
Shot RunWithKeys(const std::string& name, const std::string& keys,
                 const std::string& target = "duoscope", bool hideHelp = true) {
    const std::string dir = MakeScratchDir("control_" + name);
    Shot s;
    s.run = RunProgram(ViewerPath(target), {},
                       {{"SDL_VIDEODRIVER", "offscreen"},
                        {"DUOSCOPE_KEYS", (hideHelp ? kHideHelp : "") + keys},
                        {"DUOSCOPE_SEED", "1"},
                        {"DUOSCOPE_SCREENSHOT", dir + "/shot.png"}},
                       dir, 90);
    s.image = LoadPng(dir + "/shot.png");
    return s;
}

// Pixels whose colour differs by more than a little.
int Differing(const Image& a, const Image& b) {
    if (a.Empty() || b.Empty() || a.width != b.width || a.height != b.height) return -1;
    int n = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const uint8_t* p = a.At(x, y);
            const uint8_t* q = b.At(x, y);
            if (std::abs(p[0] - q[0]) > 8 || std::abs(p[1] - q[1]) > 8 || std::abs(p[2] - q[2]) > 8)
                ++n;
        }
    return n;
}

// A picture differs visibly when more than 2% of the compared pixels changed.
bool Differs(const Image& a, const Image& b) {
    const int n = Differing(a, b);
    return n > a.width * a.height / 50;
}
bool Same(const Image& a, const Image& b) {
    return Differing(a, b) == 0;
}

int CountPixels(const Image& img, int x0, int y0, int x1, int y1, bool (*test)(const uint8_t*)) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) n += test(img.At(x, y));
    return n;
}
bool IsWhite(const uint8_t* p) {
    return p[0] > 200 && p[1] > 200 && p[2] > 200;
}
bool IsLit(const uint8_t* p) {
    return p[0] + p[1] + p[2] > 60;
}

// Ends the run by itself: F10 after the keys under test.
constexpr const char kEnd[] = "F10@2400-2600";

class ControlProgram : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        plain_ = RunWithKeys("plain", kEnd);
        ASSERT_EQ(plain_.run.exitCode, 0) << plain_.run.errors;
        ASSERT_FALSE(plain_.image.Empty());
    }
    static Shot plain_; // no key but F10: the start view, Duoscope with Z
};
Shot ControlProgram::plain_;

TEST_F(ControlProgram, EachViewKeyGivesItsOwnView) {
    const Shot one = RunWithKeys("view1", std::string("1@1000-1300,") + kEnd);
    const Shot two = RunWithKeys("view2", std::string("2@1000-1300,") + kEnd);
    const Shot z = RunWithKeys("viewz", std::string("Z@1000-1300,") + kEnd);
    const Shot back = RunWithKeys("view23", std::string("2@1000-1300,3@1600-1900,") + kEnd);
    for (const Shot* s : {&one, &two, &z, &back}) {
        EXPECT_EQ(s->run.exitCode, 0) << s->run.errors;
        ASSERT_FALSE(s->image.Empty());
    }
    EXPECT_TRUE(Differs(one.image, plain_.image));
    EXPECT_TRUE(Differs(two.image, plain_.image));
    EXPECT_TRUE(Differs(one.image, two.image));
    EXPECT_GT(Differing(z.image, plain_.image), 0); // the same view, seen through
    EXPECT_TRUE(Differs(z.image, one.image));
    EXPECT_TRUE(Same(back.image, plain_.image)) << Differing(back.image, plain_.image);
}

TEST_F(ControlProgram, MovingAndTurningChangeThePicture) {
    const Shot forward = RunWithKeys("forward", std::string("UP@1000-1400,") + kEnd);
    const Shot turned = RunWithKeys("turned", std::string("LEFT@1000-1400,") + kEnd);
    EXPECT_EQ(forward.run.exitCode, 0) << forward.run.errors;
    EXPECT_EQ(turned.run.exitCode, 0) << turned.run.errors;
    EXPECT_TRUE(Differs(forward.image, plain_.image));
    EXPECT_TRUE(Differs(turned.image, plain_.image));
    EXPECT_TRUE(Differs(forward.image, turned.image));
}

TEST_F(ControlProgram, EscThenYEndsAndEscThenNGoesOn) {
    const Shot yes = RunWithKeys("esc_y", "ESC@1000-1300,Y@1600-1900"); // no F10 at all
    EXPECT_EQ(yes.run.exitCode, 0) << yes.run.errors;
    // Esc still held when the quit is taken: the last turn does not ask again.
    const Shot held = RunWithKeys("esc_held", "ESC@1000-2600,Y@1600-1900");
    EXPECT_EQ(held.run.exitCode, 0) << held.run.errors;
    // N: the program goes on, and the keys after it still act.
    const Shot no =
        RunWithKeys("esc_n", std::string("ESC@1000-1300,N@1600-1900,2@2000-2300,") + kEnd);
    const Shot two = RunWithKeys("esc_two", std::string("2@2000-2300,") + kEnd);
    EXPECT_EQ(no.run.exitCode, 0) << no.run.errors;
    EXPECT_TRUE(Same(no.image, two.image)) << Differing(no.image, two.image);
    EXPECT_TRUE(Differs(no.image, plain_.image));
}

TEST_F(ControlProgram, PausedTheProgramTakesNoKeyUntilPIsPressedAgain) {
    // '2' comes while paused and is lost; F10 too, so the later F10 ends the run.
    const Shot paused =
        RunWithKeys("paused", "P@1000-1300,2@1600-1900,F10@2000-2300,P@2600-2900,F10@3200-3500");
    EXPECT_EQ(paused.run.exitCode, 0) << paused.run.errors;
    EXPECT_TRUE(Same(paused.image, plain_.image)) << Differing(paused.image, plain_.image);
    // Without the pause the same '2' switches the view.
    const Shot running = RunWithKeys("unpaused", "2@1600-1900,F10@3200-3500");
    EXPECT_TRUE(Differs(running.image, plain_.image));
}

TEST_F(ControlProgram, AStopRequestWhilePausedEndsTheProgramNormally) {
    const std::string dir = MakeScratchDir("control_pause_term");
    const int pid = StartProgram(
        ViewerPath(), {}, {{"SDL_VIDEODRIVER", "offscreen"}, {"DUOSCOPE_KEYS", "P@300-600"}}, dir);
    std::this_thread::sleep_for(std::chrono::milliseconds(2000)); // paused by now
    kill(pid, SIGTERM);
    const ViewerRun run = WaitProgram(pid, dir, 30);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
}

TEST_F(ControlProgram, PickBuildShowsTheTextsAndBothCharacters) {
    const std::string dir = MakeScratchDir("control_pick_screen");
    const ViewerRun run = RunProgram(ViewerPath("duoscope-pick"), {},
                                     {{"SDL_VIDEODRIVER", "offscreen"},
                                      {"DUOSCOPE_FRAMES", "5"},
                                      {"DUOSCOPE_SCREENSHOT", dir + "/shot.png"}},
                                     dir, 60);
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    const Image img = LoadPng(dir + "/shot.png");
    ASSERT_EQ(img.width, 640);
    ASSERT_EQ(img.height, 480);
    // "Pick a character:" from x 320 at y 50, "Press 'F'" from 160 and "Press 'S'" from 480
    // at y 150: white text there, none just left of each.
    EXPECT_GT(CountPixels(img, 320, 50, 470, 75, IsWhite), 40);
    EXPECT_GT(CountPixels(img, 160, 150, 230, 172, IsWhite), 20);
    EXPECT_GT(CountPixels(img, 480, 150, 550, 172, IsWhite), 20);
    EXPECT_EQ(CountPixels(img, 200, 50, 315, 75, IsWhite), 0);
    // The characters stand left and right of the centre, 15 below the eye: lit pixels where
    // their bodies are, black background elsewhere (no room on this screen).
    EXPECT_GT(CountPixels(img, 100, 260, 230, 390, IsLit), 500);
    EXPECT_GT(CountPixels(img, 410, 260, 540, 390, IsLit), 500);
    EXPECT_EQ(CountPixels(img, 280, 260, 360, 470, IsLit), 0);
    EXPECT_EQ(CountPixels(img, 0, 0, 100, 40, IsLit), 0);
}

TEST_F(ControlProgram, PickBuildFChoosesTheLeftCharacterAndSTheRight) {
    // Camera 1 rides on the chosen character; '1' shows its normal view. F1 is not read on
    // the selection screen: the help goes after the choice.
    const std::string after = std::string("1@1300-1600,F1@1700-1900,") + kEnd;
    const Shot f = RunWithKeys("pick_f", "F@1000-1100," + after, "duoscope-pick", false);
    const Shot s = RunWithKeys("pick_s", "S@1000-1100," + after, "duoscope-pick", false);
    const Shot usual = RunWithKeys("pick_usual", std::string("1@1300-1600,") + kEnd);
    EXPECT_EQ(f.run.exitCode, 0) << f.run.errors;
    EXPECT_EQ(s.run.exitCode, 0) << s.run.errors;
    // 'F' picks the second character, which the usual build controls from the start.
    EXPECT_TRUE(Same(f.image, usual.image)) << Differing(f.image, usual.image);
    EXPECT_TRUE(Differs(s.image, f.image));
}

// The real window under Xvfb, keys sent by xdotool.
Shot RunInWindow(const std::string& name, const std::vector<std::string>& keys) {
    Shot s;
    XvfbServer x;
    EXPECT_TRUE(x.Start(640, 480)) << "Xvfb could not start";
    if (x.pid < 0) return s;
    const std::string dir = MakeScratchDir("control_window_" + name);
    const int pid = StartProgram(ViewerPath(), {},
                                 {{"DISPLAY", x.display},
                                  {"SDL_VIDEODRIVER", "x11"},
                                  {"DUOSCOPE_SCREENSHOT", dir + "/shot.png"}},
                                 dir);
    const XWindowInfo w = WaitForWindow(x.display, "Duoscope", 20000);
    EXPECT_TRUE(w.found && w.viewable) << ReadFile(dir + "/stderr.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(800)); // a few frames drawn
    for (const std::string& key : keys) {
        EXPECT_TRUE(SendKey(x.display, key, 200)) << key;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    s.run = WaitProgram(pid, dir, 30);
    s.image = LoadPng(dir + "/shot.png");
    return s;
}

TEST(ControlWindow, ClosingTheWindowWhilePausedEndsTheProgram) {
    XvfbServer x;
    ASSERT_TRUE(x.Start(640, 480)) << "Xvfb could not start";
    const std::string dir = MakeScratchDir("control_window_pause_close");
    const int pid =
        StartProgram(ViewerPath(), {}, {{"DISPLAY", x.display}, {"SDL_VIDEODRIVER", "x11"}}, dir);
    const XWindowInfo w = WaitForWindow(x.display, "Duoscope", 20000);
    ASSERT_TRUE(w.found && w.viewable) << ReadFile(dir + "/stderr.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_TRUE(SendKey(x.display, "p", 200));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(CloseWindow(x.display, w.id));
    const ViewerRun run = WaitProgram(pid, dir, 30);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
}

TEST(ControlWindow, AViewKeyChangesThePictureAndF10EndsTheProgram) {
    const Shot plain = RunInWindow("plain", {"F10"});
    ASSERT_EQ(plain.run.exitCode, 0) << plain.run.errors;
    const Shot two = RunInWindow("view2", {"2", "F10"});
    ASSERT_EQ(two.run.exitCode, 0) << two.run.errors;
    ASSERT_FALSE(plain.image.Empty());
    ASSERT_FALSE(two.image.Empty());
    EXPECT_TRUE(Differs(two.image, plain.image));
}

// The picture on screen while the prompt waits for its answer: the last frame, with the text
// in the middle and nothing else changed.
std::vector<uint8_t> g_whileWaiting;
int g_nReads = 0;
void AnswerNAfterAWhile(int vk) {
    if (vk != 'N') return;
    InjectKeyState(VK_ESCAPE, false);
    if (++g_nReads == 3) {
        g_pDevice->ReadBackBuffer(g_whileWaiting);
        InjectKeyState('N', true);
    }
    if (g_nReads == 5) InjectKeyState('N', false);
}

TEST(PromptOnScreen, TheQuitPromptStaysOverTheLastFrameUntilAnswered) {
    ASSERT_TRUE(StartGlScene());
    PlaceStartScene();
    g_nPhase = Running;
    ResetFrameUpdate();
    UpdateFrame();
    std::vector<uint8_t> before;
    ASSERT_TRUE(g_pDevice->ReadBackBuffer(before));

    InjectKeyState(VK_ESCAPE, true);
    SetKeyReadHookForTests(AnswerNAfterAWhile);
    UpdateFrame();
    SetKeyReadHookForTests(nullptr);
    ClearInjectedKeys();
    const int w = g_nScreenWidth, h = g_nScreenHeight;
    StopGlScene();

    ASSERT_EQ(g_nReads, 5);
    ASSERT_EQ(g_whileWaiting.size(), before.size());
    int inside = 0, outside = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = (size_t(y) * w + x) * 4;
            const bool changed = std::memcmp(&before[i], &g_whileWaiting[i], 3) != 0;
            const bool inRect = x >= w / 2 && x < w / 2 + 400 && y >= h / 2 && y < h / 2 + 60;
            if (changed) ++(inRect ? inside : outside);
        }
    EXPECT_GT(inside, 100); // "Quit? [y/n]" in white
    EXPECT_EQ(outside, 0);
}

} // namespace
