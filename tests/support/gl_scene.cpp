#include "support/gl_scene.h"

#include "core/settings.h"
#include "app/shell.h"
#include "render/camera.h"
#include "scene/scene.h"

#include <filesystem>

bool StartGlScene(bool fullScreen) {
    std::filesystem::current_path(std::string(DUO_SOURCE_DIR) + "/data");
    ResetSettings();
    ResetScene();
    WNDCLASSEXA wc = {};
    wc.cbSize = 48;
    wc.lpfnWndProc = WindowProc;
    wc.lpszClassName = g_szWindowClass;
    RegisterClassExA(&wc);
    g_bWindowed = !fullScreen;
    g_hWnd = CreateWindowExA(fullScreen ? WS_EX_APPWINDOW : 0, g_szWindowClass, g_szWindowClass,
                             fullScreen ? WS_POPUP : WS_OVERLAPPEDWINDOW, 0, 0, g_nScreenWidth,
                             g_nScreenHeight, nullptr, nullptr, nullptr, nullptr);
    if (!g_hWnd) return false;
    CreateDevice3D();
    LoadResources();
    return g_pDevice != nullptr;
}

void PlaceStartScene() {
    PlaceCharactersAtStart();
    UpdateCamera(g_nControlled, g_vEye1, g_fEyeYaw1);
    UpdateCamera(g_nOther, g_vEye2, g_fEyeYaw2);
}

void StopGlScene() {
    Shutdown();
}
