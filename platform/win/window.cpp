#include "platform/win/window.h"

#include <SDL2/SDL.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

struct WindowRecord {
    SDL_Window* sdl = nullptr;
    WNDPROC proc = nullptr;

    WindowRecord(SDL_Window* window, WNDPROC procedure) : sdl(window), proc(procedure) {}
    WindowRecord() = default;
    WindowRecord(const WindowRecord&) = delete;
    WindowRecord& operator=(const WindowRecord&) = delete;
    ~WindowRecord() {
        if (sdl) SDL_DestroyWindow(sdl);
    }
};

namespace {

struct WindowClass {
    std::string name;
    WNDPROC proc = nullptr;
};

// One class and one window is all the viewer makes; the desktop is a fixed sentinel record.
WindowClass g_class;
std::unique_ptr<WindowRecord> g_window;
WindowRecord g_desktop;
std::deque<MSG> g_queue;
bool g_quitPosted = false;

bool StartVideo() {
    if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "duoscope: no video: %s\n", SDL_GetError());
        return false;
    }
    return true;
}

// Moves pending SDL events into the message queue as window messages.
void TranslateSdlEvents() {
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
    SDL_PumpEvents();
    SDL_Event e;
    while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
        HWND w = g_window.get();
        switch (e.type) {
        case SDL_QUIT:
            if (w) g_queue.push_back({w, WM_CLOSE, 0, 0});
            break;
        case SDL_WINDOWEVENT:
            if (!w) break;
            if (e.window.event == SDL_WINDOWEVENT_CLOSE) g_queue.push_back({w, WM_CLOSE, 0, 0});
            if (e.window.event == SDL_WINDOWEVENT_EXPOSED) g_queue.push_back({w, WM_PAINT, 0, 0});
            break;
        case SDL_MOUSEMOTION:
            if (w)
                g_queue.push_back({w, WM_MOUSEMOVE, 0,
                                   LPARAM((e.motion.x & 0xFFFF) | ((e.motion.y & 0xFFFF) << 16))});
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            if (w)
                g_queue.push_back({w, e.type == SDL_KEYDOWN ? WM_KEYDOWN : WM_KEYUP,
                                   WPARAM(e.key.keysym.scancode), 0});
            break;
        default:
            break;
        }
    }
}

} // namespace

HINSTANCE GetModuleHandleA(const char*) {
    return &g_desktop;
}
HCURSOR LoadCursorA(HINSTANCE, const char* name) {
    return const_cast<char*>(name);
}

uint16_t RegisterClassExA(const WNDCLASSEXA* wc) {
    if (!wc || !wc->lpszClassName || !wc->lpfnWndProc) return 0;
    g_class = {wc->lpszClassName, wc->lpfnWndProc};
    return 1;
}

bool UnregisterClassA(const char* className, HINSTANCE) {
    if (!className || g_class.name != className) return false;
    g_class = {};
    return true;
}

HWND GetDesktopWindow() {
    return &g_desktop;
}

HWND CreateWindowExA(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                     int y, int width, int height, HWND, void*, HINSTANCE, void*) {
    if (!className || g_class.name != className || g_window) return nullptr;
    if (!StartVideo()) return nullptr;
    const bool fullScreen = (style & WS_POPUP) != 0 || (exStyle & WS_EX_APPWINDOW) != 0;
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    if (fullScreen) {
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS;
        // The window covers the desktop whatever the back buffer's size (the device scales
        // into it). Made at that size from the start: an X server without a window manager
        // never resizes it, while SDL would report the desktop's size for it all the same.
        SDL_Rect desktop;
        if (SDL_GetDisplayBounds(0, &desktop) == 0) {
            x = desktop.x;
            y = desktop.y;
            width = desktop.w;
            height = desktop.h;
        }
    }
    // A size SDL cannot take still gets a window; the device refuses the size afterwards.
    SDL_Window* sdl = SDL_CreateWindow(title ? title : "", x, y, width > 0 ? width : 1,
                                       height > 0 ? height : 1, flags);
    if (!sdl) {
        std::fprintf(stderr, "duoscope: cannot create window: %s\n", SDL_GetError());
        return nullptr;
    }
    g_window = std::make_unique<WindowRecord>(sdl, g_class.proc);
    return g_window.get();
}

bool ShowWindow(HWND w, int) {
    if (!w || w != g_window.get()) return false;
    SDL_ShowWindow(w->sdl);
    return true;
}

bool UpdateWindow(HWND w) {
    if (!w || w != g_window.get() || !w->proc) return false;
    w->proc(w, WM_PAINT, 0, 0);
    return true;
}

bool DestroyWindow(HWND w) {
    if (!w || w != g_window.get()) return false;
    WNDPROC proc = w->proc;
    if (proc) proc(w, WM_DESTROY, 0, 0);
    // The GL device may still hold a context on this window; the SDL window is released with
    // the record when the program shuts the window system down.
    SDL_HideWindow(w->sdl);
    w->proc = nullptr;
    return true;
}

bool ValidateRect(HWND, const RECT*) {
    return true;
}

LRESULT DefWindowProcA(HWND w, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) DestroyWindow(w);
    return 0;
}

bool PeekMessageA(MSG* msg, HWND window, UINT, UINT, UINT removeFlags) {
    TranslateSdlEvents();
    for (auto it = g_queue.begin(); it != g_queue.end(); ++it) {
        if (window && it->hwnd != window) continue;
        if (msg) *msg = *it;
        if (removeFlags & PM_REMOVE) g_queue.erase(it);
        return true;
    }
    return false;
}

bool TranslateMessage(const MSG*) {
    return false;
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg || !msg->hwnd || msg->hwnd != g_window.get() || !msg->hwnd->proc) return 0;
    return msg->hwnd->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exitCode) {
    g_queue.push_back({nullptr, WM_QUIT, WPARAM(exitCode), 0});
    g_quitPosted = true;
}

bool QuitPosted() {
    return g_quitPosted;
}
void ClearQuitPostedForTests() {
    g_quitPosted = false;
}

SDL_Window* SdlWindowOf(HWND w) {
    return (w && w == g_window.get()) ? w->sdl : nullptr;
}

void ResetWindowSystemForTests() {
    g_queue.clear();
    g_quitPosted = false;
    g_window.reset();
    g_class = {};
}
