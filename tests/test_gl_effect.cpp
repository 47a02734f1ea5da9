// The effect and data/Duoscope.fx, checked by pixels: each technique, the two cameras in red
// and in green/blue, depth with and without Z, state save/restore, parse and compile errors.
#include "test_gl_common.h"

#include "platform/gfx/mesh.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

D3DXMATRIX PerspectiveFovLH(float fovY, float aspect, float zn, float zf) {
    float ys = 1.0f / std::tan(fovY / 2), xs = ys / aspect;
    D3DXMATRIX m{};
    m.m[0][0] = xs;
    m.m[1][1] = ys;
    m.m[2][2] = zf / (zf - zn);
    m.m[2][3] = 1;
    m.m[3][2] = -zn * zf / (zf - zn);
    return m;
}

D3DXMATRIX Translation(float x, float y, float z) {
    D3DXMATRIX m = IdentityMatrix();
    m.m[3][0] = x;
    m.m[3][1] = y;
    m.m[3][2] = z;
    return m;
}

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
        ASSERT_NE(effect, nullptr);
        proj = PerspectiveFovLH(3.14159265f / 2, 1.0f, 1.0f, 100.0f);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    }
    void TearDown() override {
        effect.reset();
        GlDeviceTest::TearDown();
    }

    // A square in the model's z = 0 plane facing -z, wound clockwise as seen from -z.
    MeshPtr Square(float x0, float y0, float x1, float y1, float z = 0) {
        std::vector<MeshVertex> v = {{{x0, y0, z}, {0, 0, -1}, {0, 1}, 0xFFFFFFFF},
                                     {{x0, y1, z}, {0, 0, -1}, {0, 0}, 0xFFFFFFFF},
                                     {{x1, y1, z}, {0, 0, -1}, {1, 0}, 0xFFFFFFFF},
                                     {{x1, y0, z}, {0, 0, -1}, {1, 1}, 0xFFFFFFFF}};
        return std::make_shared<ID3DXMesh>(device.get(), MeshDeclaration{true, true, false}, v,
                                           std::vector<uint32_t>{0, 1, 2, 0, 2, 3},
                                           std::vector<uint32_t>{0, 0});
    }

    // Hands the effect an object's matrices for two camera views, as the render pass does.
    void SetObject(const D3DXMATRIX& world, const D3DXMATRIX& view1, const D3DXMATRIX& view2) {
        effect->SetMatrix("g_mWorld", &world);
        D3DXMATRIX wv1 = world * view1, wv2 = world * view2;
        D3DXMATRIX wvp1 = wv1 * proj, wvp2 = wv2 * proj;
        effect->SetMatrix("g_mWorldView1", &wv1);
        effect->SetMatrix("g_mWorldViewProjection1", &wvp1);
        effect->SetMatrix("g_mWorldView2", &wv2);
        effect->SetMatrix("g_mWorldViewProjection2", &wvp2);
    }

    void DrawGrey(const MeshPtr& mesh, float grey) {
        D3DMATERIAL9 m{};
        m.Diffuse = {grey, grey, grey, 1};
        device->SetMaterial(&m);
        effect->SetInt("g_bHasTexture", 0);
        effect->CommitChanges();
        mesh->DrawSubset(0);
    }

    // Runs every pass of a technique, drawing `draw` in each.
    template <class F> unsigned RunTechnique(const char* name, F draw) {
        EXPECT_EQ(effect->SetTechnique(name), S_OK);
        unsigned passes = 0;
        effect->Begin(&passes, 0);
        for (unsigned p = 0; p < passes; ++p) {
            effect->BeginPass(p);
            effect->SetMatrix("g_mProjection1", &proj);
            draw();
            effect->EndPass();
        }
        effect->End();
        return passes;
    }

    EffectPtr effect;
    D3DXMATRIX proj;
};

// Writes an effect file into the working directory and loads it, capturing stderr.
EffectPtr LoadText(IDirect3DDevice9* device, const std::string& text, std::string* err) {
    const char* name = "gl_effect_case.fx";
    std::ofstream(name) << text;
    testing::internal::CaptureStderr();
    EffectPtr effect = device->CreateEffectFromFile(name);
    *err = testing::internal::GetCapturedStderr();
    std::remove(name);
    return effect;
}

} // namespace

TEST_F(GlEffectTest, StandardShadingDrawsThroughCameraSlotOne) {
    auto square = Square(-2, -2, 2, 2);
    // Camera 1 sees the square 10 ahead, shifted 4 units right; camera 2 (unused) elsewhere.
    D3DXMATRIX view1 = Translation(4, 0, 10), view2 = Translation(-4, 0, 10);
    unsigned passes = RunTechnique("StandardShading", [&] {
        SetObject(IdentityMatrix(), view1, view2);
        DrawGrey(square, 0.8f);
    });
    EXPECT_EQ(passes, 1u);
    auto rgba = PresentAndRead();
    // Facing the head-light: 0.8 * (0.3 + 0.7) = 0.8, in every channel.
    EXPECT_TRUE(Near(At(rgba, 140, 100), 204, 204, 204, 3)) << "square at x = 4 (pixel 140)";
    EXPECT_TRUE(Near(At(rgba, 60, 100), 0, 0, 0)) << "nothing where camera 2 would put it";
    EXPECT_TRUE(Near(At(rgba, 140, 125), 0, 0, 0)) << "below the square (y = -2 is pixel 120)";

    // Matrices go through as row-vector ones: a translation moves, it does not shear.
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    RunTechnique("StandardShading", [&] {
        SetObject(Translation(0, 5, 0), view1, view2);
        DrawGrey(square, 0.8f);
    });
    rgba = PresentAndRead();
    EXPECT_TRUE(Near(At(rgba, 140, 50), 204, 204, 204, 3));
    EXPECT_TRUE(Near(At(rgba, 140, 100), 0, 0, 0));
}

TEST_F(GlEffectTest, DeviceWorldPlacesSubFramesAndTextureApplies) {
    auto square = Square(-2, -2, 2, 2);
    D3DXMATRIX view = Translation(0, 0, 10);
    // The device's world transform (a frame within a hierarchy) goes before the object's.
    D3DXMATRIX frame = Translation(-5, 0, 0);
    device->SetTransform(D3DTS_WORLD, &frame);
    RunTechnique("StandardShading", [&] {
        SetObject(IdentityMatrix(), view, view);
        DrawGrey(square, 1.0f);
    });
    auto rgba = PresentAndRead();
    EXPECT_TRUE(Near(At(rgba, 50, 100), 255, 255, 255, 3));
    EXPECT_TRUE(Near(At(rgba, 100, 100), 0, 0, 0));

    // g_txScene with g_bHasTexture = 1 modulates; top half green, bottom half red.
    std::vector<uint8_t> pixels(4 * 4 * 4, 255);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            uint8_t* p = &pixels[(y * 4 + x) * 4];
            p[0] = y < 2 ? 0 : 255;
            p[1] = y < 2 ? 255 : 0;
            p[2] = 0;
        }
    auto texture = std::make_shared<IDirect3DTexture9>(4, 4, pixels);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    RunTechnique("StandardShading", [&] {
        SetObject(IdentityMatrix(), view, view);
        D3DMATERIAL9 m{};
        m.Diffuse = {1, 1, 1, 1};
        device->SetMaterial(&m);
        effect->SetTexture("g_txScene", texture.get());
        effect->SetInt("g_bHasTexture", 1);
        effect->CommitChanges();
        square->DrawSubset(0);
    });
    rgba = PresentAndRead();
    EXPECT_TRUE(Near(At(rgba, 50, 88), 0, 255, 0, 3)) << "upper half of the square";
    EXPECT_TRUE(Near(At(rgba, 50, 112), 255, 0, 0, 3)) << "lower half";
}

TEST_F(GlEffectTest, DuoscopePutsCameraOneInRedAndCameraTwoInCyan) {
    auto square = Square(-2, -2, 2, 2);
    D3DXMATRIX view1 = Translation(4, 0, 10), view2 = Translation(-4, 0, 10);
    for (const char* technique : {"DuoscopeWithZ", "Duoscope"}) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        unsigned passes = RunTechnique(technique, [&] {
            SetObject(IdentityMatrix(), view1, view2);
            DrawGrey(square, 1.0f);
        });
        EXPECT_EQ(passes, 2u) << technique;
        auto rgba = PresentAndRead();
        EXPECT_TRUE(Near(At(rgba, 140, 100), 255, 0, 0, 3)) << technique << ": camera 1, red";
        EXPECT_TRUE(Near(At(rgba, 60, 100), 0, 255, 255, 3)) << technique << ": camera 2, cyan";
        EXPECT_TRUE(Near(At(rgba, 100, 100), 0, 0, 0)) << technique;
    }
}

TEST_F(GlEffectTest, WithZHidesPerCameraWithoutZSeesThrough) {
    // A dark square 10 ahead and a bright one 20 ahead behind it, the far one drawn last.
    // Camera 2 stands further back (30 ahead), so its depths all lie behind camera 1's.
    auto nearSquare = Square(-2, -2, 2, 2);
    auto farSquare = Square(-4, -4, 4, 4);
    D3DXMATRIX view1 = Translation(0, 0, 10), view2 = Translation(0, 0, 30);
    auto draw = [&] {
        SetObject(IdentityMatrix(), view1, view2);
        DrawGrey(nearSquare, 0.25f);
        SetObject(Translation(0, 0, 10), view1, view2);
        DrawGrey(farSquare, 1.0f);
    };
    RunTechnique("DuoscopeWithZ", draw);
    auto rgba = PresentAndRead();
    // Red: camera 1 sees the dark square in front. Green/blue: camera 2 too, though its
    // depths are further than camera 1's, since the second pass starts with a clear depth.
    EXPECT_TRUE(Near(At(rgba, 100, 100), 64, 64, 64, 3));

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    RunTechnique("Duoscope", draw);
    rgba = PresentAndRead();
    // See-through: the far square, drawn last, covers the near one in both views.
    EXPECT_TRUE(Near(At(rgba, 100, 100), 255, 255, 255, 3));

    // The depth behaviour really is the technique's: StandardShading hides as the Z variant.
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    RunTechnique("StandardShading", draw);
    EXPECT_TRUE(Near(At(PresentAndRead(), 100, 100), 64, 64, 64, 3));
}

TEST_F(GlEffectTest, BeginSavesAndEndRestoresStates) {
    device->SetRenderState(D3DRS_ZENABLE, 0);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0x5);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    ASSERT_EQ(effect->SetTechnique("DuoscopeWithZ"), S_OK);
    unsigned passes = 0;
    ASSERT_EQ(effect->Begin(&passes, 0), S_OK);
    ASSERT_EQ(effect->BeginPass(1), S_OK);
    EXPECT_EQ(device->GetRenderState(D3DRS_ZENABLE), 1u);
    EXPECT_EQ(device->GetRenderState(D3DRS_ZWRITEENABLE), DWORD(TRUE));
    EXPECT_EQ(device->GetRenderState(D3DRS_COLORWRITEENABLE), 0x6u);
    effect->EndPass();
    ASSERT_EQ(effect->BeginPass(0), S_OK);
    EXPECT_EQ(device->GetRenderState(D3DRS_COLORWRITEENABLE), 0x1u);
    effect->EndPass();
    EXPECT_EQ(effect->BeginPass(2), E_FAIL) << "only two passes";
    ASSERT_EQ(effect->End(), S_OK);
    EXPECT_EQ(device->GetRenderState(D3DRS_ZENABLE), 0u);
    EXPECT_EQ(device->GetRenderState(D3DRS_ZWRITEENABLE), DWORD(FALSE));
    EXPECT_EQ(device->GetRenderState(D3DRS_COLORWRITEENABLE), 0x5u);
    EXPECT_EQ(device->GetRenderState(D3DRS_ALPHABLENDENABLE), DWORD(TRUE));

    // After End the device draws with its own fixed-function shader again.
    device->SetRenderState(D3DRS_ZENABLE, 1);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    D3DXMATRIX view = Translation(0, 0, 10);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetTransform(D3DTS_PROJECTION, &proj);
    Square(-2, -2, 2, 2)->DrawSubset(0);
    EXPECT_TRUE(Near(At(PresentAndRead(), 100, 100), 255, 255, 255));
}

TEST_F(GlEffectTest, ParametersByNameAndCommitInsideAPass) {
    EXPECT_EQ(effect->SetTechnique("NoSuchTechnique"), E_FAIL);
    D3DXMATRIX m = IdentityMatrix();
    EXPECT_EQ(effect->SetMatrix("g_mNoSuchMatrix", &m), E_FAIL);
    EXPECT_EQ(effect->SetInt("g_nNoSuchInt", 1), E_FAIL);
    EXPECT_EQ(effect->SetTexture("g_txNoSuchTexture", nullptr), E_FAIL);
    EXPECT_EQ(effect->SetMatrix("g_mWorldViewProjection2", &m), S_OK);
    EXPECT_EQ(effect->SetInt("g_bHasTexture", 0), S_OK);
    EXPECT_EQ(effect->SetTexture("g_txScene", nullptr), S_OK);

    // A change committed between two draws of one pass reaches the second draw only.
    auto square = Square(-2, -2, 2, 2);
    D3DXMATRIX left = Translation(-5, 0, 10), right = Translation(5, 0, 10);
    RunTechnique("StandardShading", [&] {
        SetObject(IdentityMatrix(), left, left);
        DrawGrey(square, 1.0f);
        SetObject(IdentityMatrix(), right, right);
        DrawGrey(square, 0.5f);
    });
    auto rgba = PresentAndRead();
    EXPECT_TRUE(Near(At(rgba, 50, 100), 255, 255, 255, 3));
    EXPECT_TRUE(Near(At(rgba, 150, 100), 128, 128, 128, 3));
}

TEST_F(GlEffectTest, ReportsParseAndCompileErrorsWithFileAndLine) {
    std::string err;
    EXPECT_EQ(LoadText(device.get(), "@shared\n@vertex V\nvoid main(){}\n@unknown\n", &err),
              nullptr);
    EXPECT_NE(err.find("gl_effect_case.fx:4:"), std::string::npos) << err;
    EXPECT_NE(err.find("unknown directive"), std::string::npos) << err;

    EXPECT_EQ(LoadText(device.get(),
                       "@vertex V\nvoid main(){ gl_Position = vec4(0); }\n"
                       "@fragment F\nout vec4 c;\nvoid main(){ c = vec4(1); }\n"
                       "@technique T\npass vertex=V fragment=Missing\n",
                       &err),
              nullptr);
    EXPECT_NE(err.find("gl_effect_case.fx:7:"), std::string::npos) << err;

    EXPECT_EQ(
        LoadText(device.get(), "@technique T\npass vertex=V fragment=F colormask=rgbx\n", &err),
        nullptr);
    EXPECT_NE(err.find("gl_effect_case.fx:2:"), std::string::npos) << err;

    // A GLSL error on line 5 of the file is reported at line 5 with the compiler's reason.
    EXPECT_EQ(LoadText(device.get(),
                       "@shared\nfloat Helper() { return 1.0; }\n@fragment F\nout vec4 c;\n"
                       "void main(){ c = vec4(undefinedThing); }\n"
                       "@vertex V\nvoid main(){ gl_Position = vec4(Helper()); }\n"
                       "@technique T\npass vertex=V fragment=F\n",
                       &err),
              nullptr);
    EXPECT_NE(err.find("gl_effect_case.fx:5:"), std::string::npos) << err;
    EXPECT_NE(err.find("undefinedThing"), std::string::npos) << err;

    EXPECT_EQ(device->CreateEffectFromFile("no_such_effect.fx"), nullptr);

    // A small valid file loads, with its one technique.
    EffectPtr ok = LoadText(device.get(),
                            "// comment\n@vertex V\nvoid main(){ gl_Position = vec4(0); }\n"
                            "@fragment F\nout vec4 c;\nvoid main(){ c = vec4(1); }\n"
                            "@technique T\npass vertex=V fragment=F blend=srcalpha,invsrcalpha\n",
                            &err);
    ASSERT_NE(ok, nullptr) << err;
    unsigned passes = 0;
    ok->Begin(&passes, 0);
    EXPECT_EQ(passes, 1u);
    ok->BeginPass(0);
    EXPECT_EQ(device->GetRenderState(D3DRS_ALPHABLENDENABLE), DWORD(TRUE));
    EXPECT_EQ(device->GetRenderState(D3DRS_SRCBLEND), DWORD(D3DBLEND_SRCALPHA));
    ok->EndPass();
    ok->End();
    EXPECT_EQ(device->GetRenderState(D3DRS_ALPHABLENDENABLE), DWORD(FALSE));
}
