// The full-screen picture on a real X server: whatever the back buffer's size, the window
// covers the screen and shows the whole picture scaled into it, the aspect kept, bars black.
#include "support/xserver.h"

#include <gtest/gtest.h>

// After gtest: Xlib's macros (None, Bool) would break its templates.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <array>
#include <tuple>
#include <cstdlib>

namespace {

// The screen's pixels as 0xRRGGBB, row after row.
struct Screen {
    int width = 0, height = 0;
    std::vector<unsigned long> pixels;
    unsigned long At(int x, int y) const { return pixels[size_t(y) * width + x] & 0xFFFFFF; }
};

Screen Capture(const std::string& display, int width, int height) {
    Screen s{width, height, {}};
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return s;
    if (XImage* image = XGetImage(d, DefaultRootWindow(d), 0, 0, unsigned(width), unsigned(height),
                                  AllPlanes, ZPixmap)) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) s.pixels.push_back(XGetPixel(image, x, y));
        XDestroyImage(image);
    }
    XCloseDisplay(d);
    return s;
}

using Box = std::array<int, 4>; // left, top, right, bottom, inclusive

// The smallest box holding every pixel that is not black.
Box Lit(const Screen& s) {
    Box b{s.width, s.height, -1, -1};
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            if (s.pixels.size() == size_t(s.width) * s.height && s.At(x, y) != 0)
                b = {std::min(b[0], x), std::min(b[1], y), std::max(b[2], x), std::max(b[3], y)};
    return b;
}

TEST(WindowPresent, FullScreenShowsTheWholePictureScaledWithBarsOnScreensLargerAndSmaller) {
    // Screen width and height, back buffer width and height, where the picture shows.
    const std::tuple<int, int, int, int, Box> cases[] = {
        {1280, 720, 320, 240, {160, 0, 1119, 719}}, // 3x, bars left and right
        {1280, 720, 800, 200, {0, 200, 1279, 519}}, // 1.6x, bars above and below
        {640, 480, 1024, 768, {0, 0, 639, 479}},    // 0.625x, no bars
        {640, 480, 800, 200, {0, 160, 639, 319}},   // 0.8x
        {640, 480, 640, 480, {0, 0, 639, 479}},     // 1x: straight from the back buffer
    };
    for (const auto& [screenWidth, screenHeight, rx, ry, picture] : cases) {
        SCOPED_TRACE(testing::Message()
                     << rx << "x" << ry << " on " << screenWidth << "x" << screenHeight);
        XvfbServer x;
        ASSERT_TRUE(x.Start(screenWidth, screenHeight)) << "Xvfb could not start";
        const XViewer v = StartViewerWindow(x, "window_present",
                                            {"rx", std::to_string(rx), "ry", std::to_string(ry)},
                                            {{"DUOSCOPE_FIXED_STEP", "20"},
                                             {"DUOSCOPE_SEED", "7"},
                                             {"DUOSCOPE_FRAMES", "1000000"},
                                             {"DUOSCOPE_SCREENSHOT", "shot.png"}});
        ASSERT_TRUE(v.ready) << ReadFile(v.dir + "/stderr.txt");
        EXPECT_EQ(std::pair(v.window.width, v.window.height), std::pair(screenWidth, screenHeight));
        // Look after each frame (up to 100) until the picture fills its box.
        Screen screen = Capture(x.display, screenWidth, screenHeight);
        for (int i = 0; i < 100 && Lit(screen) != picture; ++i) {
            CountFrames(x.display, v.window.id, 1, 1000);
            screen = Capture(x.display, screenWidth, screenHeight);
        }
        EXPECT_EQ(Lit(screen), picture);
        ASSERT_TRUE(SendKey(x.display, "F10"));
        const ViewerRun run = WaitProgram(v.pid, v.dir, 30);
        EXPECT_EQ(run.exitCode, 0) << run.errors;
        // The whole picture, not a part of it: points across the box show the colours of the
        // back buffer's matching points (the overlay's text edges aside: most of them).
        const Image shot = LoadPng(v.dir + "/shot.png");
        ASSERT_EQ(std::pair(shot.width, shot.height), std::pair(rx, ry));
        int near = 0; // of 15 x 15 points
        for (int gy = 1; gy < 16; ++gy)
            for (int gx = 1; gx < 16; ++gx) {
                const int sx = rx * gx / 16, sy = ry * gy / 16;
                const int px = picture[0] + (picture[2] + 1 - picture[0]) * gx / 16;
                const int py = picture[1] + (picture[3] + 1 - picture[1]) * gy / 16;
                int d = 0; // summed over red, green, blue
                for (int k = 0; k < 3; ++k)
                    d += std::abs(int(screen.At(px, py) >> (16 - 8 * k) & 0xFF) -
                                  shot.At(sx, sy)[k]);
                near += d <= 48;
            }
        EXPECT_GE(near, 225 * 9 / 10) << near << " of 225 points match";
    }
}

} // namespace
