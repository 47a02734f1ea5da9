// Shared set-up of the OpenGL device tests: a window through the window stand-in, the Direct3D
// object and a device with a back buffer of a given size, rendered off-screen on Mesa.
#pragma once

#include "platform/gfx/d3d.h"
#include "platform/gfx/device.h"
#include "platform/win/window.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

inline LRESULT TestWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    return DefWindowProcA(window, message, w, l);
}

class GlDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetWindowSystemForTests();
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = TestWindowProc;
        wc.lpszClassName = "DuoscopeTest";
        ASSERT_NE(RegisterClassExA(&wc), 0);
        window = CreateWindowExA(0, "DuoscopeTest", "test", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240,
                                 nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
    }
    void TearDown() override {
        device.reset();
        d3d.reset();
        ResetWindowSystemForTests();
    }

    static D3DPRESENT_PARAMETERS Params(UINT width, UINT height,
                                        D3DMULTISAMPLE_TYPE samples = D3DMULTISAMPLE_NONE) {
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = width;
        pp.BackBufferHeight = height;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.MultiSampleType = samples;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.Windowed = true;
        pp.EnableAutoDepthStencil = true;
        pp.AutoDepthStencilFormat = D3DFMT_D16;
        return pp;
    }

    HRESULT MakeDevice(UINT width, UINT height, D3DMULTISAMPLE_TYPE samples = D3DMULTISAMPLE_NONE) {
        D3DPRESENT_PARAMETERS pp = Params(width, height, samples);
        return d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                 D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device);
    }

    // Presents and reads the frame back, top row first.
    std::vector<uint8_t> PresentAndRead() {
        device->Present(nullptr, nullptr, nullptr, nullptr);
        std::vector<uint8_t> rgba;
        EXPECT_TRUE(device->ReadBackBuffer(rgba));
        return rgba;
    }

    struct Pixel {
        int r, g, b, a;
    };
    Pixel At(const std::vector<uint8_t>& rgba, int x, int y) const {
        size_t i = (static_cast<size_t>(y) * device->BackBufferWidth() + x) * 4;
        return {rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
    }
    static bool Near(Pixel p, int r, int g, int b, int tolerance = 2) {
        return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance &&
               std::abs(p.b - b) <= tolerance;
    }

    HWND window = nullptr;
    std::shared_ptr<IDirect3D9> d3d;
    DevicePtr device;
};
