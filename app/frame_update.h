// Pieces of the frame update that tests reach besides UpdateFrame (declared in app/shell.h).
#pragma once

// Texts of the two prompts, drawn bold in the middle of the screen.
inline constexpr const char kQuitPrompt[] = "Quit? [y/n]";
inline constexpr const char kPausePrompt[] = "Paused (press P again)";

// Forgets that a quit was posted (tests run many updates per process).
void ResetFrameUpdate();
