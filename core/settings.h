// The settings block: every global setting and mode flag with its default, the camera eyes, the
// build settings and the platform handles. Other modules name these globals and do not
// redefine them.
#pragma once

#include "platform/gfx/device.h"
#include "platform/input/dinput.h"
#include "platform/types.h"
#include "platform/win/window.h"

#include <cstdint>
#include <cstdio>
#include <memory>

class IDirect3D9;

// Phases of the frame update.
enum AppPhase : int32_t { PickCharacter = 0, PlaceCharacters = 1, Running = 2 };

extern float g_fEyeHeight;
extern float g_fEyeForward;
extern float g_fWanderStep;
extern float g_fWanderTurn;
extern float g_fWanderRange;
extern float g_fMoveStep;
extern float g_fTurnStep;
extern const char g_szWindowClass[];
extern int32_t g_nScreenWidth;
extern int32_t g_nScreenHeight;
extern int32_t g_nPhase;
extern const int32_t g_nCharacters[2];
extern bool g_bShowHelp;
extern bool g_bWithZ;
extern int32_t g_nControlled;
extern int32_t g_nOther;
extern D3DXVECTOR3 g_vEye1;
extern D3DXVECTOR3 g_vEye2;
extern float g_fEyeYaw1;
extern float g_fEyeYaw2;
extern bool g_bStandardView;
extern bool g_bCamera2View;
extern bool g_bComputerControl;
extern bool g_bAutoMove2;
extern const int32_t g_nRoom;
extern float g_fFrameRate;
extern uint32_t g_dwLastSend;
extern FILE* g_pLog;
extern HWND g_hWnd;

// Build settings (core/build_settings.cpp, one translation unit per variant). The viewer never
// changes them at run time; tests set them to run the variants in one process.
extern bool g_bWindowed;
extern bool g_bNetwork;
extern bool g_bShowExtendedHelp;
extern const int32_t kStartPhase;

// Platform objects made at start-up and released at shutdown.
extern std::shared_ptr<IDirect3D9> g_pD3D;
extern DevicePtr g_pDevice;
extern FontPtr g_pFont;
extern FontPtr g_pFontBold;
extern EffectPtr g_pEffect;
extern JoystickDevice* g_pJoystick; // the first controller, or null
extern DIJOYSTATE2 g_JoyState;      // its last read

// Puts every setting and mode flag back to its start value (tests run several starts in one
// process). Platform objects are left alone.
void ResetSettings();
