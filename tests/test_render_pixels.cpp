// The render pass on the real OpenGL device off-screen (llvmpipe), with our models and
// Duoscope.fx, checked by pixels. Tolerances are stated where they are used.
#include "core/settings.h"
#include "app/shell.h"
#include "models/model.h"
#include "render/camera.h"
#include "core/matrix.h"
#include "render/render.h"
#include "scene/scene.h"
#include "support/gl_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

struct Frame {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    const uint8_t* At(int x, int y) const { return &rgba[(size_t(y) * width + x) * 4]; }
};

class RenderPixels : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { StartGlScene(); }
    static void TearDownTestSuite() { StopGlScene(); }

    void SetUp() override {
        ASSERT_TRUE(g_pDevice);
        ASSERT_TRUE(g_pEffect) << "Duoscope.fx did not load";
        g_bShowHelp = false;
        g_bStandardView = false;
        g_bWithZ = true;
        g_bCamera2View = false;
        g_bAutoMove2 = false;
        PlaceStartScene();
    }

    Frame Render() {
        UpdateCamera(g_nControlled, g_vEye1, g_fEyeYaw1);
        UpdateCamera(g_nOther, g_vEye2, g_fEyeYaw2);
        RenderScene();
        Frame f;
        f.width = g_pDevice->BackBufferWidth();
        f.height = g_pDevice->BackBufferHeight();
        EXPECT_TRUE(g_pDevice->ReadBackBuffer(f.rgba));
        return f;
    }
    Frame RenderStandard(bool camera2) {
        g_bStandardView = true;
        g_bCamera2View = camera2;
        return Render();
    }

    // Where a world point lands on screen through a camera's view.
    static void Project(const D3DXVECTOR3& p, const D3DXMATRIX& view, int* x, int* y) {
        D3DXMATRIX vp;
        D3DXMatrixMultiply(&vp, &view, &g_matProj);
        D3DXVECTOR3 c;
        D3DXVec3TransformCoord(&c, &p, &vp);
        *x = int((c.x * 0.5f + 0.5f) * float(g_nScreenWidth));
        *y = int((0.5f - c.y * 0.5f) * float(g_nScreenHeight));
    }
};

// Pixels whose channels (masked) differ by more than 8 levels.
int DifferingPixels(const Frame& a, const Frame& b, int x0, int y0, int x1, int y1,
                    unsigned channels = 7) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            for (int c = 0; c < 3; ++c)
                if ((channels >> c & 1) && std::abs(a.At(x, y)[c] - b.At(x, y)[c]) > 8) {
                    ++n;
                    break;
                }
    return n;
}

double MeanChannelDifference(const Frame& a, int ca, const Frame& b, int cb) {
    double sum = 0;
    for (size_t i = 0; i < a.rgba.size() / 4; ++i)
        sum += std::abs(int(a.rgba[i * 4 + ca]) - int(b.rgba[i * 4 + cb]));
    return sum / double(a.rgba.size() / 4);
}

// The same picture as brightness (Rec. 601 weights), in every colour channel.
Frame Brightness(const Frame& f) {
    Frame g = f;
    for (size_t i = 0; i < f.rgba.size() / 4; ++i) {
        const uint8_t* p = &f.rgba[i * 4];
        const uint8_t v = uint8_t(std::lround(0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]));
        g.rgba[i * 4] = g.rgba[i * 4 + 1] = g.rgba[i * 4 + 2] = v;
    }
    return g;
}

TEST_F(RenderPixels, EachStandardViewShowsTheOtherCharacterWhereItsCameraPutsIt) {
    // Camera 2's character turns to face the controlled one, so each camera has the other
    // character in front of it.
    const SceneObject& controlled = g_SceneObjects[g_nControlled];
    const SceneObject& other = g_SceneObjects[g_nOther];
    g_SceneObjects[g_nOther].yaw = std::atan2(controlled.position.x - other.position.x,
                                              controlled.position.z - other.position.z) *
                                   180.0f / 3.14f;
    for (bool camera2 : {false, true}) {
        const int shown = camera2 ? g_nControlled : g_nOther;
        const Frame with = RenderStandard(camera2);
        const D3DXVECTOR3 saved = g_SceneObjects[shown].position;
        g_SceneObjects[shown].position.y = -5000.0f; // out of sight
        const Frame without = RenderStandard(camera2);
        g_SceneObjects[shown].position = saved;
        int x, y;
        D3DXVECTOR3 chest = {saved.x, saved.y + 14.0f, saved.z};
        Project(chest, camera2 ? g_matView2 : g_matView1, &x, &y);
        ASSERT_GT(x, 20);
        ASSERT_LT(x, g_nScreenWidth - 20);
        // Around the predicted spot (20 pixels each way) the character changes the picture.
        EXPECT_GT(DifferingPixels(with, without, x - 20, y - 20, x + 20, y + 20), 200)
            << "camera " << (camera2 ? 2 : 1) << " at " << x << "," << y;
    }
    // The two cameras see different pictures.
    EXPECT_GT(DifferingPixels(RenderStandard(false), RenderStandard(true), 0, 0, g_nScreenWidth,
                              g_nScreenHeight),
              g_nScreenWidth * g_nScreenHeight / 4);
}

TEST_F(RenderPixels, DuoscopeWithZHoldsCameraOneInRedAndCameraTwoInGreenBlue) {
    // Each camera's part shows that camera's normal view as brightness.
    const Frame camera1 = Brightness(RenderStandard(false));
    const Frame camera2 = Brightness(RenderStandard(true));
    g_bStandardView = false;
    g_bWithZ = true;
    g_bCamera2View = false;
    const Frame duo = Render();
    // Same shading in each channel: a mean difference of under two levels per pixel.
    EXPECT_LT(MeanChannelDifference(duo, 0, camera1, 0), 2.0);
    EXPECT_LT(MeanChannelDifference(duo, 1, camera2, 1), 2.0);
    EXPECT_LT(MeanChannelDifference(duo, 2, camera2, 2), 2.0);
    // And it is not simply one camera's picture.
    EXPECT_GT(MeanChannelDifference(duo, 1, camera1, 1), 5.0);
}

TEST_F(RenderPixels, DuoscopeWithoutZShowsWhatWallsHide) {
    // Put the other character outside the room, straight ahead of camera 1, behind the far
    // wall.
    g_SceneObjects[g_nOther].position = {0.0f, 0.0f, 400.0f};
    auto render = [&](bool withZ, bool present) {
        g_bStandardView = false;
        g_bWithZ = withZ;
        g_SceneObjects[g_nOther].position.y = present ? 0.0f : -5000.0f;
        return Render();
    };
    const Frame zWith = render(true, true), zWithout = render(true, false);
    const Frame noZWith = render(false, true), noZWithout = render(false, false);
    const int w = g_nScreenWidth, h = g_nScreenHeight;
    EXPECT_LT(DifferingPixels(zWith, zWithout, 0, 0, w, h, 1), 20);      // hidden in red
    EXPECT_GT(DifferingPixels(noZWith, noZWithout, 0, 0, w, h, 1), 100); // seen through
}

TEST_F(RenderPixels, OverlayTextLiesInItsColumnAndBoldIsHeavier) {
    g_bShowHelp = false;
    const Frame plain = Render();
    g_bShowHelp = true;
    const Frame help = Render();
    const int w = g_nScreenWidth, h = g_nScreenHeight;
    EXPECT_GT(DifferingPixels(plain, help, 10, 0, 410, 435), 2000);
    EXPECT_EQ(DifferingPixels(plain, help, 410, 0, w, h), 0);
    EXPECT_EQ(DifferingPixels(plain, help, 0, 440, w, h), 0);
    EXPECT_EQ(DifferingPixels(plain, help, 0, 0, 10, h), 0);

    // Line 16 in the regular, then in the bold font: count white pixels in its band.
    auto whiteIn = [](const Frame& f, int top) {
        int n = 0;
        for (int y = top; y < top + 22; ++y)
            for (int x = 10; x < 410; ++x)
                if (f.At(x, y)[0] > 200 && f.At(x, y)[1] > 200 && f.At(x, y)[2] > 200) ++n;
        return n;
    };
    g_bAutoMove2 = false;
    const int regular = whiteIn(Render(), 375);
    g_bAutoMove2 = true;
    const int bold = whiteIn(Render(), 375);
    EXPECT_GT(regular, 100);
    EXPECT_GT(bold, regular * 11 / 10) << "regular " << regular << " bold " << bold;
}

TEST_F(RenderPixels, HelpOffFrameHasNoText) {
    g_bShowHelp = false;
    const Frame off = Render();
    FontPtr regular = g_pFont, bold = g_pFontBold;
    g_pFont.reset();
    g_pFontBold.reset();
    g_bShowHelp = true;
    const Frame noFonts = Render();
    g_pFont = regular;
    g_pFontBold = bold;
    EXPECT_EQ(DifferingPixels(off, noFonts, 0, 0, g_nScreenWidth, g_nScreenHeight), 0);
}

TEST_F(RenderPixels, WithoutEffectTheSceneIsStillSeenFromCameraOne) {
    const Frame standard = RenderStandard(false);
    EffectPtr effect = g_pEffect;
    g_pEffect.reset();
    testing::internal::CaptureStderr();
    g_bStandardView = false; // the view flags cannot reach an effect that is not there
    const Frame fallback = Render();
    const std::string said = testing::internal::GetCapturedStderr();
    g_pEffect = effect;
    // Not black: the room is drawn and lit.
    int lit = 0;
    for (size_t i = 0; i < fallback.rgba.size(); i += 4)
        if (fallback.rgba[i] + fallback.rgba[i + 1] + fallback.rgba[i + 2] > 60) ++lit;
    EXPECT_GT(lit, g_nScreenWidth * g_nScreenHeight / 2);
    // Same camera as the standard view: the pictures agree in most places, though the
    // lighting differs.
    EXPECT_LT(DifferingPixels(standard, fallback, 0, 0, g_nScreenWidth, g_nScreenHeight),
              g_nScreenWidth * g_nScreenHeight * 9 / 10);
}

} // namespace
