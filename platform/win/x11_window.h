// The one X11 detail of the full-screen window that the viewer sets itself instead of asking
// SDL for it.
#pragma once

struct SDL_Window;

// Puts _NET_WM_STATE_FULLSCREEN on a window that is not mapped yet, so that a window manager
// shows it full-screen, above panels, from the moment it maps (EWMH: a window manager reads the
// state when a withdrawn window asks to be mapped). SDL's own full-screen flag would do the same
// and then, on every show and hide, poll the window for 100 ms in 10 ms sleeps, waiting for a
// window manager to move or resize it: a window already at the desktop's size never moves, so
// each wait runs to its end. Does nothing on a driver other than X11.
void MarkFullScreenBeforeMapping(SDL_Window* window);
