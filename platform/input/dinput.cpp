#include "platform/input/dinput.h"

int32_t SetJoystickDataFormat(JoystickDevice& d) {
    if (!d.controller || !d.controller->Layout(nullptr, nullptr, nullptr))
        return DIERR_INVALIDPARAM;
    d.formatSet = true;
    return 0;
}

int32_t SetJoystickCooperativeLevel(JoystickDevice& d, HWND window) {
    if (!window) return DIERR_INVALIDPARAM;
    d.cooperative = true;
    return 0;
}

int32_t AcquireJoystick(JoystickDevice& d) {
    if (!d.formatSet || !d.cooperative) return DIERR_INVALIDPARAM;
    if (!d.controller || !d.controller->Attached()) return DIERR_UNPLUGGED;
    d.acquired = true;
    return 0;
}

int32_t PollJoystickDevice(JoystickDevice& d) {
    if (!d.acquired) return DIERR_NOTACQUIRED;
    if (!d.controller || !d.controller->Attached()) {
        d.acquired = false;
        return DIERR_INPUTLOST;
    }
    return 0;
}

void UnacquireJoystick(JoystickDevice& d) {
    d.acquired = false;
}

DIJOYSTATE2 CentredJoyState() {
    DIJOYSTATE2 s = {};
    s.lX = s.lY = s.lZ = kJoyAxisCentre;
    s.lRx = s.lRy = s.lRz = kJoyAxisCentre;
    s.rglSlider[0] = s.rglSlider[1] = kJoyAxisCentre;
    for (uint32_t& pov : s.rgdwPOV) pov = kJoyPovCentred;
    return s;
}

int32_t JoyAxisValue(int16_t v) {
    if (v < 0) return int32_t((int64_t(v) + 32768) * 32767 / 32768);
    return kJoyAxisCentre + int32_t(int64_t(v) * 32768 / 32767);
}

uint32_t JoyPovValue(uint8_t hat) {
    switch (hat) {
    case kHatUp:
        return 0;
    case kHatRight | kHatUp:
        return 4500;
    case kHatRight:
        return 9000;
    case kHatRight | kHatDown:
        return 13500;
    case kHatDown:
        return 18000;
    case kHatLeft | kHatDown:
        return 22500;
    case kHatLeft:
        return 27000;
    case kHatLeft | kHatUp:
        return 31500;
    default:
        return kJoyPovCentred;
    }
}

DIJOYSTATE2 JoyStateFromReading(const JoystickReading& r) {
    DIJOYSTATE2 s = CentredJoyState();
    int32_t* const axes[JoystickReading::kMaxAxes] = {
        &s.lX, &s.lY, &s.lZ, &s.lRz, &s.lRx, &s.lRy, &s.rglSlider[0], &s.rglSlider[1]};
    for (int i = 0; i < r.axisCount && i < JoystickReading::kMaxAxes; ++i)
        *axes[i] = JoyAxisValue(r.axes[i]);
    for (int i = 0; i < r.hatCount && i < 4; ++i) s.rgdwPOV[i] = JoyPovValue(r.hats[i]);
    for (int i = 0; i < r.buttonCount && i < 128; ++i) s.rgbButtons[i] = r.buttons[i] ? 0x80 : 0;
    return s;
}
