#include "platform/win/display_watch.h"

#include <X11/Xlib.h>

#include <cstdio>

#include <unistd.h>

namespace {

[[noreturn]] void Leave(const char* line) {
    std::fflush(nullptr); // what the log and the other streams hold still reaches its file
    std::fputs(line, stderr);
    std::fflush(stderr);
    _exit(1); // no destructor may run: they would talk to the dead display
}

// Xlib calls this when the connection breaks; returning would make Xlib call exit().
int OnConnectionLost(Display*) {
    Leave("duoscope: the connection to the X display was lost\n");
}

// Errors the viewer cannot recover from; the default handler would print them and call exit().
// The viewer's only drawable is its window, so a bad window or drawable means it is gone.
int OnXError(Display* display, XErrorEvent* e) {
    if (e->error_code == BadWindow || e->error_code == BadDrawable)
        Leave("duoscope: the window was destroyed by another program\n");
    char text[160] = "";
    XGetErrorText(display, e->error_code, text, sizeof text);
    char line[256];
    std::snprintf(line, sizeof line, "duoscope: X error: %s (request %d)\n", text,
                  int(e->request_code));
    Leave(line);
}

} // namespace

void WatchDisplayConnection() {
    XSetIOErrorHandler(OnConnectionLost);
    XSetErrorHandler(OnXError);
}
