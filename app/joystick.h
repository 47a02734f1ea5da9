// Joystick input: the first game controller found at start-up, polled once per main-loop turn
// into g_JoyState (both declared with the settings block).
//
// The device (platform/input/dinput.h) is set up without being acquired, acquired by the first
// poll that fails, read by every poll after that, and lost (the last state kept) when it is
// pulled out. A controller plugged in while none is usable is taken up by the next poll.
#pragma once

#include "platform/input/dinput.h"
#include "platform/win/window.h"

#include <cstdint>

// Finds and prepares the first controller; 0 on success (also when there is none).
int32_t SetupJoystick(HWND window);
// Reads the joystick into g_JoyState; without a usable one, looks for one plugged in since.
void PollJoystick();
// Unacquires and releases the joystick.
void ReleaseJoystick();
