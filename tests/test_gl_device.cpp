// The OpenGL device: creation and its refusals, Clear, Present and read-back, state storage.
#include "test_gl_common.h"

#include <SDL2/SDL.h>

TEST_F(GlDeviceTest, ReportsAdapterAndCapabilities) {
    D3DDISPLAYMODE mode{};
    ASSERT_EQ(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode), S_OK);
    EXPECT_GT(mode.Width, 0u);
    EXPECT_GT(mode.Height, 0u);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
    D3DCAPS9 caps{};
    ASSERT_EQ(d3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps), S_OK);
    EXPECT_TRUE(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
    // What the probe learned decides the multisample answer.
    HRESULT four = d3d->CheckDeviceMultiSampleType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, mode.Format,
                                                   false, D3DMULTISAMPLE_4_SAMPLES, nullptr);
    EXPECT_EQ(SUCCEEDED(four), d3d->Limits().maxSamples >= 4);
    EXPECT_GE(d3d->Limits().maxRenderbufferSize, 1024);
}

TEST_F(GlDeviceTest, ClearsAndReadsBackTopRowFirst) {
    ASSERT_EQ(MakeDevice(160, 120), S_OK);
    EXPECT_EQ(device->BackBufferWidth(), 160);
    EXPECT_EQ(device->BackBufferHeight(), 120);
    std::vector<uint8_t> rgba;
    EXPECT_FALSE(device->ReadBackBuffer(rgba)) << "nothing presented yet";

    device->BeginScene();
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF336699, 1.0f, 0);
    // A rectangle in top-left coordinates: 10 wide, 5 high, 20 rows below the top.
    RECT band{30, 20, 40, 25};
    device->Clear(1, &band, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0);
    device->EndScene();
    rgba = PresentAndRead();
    ASSERT_EQ(rgba.size(), size_t{160} * 120 * 4);
    EXPECT_TRUE(Shows(rgba, {{0, 0, 0x336699},
                             {159, 119, 0x336699},
                             {30, 20, 0xFF0000},
                             {39, 24, 0xFF0000},
                             {29, 20, 0x336699},
                             {30, 25, 0x336699},
                             {30, 19, 0x336699}}));

    // Read-back gives the presented frame, not what is drawn after it.
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
    ASSERT_TRUE(device->ReadBackBuffer(rgba));
    EXPECT_TRUE(Shows(rgba, {{0, 0, 0x336699}}));
    EXPECT_TRUE(Shows(PresentAndRead(), {{80, 60, 0x00FF00}}));

    // Alpha 0: the X8R8G8B8 back buffer has no alpha, so it reads back opaque. A zero-flag or
    // depth-only clear leaves the colour alone.
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x000000FF, 1.0f, 0);
    device->Clear(0, nullptr, 0, 0xFFFFFFFF, 1.0f, 0);
    device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0xFFFFFFFF, 1.0f, 0);
    rgba = PresentAndRead();
    EXPECT_TRUE(Shows(rgba, {{5, 5, 0x0000FF}}));
    EXPECT_EQ(At(rgba, 5, 5).a, 255);
    // A red-only colour write state does not restrict Clear.
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 1);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
    EXPECT_TRUE(Shows(PresentAndRead(), {{5, 5, 0x00FF00}}));
}

TEST_F(GlDeviceTest, MultisampledBackBufferResolvesOnPresent) {
    if (d3d->Limits().maxSamples < 4) GTEST_SKIP() << "no 4-sample framebuffers here";
    ASSERT_EQ(MakeDevice(100, 80, D3DMULTISAMPLE_4_SAMPLES), S_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF804020, 1.0f, 0);
    auto rgba = PresentAndRead();
    ASSERT_EQ(rgba.size(), size_t{100} * 80 * 4);
    EXPECT_TRUE(Shows(rgba, {{50, 40, 0x804020}}));
}

TEST_F(GlDeviceTest, RefusesImpossibleSizesAndMissingWindow) {
    // Past the largest render buffer, or a negative size handed over as unsigned.
    UINT tooBig = static_cast<UINT>(d3d->Limits().maxRenderbufferSize) + 1;
    for (auto [w, h] : {std::pair<UINT, UINT>{0, 100},
                        {100, 0},
                        {0, 0},
                        {tooBig, 64},
                        {64, tooBig},
                        {static_cast<UINT>(-640), 480}}) {
        EXPECT_EQ(MakeDevice(w, h), E_FAIL) << w << "x" << h;
        EXPECT_EQ(device, nullptr);
    }
    HWND real = window;
    window = nullptr;
    EXPECT_EQ(MakeDevice(64, 64), E_FAIL) << "no window";
    EXPECT_EQ(device, nullptr);
    // After refusals a good size still works on the same window.
    window = real;
    EXPECT_EQ(MakeDevice(64, 64), S_OK);
    EXPECT_NE(device, nullptr);
}

TEST_F(GlDeviceTest, StoresStatesTransformsAndDefaults) {
    ASSERT_EQ(MakeDevice(32, 32), S_OK);
    EXPECT_EQ(device->GetRenderState(D3DRS_ZENABLE), 1u);
    EXPECT_EQ(device->GetRenderState(D3DRS_ZWRITEENABLE), DWORD(TRUE));
    EXPECT_EQ(device->GetRenderState(D3DRS_CULLMODE), DWORD(D3DCULL_CCW));
    EXPECT_EQ(device->GetRenderState(D3DRS_LIGHTING), DWORD(TRUE));
    EXPECT_EQ(device->GetRenderState(D3DRS_COLORWRITEENABLE), 0xFu);
    EXPECT_EQ(device->SetRenderState(D3DRS_AMBIENT, 0x00102030), S_OK);
    EXPECT_EQ(device->GetRenderState(D3DRS_AMBIENT), 0x00102030u);
    // Any state below 256 is stored, even ones drawing does not read.
    EXPECT_EQ(device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(200), 77), S_OK);
    EXPECT_EQ(device->GetRenderState(static_cast<D3DRENDERSTATETYPE>(200)), 77u);
    EXPECT_EQ(device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(256), 1), E_FAIL);

    D3DXMATRIX m{};
    ASSERT_EQ(device->GetTransform(D3DTS_WORLD, &m), S_OK);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(m.m[r][c], r == c ? 1.0f : 0.0f);
    D3DXMATRIX t = Translation(5, 0, -2);
    device->SetTransform(D3DTS_VIEW, &t);
    device->GetTransform(D3DTS_VIEW, &m);
    EXPECT_EQ(m.m[3][0], 5.0f);
    EXPECT_EQ(m.m[3][2], -2.0f);
    device->GetTransform(D3DTS_PROJECTION, &m);
    EXPECT_EQ(m.m[3][0], 0.0f) << "projection is separate from view";
    EXPECT_EQ(device->SetLight(8, nullptr), E_FAIL);
    EXPECT_EQ(device->LightEnable(8, true), E_FAIL);
}

TEST(GlDeviceNoVideo, Direct3DCreate9IsNullWithoutVideo) {
    ResetWindowSystemForTests();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    ASSERT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
    EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr);
}
