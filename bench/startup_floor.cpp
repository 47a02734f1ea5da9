// The floor of start-up on this machine: the least an SDL + OpenGL program does before its
// first frame is on screen. It opens a 640x480 window (shown) with an OpenGL 3.3 core context,
// clears, reads the frame back, presents and exits; given a file name, it writes the frame
// there as PNG first, as the viewer writes its screenshot. bench_startup and bench_startup_x
// run it beside the viewer.
#include "platform/gfx/png_writer.h"

#include <SDL2/SDL.h>
#include <epoxy/gl.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return 1;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_Window* window = SDL_CreateWindow("floor", 0, 0, 640, 480, SDL_WINDOW_OPENGL);
    SDL_GLContext context = window ? SDL_GL_CreateContext(window) : nullptr;
    if (!context) {
        std::fprintf(stderr, "startup_floor: %s\n", SDL_GetError());
        return 1;
    }
    glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    std::vector<unsigned char> pixels(640 * 480 * 4);
    glReadPixels(0, 0, 640, 480, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    SDL_GL_SwapWindow(window);
    if (argc > 1 && !WritePngFile(argv[1], 640, 480, pixels)) return 1;
    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return pixels[0] == 51 ? 0 : 1; // 0.2 of 255: the clear reached the frame
}
