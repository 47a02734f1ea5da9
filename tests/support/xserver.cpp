#include "support/xserver.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Windows come and go while we walk the tree (the viewer starting or closing); a query on one
// that is gone is an expected miss, not a reason to end the test process as Xlib's default
// handler does.
int IgnoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

Display* OpenDisplay(const std::string& name) {
    XSetErrorHandler(IgnoreXErrors);
    return XOpenDisplay(name.c_str());
}

XWindowInfo FindWindow(Display* d, Window w, const std::string& title) {
    XWindowInfo info;
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name) {
        const bool match = title == name;
        XFree(name);
        XWindowAttributes a;
        if (match && XGetWindowAttributes(d, w, &a)) {
            info = {true, w, a.width, a.height, a.map_state == IsViewable};
            if (info.viewable) return info;
        }
    }
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(d, w, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count; ++i) {
            XWindowInfo child = FindWindow(d, children[i], title);
            if (child.found && (child.viewable || !info.found)) info = child;
            if (info.viewable) break;
        }
        if (children) XFree(children);
    }
    return info;
}

} // namespace

bool XvfbServer::Start(int width, int height) {
    for (int n = 91; n < 120; ++n) {
        if (std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock")) continue;
        display = ":" + std::to_string(n);
        const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
        pid = fork();
        if (pid == 0) {
            // Dies with the test and keeps off its output, so a failed test never leaves a
            // server behind holding the runner's pipes.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int null = open("/dev/null", O_WRONLY);
            if (null >= 0) {
                dup2(null, 1);
                dup2(null, 2);
            }
            execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
                   "tcp", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 100; ++i) {
            if (Display* d = OpenDisplay(display)) {
                XCloseDisplay(d);
                return true;
            }
            int status;
            if (waitpid(pid, &status, WNOHANG) == pid) break; // it failed; try the next number
            SleepMs(50);
        }
        Stop();
    }
    return false;
}

void XvfbServer::Stop() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        int status;
        waitpid(pid, &status, 0);
    }
    pid = -1;
}

XWindowInfo WaitForWindow(const std::string& display, const std::string& title, int timeoutMs) {
    XWindowInfo info;
    Display* d = OpenDisplay(display);
    if (!d) return info;
    for (int waited = 0; waited <= timeoutMs; waited += 50) {
        info = FindWindow(d, DefaultRootWindow(d), title);
        if (info.found && info.viewable) break;
        SleepMs(50);
    }
    XCloseDisplay(d);
    return info;
}

bool CloseWindow(const std::string& display, unsigned long window) {
    Display* d = OpenDisplay(display);
    if (!d) return false;
    XEvent e = {};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(d, window, False, NoEventMask, &e) != 0;
    XFlush(d);
    XCloseDisplay(d);
    return sent;
}

bool SendKey(const std::string& display, const std::string& keysym, int holdMs) {
    const std::string prefix = "DISPLAY=" + display + " xdotool ";
    if (std::system((prefix + "keydown " + keysym).c_str()) != 0) return false;
    SleepMs(holdMs);
    return std::system((prefix + "keyup " + keysym).c_str()) == 0;
}
