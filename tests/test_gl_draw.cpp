// Drawing through the built-in fixed-function shader, checked by pixels: transforms and clip
// depth, culling, lighting, vertex colour, stage-0 texture, blending, colour mask, re-upload.
#include "test_gl_common.h"

#include "platform/gfx/mesh.h"
#include "platform/gfx/png_writer.h"

#include <stb_image_write.h>

#include <cmath>
#include <cstdio>

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

// An axis-aligned square in the plane z (camera space looks along +z), facing the camera, its
// corners wound clockwise as seen (front-facing under the default CCW culling).
void AddSquare(std::vector<MeshVertex>& v, std::vector<uint32_t>& idx, std::vector<uint32_t>& attr,
               float x0, float y0, float x1, float y1, float z, uint32_t color, uint32_t attribute,
               bool clockwise = true) {
    uint32_t base = static_cast<uint32_t>(v.size());
    // Texture v runs downwards: (0, 0) is the top-left corner.
    v.push_back({{x0, y0, z}, {0, 0, -1}, {0, 1}, color});
    v.push_back({{x0, y1, z}, {0, 0, -1}, {0, 0}, color});
    v.push_back({{x1, y1, z}, {0, 0, -1}, {1, 0}, color});
    v.push_back({{x1, y0, z}, {0, 0, -1}, {1, 1}, color});
    if (clockwise)
        idx.insert(idx.end(), {base, base + 1, base + 2, base, base + 2, base + 3});
    else
        idx.insert(idx.end(), {base, base + 2, base + 1, base, base + 3, base + 2});
    attr.insert(attr.end(), {attribute, attribute});
}

class GlDrawTest : public GlDeviceTest {
  protected:
    void SetUp() override {
        GlDeviceTest::SetUp();
        ASSERT_EQ(MakeDevice(200, 200), S_OK);
        // Camera at the origin looking along +z; 90 degrees, so the plane z = 10 spans -10..10.
        D3DXMATRIX proj = PerspectiveFovLH(3.14159265f / 2, 1.0f, 1.0f, 100.0f);
        D3DXMATRIX view = IdentityMatrix();
        device->SetTransform(D3DTS_PROJECTION, &proj);
        device->SetTransform(D3DTS_VIEW, &view);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    }

    MeshPtr Square(float x0, float y0, float x1, float y1, float z, uint32_t color = 0xFFFFFFFF,
                   bool hasColor = false, bool clockwise = true) {
        std::vector<MeshVertex> v;
        std::vector<uint32_t> idx, attr;
        AddSquare(v, idx, attr, x0, y0, x1, y1, z, color, 0, clockwise);
        MeshDeclaration decl{true, true, hasColor};
        return std::make_shared<ID3DXMesh>(device.get(), decl, v, idx, attr);
    }

    static D3DMATERIAL9 Material(float r, float g, float b, float a = 1) {
        D3DMATERIAL9 m{};
        m.Diffuse = {r, g, b, a};
        return m;
    }

    static D3DLIGHT9 Directional(float x, float y, float z) {
        D3DLIGHT9 l{};
        l.Type = D3DLIGHT_DIRECTIONAL;
        l.Diffuse = {1, 1, 1, 1};
        l.Direction = {x, y, z};
        l.Range = 1000;
        return l;
    }
};

} // namespace

TEST_F(GlDrawTest, UnlitSquareLandsWhereTheMatricesPutIt) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    // The square covers x 0..5, y 0..5 at z = 10: the upper right quarter of the centre area.
    auto mesh = Square(0, 0, 5, 5, 10);
    mesh->DrawSubset(0);
    auto rgba = PresentAndRead();
    EXPECT_TRUE(Near(At(rgba, 125, 75), 255, 255, 255)) << "inside, upper right of the centre";
    EXPECT_TRUE(Near(At(rgba, 75, 75), 0, 0, 0)) << "left of it";
    EXPECT_TRUE(Near(At(rgba, 125, 125), 0, 0, 0)) << "below it";
    EXPECT_TRUE(Near(At(rgba, 155, 75), 0, 0, 0)) << "beyond x = 5 (pixel 150)";

    // The world transform moves it: now the lower left quarter.
    D3DXMATRIX world = Translation(-5, -5, 0);
    device->SetTransform(D3DTS_WORLD, &world);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    mesh->DrawSubset(0);
    rgba = PresentAndRead();
    EXPECT_TRUE(Near(At(rgba, 75, 125), 255, 255, 255));
    EXPECT_TRUE(Near(At(rgba, 125, 75), 0, 0, 0));
}

TEST_F(GlDrawTest, DepthRangeNearPlaneAndDepthTest) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    auto nearRed = Square(-5, -5, 5, 5, 10, 0xFFFF0000, true);
    auto farGreen = Square(-16, -16, 16, 16, 20, 0xFF00FF00, true);
    auto tooNear = Square(-8, -8, 8, 8, 0.5f, 0xFF0000FF, true); // in front of the near plane
    nearRed->DrawSubset(0);
    farGreen->DrawSubset(0);
    tooNear->DrawSubset(0);
    auto rgba = PresentAndRead();
    EXPECT_TRUE(Near(At(rgba, 100, 100), 255, 0, 0)) << "near square hides the far one";
    EXPECT_TRUE(Near(At(rgba, 100, 30), 0, 255, 0)) << "far square around it, nearest clipped";

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    nearRed->DrawSubset(0);
    farGreen->DrawSubset(0);
    rgba = PresentAndRead();
    EXPECT_TRUE(Near(At(rgba, 100, 100), 0, 255, 0)) << "without depth test the last one wins";

    // Depth test on, writes off: the far square is not hidden by the near one.
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    nearRed->DrawSubset(0);
    farGreen->DrawSubset(0);
    rgba = PresentAndRead();
    EXPECT_TRUE(Near(At(rgba, 100, 100), 0, 255, 0));
}

TEST_F(GlDrawTest, CullModesFollowScreenWinding) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    auto clockwise = Square(-9, -5, -1, 5, 10, 0xFFFFFFFF, false, true);
    auto counter = Square(1, -5, 9, 5, 10, 0xFFFFFFFF, false, false);
    struct Case {
        D3DCULL mode;
        bool left, right;
    };
    for (Case c : {Case{D3DCULL_CCW, true, false}, Case{D3DCULL_CW, false, true},
                   Case{D3DCULL_NONE, true, true}}) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->SetRenderState(D3DRS_CULLMODE, c.mode);
        clockwise->DrawSubset(0);
        counter->DrawSubset(0);
        auto rgba = PresentAndRead();
        EXPECT_EQ(At(rgba, 75, 100).r > 128, c.left) << "cull mode " << c.mode;
        EXPECT_EQ(At(rgba, 125, 100).r > 128, c.right) << "cull mode " << c.mode;
    }
}

TEST_F(GlDrawTest, LitSquareIsBrighterFacingTheLight) {
    auto mesh = Square(-5, -5, 5, 5, 10);
    D3DMATERIAL9 material = Material(0.8f, 0.8f, 0.8f);
    device->SetMaterial(&material);
    auto brightness = [&](D3DLIGHT9 light) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->SetLight(0, &light);
        device->LightEnable(0, true);
        mesh->DrawSubset(0);
        return At(PresentAndRead(), 100, 100).g;
    };
    // The square faces -z; a light travelling along +z meets it head on. Directions need not
    // be unit length.
    int headOn = brightness(Directional(0, 0, 3));
    int slanted = brightness(Directional(0, std::sqrt(3.0f), 1)); // 60 degrees off: cos = 0.5
    int behind = brightness(Directional(0, 0, -1));
    EXPECT_NEAR(headOn, 204, 3);
    EXPECT_NEAR(slanted, 102, 3);
    EXPECT_NEAR(behind, 0, 2);

    // Lights are placed in world space: turning the camera does not change a surface's light.
    D3DXMATRIX view = Translation(0, 0, -5);
    device->SetTransform(D3DTS_VIEW, &view);
    EXPECT_NEAR(brightness(Directional(0, 0, 1)), 204, 3);

    // A disabled light gives nothing; ambient light reaches the material's ambient colour.
    device->LightEnable(0, false);
    material.Ambient = {0.5f, 0.5f, 0.5f, 1};
    device->SetMaterial(&material);
    device->SetRenderState(D3DRS_AMBIENT, 0xFF808080);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    mesh->DrawSubset(0);
    EXPECT_NEAR(At(PresentAndRead(), 100, 100).g, 64, 3);
}

TEST_F(GlDrawTest, PointLightFallsOffWithRangeAndAttenuation) {
    auto mesh = Square(-5, -5, 5, 5, 10);
    D3DMATERIAL9 material = Material(1, 1, 1);
    device->SetMaterial(&material);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = {1, 1, 1, 1};
    light.Position = {0, 0, 6}; // 4 in front of the square's centre
    light.Range = 100;
    light.Attenuation0 = 0;
    light.Attenuation1 = 0.5f;
    device->SetLight(3, &light);
    device->LightEnable(3, true);
    mesh->DrawSubset(0);
    // Lit per vertex, as the fixed-function pipeline does: every corner is sqrt(66) from the
    // light, at cos = 4 / sqrt(66), attenuated by 1 / (0.5 sqrt(66)).
    float d = std::sqrt(66.0f);
    EXPECT_NEAR(At(PresentAndRead(), 100, 100).r, 255 * (4 / d) / (0.5f * d), 3);
    light.Range = 3; // out of reach
    device->SetLight(3, &light);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    mesh->DrawSubset(0);
    EXPECT_NEAR(At(PresentAndRead(), 100, 100).r, 0, 2);
}

TEST_F(GlDrawTest, ColorVertexChoosesVertexOrMaterialDiffuse) {
    auto mesh = Square(-5, -5, 5, 5, 10, 0xFFFF0000, true);
    D3DMATERIAL9 material = Material(0, 1, 0);
    device->SetMaterial(&material);
    D3DLIGHT9 light = Directional(0, 0, 1);
    device->SetLight(0, &light);
    device->LightEnable(0, true);
    mesh->DrawSubset(0);
    EXPECT_TRUE(Near(At(PresentAndRead(), 100, 100), 255, 0, 0)) << "COLORVERTEX defaults on";
    device->SetRenderState(D3DRS_COLORVERTEX, FALSE);
    mesh->DrawSubset(0);
    EXPECT_TRUE(Near(At(PresentAndRead(), 100, 100), 0, 255, 0));
    // A mesh without colours uses the material even with COLORVERTEX on.
    device->SetRenderState(D3DRS_COLORVERTEX, TRUE);
    auto plain = Square(-5, -5, 5, 5, 9, 0xFFFF0000, false);
    plain->DrawSubset(0);
    EXPECT_TRUE(Near(At(PresentAndRead(), 100, 100), 0, 255, 0));
}

TEST_F(GlDrawTest, TextureFromFileModulatesWithTopLeftOrigin) {
    // 8x8: top half red, bottom half blue, left column band unchanged.
    std::vector<uint8_t> pixels(8 * 8 * 4);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            uint8_t* p = &pixels[(y * 8 + x) * 4];
            p[0] = y < 4 ? 255 : 0;
            p[2] = y < 4 ? 0 : 255;
            p[1] = x < 4 ? 255 : 0;
            p[3] = 255;
        }
    ASSERT_TRUE(WritePngFile("gl_draw_texture.png", 8, 8, pixels));
    TexturePtr texture;
    // A directory that does not exist: the bare file name in the working directory is used.
    ASSERT_EQ(
        D3DXCreateTextureFromFileA(device.get(), "C:\\nowhere\\gl_draw_texture.png", &texture),
        S_OK);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->Width(), 8);
    TexturePtr missing;
    EXPECT_EQ(D3DXCreateTextureFromFileA(device.get(), "no_such_texture.png", &missing), E_FAIL);
    EXPECT_EQ(missing, nullptr);
    std::remove("gl_draw_texture.png");

    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTexture(0, texture.get());
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    auto mesh = Square(-8, -8, 8, 8, 10, 0xFF808080, true); // half grey vertices
    mesh->DrawSubset(0);
    auto rgba = PresentAndRead();
    // Top-left quarter of the square: red + green texel times one half.
    EXPECT_TRUE(Near(At(rgba, 70, 70), 128, 128, 0, 3));
    EXPECT_TRUE(Near(At(rgba, 130, 70), 128, 0, 0, 3));
    EXPECT_TRUE(Near(At(rgba, 70, 130), 0, 128, 128, 3));
    EXPECT_TRUE(Near(At(rgba, 130, 130), 0, 0, 128, 3));

    // SELECTARG1 takes the texel alone; no texture bound gives the plain vertex colour.
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    mesh->DrawSubset(0);
    EXPECT_TRUE(Near(At(PresentAndRead(), 130, 130), 0, 0, 255, 3));
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTexture(0, nullptr);
    mesh->DrawSubset(0);
    EXPECT_TRUE(Near(At(PresentAndRead(), 130, 130), 128, 128, 128, 3));
}

TEST_F(GlDrawTest, BlendingAndColourWriteMask) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
    auto halfWhite = Square(-5, -5, 5, 5, 10, 0x80FFFFFF, true);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    // Stage 0 without a texture passes the vertex alpha through, whatever its alpha operation.
    halfWhite->DrawSubset(0);
    EXPECT_TRUE(Near(At(PresentAndRead(), 100, 100), 128, 128, 255, 3));

    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 1 | 2); // red and green only
    auto white = Square(-5, -5, 5, 5, 10);
    white->DrawSubset(0);
    EXPECT_TRUE(Near(At(PresentAndRead(), 100, 100), 255, 255, 255));
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 1);
    white->DrawSubset(0);
    EXPECT_TRUE(Near(At(PresentAndRead(), 100, 100), 255, 0, 0));
}

TEST_F(GlDrawTest, DrawsOnlyTheSubsetAndReuploadsChangedVertices) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    std::vector<MeshVertex> v;
    std::vector<uint32_t> idx, attr;
    AddSquare(v, idx, attr, -8, -2, -4, 2, 10, 0xFFFF0000, 0);
    AddSquare(v, idx, attr, 4, -2, 8, 2, 10, 0xFF00FF00, 1);
    auto mesh =
        std::make_shared<ID3DXMesh>(device.get(), MeshDeclaration{true, true, true}, v, idx, attr);
    mesh->DrawSubset(1);
    auto rgba = PresentAndRead();
    EXPECT_TRUE(Near(At(rgba, 40, 100), 0, 0, 0));
    EXPECT_TRUE(Near(At(rgba, 160, 100), 0, 255, 0));
    mesh->DrawSubset(7); // no such attribute: nothing
    EXPECT_TRUE(Near(At(PresentAndRead(), 40, 100), 0, 0, 0));

    // Moving the vertices through a lock reaches the GPU copy.
    MeshVertex* data = nullptr;
    ASSERT_EQ(mesh->LockVertexBuffer(0, &data), S_OK);
    for (int i = 4; i < 8; ++i) data[i].position[1] += 6; // up by 6 units = 60 pixels
    mesh->UnlockVertexBuffer();
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    mesh->DrawSubset(1);
    mesh->DrawSubset(0);
    rgba = PresentAndRead();
    EXPECT_TRUE(Near(At(rgba, 160, 100), 0, 0, 0));
    EXPECT_TRUE(Near(At(rgba, 160, 40), 0, 255, 0));
    EXPECT_TRUE(Near(At(rgba, 40, 100), 255, 0, 0));
}

TEST_F(GlDrawTest, MeshOutlivingItsDeviceIsHarmless) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    auto mesh = Square(-5, -5, 5, 5, 10);
    mesh->DrawSubset(0);
    ASSERT_NE(mesh->gpu, nullptr);
    device.reset();
    mesh->gpu.reset(); // must not touch the context that is gone
    // A new device on the same window uploads again.
    ASSERT_EQ(MakeDevice(200, 200), S_OK);
    D3DXMATRIX proj = PerspectiveFovLH(3.14159265f / 2, 1.0f, 1.0f, 100.0f);
    device->SetTransform(D3DTS_PROJECTION, &proj);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    device->DrawMeshSubset(*mesh, 0);
    EXPECT_TRUE(Near(At(PresentAndRead(), 100, 100), 255, 255, 255));
}

TEST(TextureFile, ReadsPngBmpTgaAndJpegTopRowFirst) {
    // 16x8: left half red, right half blue, top row green marks.
    std::vector<uint8_t> pixels(16 * 8 * 4);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            uint8_t* p = &pixels[(y * 16 + x) * 4];
            p[0] = x < 8 ? 255 : 0;
            p[1] = y == 0 ? 255 : 0;
            p[2] = x < 8 ? 0 : 255;
            p[3] = 255;
        }
    struct Case {
        const char* name;
        int tolerance;
    };
    ASSERT_TRUE(WritePngFile("gl_texture_case.png", 16, 8, pixels));
    ASSERT_NE(stbi_write_bmp("gl_texture_case.bmp", 16, 8, 4, pixels.data()), 0);
    ASSERT_NE(stbi_write_tga("gl_texture_case.tga", 16, 8, 4, pixels.data()), 0);
    ASSERT_NE(stbi_write_jpg("gl_texture_case.jpg", 16, 8, 4, pixels.data(), 100), 0);
    for (Case c : {Case{"gl_texture_case.png", 0}, Case{"gl_texture_case.bmp", 0},
                   Case{"gl_texture_case.tga", 0}, Case{"gl_texture_case.jpg", 40}}) {
        TexturePtr texture;
        ASSERT_EQ(D3DXCreateTextureFromFileA(nullptr, c.name, &texture), S_OK) << c.name;
        ASSERT_EQ(texture->Width(), 16);
        ASSERT_EQ(texture->Height(), 8);
        auto px = texture->Pixels();
        ASSERT_EQ(px.size(), pixels.size());
        // Compare away from the colour edges (JPEG blurs them).
        for (int y : {0, 5})
            for (int x : {2, 13}) {
                size_t i = (static_cast<size_t>(y) * 16 + x) * 4;
                for (int k = 0; k < 4; ++k)
                    EXPECT_NEAR(px[i + k], pixels[i + k], c.tolerance)
                        << c.name << " at " << x << "," << y << " channel " << k;
            }
        std::remove(c.name);
    }
    TexturePtr none;
    EXPECT_EQ(D3DXCreateTextureFromFileA(nullptr, "", &none), E_FAIL);
    // Not an image at all.
    std::FILE* f = std::fopen("gl_texture_case.png", "wb");
    std::fputs("not a picture", f);
    std::fclose(f);
    EXPECT_EQ(D3DXCreateTextureFromFileA(nullptr, "gl_texture_case.png", &none), E_FAIL);
    EXPECT_EQ(none, nullptr);
    std::remove("gl_texture_case.png");
}
