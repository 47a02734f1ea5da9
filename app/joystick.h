// Joystick input: the first game controller found at start-up, polled once per main-loop turn
// into g_JoyState.
//
// The controller is SDL's (platform/input); this module gives it the life of a DirectInput
// device: set up without being acquired, acquired by the first poll that fails, read by every
// poll after that, and lost (the last state kept) when it is pulled out. A controller plugged
// in while none is usable is taken up by the next poll. SDL itself holds back input that
// would push a stick further while another program has the keyboard focus, much as a
// foreground-only device would.
#pragma once

#include "platform/input/sdl_joystick.h"
#include "platform/win/window.h"

#include <cstdint>
#include <optional>

// The state record of one joystick read: axes, sliders, hats and 128 buttons.
struct DIJOYSTATE2 {
    int32_t lX, lY, lZ;
    int32_t lRx, lRy, lRz;
    int32_t rglSlider[2];
    uint32_t rgdwPOV[4];
    uint8_t rgbButtons[128];
    int32_t lVX, lVY, lVZ;
    int32_t lVRx, lVRy, lVRz;
    int32_t rglVSlider[2];
    int32_t lAX, lAY, lAZ;
    int32_t lARx, lARy, lARz;
    int32_t rglASlider[2];
    int32_t lFX, lFY, lFZ;
    int32_t lFRx, lFRy, lFRz;
    int32_t rglFSlider[2];
};
static_assert(sizeof(DIJOYSTATE2) == 272);

// Result codes of the joystick operations (0 is success).
constexpr int32_t DIERR_INPUTLOST = int32_t(0x8007001E);
constexpr int32_t DIERR_NOTACQUIRED = int32_t(0x8007000C);
constexpr int32_t DIERR_NOTINITIALIZED = int32_t(0x80070015);
constexpr int32_t DIERR_INVALIDPARAM = int32_t(0x80070057);
constexpr int32_t DIERR_UNPLUGGED = int32_t(0x80040209);
constexpr int32_t DIERR_GENERIC = int32_t(0x80004005);

// Axis centre and a hat's centred value.
constexpr int32_t kJoyAxisCentre = 32767;
constexpr uint32_t kJoyPovCentred = 0xFFFFFFFF;

// One controller as the program holds it. A default record (no controller) never acquires,
// so tests may point g_pJoystick at one to stand for "a joystick exists".
struct JoystickDevice {
    std::optional<SdlJoystick> controller;
    bool formatSet = false;   // the state layout could be read
    bool cooperative = false; // tied to a window
    bool acquired = false;
};

extern JoystickDevice* g_pJoystick;
extern DIJOYSTATE2 g_JoyState;

// Finds and prepares the first controller; 0 on success (also when there is none).
int32_t SetupJoystick(HWND window);
// Reads the joystick into g_JoyState; without a usable one, looks for one plugged in since.
void PollJoystick();
// Unacquires and releases the joystick.
void ReleaseJoystick();

// The state with every axis and slider centred, the hats centred and no button pressed: what
// the program starts with, so a controller not read yet steers nothing.
DIJOYSTATE2 CentredJoyState();
// SDL's axis value -32768..32767 on the range 0..65535, SDL's centre 0 exactly on 32767.
int32_t JoyAxisValue(int16_t sdlValue);
// SDL's hat bits as a point-of-view angle in hundredths of a degree clockwise from up;
// kJoyPovCentred when centred.
uint32_t JoyPovValue(uint8_t sdlHat);
// The state record of one read: axes 0-3 to lX, lY, lZ, lRz, axes 4-5 to lRx, lRy, axes 6-7
// to the sliders, hats, buttons (0x80 pressed). What the controller lacks reads centred.
DIJOYSTATE2 JoyStateFromReading(const JoystickReading& reading);
