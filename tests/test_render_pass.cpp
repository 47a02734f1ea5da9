// The combined-view render pass and the overlay on the recording device.
#include "core/matrix.h"
#include "core/settings.h"
#include "render/camera.h"
#include "render/render.h"
#include "scene/scene.h"
#include "support/gl_scene.h"
#include "support/recording_scene.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <tuple>

namespace {

void ExpectMatrixEq(const D3DXMATRIX& a, const D3DXMATRIX& b, const char* what) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_FLOAT_EQ(a.m[r][c], b.m[r][c]) << what << r << c;
}

class RenderPass : public ::testing::Test {
  protected:
    void SetUp() override {
        device = UseRecordingDevice();
        PlaceObject(0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0);
        PlaceStartScene();
    }
    void TearDown() override { ReleaseRecordingDevice(); }

    // The five matrices handed for the n-th object drawn.
    std::vector<RecordedCall> ObjectMatrices(size_t n) const {
        std::vector<RecordedCall> all;
        for (const RecordedCall& c : device->Calls("Effect.SetMatrix"))
            if (c.name != "g_mProjection1") all.push_back(c);
        return {all.begin() + long(n * 5), all.begin() + long(n * 5 + 5)};
    }

    // The overlay's lines, "*" before the bold ones.
    std::string Overlay() const {
        std::string s;
        for (const RecordedCall& l : device->Calls("Font.DrawText"))
            s += (l.name == "Times New Roman Bold" ? "*" : "") + l.text + "\n";
        return s;
    }

    std::shared_ptr<RecordingDevice> device;
};

TEST_F(RenderPass, FrameCallSequenceWithoutHelpOrFonts) {
    g_bShowHelp = false;
    RenderScene();
    const std::string object = " Effect.SetMatrix Effect.SetMatrix Effect.SetMatrix "
                               "Effect.SetMatrix Effect.SetMatrix";
    const std::string pass =
        "Effect.BeginPass Effect.SetMatrix" + object + object + object + " Effect.EndPass ";
    EXPECT_EQ(device->OpSequence(), "Clear BeginScene SetTransform Effect.SetTechnique "
                                    "Effect.Begin " +
                                        pass + pass + "Effect.End EndScene Present");
    EXPECT_EQ(std::tuple(device->calls[0].a, device->calls[0].b), std::tuple(3u, 0u)); // black
    // Two passes, begun with no flags: the effect saves and restores the states itself.
    const RecordedCall begin = device->Calls("Effect.Begin").at(0);
    EXPECT_EQ(std::tuple(begin.name, begin.a, begin.b), std::tuple("DuoscopeWithZ", 2u, 0u));
    ExpectMatrixEq(device->calls[2].matrix, IdentityMatrix(), "world identity");
    // Every pass draws every model. Help on but no fonts: no text, still presented.
    for (int slot = 0; slot < 3; ++slot) MakePlainSlot(slot, {1.0f});
    g_bShowHelp = true;
    g_pFont.reset();
    g_pFontBold.reset();
    device->calls.clear();
    RenderScene();
    EXPECT_EQ(device->Calls("DrawSubset").size(), 6u); // two passes, three objects
    EXPECT_TRUE(device->Calls("Font.DrawText").empty());
    EXPECT_EQ(device->calls.back().op, "Present");
}

TEST_F(RenderPass, ObjectsGetTheirWorldAndBothCamerasMatricesAndCameraTwoViewSwapsThem) {
    const D3DXMATRIX identity = IdentityMatrix();
    D3DXMATRIX vp1, vp2;
    D3DXMatrixMultiply(&vp1, &g_matView1, &g_matProj);
    D3DXMatrixMultiply(&vp2, &g_matView2, &g_matProj);
    for (bool camera2 : {false, true}) {
        g_bStandardView = g_bCamera2View = camera2;
        device->calls.clear();
        RenderScene();
        // The projection is handed once per pass, before the objects.
        const RecordedCall projection = device->Calls("Effect.SetMatrix")[0];
        EXPECT_EQ(projection.name, "g_mProjection1");
        ExpectMatrixEq(projection.matrix, g_matProj, "projection");
        EXPECT_EQ(std::pair(projection.matrix.m[2][3], projection.matrix.m[3][3]),
                  std::pair(1.0f, 0.0f)); // a perspective projection, not a view
        const auto room = ObjectMatrices(0);
        const char* names[] = {"g_mWorld", "g_mWorldView1", "g_mWorldViewProjection1",
                               "g_mWorldView2", "g_mWorldViewProjection2"};
        const D3DXMATRIX* want[] = {&identity, camera2 ? &g_matView2 : &g_matView1,
                                    camera2 ? &vp2 : &vp1, camera2 ? &g_matView1 : &g_matView2,
                                    camera2 ? &vp1 : &vp2};
        for (int i = 0; i < 5; ++i) ExpectMatrixEq(room[i].matrix, *want[i], names[i]);
    }
    // Controlled (slot 2) second, other (slot 1, yaw 90) third.
    EXPECT_EQ(ObjectMatrices(1)[0].matrix.m[3][2], -40.0f);
    const D3DXMATRIX other = ObjectMatrices(2)[0].matrix;
    EXPECT_EQ(other.m[3][0], -20.0f);
    // Turned by 90 x 0.017444445 = 1.57 radians, not pi/2.
    EXPECT_FLOAT_EQ(other.m[0][0], std::cos(1.57f));
    EXPECT_FLOAT_EQ(other.m[2][0], std::sin(1.57f));
}

TEST_F(RenderPass, WithoutEffectTheFixedFunctionPathShowsCameraOne) {
    g_pEffect.reset();
    MakePlainSlot(0, {1.0f});
    RenderScene();
    EXPECT_EQ(device->Calls("DrawSubset").size(), 1u);
    int views = 0;
    for (const RecordedCall& c : device->Calls("SetTransform"))
        if (c.a == D3DTS_VIEW) ExpectMatrixEq(c.matrix, g_matView1, "view"), ++views;
    EXPECT_EQ(views, 1);
    EXPECT_EQ(device->calls.back().op, "Present");
    const std::string overlay = Overlay(); // marks what is shown
    EXPECT_NE(overlay.find("\n*[1]: normal view from camera 1\n[2]: normal view from camera 2\n"
                           "[3]: Duoscope view\n"),
              std::string::npos)
        << overlay;
}

TEST_F(RenderPass, OverlayLinesFontsAndRectanglesWithBoldFollowingTheFlags) {
    g_nScreenWidth = 800;
    g_nScreenHeight = 600;
    g_fFrameRate = 59.94f;
    RenderScene();
    const auto lines = device->Calls("Font.DrawText");
    ASSERT_EQ(lines.size(), 16u);
    for (int i = 0; i < 16; ++i) { // white, the whole text, 25 pixels apart
        const RecordedCall& l = lines[i];
        EXPECT_EQ(std::tuple(l.count, l.a, l.b), std::tuple(int(l.text.size()), 0u, 0xFFFFFFFFu));
        EXPECT_EQ((std::array{l.rect.left, l.rect.top, l.rect.right, l.rect.bottom}),
                  (std::array{10, i * 25, 410, i * 25 + 60}));
    }
    // Bold: the key help, the view shown (DuoscopeWithZ at start) and auto move when on.
    EXPECT_EQ(Overlay(), "\n*Press F1 to show/hide help\n*Display: 800x600 (59.9 fps)\n"
                         "*[Esc/F10] Quit\n*[Cursor Left] Turn left\n*[Cursor Right] Turn right\n"
                         "*[Cursor Up] Move forward\n*[Cursor Down] Move backward\n"
                         "*[A] Strafe left\n*[D] Strafe right\n*[W] Move up\n*[S] Move down\n"
                         "[1]: normal view from camera 1\n[2]: normal view from camera 2\n"
                         "*[3]: Duoscope view\n[4]: Toggle auto move camera 2\n");
    // The overlay comes after the effect's End and before EndScene.
    const std::string seq = device->OpSequence();
    EXPECT_LT(seq.find("Effect.End "), seq.find("Font.DrawText"));
    EXPECT_LT(seq.rfind("Font.DrawText"), seq.find("EndScene"));
    for (auto [standard, withZ, camera2, autoMove, marks] :
         {std::tuple(true, true, true, true, "0111111111110101"),
          {false, false, false, false, "0111111111110000"}}) { // 1: bold
        g_bStandardView = standard, g_bWithZ = withZ, g_bCamera2View = camera2;
        g_bAutoMove2 = autoMove;
        device->calls.clear();
        RenderScene();
        std::string bold;
        for (const RecordedCall& l : device->Calls("Font.DrawText"))
            bold += l.name == "Times New Roman Bold" ? '1' : '0';
        EXPECT_EQ(bold, marks);
    }
}

TEST_F(RenderPass, ExtendedHelpAddsItsLinesAndStatusLineIsShown) {
    g_bShowExtendedHelp = true;
    SetStatusLine("Connected to server *%s*", "127.0.0.1");
    RenderScene();
    g_bShowExtendedHelp = false;
    const auto lines = device->Calls("Font.DrawText");
    ASSERT_EQ(lines.size(), 19u); // no joystick: no read-out
    // The status line first; user control at start: its line is bold.
    const std::string overlay = Overlay();
    EXPECT_EQ(overlay.substr(0, overlay.find('\n')), "Connected to server *127.0.0.1*");
    EXPECT_EQ(overlay.substr(overlay.find("'Z'")), "'Z': enable Duoscope (withoutZ)\n"
                                                   "'C': computer control camera 1\n"
                                                   "*'X': user control camera 1\n");
    EXPECT_EQ(lines[18].rect.top, 450);
    SetStatusLine("%s", "");
}

} // namespace
