#include "platform/win/window.h"
#include "platform/win/display_watch.h"
#include "platform/win/x11_window.h"
#include "platform/invariant.h"

#include <SDL2/SDL.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <unistd.h>

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
WindowClass s_class;
std::unique_ptr<WindowRecord> s_window;
WindowRecord s_desktop;
bool s_quitPosted = false;

// The message queue. Like the one it stands in for, it holds at most one mouse move, one paint
// and one close: a newer one replaces the pending one in place, so however fast the mouse
// moves, a quit waits behind at most three messages. Quits queue in the order posted; the loop
// ends at the first, so one posted while the queue is full is dropped without loss. Messages
// the window procedure would pass on to DefWindowProcA unhandled (keys: the viewer reads the
// key state) are not queued at all.
struct MessageQueue {
    std::array<MSG, 8> slots{};
    size_t count = 0;

    void Post(const MSG& m) {
        for (size_t i = 0; i < count && m.message != WM_QUIT; ++i)
            if (slots[i].message == m.message && slots[i].hwnd == m.hwnd) {
                slots[i] = m;
                return;
            }
        if (count < slots.size()) slots[count++] = m;
        DUO_ASSERT(count <= slots.size());
    }
    void RemoveAt(size_t i) {
        DUO_ASSERT(i < count && count <= slots.size());
        for (; i + 1 < count; ++i) slots[i] = slots[i + 1];
        --count;
    }
};
MessageQueue s_queue;

// Whether libdbus would find a session bus without starting one: an address in the
// environment, or the per-user bus socket.
bool SessionBusReachable() {
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS")) return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return false;
    const std::string socket = std::string(runtime) + "/bus";
    return access(socket.c_str(), F_OK) == 0;
}

bool StartVideo() {
    if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
    // SDL joins the D-Bus session bus when it starts (for the screen saver and input methods).
    // Where the session gives no bus address and there is no per-user bus at
    // $XDG_RUNTIME_DIR/bus (where libdbus looks next), libdbus would "autolaunch": fork and exec
    // dbus-launch, which starts a new bus of its own that no screen saver or input method is on
    // (or fails when it is not installed). Saying that there is no bus spares the fork; a
    // session that has a bus keeps it.
    if (!SessionBusReachable()) setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "duoscope: no video: %s\n", SDL_GetError());
        return false;
    }
    return true;
}

// Moves pending SDL events into the message queue as window messages. A window that was
// destroyed gets none.
void TranslateSdlEvents() {
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
    SDL_PumpEvents();
    SDL_Event e;
    while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
        HWND w = s_window.get();
        if (!w || !w->proc) continue;
        if (e.type == SDL_QUIT ||
            (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_CLOSE))
            s_queue.Post({w, WM_CLOSE, 0, 0});
        else if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_EXPOSED)
            s_queue.Post({w, WM_PAINT, 0, 0});
        else if (e.type == SDL_MOUSEMOTION)
            s_queue.Post({w, WM_MOUSEMOVE, 0,
                          LPARAM((e.motion.x & 0xFFFF) | ((e.motion.y & 0xFFFF) << 16))});
    }
}

} // namespace

HINSTANCE GetModuleHandleA(const char*) {
    return &s_desktop;
}
HCURSOR LoadCursorA(HINSTANCE, const char* name) {
    return const_cast<char*>(name);
}

uint16_t RegisterClassExA(const WNDCLASSEXA* wc) {
    if (!wc || !wc->lpszClassName || !wc->lpfnWndProc) return 0;
    s_class = {wc->lpszClassName, wc->lpfnWndProc};
    return 1;
}

bool UnregisterClassA(const char* className, HINSTANCE) {
    if (!className || s_class.name != className) return false;
    s_class = {};
    return true;
}

HWND GetDesktopWindow() {
    return &s_desktop;
}

HWND CreateWindowExA(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                     int y, int width, int height, HWND, void*, HINSTANCE, void*) {
    if (!className || s_class.name != className || s_window) return nullptr;
    if (!StartVideo()) return nullptr;
    // Under X, a display that goes away ends the program at once (see display_watch.h).
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver && std::strcmp(driver, "x11") == 0) WatchDisplayConnection();
    const bool fullScreen = (style & WS_POPUP) != 0 || (exStyle & WS_EX_APPWINDOW) != 0;
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    if (fullScreen) {
        // A borderless window over the whole desktop, marked full-screen for the window
        // manager before it maps (see x11_window.h: SDL's own full-screen flag costs 100 ms at
        // each show and hide). The window covers the desktop whatever the back buffer's size
        // (the device scales into it). Made at that size from the start: an X server without
        // a window manager never resizes it.
        flags |= SDL_WINDOW_BORDERLESS;
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
    if (fullScreen) MarkFullScreenBeforeMapping(sdl);
    s_window = std::make_unique<WindowRecord>(sdl, s_class.proc);
    return s_window.get();
}

bool ShowWindow(HWND w, int) {
    if (!w || w != s_window.get()) return false;
    SDL_ShowWindow(w->sdl);
    return true;
}

bool UpdateWindow(HWND w) {
    if (!w || w != s_window.get() || !w->proc) return false;
    w->proc(w, WM_PAINT, 0, 0);
    return true;
}

bool DestroyWindow(HWND w) {
    if (!w || w != s_window.get()) return false;
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
    for (size_t i = 0; i < s_queue.count; ++i) {
        if (window && s_queue.slots[i].hwnd != window) continue;
        if (msg) *msg = s_queue.slots[i];
        if (removeFlags & PM_REMOVE) s_queue.RemoveAt(i);
        return true;
    }
    return false;
}

bool TranslateMessage(const MSG*) {
    return false;
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg || !msg->hwnd || msg->hwnd != s_window.get() || !msg->hwnd->proc) return 0;
    return msg->hwnd->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exitCode) {
    s_queue.Post({nullptr, WM_QUIT, WPARAM(exitCode), 0});
    s_quitPosted = true;
}

bool QuitPosted() {
    return s_quitPosted;
}
void ClearQuitPostedForTests() {
    s_quitPosted = false;
}

SDL_Window* SdlWindowOf(HWND w) {
    return (w && w == s_window.get()) ? w->sdl : nullptr;
}

void ResetWindowSystemForTests() {
    s_queue = {};
    s_quitPosted = false;
    s_window.reset();
    s_class = {};
}
