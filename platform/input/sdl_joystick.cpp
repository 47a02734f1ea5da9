#include "platform/input/sdl_joystick.h"

#include <SDL2/SDL.h>

#include <algorithm>

static_assert(kHatUp == SDL_HAT_UP && kHatRight == SDL_HAT_RIGHT && kHatDown == SDL_HAT_DOWN &&
              kHatLeft == SDL_HAT_LEFT);

bool StartJoystickSystem() {
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return false;
    // The program polls; queued joystick events would only pile up unread.
    SDL_JoystickEventState(SDL_IGNORE);
    return true;
}

void StopJoystickSystem() {
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

void UpdateJoysticks() {
    SDL_JoystickUpdate();
}

int CountJoysticks() {
    return SDL_NumJoysticks();
}

std::optional<SdlJoystick> SdlJoystick::Open(int index) {
    SDL_Joystick* handle = SDL_JoystickOpen(index);
    if (!handle) return std::nullopt;
    return SdlJoystick(handle);
}

void SdlJoystick::Closer::operator()(SDL_Joystick* handle) const {
    // Once the subsystem stopped, SDL has closed every controller itself.
    if (SDL_WasInit(SDL_INIT_JOYSTICK)) SDL_JoystickClose(handle);
}

bool SdlJoystick::Attached() const {
    return SDL_JoystickGetAttached(handle_.get()) == SDL_TRUE;
}

bool SdlJoystick::Layout(int* axes, int* hats, int* buttons) const {
    const int a = SDL_JoystickNumAxes(handle_.get());
    const int h = SDL_JoystickNumHats(handle_.get());
    const int b = SDL_JoystickNumButtons(handle_.get());
    if (a < 0 || h < 0 || b < 0) return false;
    if (axes) *axes = a;
    if (hats) *hats = h;
    if (buttons) *buttons = b;
    return true;
}

JoystickReading SdlJoystick::Read() const {
    JoystickReading r;
    r.axisCount = std::clamp(SDL_JoystickNumAxes(handle_.get()), 0, JoystickReading::kMaxAxes);
    r.hatCount = std::clamp(SDL_JoystickNumHats(handle_.get()), 0, JoystickReading::kMaxHats);
    r.buttonCount =
        std::clamp(SDL_JoystickNumButtons(handle_.get()), 0, JoystickReading::kMaxButtons);
    for (int i = 0; i < r.axisCount; ++i) r.axes[i] = SDL_JoystickGetAxis(handle_.get(), i);
    for (int i = 0; i < r.hatCount; ++i) r.hats[i] = SDL_JoystickGetHat(handle_.get(), i);
    for (int i = 0; i < r.buttonCount; ++i)
        r.buttons[i] = SDL_JoystickGetButton(handle_.get(), i) != 0;
    return r;
}

const char* SdlJoystick::Name() const {
    const char* name = SDL_JoystickName(handle_.get());
    return name ? name : "";
}
