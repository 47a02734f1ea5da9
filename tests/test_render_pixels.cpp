// One smoke test of the whole render pass on the real OpenGL device off-screen (llvmpipe), with
// our models and Duoscope.fx: the Duoscope view holds camera 1's picture in red and camera 2's
// in green and blue. The techniques, fonts and drawing states are checked by pixels in the
// test_gl_* tests, the call order of the pass on the recording device in test_render_pass.
#include "core/settings.h"
#include "render/render.h"
#include "support/gl_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

std::vector<uint8_t> Render(bool standard, bool camera2) {
    g_bStandardView = standard;
    g_bCamera2View = camera2;
    PlaceStartScene();
    RenderScene();
    std::vector<uint8_t> rgba;
    EXPECT_TRUE(g_pDevice->ReadBackBuffer(rgba));
    return rgba;
}

// Mean difference per pixel between channel ca of a and the brightness (Rec. 601) of b, or its
// channel cb when cb >= 0.
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

TEST(RenderPixels, DuoscopeWithZHoldsCameraOneInRedAndCameraTwoInGreenBlue) {
    ASSERT_TRUE(StartGlScene());
    ASSERT_TRUE(g_pEffect) << "Duoscope.fx did not load";
    g_bShowHelp = false;
    const auto camera1 = Render(true, false), camera2 = Render(true, true);
    g_bWithZ = true;
    const auto duo = Render(false, false);
    ASSERT_EQ(duo.size(), camera1.size());
    // Each channel shows its camera's normal view as brightness: under two levels per pixel.
    EXPECT_LT(MeanDifference(duo, 0, camera1, -1), 2.0);
    EXPECT_LT(MeanDifference(duo, 1, camera2, -1), 2.0);
    EXPECT_LT(MeanDifference(duo, 2, camera2, -1), 2.0);
    // And the two cameras see different pictures.
    EXPECT_GT(MeanDifference(camera1, 1, camera2, 1), 5.0);
    StopGlScene();
}

} // namespace
