// The joystick over SDL virtual controllers: the state mapping, set-up, the lazy acquire,
// unplugging and plugging in. What the state does is checked in test_frame_update.
#include "app/joystick.h"
#include "core/settings.h"
#include "platform/win/window.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

// The eight axes in SDL's order: lX, lY, lZ, lRz, lRx, lRy and the two sliders.
using Axes = std::array<int32_t, 8>;
Axes AxesOf(const DIJOYSTATE2& s) {
    return {s.lX, s.lY, s.lZ, s.lRz, s.lRx, s.lRy, s.rglSlider[0], s.rglSlider[1]};
}
constexpr Axes kCentred = {32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767};

// Runs first: nothing has touched the state yet.
TEST(JoyState, StartsCentredAxesMapMonotonicallyOntoZeroTo65535HatsOntoHundredthsOfDegrees) {
    EXPECT_EQ(AxesOf(g_JoyState), kCentred);
    EXPECT_EQ(std::pair(g_JoyState.rgdwPOV[0], int(g_JoyState.rgbButtons[0])), std::pair(~0u, 0));

    for (int v = -32768, previous = -1; v <= 32767; ++v) {
        const int32_t mapped = JoyAxisValue(int16_t(v));
        ASSERT_TRUE(mapped >= previous && mapped <= 65535) << v;
        previous = mapped;
    }
    EXPECT_EQ(std::pair(JoyAxisValue(-1), JoyAxisValue(1)), std::pair(32766, 32768));
    // Clockwise from up; centred is 0xFFFFFFFF.
    const int U = kHatUp, R = kHatRight, D = kHatDown, L = kHatLeft;
    const int hats[9] = {U, U | R, R, D | R, D, D | L, L, U | L, 0};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(JoyPovValue(uint8_t(hats[i])), i < 8 ? 4500u * i : 0xFFFFFFFFu) << hats[i];
}

// SDL's virtual controllers, attached and detached as a test needs them.
class Joystick : public ::testing::Test {
  protected:
    std::vector<SDL_Joystick*> handles; // the test's own handles, to set values

    void SetUp() override {
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
        for (int i = 0; i < SDL_NumJoysticks(); ++i)
            if (!SDL_JoystickIsVirtual(i)) GTEST_SKIP() << "a real controller is attached";
        g_JoyState = CentredJoyState();
    }
    void TearDown() override {
        ReleaseJoystick();
        for (SDL_Joystick* j : handles) SDL_JoystickClose(j);
        for (int i = SDL_NumJoysticks() - 1; i >= 0; --i)
            if (SDL_JoystickIsVirtual(i)) SDL_JoystickDetachVirtual(i);
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
        g_JoyState = CentredJoyState();
    }

    SDL_Joystick* Attach(const char* name, int axes = 8, int buttons = 12, int hats = 2) {
        SDL_VirtualJoystickDesc d = {};
        d.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION, d.type = SDL_JOYSTICK_TYPE_FLIGHT_STICK;
        d.naxes = Uint16(axes), d.nbuttons = Uint16(buttons), d.nhats = Uint16(hats), d.name = name;
        SDL_Joystick* j = SDL_JoystickOpen(SDL_JoystickAttachVirtualEx(&d));
        EXPECT_NE(j, nullptr) << SDL_GetError();
        handles.push_back(j);
        return j;
    }
    static std::string NameInUse() {
        return g_pJoystick && g_pJoystick->controller ? g_pJoystick->controller->Name() : "";
    }
};

TEST_F(Joystick, WithoutAControllerSetUpSucceedsAndThePollChangesNothing) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(SetupJoystick(GetDesktopWindow()), 0);
    EXPECT_EQ(g_pJoystick, nullptr);
    g_JoyState.lX = 100;
    PollJoystick();
    EXPECT_EQ(std::pair(g_JoyState.lX, testing::internal::GetCapturedStderr()),
              std::pair(100, std::string()));
}

TEST_F(Joystick, FirstPollAcquiresTheSecondReadsEveryPartOfTheState) {
    SDL_Joystick* j = Attach("Flight stick");
    Attach("Second pad", 6, 10, 1);
    ASSERT_EQ(SetupJoystick(GetDesktopWindow()), 0);
    EXPECT_EQ(NameInUse(), "Flight stick") << "of two controllers the first is used";
    EXPECT_FALSE(g_pJoystick->acquired);
    const int16_t axes[8] = {32767, -32768, 0, 16384, -16384, 100, 32767, -32768};
    for (int i = 0; i < 8; ++i) SDL_JoystickSetVirtualAxis(j, i, axes[i]);
    SDL_JoystickSetVirtualHat(j, 0, SDL_HAT_RIGHTUP);
    SDL_JoystickSetVirtualButton(j, 7, SDL_PRESSED);
    SDL_JoystickSetVirtualButton(j, 11, SDL_PRESSED);

    PollJoystick(); // acquires; the state is not read in this turn
    EXPECT_TRUE(g_pJoystick->acquired);
    EXPECT_EQ(AxesOf(g_JoyState), kCentred);
    PollJoystick();
    EXPECT_EQ(AxesOf(g_JoyState), (Axes{65535, 0, 32767, 49151, 16383, 32867, 65535, 0}));
    // The stick has two hats and twelve buttons.
    EXPECT_EQ(std::vector<uint32_t>(g_JoyState.rgdwPOV, g_JoyState.rgdwPOV + 3),
              (std::vector<uint32_t>{4500, 0xFFFFFFFF, 0xFFFFFFFF}));
    EXPECT_EQ(std::vector<int>(g_JoyState.rgbButtons, g_JoyState.rgbButtons + 13),
              (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0x80, 0}));
    SDL_JoystickSetVirtualButton(j, 7, SDL_RELEASED);
    PollJoystick();
    EXPECT_EQ(g_JoyState.rgbButtons[7], 0);
}

TEST_F(Joystick, WithoutAWindowTheDeviceIsKeptButNeverRead) {
    SDL_Joystick* j = Attach("Pad");
    testing::internal::CaptureStderr();
    EXPECT_NE(SetupJoystick(nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot SetCooperativeLevel.\n");
    ASSERT_NE(g_pJoystick, nullptr);
    SDL_JoystickSetVirtualAxis(j, 0, 32767);
    for (int turn = 0; turn < 3; ++turn) PollJoystick();
    EXPECT_EQ(std::pair(g_JoyState.lX, g_pJoystick->acquired), std::pair(32767, false));
}

TEST_F(Joystick, PluggedInLaterIsTakenUpUnpluggedKeepsTheLastStateReleaseLetsGo) {
    ASSERT_EQ(SetupJoystick(GetDesktopWindow()), 0);
    ASSERT_EQ(g_pJoystick, nullptr);
    SDL_Joystick* first = Attach("Old pad", 3, 6, 1); // a twist grip, no lRz
    SDL_JoystickSetVirtualAxis(first, 0, 32767);
    SDL_JoystickSetVirtualHat(first, 0, SDL_HAT_LEFT);
    PollJoystick(); // taken up, acquired on the next
    EXPECT_EQ(NameInUse(), "Old pad");
    for (int turn = 0; turn < 2; ++turn) PollJoystick();
    // What the controller lacks stays centred.
    ASSERT_EQ(AxesOf(g_JoyState), (Axes{65535, 32767, 32767, 32767, 32767, 32767, 32767, 32767}));
    EXPECT_EQ(std::pair(g_JoyState.rgdwPOV[0], g_JoyState.rgdwPOV[1]), std::pair(27000u, ~0u));

    for (int i = SDL_NumJoysticks() - 1; i >= 0; --i) // unplugged: Spare pad below is taken up
        if (SDL_JoystickGetDeviceInstanceID(i) == SDL_JoystickInstanceID(first))
            SDL_JoystickDetachVirtual(i);
    for (int turn = 0; turn < 3; ++turn) PollJoystick();
    EXPECT_EQ(std::pair(g_JoyState.lX, NameInUse()), std::pair(65535, std::string("Old pad")));
    SDL_Joystick* spare = Attach("Spare pad");
    SDL_JoystickSetVirtualAxis(spare, 0, -32768);
    PollJoystick();
    EXPECT_EQ(NameInUse(), "Spare pad");
    for (int turn = 0; turn < 2; ++turn) PollJoystick();
    EXPECT_EQ(g_JoyState.lX, 0);

    ReleaseJoystick();
    SDL_JoystickSetVirtualAxis(spare, 0, 0);
    PollJoystick(); // released: no poll, no taking up
    EXPECT_TRUE(g_pJoystick == nullptr && g_JoyState.lX == 0);
}

} // namespace
