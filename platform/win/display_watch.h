// What happens when the X display goes away under the window: the server ends, the client is
// killed (xkill), or another client destroys the window.
#pragma once

// Installs Xlib's error handlers for the rest of the run: a lost connection or an error on the
// window writes one line to stderr and ends the process at once with exit code 1. Nothing can
// be shut down in order then: the window, the GL context and SDL all live on the dead
// connection, and tearing them down would crash or wait on it for ever.
void WatchDisplayConnection();
