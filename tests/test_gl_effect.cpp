// The effect and data/Duoscope.fx, checked by pixels: techniques, cameras, depth, states, errors.
#include "test_gl_common.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>

namespace {

D3DXMATRIX operator*(const D3DXMATRIX& a, const D3DXMATRIX& b) {
    D3DXMATRIX r;
    MultiplyMatrices(&r, a, b);
    return r;
}

class GlEffectTest : public GlDeviceTest {
  protected:
    void SetUp() override {
        GlDeviceTest::SetUp();
        ASSERT_EQ(MakeDevice(200, 200), S_OK);
        ASSERT_EQ(D3DXCreateEffectFromFileA(device.get(), DUO_SOURCE_DIR "/data/Duoscope.fx",
                                            nullptr, nullptr, 0, nullptr, &effect, nullptr),
                  S_OK);
        square = Square(-2, -2, 2, 2);
    }
    void TearDown() override { effect = nullptr, square = nullptr, GlDeviceTest::TearDown(); }

    // Hands the effect an object's matrices for two camera views, as the render pass does, and
    // draws it in a grey material, textured when given a texture.
    void Draw(const MeshPtr& mesh, float grey, const D3DXMATRIX& view1, const D3DXMATRIX& view2,
              const D3DXMATRIX& world = IdentityMatrix(), IDirect3DTexture9* texture = nullptr) {
        const D3DXMATRIX wv1 = world * view1, wv2 = world * view2, wvp1 = wv1 * proj,
                         wvp2 = wv2 * proj;
        for (auto [name, m] : {std::pair("g_mWorld", &world),
                               {"g_mWorldView1", &wv1},
                               {"g_mWorldViewProjection1", &wvp1},
                               {"g_mWorldView2", &wv2},
                               {"g_mWorldViewProjection2", &wvp2}})
            effect->SetMatrix(name, m);
        D3DMATERIAL9 m{};
        m.Diffuse = {grey, grey, grey, 1};
        device->SetMaterial(&m);
        if (texture) effect->SetTexture("g_txScene", texture);
        effect->SetInt("g_bHasTexture", texture != nullptr);
        effect->CommitChanges();
        mesh->DrawSubset(0);
    }

    // Clears, runs every pass of a technique with `draw` in each and returns the frame.
    template <class F> std::vector<uint8_t> Render(const char* technique, F draw) {
        EXPECT_EQ(effect->SetTechnique(technique), S_OK);
        return Frame([&] {
            effect->Begin(&passes, 0);
            for (unsigned p = 0; p < passes; ++p) {
                effect->BeginPass(p);
                effect->SetMatrix("g_mProjection1", &proj);
                draw();
                effect->EndPass();
            }
            effect->End();
        });
    }

    // Writes an effect file into the working directory and loads it, capturing stderr.
    EffectPtr LoadText(const std::string& text, std::string* err) {
        const char* name = "gl_effect_case.fx";
        std::ofstream(name) << text;
        testing::internal::CaptureStderr();
        EffectPtr loaded = device->CreateEffectFromFile(name);
        *err = testing::internal::GetCapturedStderr();
        std::remove(name);
        return loaded;
    }

    EffectPtr effect;
    MeshPtr square; // 4 wide at the origin, facing -z
    D3DXMATRIX proj = Projection90();
    unsigned passes = 0;
};

} // namespace

TEST_F(GlEffectTest, EachTechniqueDrawsItsCameras) {
    // Camera 1 sees the square 10 ahead, shifted 4 units right (pixel 140); camera 2 shifted
    // left (pixel 60). Facing the head-light the square is lit 0.8 * (0.3 + 0.7) = 0.8.
    // StandardShading draws camera 1 only; the Duoscope techniques camera 1 in red and camera 2
    // in green and blue. Nothing in the middle, nor below the square (y = -2 is pixel 120).
    D3DXMATRIX view1 = Translation(4, 0, 10), view2 = Translation(-4, 0, 10);
    for (auto [technique, n, camera1, camera2] : {std::tuple("StandardShading", 1u, 0xCCCCCCu, 0u),
                                                  {"DuoscopeWithZ", 2u, 0xCC0000u, 0x00CCCCu},
                                                  {"Duoscope", 2u, 0xCC0000u, 0x00CCCCu}}) {
        auto rgba = Render(technique, [&] { Draw(square, 0.8f, view1, view2); });
        EXPECT_EQ(passes, n) << technique;
        EXPECT_TRUE(
            Shows(rgba, {{140, 100, camera1}, {60, 100, camera2}, {100, 100, 0}, {140, 125, 0}}, 3))
            << technique;
    }
}

TEST_F(GlEffectTest, PlacesObjectsAndFramesCommitsWithinAPassAndTextures) {
    // Matrices go through as row-vector ones: a translation moves, it does not shear. A change
    // committed between two draws of one pass reaches the second draw only.
    D3DXMATRIX left = Translation(-5, 0, 10), right = Translation(5, 0, 10);
    auto rgba = Render("StandardShading", [&] {
        Draw(square, 1.0f, left, left, Translation(0, 5, 0));
        Draw(square, 0.5f, right, right);
    });
    EXPECT_TRUE(Shows(rgba, {{50, 50, 0xFFFFFF}, {50, 100, 0}, {150, 100, 0x808080}}, 3));

    // The device's world transform (a frame within a hierarchy) goes before the object's.
    D3DXMATRIX view = Translation(0, 0, 10), frame = Translation(-5, 0, 0);
    device->SetTransform(D3DTS_WORLD, &frame);
    rgba = Render("StandardShading", [&] { Draw(square, 1.0f, view, view); });
    EXPECT_TRUE(Shows(rgba, {{50, 100, 0xFFFFFF}, {100, 100, 0}}, 3));
    // g_txScene with g_bHasTexture = 1 modulates: upper half of the square green, lower red.
    IDirect3DTexture9 texture(
        4, 4, Image(4, 4, [](int, int y) { return y < 2 ? 0x00FF00u : 0xFF0000u; }));
    rgba = Render("StandardShading",
                  [&] { Draw(square, 1.0f, view, view, IdentityMatrix(), &texture); });
    EXPECT_TRUE(Shows(rgba, {{50, 88, 0x00FF00}, {50, 112, 0xFF0000}}, 3));
}

TEST_F(GlEffectTest, WithZHidesPerCameraWithoutZSeesThrough) {
    // A dark square 10 ahead and a bright one 20 ahead behind it, the far one drawn last.
    // Camera 2 stands further back (30 ahead), so its depths all lie behind camera 1's.
    auto farSquare = Square(-4, -4, 4, 4);
    D3DXMATRIX view1 = Translation(0, 0, 10), view2 = Translation(0, 0, 30);
    auto draw = [&] {
        Draw(square, 0.25f, view1, view2);
        Draw(farSquare, 1.0f, view1, view2, Translation(0, 0, 10));
    };
    // Red: camera 1 sees the dark square in front. Green/blue: camera 2 too, though its
    // depths are further than camera 1's, since the second pass starts with a clear depth.
    EXPECT_TRUE(Shows(Render("DuoscopeWithZ", draw), {{100, 100, 0x404040}}, 3));
    // See-through: the far square, drawn last, covers the near one in both views.
    EXPECT_TRUE(Shows(Render("Duoscope", draw), {{100, 100, 0xFFFFFF}}, 3));
    // The depth behaviour really is the technique's: StandardShading hides as the Z variant.
    EXPECT_TRUE(Shows(Render("StandardShading", draw), {{100, 100, 0x404040}}, 3));
}

TEST_F(GlEffectTest, BeginSavesAndEndRestoresStates) {
    // Depth test, depth write, colour mask, blending: a pass sets the first three and leaves
    // blending as the device has it; End puts all four back.
    const D3DRENDERSTATETYPE kinds[] = {D3DRS_ZENABLE, D3DRS_ZWRITEENABLE, D3DRS_COLORWRITEENABLE,
                                        D3DRS_ALPHABLENDENABLE};
    using States = std::vector<DWORD>;
    auto states = [&] {
        return States{device->GetRenderState(kinds[0]), device->GetRenderState(kinds[1]),
                      device->GetRenderState(kinds[2]), device->GetRenderState(kinds[3])};
    };
    for (size_t i = 0; i < 4; ++i) device->SetRenderState(kinds[i], States{0, 0, 5, 1}[i]);
    ASSERT_TRUE(effect->SetTechnique("DuoscopeWithZ") == S_OK &&
                effect->Begin(&passes, 0) == S_OK && effect->BeginPass(1) == S_OK);
    EXPECT_EQ(states(), (States{1, 1, 6, 1}));
    effect->EndPass();
    ASSERT_EQ(effect->BeginPass(0), S_OK);
    EXPECT_EQ(states(), (States{1, 1, 1, 1}));
    effect->EndPass();
    EXPECT_EQ(effect->BeginPass(2), E_FAIL) << "only two passes";
    ASSERT_EQ(effect->End(), S_OK);
    EXPECT_EQ(states(), (States{0, 0, 5, 1}));
}

TEST_F(GlEffectTest, RefusesUnknownNamesAndReportsErrorsWithFileAndLine) {
    D3DXMATRIX m = IdentityMatrix();
    EXPECT_EQ(std::tuple(effect->SetTechnique("NoSuchTechnique"), effect->SetMatrix("g_mNo", &m),
                         effect->SetInt("g_nNo", 1), effect->SetTexture("g_txNo", nullptr)),
              std::tuple(E_FAIL, E_FAIL, E_FAIL, E_FAIL));
    EXPECT_EQ(device->CreateEffectFromFile("no_such_effect.fx"), nullptr);
    // A parse error, and a GLSL error on line 5 reported at line 5 with the compiler's reason.
    const std::pair<const char*, const char*> cases[] = {
        {"@shared\n@vertex V\nvoid main(){}\n@unknown\n",
         "gl_effect_case.fx:4: unknown directive '@unknown'"},
        {"@shared\nfloat Helper() { return 1.0; }\n@fragment F\nout vec4 c;\n"
         "void main(){ c = vec4(undefinedThing); }\n"
         "@vertex V\nvoid main(){ gl_Position = vec4(Helper()); }\n"
         "@technique T\npass vertex=V fragment=F\n",
         "gl_effect_case.fx:5:"},
    };
    std::string err;
    for (auto [text, where] : cases) {
        EXPECT_EQ(LoadText(text, &err), nullptr) << where;
        EXPECT_NE(err.find(where), std::string::npos) << err;
    }
    EXPECT_NE(err.find("undefinedThing"), std::string::npos) << err;

    // A small valid file loads; its pass sets blending and End clears it again.
    EffectPtr ok = LoadText("// comment\n@vertex V\nvoid main(){ gl_Position = vec4(0); }\n"
                            "@fragment F\nout vec4 c;\nvoid main(){ c = vec4(1); }\n"
                            "@technique T\npass vertex=V fragment=F blend=srcalpha,invsrcalpha\n",
                            &err);
    ASSERT_NE(ok, nullptr) << err;
    ok->Begin(&passes, 0);
    ok->BeginPass(0);
    EXPECT_EQ(std::tuple(passes, device->GetRenderState(D3DRS_ALPHABLENDENABLE),
                         device->GetRenderState(D3DRS_SRCBLEND),
                         device->GetRenderState(D3DRS_DESTBLEND)),
              std::tuple(1u, 1u, 5u, 6u));
    ok->EndPass();
    ok->End();
    EXPECT_EQ(device->GetRenderState(D3DRS_ALPHABLENDENABLE), 0u);
}
