// The joystick as the viewer was designed to use it: DirectInput's state record, result codes
// and device life (set the data format, set the cooperative level, acquire, poll, unacquire),
// over an SDL controller (sdl_joystick.h).
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
// so tests may use one to stand for "a joystick exists".
struct JoystickDevice {
    std::optional<SdlJoystick> controller;
    bool formatSet = false;   // the state layout could be read
    bool cooperative = false; // tied to a window
    bool acquired = false;
};

// Fixes the state layout: DIERR_INVALIDPARAM when the controller cannot tell it.
int32_t SetJoystickDataFormat(JoystickDevice& d);
// Ties the device to a window (foreground use; SDL itself holds back input while another
// program has the focus): DIERR_INVALIDPARAM without a window.
int32_t SetJoystickCooperativeLevel(JoystickDevice& d, HWND window);
// DIERR_INVALIDPARAM before both steps above, DIERR_UNPLUGGED when the controller is gone.
int32_t AcquireJoystick(JoystickDevice& d);
// DIERR_NOTACQUIRED when not acquired, DIERR_INPUTLOST (and no longer acquired) when the
// controller was pulled out.
int32_t PollJoystickDevice(JoystickDevice& d);
void UnacquireJoystick(JoystickDevice& d);

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
