// The combined-view render pass and the overlay on the recording device.
#include "core/matrix.h"
#include "core/settings.h"
#include "render/camera.h"
#include "render/render.h"
#include "scene/scene.h"
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
        PlaceObject(1, 1, -20, 0, 40, 1, 1, 1, 0, 90, 0);
        PlaceObject(2, 2, 0, 0, -40, 1, 1, 1, 0, 0, 0);
        UpdateCamera(g_nControlled, g_vEye1, g_fEyeYaw1);
        UpdateCamera(g_nOther, g_vEye2, g_fEyeYaw2);
    }
    void TearDown() override { ReleaseRecordingDevice(); }

    // The five matrices handed for the n-th object drawn.
    std::vector<RecordedCall> ObjectMatrices(size_t n) const {
        std::vector<RecordedCall> all;
        for (const RecordedCall& c : device->Calls("Effect.SetMatrix"))
            if (c.name != "g_mProjection1") all.push_back(c);
        return {all.begin() + long(n * 5), all.begin() + long(n * 5 + 5)};
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
        EXPECT_EQ(device->Calls("Effect.SetMatrix")[0].name, "g_mProjection1");
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
    const auto lines = device->Calls("Font.DrawText"); // the overlay marks what is shown
    ASSERT_GT(lines.size(), 14u);
    EXPECT_EQ(lines[12].text + lines[12].name,
              "[1]: normal view from camera 1Times New Roman Bold");
    EXPECT_EQ(lines[14].text + lines[14].name, "[3]: Duoscope viewTimes New Roman");
}

TEST_F(RenderPass, OverlayLinesFontsAndRectanglesWithBoldFollowingTheFlags) {
    g_nScreenWidth = 800;
    g_nScreenHeight = 600;
    g_fFrameRate = 59.94f;
    RenderScene();
    const auto lines = device->Calls("Font.DrawText");
    ASSERT_EQ(lines.size(), 16u);
    std::string texts;
    for (int i = 0; i < 16; ++i) {
        const RecordedCall& l = lines[i];
        texts += l.text + "|";
        EXPECT_EQ(std::tuple(l.count, l.a, l.b), std::tuple(int(l.text.size()), 0u, 0xFFFFFFFFu));
        EXPECT_EQ((std::array{l.rect.left, l.rect.top, l.rect.right, l.rect.bottom}),
                  (std::array{10, i * 25, 410, i * 25 + 60}));
    }
    EXPECT_EQ(texts, "|Press F1 to show/hide help|Display: 800x600 (59.9 fps)|[Esc/F10] Quit|"
                     "[Cursor Left] Turn left|[Cursor Right] Turn right|[Cursor Up] Move forward|"
                     "[Cursor Down] Move backward|[A] Strafe left|[D] Strafe right|[W] Move up|"
                     "[S] Move down|[1]: normal view from camera 1|"
                     "[2]: normal view from camera 2|[3]: Duoscope view|"
                     "[4]: Toggle auto move camera 2|");
    // The overlay comes after the effect's End and before EndScene.
    const std::string seq = device->OpSequence();
    EXPECT_LT(seq.find("Effect.End "), seq.find("Font.DrawText"));
    EXPECT_LT(seq.rfind("Font.DrawText"), seq.find("EndScene"));

    // Bold lines (1 per line): the key help, the view shown and auto move when on.
    auto boldLines = [&] {
        std::string bold;
        for (const RecordedCall& l : device->Calls("Font.DrawText"))
            bold += l.name == "Times New Roman Bold" ? '1' : '0';
        return bold;
    };
    EXPECT_EQ(boldLines(), "0111111111110010"); // DuoscopeWithZ at start
    for (auto [standard, withZ, camera2, autoMove, bold] :
         {std::tuple(true, true, true, true, "0111111111110101"),
          std::tuple(false, false, false, false, "0111111111110000")}) {
        g_bStandardView = standard;
        g_bWithZ = withZ;
        g_bCamera2View = camera2;
        g_bAutoMove2 = autoMove;
        device->calls.clear();
        RenderScene();
        EXPECT_EQ(boldLines(), bold);
    }
}

TEST_F(RenderPass, ExtendedHelpAddsItsLinesAndStatusLineIsShown) {
    g_bShowExtendedHelp = true;
    SetStatusLine("Connected to server *%s*", "127.0.0.1");
    RenderScene();
    g_bShowExtendedHelp = false;
    const auto lines = device->Calls("Font.DrawText");
    ASSERT_EQ(lines.size(), 19u); // no joystick: no read-out
    EXPECT_EQ(lines[0].text, "Connected to server *127.0.0.1*");
    // User control at start: its line is bold.
    EXPECT_EQ(lines[16].text + "|" + lines[17].text + "|" + lines[18].text + "|" + lines[18].name,
              "'Z': enable Duoscope (withoutZ)|'C': computer control camera 1|"
              "'X': user control camera 1|Times New Roman Bold");
    EXPECT_EQ(lines[18].rect.top, 450);
    SetStatusLine("%s", "");
}

} // namespace
