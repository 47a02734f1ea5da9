#include "app/joystick.h"
#include "core/settings.h"

#include <cstdio>
#include <memory>

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
    if (int32_t hr = SetJoystickDataFormat(d); hr != 0) {
        std::fputs("Cannot SetDataFormat.\n", stderr);
        return hr;
    }
    if (int32_t hr = SetJoystickCooperativeLevel(d, window); hr != 0) {
        std::fputs("Cannot SetCooperativeLevel.\n", stderr);
        return hr;
    }
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
    const int count = CountJoysticks();
    if (count <= 0) return;
    std::unique_ptr<JoystickDevice> device = CreateFirstController(count);
    if (!device) return;
    DropDevice();
    s_device = std::move(device);
    g_pJoystick = s_device.get();
    PrepareDevice(*s_device, s_window);
}

} // namespace

int32_t SetupJoystick(HWND window) {
    DropDevice();
    s_window = window;
    if (!s_systemUp) {
        if (!StartJoystickSystem()) {
            std::fputs("DirectInput not available\n", stderr);
            return DIERR_NOTINITIALIZED;
        }
        s_systemUp = true;
    }
    const int count = CountJoysticks();
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
    if (PollJoystickDevice(d) >= 0) {
        g_JoyState = JoyStateFromReading(d.controller->Read());
        return;
    }
    // Not read this turn: the state keeps its previous contents.
    // A lost device is acquired again; a few tries at most, so a device that keeps losing its
    // input cannot hold the main loop.
    for (int attempt = 0; attempt < 4 && AcquireJoystick(d) == DIERR_INPUTLOST; ++attempt) {
    }
}

void ReleaseJoystick() {
    if (g_pJoystick) UnacquireJoystick(*g_pJoystick);
    DropDevice();
    if (s_systemUp) StopJoystickSystem();
    s_systemUp = false;
    s_window = nullptr;
}
