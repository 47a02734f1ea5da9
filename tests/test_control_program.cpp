// The built viewer driven by keys: off-screen with scripted keys (DUOSCOPE_KEYS), the
// selection-screen build, the real window under Xvfb with keys sent by xdotool; and the quit
// prompt on the real device in this process.
//
// Every scripted run first hides the help with F1 (the help holds the frame rate, which differs
// from run to run), so whole pictures can be compared.
#include "app/frame_update.h"
#include "core/settings.h"
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
#include <map>
#include <thread>

namespace {

// Hides the help as soon as the first frames run; the keys under test come after it, and F10
// ends the run after them.
constexpr const char kHideHelp[] = "F1@100-700,";
constexpr const char kEnd[] = "F10@2400-2600";

struct Shot {
    ViewerRun run;
    Image image;
};

// Runs a viewer variant off-screen with a key script until it ends by itself, normally.
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
    EXPECT_EQ(s.run.exitCode, 0) << name << ": " << s.run.errors;
    s.image = LoadPng(dir + "/shot.png");
    return s;
}

// Pixels whose colour differs by more than a little; -1 when the pictures do not compare.
int Differing(const Image& a, const Image& b) {
    if (a.Empty() || b.Empty() || a.width != b.width || a.height != b.height) return -1;
    int n = 0;
    for (size_t i = 0; i < a.rgba.size(); i += 4) {
        bool far = false;
        for (size_t c = i; c < i + 3; ++c) far |= std::abs(a.rgba[c] - b.rgba[c]) > 8;
        n += far;
    }
    return n;
}

// A picture differs visibly when more than 2% of the compared pixels changed.
bool Differs(const Image& a, const Image& b) {
    return Differing(a, b) > a.width * a.height / 50;
}

int CountPixels(const Image& img, int x0, int y0, int x1, int y1, bool (*test)(const uint8_t*)) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) n += test(img.At(x, y));
    return n;
}

class ControlProgram : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        plain_ = RunWithKeys("plain", kEnd);
        ASSERT_FALSE(plain_.image.Empty());
    }
    static Shot plain_; // no key but F10: the start view, Duoscope with Z
};
Shot ControlProgram::plain_;

TEST_F(ControlProgram, EachViewAndMovementKeyGivesItsOwnPicture) {
    std::map<std::string, Image> shots = {{"plain", plain_.image}};
    const std::pair<const char*, const char*> runs[] = {
        {"view1", "1@1000-1300,"},     {"view2", "2@1000-1300,"},
        {"viewz", "Z@1000-1300,"},     {"forward", "UP@1000-1400,"},
        {"turned", "LEFT@1000-1400,"}, {"view23", "2@1000-1300,3@1600-1900,"}};
    for (auto [name, keys] : runs) shots[name] = RunWithKeys(name, keys + std::string(kEnd)).image;
    const std::pair<const char*, const char*> differing[] = {
        {"view1", "plain"},   {"view2", "plain"},  {"view1", "view2"},   {"viewz", "view1"},
        {"forward", "plain"}, {"turned", "plain"}, {"forward", "turned"}};
    for (auto [a, b] : differing) EXPECT_TRUE(Differs(shots[a], shots[b])) << a << " vs " << b;
    EXPECT_GT(Differing(shots["viewz"], plain_.image), 0);  // the same view, seen through
    EXPECT_EQ(Differing(shots["view23"], plain_.image), 0); // '3' goes back to the start view
}

TEST_F(ControlProgram, EscThenYEndsEscThenNGoesOnAndPausedNoKeyActsUntilP) {
    RunWithKeys("esc_y", "ESC@1000-1300,Y@1600-1900"); // no F10 at all
    // Esc still held when the quit is taken: the last turn does not ask again.
    RunWithKeys("esc_held", "ESC@1000-2600,Y@1600-1900");
    // N: the program goes on, and the keys after it still act.
    const Shot no =
        RunWithKeys("esc_n", std::string("ESC@1000-1300,N@1600-1900,2@2000-2300,") + kEnd);
    const Shot two = RunWithKeys("esc_two", std::string("2@2000-2300,") + kEnd);
    EXPECT_EQ(Differing(no.image, two.image), 0);
    EXPECT_TRUE(Differs(two.image, plain_.image));
    // Paused, '2' (which acts at that time otherwise) is lost, and so is F10: the later F10
    // ends the run.
    const Shot paused =
        RunWithKeys("paused", "P@1000-1300,2@1600-1900,F10@2000-2300,P@2600-2900,F10@3200-3500");
    EXPECT_EQ(Differing(paused.image, plain_.image), 0);
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
    const auto white = [](const uint8_t* p) { return p[0] > 200 && p[1] > 200 && p[2] > 200; };
    const auto lit = [](const uint8_t* p) { return p[0] + p[1] + p[2] > 60; };
    // "Pick a character:" from x 320 at y 50, "Press 'F'" from 160 and "Press 'S'" from 480
    // at y 150: white text there, none just left of each.
    EXPECT_GT(CountPixels(img, 320, 50, 470, 75, white), 40);
    EXPECT_GT(CountPixels(img, 160, 150, 230, 172, white), 20);
    EXPECT_GT(CountPixels(img, 480, 150, 550, 172, white), 20);
    EXPECT_EQ(CountPixels(img, 200, 50, 315, 75, white), 0);
    // The characters stand left and right of the centre, 15 below the eye: lit pixels where
    // their bodies are, black background elsewhere (no room on this screen).
    EXPECT_GT(CountPixels(img, 100, 260, 230, 390, lit), 500);
    EXPECT_GT(CountPixels(img, 410, 260, 540, 390, lit), 500);
    EXPECT_EQ(CountPixels(img, 280, 260, 360, 470, lit), 0);
    EXPECT_EQ(CountPixels(img, 0, 0, 100, 40, lit), 0);
}

TEST_F(ControlProgram, PickBuildFChoosesTheLeftCharacterAndSTheRight) {
    // Camera 1 rides on the chosen character; '1' shows its normal view. F1 is not read on
    // the selection screen: the help goes after the choice.
    const std::string after = std::string("1@1300-1600,F1@1700-1900,") + kEnd;
    const Shot f = RunWithKeys("pick_f", "F@1000-1100," + after, "duoscope-pick", false);
    const Shot s = RunWithKeys("pick_s", "S@1000-1100," + after, "duoscope-pick", false);
    const Shot usual = RunWithKeys("pick_usual", std::string("1@1300-1600,") + kEnd);
    // 'F' picks the second character, which the usual build controls from the start.
    EXPECT_EQ(Differing(f.image, usual.image), 0);
    EXPECT_TRUE(Differs(s.image, f.image));
}

// The real window under Xvfb: keys sent by xdotool, then the window closed if asked.
Shot RunInWindow(const std::string& name, const std::vector<std::string>& keys, bool close) {
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
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
    EXPECT_TRUE(!close || CloseWindow(x.display, w.id));
    s.run = WaitProgram(pid, dir, 30);
    EXPECT_EQ(s.run.exitCode, 0) << name << ": " << s.run.errors;
    s.image = LoadPng(dir + "/shot.png");
    return s;
}

TEST(ControlWindow, AViewKeyChangesThePictureAndF10OrClosingWhilePausedEndsTheProgram) {
    RunInWindow("pause_close", {"p"}, true);
    const Shot plain = RunInWindow("plain", {"F10"}, false);
    const Shot two = RunInWindow("view2", {"2", "F10"}, false);
    EXPECT_TRUE(Differs(two.image, plain.image)) << Differing(two.image, plain.image);
}

// The picture on screen while the prompt waits for its answer: the last frame, with the text
// in the middle and nothing else changed.
std::vector<uint8_t> g_whileWaiting;
int g_nReads = 0;
void AnswerNAfterAWhile(int vk) {
    if (vk != 'N') return;
    InjectKeyState(VK_ESCAPE, false);
    if (++g_nReads == 3) g_pDevice->ReadBackBuffer(g_whileWaiting);
    InjectKeyState('N', g_nReads >= 3 && g_nReads < 5);
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
            const bool inRect = x >= w / 2 && x < w / 2 + 400 && y >= h / 2 && y < h / 2 + 60;
            if (std::memcmp(&before[i], &g_whileWaiting[i], 3) != 0) ++(inRect ? inside : outside);
        }
    EXPECT_GT(inside, 100); // "Quit? [y/n]" in white
    EXPECT_EQ(outside, 0);
}

} // namespace
