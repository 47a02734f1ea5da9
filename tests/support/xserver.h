// A private X server (Xvfb) for window tests, and the few Xlib look-ups they need.
#pragma once

#include "support/viewer_process.h"

#include <string>

struct XvfbServer {
    int pid = -1;
    std::string display; // ":93"
    // Starts Xvfb with one screen of the given size; false when Xvfb is missing or fails.
    bool Start(int width, int height);
    void Stop();
    ~XvfbServer() { Stop(); }
};

struct XWindowInfo {
    unsigned long id = 0;
    int width = 0, height = 0;
    bool viewable = false;
    bool fullScreenState = false; // _NET_WM_STATE holds _NET_WM_STATE_FULLSCREEN
};

// Waits up to timeoutMs for a viewable top-level window with that title.
XWindowInfo WaitForWindow(const std::string& display, const std::string& title, int timeoutMs);
// Sends a key press, a pause and the release with xdotool (keysym name such as "F10", "2").
bool SendKey(const std::string& display, const std::string& keysym, int holdMs = 150);
// Moves the pointer to count places in the window (at least 101 x 101), one motion event each.
bool FloodPointer(const std::string& display, unsigned long window, int count);
// From another client: ends the owner's connection as xkill does, or destroys the window.
bool EndWindowFromOutside(const std::string& display, unsigned long window, bool killOwner);

// Counts the frames the window shows from now on (each present damages it once), until `most`
// were shown or the window is gone; -1 when neither happened within timeoutMs.
int CountFrames(const std::string& display, unsigned long window, int most, int timeoutMs);

// The viewer started on the server in a fresh scratch dir (SDL's X11 driver, env added), once
// its window "Duoscope" is viewable and has shown three frames; ready is false when it did not.
struct XViewer {
    int pid = -1;
    std::string dir;
    XWindowInfo window;
    bool ready = false;
};
inline XViewer StartViewerWindow(const XvfbServer& x, const std::string& name,
                                 const std::vector<std::string>& args, Env env) {
    XViewer v;
    v.dir = MakeScratchDir(name);
    env.insert({{"DISPLAY", x.display}, {"SDL_VIDEODRIVER", "x11"}});
    v.pid = StartProgram(ViewerPath(), args, env, v.dir);
    v.window = WaitForWindow(x.display, "Duoscope", 20000);
    v.ready = v.window.viewable && CountFrames(x.display, v.window.id, 3, 20000) == 3;
    return v;
}
