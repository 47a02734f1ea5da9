// Game controllers over SDL2's joystick subsystem: start and stop the subsystem, list the
// attached controllers, open one and read its raw axes, hats and buttons.
//
// The subsystem runs with joystick events switched off: the program polls once per main-loop
// turn, and UpdateJoysticks both refreshes the open controllers and notices controllers that
// were plugged in or pulled out since the last call.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

struct _SDL_Joystick;

// Hat direction bits as SDL reports them; diagonals combine two.
constexpr uint8_t kHatUp = 0x01, kHatRight = 0x02, kHatDown = 0x04, kHatLeft = 0x08;

// One read of a controller, in SDL's terms: axes -32768..32767 (centre 0), hats as kHat* bits
// (0 centred), buttons pressed or not. Counts beyond the arrays are cut off.
struct JoystickReading {
    static constexpr int kMaxAxes = 8;
    static constexpr int kMaxHats = 4;
    static constexpr int kMaxButtons = 128;
    int axisCount = 0;
    int hatCount = 0;
    int buttonCount = 0;
    int16_t axes[kMaxAxes] = {};
    uint8_t hats[kMaxHats] = {};
    bool buttons[kMaxButtons] = {};
};

// Starts the subsystem (reference counted by SDL); false when it cannot.
bool StartJoystickSystem();
void StopJoystickSystem();
// Refreshes the open controllers and the list of attached ones.
void UpdateJoysticks();
// Attached controllers, or -1 when they cannot be listed.
int CountJoysticks();

// An open controller; closed when the object goes (close it before StopJoystickSystem).
class SdlJoystick {
  public:
    // Opens the controller at a list index; nothing when it cannot be opened.
    static std::optional<SdlJoystick> Open(int index);

    // False once the controller was pulled out; it stays so (a re-plugged one is a new one).
    bool Attached() const;
    // The numbers of axes, hats and buttons; false when SDL cannot tell them.
    bool Layout(int* axes, int* hats, int* buttons) const;
    // The values of the last UpdateJoysticks.
    JoystickReading Read() const;
    const char* Name() const;

  private:
    struct Closer {
        void operator()(_SDL_Joystick* handle) const;
    };
    explicit SdlJoystick(_SDL_Joystick* handle) : handle_(handle) {}
    std::unique_ptr<_SDL_Joystick, Closer> handle_;
};
