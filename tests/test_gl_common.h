// Shared set-up of the OpenGL device tests: a window and a device with a back buffer of a given
// size, rendered off-screen on Mesa; plus the matrices, meshes, images and pixel checks.
#pragma once

#include "platform/gfx/d3d.h"
#include "platform/gfx/device.h"
#include "platform/gfx/mesh.h"
#include "platform/win/window.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <sstream>
#include <vector>

// Left-handed perspective looking along +z: 90 degrees, aspect 1, near 1, far 100. The plane
// z = 10 spans -10..10 both ways, which is pixels 0..200 on a 200x200 back buffer.
inline D3DXMATRIX Projection90() {
    D3DXMATRIX m{};
    m.m[0][0] = m.m[1][1] = m.m[2][3] = 1;
    m.m[2][2] = 100.0f / 99.0f;
    m.m[3][2] = -100.0f / 99.0f;
    return m;
}

inline D3DXMATRIX Translation(float x, float y, float z) {
    D3DXMATRIX m = IdentityMatrix();
    m.m[3][0] = x, m.m[3][1] = y, m.m[3][2] = z;
    return m;
}

// An opaque RGBA image, top row first, whose pixel (x, y) is color(x, y) as 0xRRGGBB.
template <class F> std::vector<uint8_t> Image(int width, int height, F color) {
    std::vector<uint8_t> rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int shift : {16, 8, 0, -1})
                rgba.push_back(shift < 0 ? 255 : uint8_t(color(x, y) >> shift));
    return rgba;
}

// An axis-aligned square in the plane z facing -z (the camera looks along +z). With x0 < x1 it
// winds clockwise as seen, front-facing under the default CCW culling; swapping x0 and x1 winds
// it the other way. Texture (0, 0) is its top-left corner.
inline void AddSquare(std::vector<MeshVertex>& v, std::vector<uint32_t>& idx,
                      std::vector<uint32_t>& attr, float x0, float y0, float x1, float y1, float z,
                      uint32_t color, uint32_t attribute) {
    uint32_t b = static_cast<uint32_t>(v.size());
    v.push_back({{x0, y0, z}, {0, 0, -1}, {0, 1}, color});
    v.push_back({{x0, y1, z}, {0, 0, -1}, {0, 0}, color});
    v.push_back({{x1, y1, z}, {0, 0, -1}, {1, 0}, color});
    v.push_back({{x1, y0, z}, {0, 0, -1}, {1, 1}, color});
    idx.insert(idx.end(), {b, b + 1, b + 2, b, b + 2, b + 3});
    attr.insert(attr.end(), {attribute, attribute});
}

class GlDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetWindowSystemForTests();
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "DuoscopeTest";
        ASSERT_NE(RegisterClassExA(&wc), 0);
        window = CreateWindowExA(0, "DuoscopeTest", "test", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240,
                                 nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        ASSERT_NE(d3d = Direct3DCreate9(D3D_SDK_VERSION), nullptr);
    }
    void TearDown() override {
        device.reset();
        d3d.reset();
        ResetWindowSystemForTests();
    }

    HRESULT MakeDevice(UINT width, UINT height, D3DMULTISAMPLE_TYPE samples = D3DMULTISAMPLE_NONE) {
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = width;
        pp.BackBufferHeight = height;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.MultiSampleType = samples;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.Windowed = pp.EnableAutoDepthStencil = true;
        pp.AutoDepthStencilFormat = D3DFMT_D16;
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
    // Clears colour and depth, runs `draw` (or draws subset 0 of each mesh) and returns the
    // presented frame.
    template <class F> std::vector<uint8_t> Frame(F draw, D3DCOLOR clear = 0xFF000000) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.0f, 0);
        draw();
        return PresentAndRead();
    }
    std::vector<uint8_t> Frame(std::initializer_list<MeshPtr> meshes, D3DCOLOR clear = 0xFF000000) {
        return Frame(
            [&] {
                for (const MeshPtr& m : meshes) m->DrawSubset(0);
            },
            clear);
    }

    // A square mesh on this device (see AddSquare), with or without vertex colours.
    MeshPtr Square(float x0, float y0, float x1, float y1, float z = 0, uint32_t color = 0xFFFFFFFF,
                   bool hasColor = false) {
        std::vector<MeshVertex> v;
        std::vector<uint32_t> idx, attr;
        AddSquare(v, idx, attr, x0, y0, x1, y1, z, color, 0);
        return std::make_shared<ID3DXMesh>(device.get(), MeshDeclaration{true, true, hasColor}, v,
                                           idx, attr);
    }

    const uint8_t* At(const std::vector<uint8_t>& rgba, int x, int y) const {
        return &rgba[(size_t(y) * device->BackBufferWidth() + x) * 4];
    }
    // Checks pixels of a read-back frame against 0xRRGGBB colours, naming every one that is off.
    struct Spot {
        int x, y;
        uint32_t rgb;
    };
    ::testing::AssertionResult Shows(const std::vector<uint8_t>& rgba,
                                     std::initializer_list<Spot> spots, int tolerance = 2) const {
        std::ostringstream off;
        for (Spot s : spots) {
            const uint8_t* p = At(rgba, s.x, s.y);
            for (int c = 0; c < 3; ++c)
                if (std::abs(p[c] - int(s.rgb >> (16 - 8 * c) & 255)) > tolerance) {
                    off << "(" << s.x << "," << s.y << ") is " << int(p[0]) << "," << int(p[1])
                        << "," << int(p[2]) << " not " << std::hex << s.rgb << std::dec << "; ";
                    break;
                }
        }
        if (off.str().empty()) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << off.str();
    }

    HWND window = nullptr;
    std::shared_ptr<IDirect3D9> d3d;
    DevicePtr device;
};
