// The application shell: entry point, command line, start-up, main loop and shutdown, the
// device and window start-up pieces, and the automation hooks.
#pragma once

#include "platform/win/window.h"

#include <cstdint>
#include <string>

// The GUI entry with the command-line text that follows the program name. Returns 0 after a
// normal shutdown; device failure exits the process with code 1.
int WinMain(HINSTANCE instance, HINSTANCE previous, char* commandLine, int showCommand);

// Moves into the folder the viewer reads its data from and writes log.txt to: the current one
// when it holds Duoscope.fx, else the user's folder filled from an installed tree (see
// working_folder.cpp). Any failure is one stderr line; the viewer then runs where it is.
void EnterWorkingFolder();

// Reads rx and ry from the command-line text into g_nScreenWidth and g_nScreenHeight.
void ParseCommandLine(const char* commandLine);

// The frame-rate measurement of the main loop: counts turns and recomputes g_fFrameRate every
// 100 of them.
struct FrameRateCounter {
    uint32_t frames = 0;
    uint32_t startTick = 0;
};
void StartFrameRate(FrameRateCounter& counter, uint32_t now);
void CountFrame(FrameRateCounter& counter, uint32_t now);

// Device and window start-up pieces.
void CreateDevice3D();
LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void LoadResources();
// Releases fonts, effect, models, joystick, the network session, log, device and window class,
// in that order.
void Shutdown();

// The per-turn frame update (phase machine, keys, cameras, render).
void UpdateFrame();

// Automation hooks, read from the environment before anything starts. They change nothing
// when unset.
struct AutomationHooks {
    int64_t frames = -1;    // DUOSCOPE_FRAMES: post the quit message after this many turns
    std::string screenshot; // DUOSCOPE_SCREENSHOT: PNG of the last presented frame at exit
    bool seeded = false;    // DUOSCOPE_SEED given
    unsigned seed = 0;
    uint32_t fixedStep = 0; // DUOSCOPE_FIXED_STEP: milliseconds per main-loop turn, 0 = wall clock
    int serverPort = 0;     // DUOSCOPE_SERVER_PORT: replaces the server port 9009, 0 = unset
    bool traceStartup = false; // DUOSCOPE_STARTUP_TRACE=1: start-up phase times on stderr
};
extern AutomationHooks g_Hooks;
// Returns false with a message for a malformed value.
bool ReadAutomationHooks(AutomationHooks& hooks, std::string* error);
// With DUOSCOPE_STARTUP_TRACE=1, writes "duoscope: startup PHASE T ms" to stderr, T counted
// from the reading of the hooks at process entry; nothing otherwise.
void TraceStartup(const char* phase);
// Writes the device's last presented frame as PNG; false when it cannot.
bool WriteScreenshot(const char* fileName);
