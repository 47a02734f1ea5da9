// Asynchronous key state with Windows virtual-key codes, and the millisecond tick count.
//
// A key reads as down (high bit 0x8000 set) when any of three sources says so: the keyboard
// (SDL's keyboard state), the scripted source set by DUOSCOPE_KEYS, or a state injected by a
// unit test. The tick count can likewise be pinned by a test.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

constexpr int VK_PRIOR = 0x21, VK_NEXT = 0x22, VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27,
              VK_DOWN = 0x28, VK_ESCAPE = 0x1B, VK_F1 = 0x70, VK_F10 = 0x79, VK_NUMPAD0 = 0x60,
              VK_NUMPAD1 = 0x61, VK_NUMPAD2 = 0x62, VK_NUMPAD3 = 0x63, VK_NUMPAD5 = 0x65;

int16_t GetAsyncKeyState(int virtualKey);
uint32_t GetTickCount();

// The fixed-step clock (DUOSCOPE_FIXED_STEP): once set, GetTickCount starts at 0 and moves only
// when AdvanceTickClock is called, by stepMs each time; the main loop calls it once per turn,
// so everything timed by the tick count follows the loop, not the machine. A step of 0 goes
// back to the wall clock.
void SetFixedTickStep(uint32_t stepMs);
// One main-loop turn passed: the fixed clock moves by its step (nothing on the wall clock).
void AdvanceTickClock();
// A busy wait napped for about a millisecond: the fixed clock moves by 1 ms, so scripted key
// windows still close while a prompt waits for a release.
void AdvanceTickClockForNap();

// Scripted keys: comma-separated KEY@FROM-TO entries; the key is down while the milliseconds
// since StartKeyScript lie in [FROM, TO). KEY is a name (UP, DOWN, LEFT, RIGHT, ESC, F1, F10,
// PGUP, PGDN, NUM0..NUM9), a letter or digit, or 0x and a virtual-key code.
// Returns false and fills error for a malformed script; the previous script stays.
bool SetKeyScript(std::string_view script, std::string* error);
void StartKeyScript();
void ClearKeyScript();

// Test hooks: force a key's state (ClearInjectedKeys = back to the real sources), pin the tick
// count (nullopt = back to the real clock).
void InjectKeyState(int virtualKey, bool down);
void ClearInjectedKeys();
void SetTickCountForTests(std::optional<uint32_t> ticks);
// Called by GetAsyncKeyState on every read; a test can use it to release keys in busy loops.
void SetKeyReadHookForTests(void (*hook)(int virtualKey));
