// The OpenGL device by pixels: creation and its refusals, Clear, Present and read-back, default
// states (no graphics at all is checked on the viewer in test_program); and the built-in
// fixed-function shader: transforms, depth, culling, lighting, vertex colour, stage-0 texture,
// blending, colour mask, re-upload.
#include "test_gl_common.h"

#include <cmath>

namespace {

class GlDrawTest : public GlDeviceTest {
  protected:
    void SetUp() override {
        GlDeviceTest::SetUp();
        ASSERT_EQ(MakeDevice(200, 200), S_OK);
        SetCamera();
    }
    void SetCamera(const D3DXMATRIX& view = IdentityMatrix()) { // looking along +z
        D3DXMATRIX proj = Projection90();
        device->SetTransform(D3DTS_PROJECTION, &proj);
        device->SetTransform(D3DTS_VIEW, &view);
    }

    void SetMaterial(float r, float g, float b, float ambient = 0) {
        D3DMATERIAL9 m{};
        m.Diffuse = {r, g, b, 1};
        m.Ambient = {ambient, ambient, ambient, 1};
        device->SetMaterial(&m);
    }
};

} // namespace

TEST_F(GlDrawTest, DepthCullingAndPlacement) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    auto nearRed = Square(-5, -5, 5, 5, 10, 0xFFFF0000, true);
    auto farGreen = Square(-16, -16, 16, 16, 20, 0xFF00FF00, true);
    auto tooNear = Square(-8, -8, 8, 8, 0.5f, 0xFF0000FF, true); // in front of the near plane
    // The near square hides the far one; the far one shows around it, the nearest is clipped.
    EXPECT_TRUE(
        Shows(Frame({nearRed, farGreen, tooNear}), {{100, 100, 0xFF0000}, {100, 30, 0x00FF00}}));
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    EXPECT_TRUE(Shows(Frame({nearRed, farGreen}), {{100, 100, 0x00FF00}})) << "last one wins";
    // Depth test on, writes off: the far square is not hidden by the near one.
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    EXPECT_TRUE(Shows(Frame({nearRed, farGreen}), {{100, 100, 0x00FF00}}));

    // Culling follows the winding on screen: left square clockwise, right one counter-clockwise.
    auto clockwise = Square(-9, -5, -1, 5, 10), counter = Square(9, -5, 1, 5, 10);
    for (auto [mode, left, right] : {std::tuple(D3DCULL_CCW, 0xFFFFFFu, 0u),
                                     {D3DCULL_CW, 0u, 0xFFFFFFu},
                                     {D3DCULL_NONE, ~0u, ~0u}}) {
        device->SetRenderState(D3DRS_CULLMODE, mode);
        EXPECT_TRUE(Shows(Frame({clockwise, counter}), {{75, 100, left}, {125, 100, right}}))
            << "cull mode " << mode;
    }

    // x 0..5, y 0..5 at z = 10: the upper right quarter of the centre area (pixels 100..150).
    // Inside; left of it; below it; beyond x = 5.
    auto mesh = Square(0, 0, 5, 5, 10);
    EXPECT_TRUE(
        Shows(Frame({mesh}), {{125, 75, 0xFFFFFF}, {75, 75, 0}, {125, 125, 0}, {155, 75, 0}}));
    // The world transform moves it to the lower left quarter.
    D3DXMATRIX world = Translation(-5, -5, 0);
    device->SetTransform(D3DTS_WORLD, &world);
    EXPECT_TRUE(Shows(Frame({mesh}), {{75, 125, 0xFFFFFF}, {125, 75, 0}}));
}

TEST_F(GlDrawTest, DirectionalLightVertexColourTextureBlendingAndColourMask) {
    // The square faces -z; a light travelling along +z meets it head on. Directions need not
    // be unit length; lights are placed in world space, so moving the camera changes nothing.
    auto mesh = Square(-5, -5, 5, 5, 10);
    SetMaterial(0.8f, 0.8f, 0.8f, 0.5f);
    auto centre = [&](float x, float y, float z, float ambient = 0) {
        D3DLIGHT9 l{};
        l.Type = D3DLIGHT_DIRECTIONAL;
        l.Diffuse = {1, 1, 1, 1};
        l.Ambient = {ambient, ambient, ambient, 1};
        l.Direction = {x, y, z};
        device->SetLight(0, &l);
        device->LightEnable(0, true);
        return int(At(Frame({mesh}), 100, 100)[1]);
    };
    EXPECT_NEAR(centre(0, 0, 3), 204, 3);
    EXPECT_NEAR(centre(0, std::sqrt(3.0f), 1), 102, 3) << "60 degrees: cos 0.5";
    EXPECT_NEAR(centre(0, 0, -1), 0, 2) << "from behind";
    EXPECT_NEAR(centre(0, 0, -1, 0.5f), 64, 3) << "the light's ambient times the material's";
    SetCamera(Translation(0, 0, -5));
    EXPECT_NEAR(centre(0, 0, 1), 204, 3);
    SetCamera();
    // COLORVERTEX (on by default) takes the diffuse colour from the vertices, when they have one.
    auto red = Square(-5, -5, 5, 5, 10, 0xFFFF0000, true);
    SetMaterial(0, 1, 0);
    EXPECT_TRUE(Shows(Frame({red}), {{100, 100, 0xFF0000}}));
    device->SetRenderState(D3DRS_COLORVERTEX, FALSE);
    EXPECT_TRUE(Shows(Frame({red}), {{100, 100, 0x00FF00}}));

    // Unlit, the stage-0 texture modulates the vertex colour: top half red, bottom half blue,
    // green in the left half, times one half, the top row on top.
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    auto texel = [](int x, int y) { return (y < 4 ? 0xFF0000u : 0xFFu) | (x < 4 ? 0xFF00 : 0); };
    auto texture = std::make_shared<IDirect3DTexture9>(8, 8, Image(8, 8, texel));
    device->SetTexture(0, texture.get());
    auto grey = Square(-8, -8, 8, 8, 10, 0xFF808080, true);
    EXPECT_TRUE(Shows(
        Frame({grey}),
        {{70, 70, 0x808000}, {130, 70, 0x800000}, {70, 130, 0x008080}, {130, 130, 0x000080}}, 3));
    device->SetTexture(0, nullptr);
    EXPECT_TRUE(Shows(Frame({grey}), {{130, 130, 0x808080}}, 3));

    // Half white over blue; then white through a red and green mask over blue.
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    auto halfWhite = Square(-5, -5, 5, 5, 10, 0x80FFFFFF, true);
    EXPECT_TRUE(Shows(Frame({halfWhite}, 0xFF0000FF), {{100, 100, 0x8080FF}}, 3));
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 1 | 2);
    EXPECT_TRUE(Shows(Frame({Square(-5, -5, 5, 5, 10)}, 0xFF0000FF), {{100, 100, 0xFFFFFF}}));
}

TEST_F(GlDrawTest, SubsetsReuploadAndDeviceLoss) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    std::vector<MeshVertex> v;
    std::vector<uint32_t> idx, attr;
    AddSquare(v, idx, attr, -8, -2, -4, 2, 10, 0xFFFF0000, 0);
    AddSquare(v, idx, attr, 4, -2, 8, 2, 10, 0xFF00FF00, 1);
    auto mesh =
        std::make_shared<ID3DXMesh>(device.get(), MeshDeclaration{true, true, true}, v, idx, attr);
    auto subsets = [&](auto... ids) { return Frame([&] { (mesh->DrawSubset(ids), ...); }); };
    EXPECT_TRUE(Shows(subsets(1), {{40, 100, 0}, {160, 100, 0x00FF00}}));
    EXPECT_TRUE(Shows(subsets(7), {{40, 100, 0}, {160, 100, 0}})) << "no such attribute";

    // Moving the vertices through a lock reaches the GPU copy.
    MeshVertex* data = nullptr;
    ASSERT_EQ(mesh->LockVertexBuffer(0, &data), S_OK);
    for (int i = 4; i < 8; ++i) data[i].position[1] += 6; // up by 6 units = 60 pixels
    mesh->UnlockVertexBuffer();
    EXPECT_TRUE(Shows(subsets(1, 0), {{160, 100, 0}, {160, 40, 0x00FF00}, {40, 100, 0xFF0000}}));

    // The mesh outlives its device harmlessly; a new device on the same window uploads again.
    ASSERT_NE(mesh->gpu, nullptr);
    device.reset();
    mesh->gpu.reset(); // must not touch the context that is gone
    ASSERT_EQ(MakeDevice(200, 200), S_OK);
    SetCamera();
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    auto again = Frame([&] {
        for (DWORD i : {0u, 1u}) device->DrawMeshSubset(*mesh, i);
    });
    EXPECT_TRUE(Shows(again, {{40, 100, 0xFF0000}, {160, 40, 0x00FF00}}));
}

TEST_F(GlDeviceTest, ClearsPresentsAndReadsBackWhatWasPresented) {
    // Multisampled where the driver offers it.
    const bool msaa = SUCCEEDED(d3d->CheckDeviceMultiSampleType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL,
                                                                D3DFMT_X8R8G8B8, false,
                                                                D3DMULTISAMPLE_4_SAMPLES, nullptr));
    ASSERT_EQ(MakeDevice(160, 120, msaa ? D3DMULTISAMPLE_4_SAMPLES : D3DMULTISAMPLE_NONE), S_OK);
    std::vector<uint8_t> rgba;
    EXPECT_FALSE(device->ReadBackBuffer(rgba)) << "nothing presented yet";
    // Alpha 0: the X8R8G8B8 back buffer has no alpha, so it reads back opaque.
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00336699, 1.0f, 0);
    rgba = PresentAndRead();
    ASSERT_EQ(rgba.size(), size_t{160} * 120 * 4);
    EXPECT_TRUE(Shows(rgba, {{0, 0, 0x336699}, {159, 119, 0x336699}}) && At(rgba, 5, 5)[3] == 255);
    // Read-back gives the presented frame, not what is drawn after it.
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
    ASSERT_TRUE(device->ReadBackBuffer(rgba));
    EXPECT_TRUE(Shows(rgba, {{0, 0, 0x336699}}));
    // A depth-only clear leaves the colour; a red-only colour write state does not restrict
    // Clear; rectangles are refused (the viewer clears whole targets).
    device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0xFFFFFFFF, 1.0f, 0);
    EXPECT_TRUE(Shows(PresentAndRead(), {{80, 60, 0x00FF00}}));
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 1);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
    RECT band{30, 20, 40, 25};
    EXPECT_EQ(device->Clear(1, &band, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0), E_FAIL);
    EXPECT_TRUE(Shows(PresentAndRead(), {{35, 22, 0x0000FF}}));
    // A back buffer of the window's size (320x240) is presented straight into it and copied
    // only when read; once drawn over, the presented frame is gone.
    device.reset();
    ASSERT_EQ(MakeDevice(320, 240, msaa ? D3DMULTISAMPLE_4_SAMPLES : D3DMULTISAMPLE_NONE), S_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF336699, 1.0f, 0);
    EXPECT_TRUE(Shows(PresentAndRead(), {{0, 0, 0x336699}, {319, 239, 0x336699}}));
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
    device->Present(nullptr, nullptr, nullptr, nullptr);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0);
    EXPECT_FALSE(device->ReadBackBuffer(rgba));
}

TEST_F(GlDeviceTest, RefusesImpossibleSizesAndMissingWindowAndStartsWithDirect3DStates) {
    UINT tooBig = static_cast<UINT>(d3d->Limits().maxRenderbufferSize) + 1;
    for (auto [w, h] : {std::pair(0u, 100u),
                        {100u, 0u},
                        {tooBig, 64u},
                        {64u, tooBig},
                        {static_cast<UINT>(-640), 480u}})
        EXPECT_TRUE(MakeDevice(w, h) == E_FAIL && !device) << w << "x" << h;
    HWND real = window;
    window = nullptr;
    EXPECT_EQ(MakeDevice(64, 64), E_FAIL) << "no window";
    window = real;
    ASSERT_EQ(MakeDevice(64, 64), S_OK) << "after refusals a good size still works";
    // Direct3D 9's initial states, which the drawing code relies on without setting them.
    for (auto [state, value] : {std::pair(D3DRS_ZENABLE, 1u),
                                {D3DRS_ZWRITEENABLE, 1u},
                                {D3DRS_CULLMODE, 3u},
                                {D3DRS_LIGHTING, 1u},
                                {D3DRS_COLORVERTEX, 1u},
                                {D3DRS_COLORWRITEENABLE, 0xFu}})
        EXPECT_EQ(device->GetRenderState(state), value) << state;
    EXPECT_EQ(device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(256), 1), E_FAIL);
    D3DLIGHT9 point{};
    point.Type = static_cast<D3DLIGHTTYPE>(1);
    EXPECT_EQ(device->SetLight(0, &point), E_FAIL) << "directional lights only";
    EXPECT_EQ(device->LightEnable(8, true), E_FAIL);
}
