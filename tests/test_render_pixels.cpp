// The whole render pass on the real OpenGL device off-screen with our models and Duoscope.fx:
// one smoke test by pixels, and running frames allocate nothing.
#include "core/settings.h"
#include "render/render.h"
#include "scene/scene.h"
#include "support/count_allocations.h"
#include "support/gl_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

class RenderPixels : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { StartGlScene(); }
    static void TearDownTestSuite() { StopGlScene(); }
    void SetUp() override {
        ASSERT_TRUE(g_pDevice);
        ASSERT_TRUE(g_pEffect) << "Duoscope.fx did not load";
        PlaceStartScene();
    }
};

std::vector<uint8_t> Render(bool standard, bool camera2) {
    g_bStandardView = standard, g_bWithZ = true, g_bCamera2View = camera2;
    RenderScene();
    std::vector<uint8_t> rgba;
    EXPECT_TRUE(g_pDevice->ReadBackBuffer(rgba));
    return rgba;
}

// Mean difference per pixel between channel ca of a and channel cb of b, or the brightness of
// b (Rec. 601) when cb < 0.
double MeanDifference(const std::vector<uint8_t>& a, int ca, const std::vector<uint8_t>& b,
                      int cb) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); i += 4) {
        const uint8_t* p = &b[i];
        const double v = cb >= 0 ? p[cb] : std::lround(0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]);
        sum += std::abs(a[i + ca] - v);
    }
    return sum / double(a.size() / 4);
}

TEST_F(RenderPixels, DuoscopeWithZHoldsCameraOneInRedAndCameraTwoInGreenBlue) {
    g_bShowHelp = false;
    const auto camera1 = Render(true, false), camera2 = Render(true, true);
    const auto duo = Render(false, false);
    ASSERT_EQ(duo.size(), camera1.size());
    // Each channel shows its camera's normal view as brightness: under two levels per pixel.
    for (int c = 0; c < 3; ++c) EXPECT_LT(MeanDifference(duo, c, c ? camera2 : camera1, -1), 2.0);
    // And the two cameras see different pictures.
    EXPECT_GT(MeanDifference(camera1, 1, camera2, 1), 5.0);
}

TEST_F(RenderPixels, RunningFramesAllocateNothing) {
    g_bShowHelp = true;
    for (auto [standard, withZ, camera2] : {std::tuple(false, true, false),
                                            {false, false, false},
                                            {true, true, false},
                                            {true, true, true}}) {
        g_bStandardView = standard, g_bWithZ = withZ, g_bCamera2View = camera2;
        RenderScene(); // warm-up: lazy uploads may allocate once
        RenderScene();
        const long before = g_allocations.load();
        for (int i = 1; i <= 5; ++i) {
            // Walking characters: the animation time changes, so skinning runs every frame.
            g_SceneObjects[1].animTime = g_SceneObjects[2].animTime = 0.04f * float(i);
            g_fFrameRate = 60.0f + float(i);
            RenderScene();
        }
        EXPECT_EQ(g_allocations.load() - before, 0)
            << "standard " << standard << " withZ " << withZ;
    }
}

} // namespace
