#include "core/settings.h"

float g_fEyeHeight = 25.0f;
float g_fEyeForward = 6.0f;
float g_fWanderStep = 0.05f;
float g_fWanderTurn = 2.0f;
float g_fWanderRange = 150.0f;
float g_fMoveStep = 1.0f;
float g_fTurnStep = 1.0f;
const char g_szWindowClass[] = "Duoscope";
int32_t g_nScreenWidth = 640;
int32_t g_nScreenHeight = 480;
const int32_t g_nCharacters[2] = {1, 2};
bool g_bShowHelp = true;
bool g_bWithZ = true;
int32_t g_nControlled = 2;
int32_t g_nOther = 1;
D3DXVECTOR3 g_vEye1 = {0.0f, 0.0f, -25.0f};
D3DXVECTOR3 g_vEye2 = {0.0f, 0.0f, -25.0f};
float g_fEyeYaw1 = 0.0f;
float g_fEyeYaw2 = 0.0f;
bool g_bStandardView = false;
bool g_bCamera2View = false;
bool g_bComputerControl = false;
bool g_bAutoMove2 = false;
const int32_t g_nRoom = 0;
float g_fFrameRate = 0.0f;
uint32_t g_dwLastSend = 0;
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
    g_fEyeHeight = 25.0f;
    g_fEyeForward = 6.0f;
    g_fWanderStep = 0.05f;
    g_fWanderTurn = 2.0f;
    g_fWanderRange = 150.0f;
    g_fMoveStep = 1.0f;
    g_fTurnStep = 1.0f;
    g_nScreenWidth = 640;
    g_nScreenHeight = 480;
    g_nPhase = kStartPhase;
    g_bShowHelp = true;
    g_bWithZ = true;
    g_nControlled = 2;
    g_nOther = 1;
    g_vEye1 = g_vEye2 = {0.0f, 0.0f, -25.0f};
    g_fEyeYaw1 = g_fEyeYaw2 = 0.0f;
    g_bStandardView = g_bCamera2View = false;
    g_bComputerControl = g_bAutoMove2 = false;
    g_fFrameRate = 0.0f;
    g_dwLastSend = 0;
}
