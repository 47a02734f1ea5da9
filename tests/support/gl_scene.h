// Starts the real OpenGL device off-screen in this process, with the viewer's data files, for
// tests and benchmarks that render whole frames.
#pragma once

// Registers the window class, creates the window and the device (windowed unless fullScreen,
// the current g_nScreenWidth x g_nScreenHeight), and loads the effect, fonts and models from
// data/. Returns false when no device could be made.
bool StartGlScene(bool fullScreen = false);
// Places both characters at their start places and updates both cameras.
void PlaceStartScene();
void StopGlScene();
