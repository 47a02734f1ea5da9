#include "app/joystick.h"

#include <cstdio>
#include <memory>
#include <string>

DIJOYSTATE2 CentredJoyState() {
    DIJOYSTATE2 s = {};
    s.lX = s.lY = s.lZ = kJoyAxisCentre;
    s.lRx = s.lRy = s.lRz = kJoyAxisCentre;
    s.rglSlider[0] = s.rglSlider[1] = kJoyAxisCentre;
    for (uint32_t& pov : s.rgdwPOV) pov = kJoyPovCentred;
    return s;
}

JoystickDevice* g_pJoystick = nullptr;
DIJOYSTATE2 g_JoyState = CentredJoyState();

namespace {

bool s_systemUp = false;
HWND s_window = nullptr;
std::unique_ptr<JoystickDevice> s_device; // what g_pJoystick points at, unless a test swapped it

// The first attached controller that opens, as a fresh record; null when none does.
std::unique_ptr<JoystickDevice> CreateFirstController(int count) {
    for (int i = 0; i < count; ++i) {
        std::optional<SdlJoystick> controller = SdlJoystick::Open(i);
        if (!controller) continue; // try the next one
        auto device = std::make_unique<JoystickDevice>();
        device->controller = std::move(controller);
        return device;
    }
    return nullptr;
}

// Fixes the state layout and ties the device to the window, as set-up does; the failures are
// told on stderr and leave the device unable to acquire.
int32_t PrepareDevice(JoystickDevice& d, HWND window) {
    if (!d.controller || !d.controller->Layout(nullptr, nullptr, nullptr)) {
        std::fputs("Cannot SetDataFormat.\n", stderr);
        return DIERR_INVALIDPARAM;
    }
    d.formatSet = true;
    // Foreground use needs the window; SDL itself holds back input while another program has
    // the focus.
    if (!window) {
        std::fputs("Cannot SetCooperativeLevel.\n", stderr);
        return DIERR_INVALIDPARAM;
    }
    d.cooperative = true;
    return 0;
}

int32_t PollDevice(JoystickDevice& d) {
    if (!d.acquired) return DIERR_NOTACQUIRED;
    if (!d.controller || !d.controller->Attached()) {
        d.acquired = false;
        return DIERR_INPUTLOST;
    }
    return 0;
}

int32_t AcquireDevice(JoystickDevice& d) {
    if (!d.formatSet || !d.cooperative) return DIERR_INVALIDPARAM;
    if (!d.controller || !d.controller->Attached()) return DIERR_UNPLUGGED;
    d.acquired = true;
    return 0;
}

void DropDevice() {
    s_device.reset(); // closes the controller while the subsystem still runs
    g_pJoystick = nullptr;
}

// With no controller, or ours pulled out, a controller plugged in since is taken up. Without
// a new one a pulled-out controller stays, and with it its last state.
void TakeUpNewController() {
    const bool none = g_pJoystick == nullptr;
    const bool lost = g_pJoystick && g_pJoystick == s_device.get() &&
                      (!s_device->controller || !s_device->controller->Attached());
    if (!none && !lost) return;
    const int count = CountJoysticks(nullptr);
    if (count <= 0) return;
    std::unique_ptr<JoystickDevice> device = CreateFirstController(count);
    if (!device) return;
    DropDevice();
    s_device = std::move(device);
    g_pJoystick = s_device.get();
    PrepareDevice(*s_device, s_window);
}

} // namespace

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

int32_t SetupJoystick(HWND window) {
    DropDevice();
    s_window = window;
    std::string why;
    if (!s_systemUp) {
        if (!StartJoystickSystem(&why)) {
            std::fputs("DirectInput not available\n", stderr);
            return DIERR_NOTINITIALIZED;
        }
        s_systemUp = true;
    }
    const int count = CountJoysticks(&why);
    if (count < 0) {
        std::fputs("Cannot enumerating a joystick\n", stderr);
        return DIERR_GENERIC;
    }
    s_device = CreateFirstController(count);
    g_pJoystick = s_device.get();
    if (!g_pJoystick) return 0; // the program runs on without a joystick
    // Not acquired here: the first poll does it.
    return PrepareDevice(*s_device, window);
}

void PollJoystick() {
    if (!s_systemUp) return;
    UpdateJoysticks();
    TakeUpNewController();
    if (!g_pJoystick) return;
    JoystickDevice& d = *g_pJoystick;
    if (PollDevice(d) >= 0) {
        g_JoyState = JoyStateFromReading(d.controller->Read());
        return;
    }
    // Not read this turn: the state keeps its previous contents.
    while (AcquireDevice(d) == DIERR_INPUTLOST) {
    }
}

void ReleaseJoystick() {
    if (g_pJoystick) g_pJoystick->acquired = false;
    DropDevice();
    if (s_systemUp) StopJoystickSystem();
    s_systemUp = false;
    s_window = nullptr;
}
