#include "app/joystick.h"
#include "core/settings.h"
#include "app/shell.h"
#include "platform/gfx/d3d.h"
#include "models/model.h"
#include "net/net.h"
#include "render/render.h"
#include "scene/scene.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

static void LogLine(const char* format, int width = 0, int height = 0) {
    if (!g_pLog) return; // a log that could not be opened swallows its lines
    std::fprintf(g_pLog, format, width, height);
    std::fflush(g_pLog);
}

static void QuitForDevice() {
    if (g_pLog) std::fclose(g_pLog);
    g_pLog = nullptr;
    std::exit(1);
}

void CreateDevice3D() {
    g_pD3D = Direct3DCreate9(D3D_SDK_VERSION);
    if (!g_pD3D) {
        LogLine("Cannot initialize DirectX 9 -- program quit\n");
        QuitForDevice();
    }
    LogLine("Initialized DirectX 9\n");

    D3DDISPLAYMODE mode = {};
    g_pD3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode);

    D3DPRESENT_PARAMETERS pp = {};
    pp.BackBufferWidth = UINT(g_nScreenWidth);
    pp.BackBufferHeight = UINT(g_nScreenHeight);
    pp.BackBufferFormat = mode.Format;
    pp.BackBufferCount = 0;
    pp.MultiSampleType = D3DMULTISAMPLE_NONE;
    pp.MultiSampleQuality = 0;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.hDeviceWindow = nullptr;
    pp.Windowed = g_bWindowed;
    pp.EnableAutoDepthStencil = true;
    pp.AutoDepthStencilFormat = D3DFMT_D16;
    pp.Flags = 0;
    pp.FullScreen_RefreshRateInHz = 0;
    pp.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;

    if (!g_bWindowed && SUCCEEDED(g_pD3D->CheckDeviceMultiSampleType(
                            D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, mode.Format, false,
                            D3DMULTISAMPLE_4_SAMPLES, nullptr)))
        pp.MultiSampleType = D3DMULTISAMPLE_4_SAMPLES;

    D3DCAPS9 caps = {};
    g_pD3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps);
    const DWORD behavior = (caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT)
                               ? D3DCREATE_HARDWARE_VERTEXPROCESSING
                               : D3DCREATE_SOFTWARE_VERTEXPROCESSING;

    // A size of zero or below cannot make a back buffer; the device refuses it like any other
    // size it cannot allocate.
    g_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, g_hWnd, behavior, &pp, &g_pDevice);
    if (!g_pDevice) {
        LogLine("Cannot initialize resolution %dx%d -- program quit\n", g_nScreenWidth,
                g_nScreenHeight);
        QuitForDevice();
    }
    LogLine("Initialized resolution %dx%d\n", g_nScreenWidth, g_nScreenHeight);
}

// The render pass selects each of the three techniques by name; an effect that lacks one
// would draw with whatever technique was selected before. Such an effect is dropped, so the
// frame takes the plain path that works without one, and the user is told once, here.
static void CheckEffectTechniques() {
    for (const char* name : {kTechniqueStandard, kTechniqueDuoscopeWithZ, kTechniqueDuoscope}) {
        if (!g_pEffect || SUCCEEDED(g_pEffect->SetTechnique(name))) continue;
        std::fprintf(stderr, "Duoscope.fx: no technique '%s'\n", name);
        g_pEffect.reset();
    }
    if (!g_pEffect)
        std::fprintf(stderr,
                     "duoscope: no effect loaded; drawing the plain camera views instead\n");
}

void LoadResources() {
    std::srand(g_Hooks.seeded ? g_Hooks.seed : unsigned(std::time(nullptr)));

    D3DXCreateFontA(g_pDevice.get(), 18, 0, 0, 0, false, 0, 0, 0, 0, "Times New Roman", &g_pFont);
    D3DXCreateFontA(g_pDevice.get(), 18, 0, 0, 0, false, 0, 0, 0, 0, "Times New Roman Bold",
                    &g_pFontBold);
    TraceStartup("fonts");
    D3DXCreateEffectFromFileA(g_pDevice.get(), "Duoscope.fx", nullptr, nullptr, 0, nullptr,
                              &g_pEffect, nullptr);
    TraceStartup("effect");
    CheckEffectTechniques();

    g_pDevice->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    g_pDevice->SetRenderState(D3DRS_LIGHTING, TRUE);
    g_pDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);

    LoadModel(0, "room.x", false);
    PlaceObject(g_nRoom, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0);
    LoadModel(1, "seaman.x", true);
    PlaceObject(g_nCharacters[0], 1, 0, 0, 0, 1, 1, 1, 0, 0, 0);
    LoadModel(2, "fatman.x", true);
    PlaceObject(g_nCharacters[1], 2, 0, 0, 0, 1, 1, 1, 0, 0, 0);
    TraceStartup("models");
}

void Shutdown() {
    g_pFont.reset();
    g_pFontBold.reset();
    g_pEffect.reset();
    FreeModel(0);
    FreeModel(1);
    FreeModel(2);
    ReleaseJoystick();
    if (g_bNetwork) {
        g_NetSession.closeAll();
        netCleanup();
    }
    if (g_pLog) std::fclose(g_pLog);
    g_pLog = nullptr;
    g_pDevice.reset();
    g_pD3D.reset();
    UnregisterClassA(g_szWindowClass, GetModuleHandleA(nullptr));
}
