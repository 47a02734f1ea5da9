// Starts the real OpenGL device off-screen in this process, with the viewer's data files, for
// tests and benchmarks that render whole frames.
#pragma once

// Creates the window (windowed unless fullScreen, g_nScreenWidth x g_nScreenHeight) and the
// device, and loads the effect, fonts and models from data/. False when no device was made.
bool StartGlScene(bool fullScreen = false);
// Places both characters at their start places and updates both cameras.
void PlaceStartScene();
void StopGlScene();
