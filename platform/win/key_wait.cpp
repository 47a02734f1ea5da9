#include "platform/win/key_wait.h"
#include "platform/win/input.h"

#include <SDL2/SDL.h>

#include <chrono>
#include <thread>

void NapWhileWaiting() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    AdvanceTickClockForNap();
}

bool StopRequested() {
    if (!SDL_WasInit(SDL_INIT_EVENTS)) return false;
    SDL_PumpEvents();
    // SDL raises SDL_QUIT for a signal and when the last window is asked to close.
    return SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_QUIT, SDL_QUIT) > 0;
}
