#include "core/settings.h"

// The settings that ResetSettings puts back, each with its start value, written once.
#define DUO_RESETTABLE_SETTINGS(X)                                                                 \
    X(float, g_fEyeHeight, 25.0f)                                                                  \
    X(float, g_fEyeForward, 6.0f)                                                                  \
    X(float, g_fWanderStep, 0.05f)                                                                 \
    X(float, g_fWanderTurn, 2.0f)                                                                  \
    X(float, g_fWanderRange, 150.0f)                                                               \
    X(float, g_fMoveStep, 1.0f)                                                                    \
    X(float, g_fTurnStep, 1.0f)                                                                    \
    X(int32_t, g_nScreenWidth, 640)                                                                \
    X(int32_t, g_nScreenHeight, 480)                                                               \
    X(bool, g_bShowHelp, true)                                                                     \
    X(bool, g_bWithZ, true)                                                                        \
    X(int32_t, g_nControlled, 2)                                                                   \
    X(int32_t, g_nOther, 1)                                                                        \
    X(D3DXVECTOR3, g_vEye1, {0.0f, 0.0f, -25.0f})                                                  \
    X(D3DXVECTOR3, g_vEye2, {0.0f, 0.0f, -25.0f})                                                  \
    X(float, g_fEyeYaw1, 0.0f)                                                                     \
    X(float, g_fEyeYaw2, 0.0f)                                                                     \
    X(bool, g_bStandardView, false)                                                                \
    X(bool, g_bCamera2View, false)                                                                 \
    X(bool, g_bComputerControl, false)                                                             \
    X(bool, g_bAutoMove2, false)                                                                   \
    X(float, g_fFrameRate, 0.0f)                                                                   \
    X(uint32_t, g_dwLastSend, 0)

#define DUO_DEFINE_SETTING(type, name, ...) type name = __VA_ARGS__;
DUO_RESETTABLE_SETTINGS(DUO_DEFINE_SETTING)
#undef DUO_DEFINE_SETTING

const char g_szWindowClass[] = "Duoscope";
const int32_t g_nCharacters[2] = {1, 2};
const int32_t g_nRoom = 0;
FILE* g_pLog = nullptr;
HWND g_hWnd = nullptr;

std::shared_ptr<IDirect3D9> g_pD3D;
DevicePtr g_pDevice;
FontPtr g_pFont;
FontPtr g_pFontBold;
EffectPtr g_pEffect;
JoystickDevice* g_pJoystick = nullptr;
DIJOYSTATE2 g_JoyState = CentredJoyState();

void ResetSettings() {
#define DUO_RESET_SETTING(type, name, ...)                                                         \
    {                                                                                              \
        const type value = __VA_ARGS__;                                                            \
        name = value;                                                                              \
    }
    DUO_RESETTABLE_SETTINGS(DUO_RESET_SETTING)
#undef DUO_RESET_SETTING
    g_nPhase = kStartPhase;
}
