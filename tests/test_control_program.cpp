// The built viewer on scripted keys: keys reach the picture, the same command gives the same
// bytes, the selection build draws its screen; in process, the quit prompt over the last frame.
#include "app/frame_update.h"
#include "app/shell.h"
#include "core/settings.h"
#include "platform/win/input.h"
#include "support/gl_scene.h"
#include "support/viewer_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

struct Shot {
    std::string png; // the screenshot's bytes
    Image image;
};

// Runs a viewer variant with the given hooks until it ends by itself.
Shot RunViewer(const std::string& name, Env hooks, const std::string& target = "duoscope") {
    const std::string dir = MakeScratchDir("control_" + name);
    hooks["DUOSCOPE_SCREENSHOT"] = dir + "/shot.png";
    const ViewerRun run = RunProgram(ViewerPath(target), {}, Reproducible(hooks), dir);
    EXPECT_EQ(run.exitCode, 0) << name << ": " << run.errors;
    return {ReadFile(dir + "/shot.png"), LoadPng(dir + "/shot.png")};
}

// Pixels whose colour differs by more than a little.
int Differing(const Image& a, const Image& b) {
    if (a.Empty() || a.rgba.size() != b.rgba.size()) return -1;
    int n = 0;
    for (size_t i = 0; i < a.rgba.size(); i += 4)
        n += std::max({std::abs(a.rgba[i] - b.rgba[i]), std::abs(a.rgba[i + 1] - b.rgba[i + 1]),
                       std::abs(a.rgba[i + 2] - b.rgba[i + 2])}) > 8;
    return n;
}

TEST(ControlProgram, AViewKeyChangesThePictureAndTheSameCommandGivesTheSameBytes) {
    // F1 hides the help (it shows the frame rate); the walk and its animation follow the tick
    // clock; the first turn places the characters and reads no key.
    const std::string walk = "F1@0-120,UP@120-600,LEFT@400-800,";
    const Env inView2 = {{"DUOSCOPE_KEYS", walk + "2@800-840,F10@1000-1040"}};
    const Shot first = RunViewer("view2_a", inView2), second = RunViewer("view2_b", inView2);
    const Shot duoscope = RunViewer("duoscope", {{"DUOSCOPE_KEYS", walk + "F10@1000-1040"}});
    ASSERT_FALSE(first.png.empty());
    EXPECT_TRUE(first.png == second.png);
    // Camera 2's plain view instead of the Duoscope view: more than 2% of the picture changes.
    EXPECT_GT(Differing(first.image, duoscope.image), 640 * 480 / 50);
}

TEST(ControlProgram, PickBuildShowsItsScreen) {
    // The characters stand left and right of the centre, on black: no room on this screen.
    const Image img = RunViewer("pick", {{"DUOSCOPE_FRAMES", "5"}}, "duoscope-pick").image;
    ASSERT_EQ(img.width * img.height, 640 * 480);
    int left = 0, right = 0, between = 0;
    for (int y = 260; y < 390; ++y)
        for (int x = 100; x < 230; ++x) {
            left += img.At(x, y)[0] > 30;
            right += img.At(x + 310, y)[0] > 30;
            between += img.At(x + 190, y)[0] > 30;
        }
    EXPECT_GT(std::min(left, right), 500);
    EXPECT_LT(between, 50);
}

// The picture while the prompt waits (at the third read of 'N', then pressed and released).
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
