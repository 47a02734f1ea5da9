// The built viewer driven by scripted keys off-screen on the fixed-step clock (40 ms a turn):
// keys reach the picture, the same command gives the same bytes, the selection-screen build
// draws its screen; and the quit prompt over the last frame on the real device in this process.
//
// Every scripted run first hides the help with F1 (the help holds the frame rate), so whole
// pictures can be compared.
#include "app/frame_update.h"
#include "app/shell.h"
#include "core/settings.h"
#include "platform/win/input.h"
#include "support/gl_scene.h"
#include "support/viewer_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

struct Shot {
    ViewerRun run;
    std::string png; // the screenshot's bytes
    Image image;
};

// Runs a viewer variant with a key script (or other hooks) until it ends by itself.
Shot RunViewer(const std::string& name, Env hooks, const std::string& target = "duoscope") {
    const std::string dir = MakeScratchDir("control_" + name);
    hooks["DUOSCOPE_SCREENSHOT"] = dir + "/shot.png";
    Shot s;
    s.run = RunProgram(ViewerPath(target), {}, Reproducible(hooks), dir, 60);
    EXPECT_EQ(s.run.exitCode, 0) << name << ": " << s.run.errors;
    s.png = ReadFile(dir + "/shot.png");
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

TEST(ControlProgram, AViewKeyChangesThePicture) {
    const Shot plain = RunViewer("plain", {{"DUOSCOPE_KEYS", "F1@0-120,F10@400-440"}});
    const Shot two = RunViewer("view2", {{"DUOSCOPE_KEYS", "F1@0-120,2@200-240,F10@400-440"}});
    // Camera 2's plain view instead of the Duoscope view: more than 2% of the picture changes.
    EXPECT_GT(Differing(plain.image, two.image), 640 * 480 / 50);
}

TEST(ControlProgram, TheSameCommandGivesTheSameBytes) {
    // Walking and its animation follow the tick clock: on the wall clock, poses would differ.
    const Env moving = {{"DUOSCOPE_KEYS", "F1@0-120,UP@120-600,LEFT@400-800,F10@1000-1040"}};
    const Shot first = RunViewer("same_1", moving), second = RunViewer("same_2", moving);
    ASSERT_FALSE(first.png.empty());
    EXPECT_TRUE(first.png == second.png);
    const Shot still = RunViewer("same_still", {{"DUOSCOPE_KEYS", "F1@0-120,F10@1000-1040"}});
    EXPECT_GT(Differing(first.image, still.image), 640 * 480 / 50); // they did move
}

TEST(ControlProgram, PickBuildShowsTheTextsAndBothCharacters) {
    const Shot pick = RunViewer("pick", {{"DUOSCOPE_FRAMES", "5"}}, "duoscope-pick");
    const Image& img = pick.image;
    ASSERT_EQ(img.width, 640);
    ASSERT_EQ(img.height, 480);
    int white = 0, left = 0, right = 0, between = 0;
    for (int y = 50; y < 75; ++y)
        for (int x = 320; x < 470; ++x) white += img.At(x, y)[0] > 200; // "Pick a character:"
    const auto lit = [&](int x, int y) { return img.At(x, y)[0] + img.At(x, y)[1] > 60; };
    for (int y = 260; y < 390; ++y)
        for (int x = 100; x < 230; ++x) {
            left += lit(x, y); // the characters stand left and right of the centre
            right += lit(x + 310, y);
            between += lit(x + 190, y); // black between them: no room on this screen
        }
    EXPECT_GT(white, 40);
    EXPECT_GT(left, 500);
    EXPECT_GT(right, 500);
    EXPECT_LT(between, 50);
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
