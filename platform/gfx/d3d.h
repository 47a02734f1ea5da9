// The Direct3D 9 object (stand-in): asks what OpenGL offers and creates the OpenGL 3.3 core
// device on a window. The back buffer is an off-screen framebuffer of exactly the requested size;
// Present scales it into the window with its aspect kept.
#pragma once

#include "platform/gfx/device.h"
#include "platform/types.h"
#include "platform/win/window.h"

#include <cstdint>
#include <memory>

enum D3DFORMAT : uint32_t { D3DFMT_UNKNOWN = 0, D3DFMT_X8R8G8B8 = 22, D3DFMT_D16 = 80 };
enum D3DMULTISAMPLE_TYPE : uint32_t { D3DMULTISAMPLE_NONE = 0, D3DMULTISAMPLE_4_SAMPLES = 4 };
enum D3DSWAPEFFECT : uint32_t { D3DSWAPEFFECT_DISCARD = 1 };
enum D3DDEVTYPE : uint32_t { D3DDEVTYPE_HAL = 1 };

constexpr DWORD D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20;
constexpr DWORD D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x40;
constexpr DWORD D3DDEVCAPS_HWTRANSFORMANDLIGHT = 0x00010000;
constexpr UINT D3DADAPTER_DEFAULT = 0;
constexpr UINT D3D_SDK_VERSION = 32;
constexpr UINT D3DPRESENT_INTERVAL_DEFAULT = 0; // wait for one vertical retrace
constexpr UINT D3DPRESENT_INTERVAL_IMMEDIATE = 0x80000000;

struct D3DDISPLAYMODE {
    UINT Width, Height, RefreshRate;
    D3DFORMAT Format;
};

struct D3DCAPS9 {
    DWORD DevCaps;
};

struct D3DPRESENT_PARAMETERS {
    UINT BackBufferWidth, BackBufferHeight;
    D3DFORMAT BackBufferFormat;
    UINT BackBufferCount;
    D3DMULTISAMPLE_TYPE MultiSampleType;
    DWORD MultiSampleQuality;
    D3DSWAPEFFECT SwapEffect;
    HWND hDeviceWindow;
    bool Windowed;
    bool EnableAutoDepthStencil;
    D3DFORMAT AutoDepthStencilFormat;
    DWORD Flags;
    UINT FullScreen_RefreshRateInHz;
    UINT PresentationInterval;
};

// What a probe context reported about the OpenGL implementation.
struct GlLimits {
    int maxSamples = 0;
    int maxRenderbufferSize = 0;
    int maxViewportWidth = 0;
    int maxViewportHeight = 0;
};

class IDirect3D9 {
  public:
    // spareContext: the GL context the probe made, handed to the first device made (creating
    // a context is a noticeable part of start-up); released with this object if none is.
    using SpareContext = std::unique_ptr<void, void (*)(void*)>;
    IDirect3D9(GlLimits limits, SpareContext spareContext)
        : limits_(limits), spareContext_(std::move(spareContext)) {}
    virtual ~IDirect3D9() = default;

    // The desktop's current mode; the format is always X8R8G8B8.
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode);
    // S_OK when the implementation offers that many samples (qualityLevels gets 1).
    HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT format,
                                       bool windowed, D3DMULTISAMPLE_TYPE samples,
                                       DWORD* qualityLevels);
    // Transform and lighting run in shaders, so the device always reports them in hardware.
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps);
    // Creates the GL context on the focus window and the back buffer; E_FAIL (and a null
    // device) for a missing window, a size the implementation cannot hold, or an incomplete
    // framebuffer.
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* params, DevicePtr* device);

    const GlLimits& Limits() const { return limits_; }

  private:
    GlLimits limits_;
    SpareContext spareContext_;
};

// Null when no OpenGL 3.3 core context can be had (SDL video not initialised, no GL library);
// the reason goes to stderr.
std::shared_ptr<IDirect3D9> Direct3DCreate9(UINT sdkVersion);
