// The OpenGL device: creation and its refusals, Clear, Present and read-back, default states.
// (No graphics at all is checked on the viewer in test_program.)
#include "test_gl_common.h"

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
