#include "platform/win/x11_window.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

void MarkFullScreenBeforeMapping(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return;
    Display* display = info.info.x11.display;
    const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
    Atom fullScreen = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
    // Appended: whatever state SDL put there at creation stays.
    XChangeProperty(display, info.info.x11.window, state, XA_ATOM, 32, PropModeAppend,
                    reinterpret_cast<unsigned char*>(&fullScreen), 1);
    XFlush(display);
}
