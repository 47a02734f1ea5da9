#include "support/xserver.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Windows come and go while we look (the viewer starting or closing): a query on one that is
// gone is an expected miss, not a reason to end the test process as Xlib's default handler does.
Display* OpenDisplay(const std::string& name) {
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    return XOpenDisplay(name.c_str());
}

// Whether the window asks a window manager to show it full-screen.
bool HasFullScreenState(Display* d, Window w) {
    Atom type = 0, *atoms = nullptr;
    int format = 0;
    unsigned long count = 0, after = 0;
    bool found = false;
    if (XGetWindowProperty(d, w, XInternAtom(d, "_NET_WM_STATE", False), 0, 64, False, XA_ATOM,
                           &type, &format, &count, &after,
                           reinterpret_cast<unsigned char**>(&atoms)) == Success &&
        atoms) {
        const Atom fullScreen = XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False);
        for (unsigned long i = 0; i < count; ++i) found = found || atoms[i] == fullScreen;
        XFree(atoms);
    }
    return found;
}

// The viewable top-level window with that title (no window manager: a child of the root).
XWindowInfo FindWindow(Display* d, const std::string& title) {
    XWindowInfo info;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count && !info.viewable; ++i) {
        char* name = nullptr;
        XWindowAttributes a;
        if (XFetchName(d, children[i], &name) && name && title == name &&
            XGetWindowAttributes(d, children[i], &a))
            info = {children[i], a.width, a.height, a.map_state == IsViewable,
                    HasFullScreenState(d, children[i])};
        if (name) XFree(name);
    }
    if (children) XFree(children);
    return info;
}

// Runs act on a connection of its own and waits until the server has done what it asked.
template <class Act> bool OnDisplay(const std::string& display, Act act) {
    Display* d = OpenDisplay(display);
    if (!d) return false;
    const bool done = act(d);
    XSync(d, False);
    XCloseDisplay(d);
    return done;
}

} // namespace

bool XvfbServer::Start(int width, int height) {
    // Xvfb picks a free display number and writes it to the pipe once it takes connections.
    int ready[2];
    if (pipe(ready) != 0) return false;
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    pid = fork();
    if (pid == 0) {
        // Dies with the test and keeps off its output, so a failed test never leaves a server
        // behind holding the runner's pipes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, 1), dup2(null, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", std::to_string(ready[1]).c_str(), "-screen", "0",
               screen.c_str(), "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    char number[16] = {};
    pollfd p = {ready[0], POLLIN, 0};
    const bool started = poll(&p, 1, 20000) == 1 && read(ready[0], number, 15) > 0;
    close(ready[0]);
    // Formatted into a buffer: building it from ":" and a std::string makes GCC 12 warn
    // wrongly (-Wrestrict) in optimised builds.
    char name[16];
    std::snprintf(name, sizeof name, ":%d", std::atoi(number));
    display = name;
    if (!started) Stop();
    return started;
}

void XvfbServer::Stop() {
    if (pid > 0) kill(pid, SIGTERM), waitpid(pid, nullptr, 0);
    pid = -1;
}

XWindowInfo WaitForWindow(const std::string& display, const std::string& title, int timeoutMs) {
    XWindowInfo info;
    Display* d = OpenDisplay(display);
    if (!d) return info;
    // The window appears within a few frames: poll the root's children for it, bounded.
    for (int waited = 0; !(info = FindWindow(d, title)).viewable && waited < timeoutMs;
         waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    XCloseDisplay(d);
    return info;
}

bool SendKey(const std::string& display, const std::string& keysym, int holdMs) {
    const std::string prefix = "DISPLAY=" + display + " xdotool ";
    if (std::system((prefix + "keydown " + keysym).c_str()) != 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
    return std::system((prefix + "keyup " + keysym).c_str()) == 0;
}

bool FloodPointer(const std::string& display, unsigned long window, int count) {
    return OnDisplay(display, [&](Display* d) {
        for (int i = 0; i < count; ++i)
            XWarpPointer(d, None, window, 0, 0, 0, 0, 1 + i % 100, 1 + i * 7 % 100);
        return true;
    });
}

bool EndWindowFromOutside(const std::string& display, unsigned long window, bool killOwner) {
    return OnDisplay(display, [&](Display* d) {
        killOwner ? XKillClient(d, window) : XDestroyWindow(d, window);
        return true;
    });
}

int CountFrames(const std::string& display, unsigned long window, int most, int timeoutMs) {
    Display* d = OpenDisplay(display);
    if (!d) return -1;
    int eventBase = 0, errorBase = 0, counted = 0;
    const bool damage = XDamageQueryExtension(d, &eventBase, &errorBase) &&
                        XDamageCreate(d, window, XDamageReportRawRectangles);
    XSelectInput(d, window, StructureNotifyMask); // to hear of its destruction
    XWindowAttributes a;
    bool gone = !XGetWindowAttributes(d, window, &a); // destroyed before we listened
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (damage && counted < most && !gone && std::chrono::steady_clock::now() < end) {
        pollfd p = {ConnectionNumber(d), POLLIN, 0};
        if (!XPending(d) && poll(&p, 1, 20) >= 0) continue;
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == eventBase + XDamageNotify)
            counted += reinterpret_cast<const XDamageNotifyEvent&>(e).more ? 0 : 1;
        gone = e.type == DestroyNotify && e.xdestroywindow.window == window;
    }
    XCloseDisplay(d);
    return counted >= most || gone ? counted : -1;
}
