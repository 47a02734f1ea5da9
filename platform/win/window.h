// Window class, window and message queue (Win32 stand-ins) over SDL2 video and events.
//
// Messages come from two places: PostQuitMessage, and SDL events turned into window messages
// when PeekMessageA runs (window close or a stop signal -> WM_CLOSE, expose -> WM_PAINT, mouse
// motion -> WM_MOUSEMOVE). At most one close, one paint and one mouse move wait: a newer one
// replaces the pending one in place, so mouse motion never delays a quit. Keys are not queued;
// the viewer reads the key state. DefWindowProcA handles WM_CLOSE by destroying the window,
// which sends WM_DESTROY to the window procedure, as Windows does.
#pragma once

#include "platform/types.h"

#include <cstdint>

struct SDL_Window;
struct WindowRecord;
using HWND = WindowRecord*;
using HINSTANCE = void*;
using HCURSOR = void*;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using UINT = uint32_t;
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_MOUSEMOVE = 0x0200;

constexpr UINT CS_CLASSDC = 0x0040;
constexpr DWORD WS_OVERLAPPEDWINDOW = 0x00CF0000;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;
constexpr int SW_SHOWDEFAULT = 10;
constexpr UINT PM_REMOVE = 1;
inline const char* const IDC_ARROW = "arrow";

struct WNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    void* hIcon;
    HCURSOR hCursor;
    void* hbrBackground;
    const char* lpszMenuName;
    const char* lpszClassName;
    void* hIconSm;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

HINSTANCE GetModuleHandleA(const char* name);
HCURSOR LoadCursorA(HINSTANCE instance, const char* name);
uint16_t RegisterClassExA(const WNDCLASSEXA* windowClass);
bool UnregisterClassA(const char* className, HINSTANCE instance);
HWND GetDesktopWindow();
// Creates a hidden SDL window ready for OpenGL; null when SDL video cannot start (the reason
// goes to stderr). A WS_POPUP window is full-screen over the desktop.
HWND CreateWindowExA(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                     int y, int width, int height, HWND parent, void* menu, HINSTANCE instance,
                     void* param);
bool ShowWindow(HWND window, int command);
bool UpdateWindow(HWND window);
bool DestroyWindow(HWND window);
bool ValidateRect(HWND window, const RECT* rect);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

bool PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
bool TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
void PostQuitMessage(int exitCode);
// Whether PostQuitMessage has been called: the loop is ending, whoever asked (a key, the window
// closing, an automation hook). Prompts use it not to wait for answers that no longer matter.
bool QuitPosted();

// The SDL window behind a handle (null for a null or destroyed window).
SDL_Window* SdlWindowOf(HWND window);
// Forgets all queued messages and windows, and that a quit was posted; for tests.
void ResetWindowSystemForTests();
// Forgets only that a quit was posted; for tests.
void ClearQuitPostedForTests();
