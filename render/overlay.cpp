#include "core/settings.h"
#include "render/render.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

static std::mutex s_statusLock;
static char s_statusLine[kStatusLineSize];

void SetStatusLine(const char* format, ...) {
    char text[kStatusLineSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(s_statusLock);
    std::memcpy(s_statusLine, text, sizeof text);
}

void ReadStatusLine(char* out) {
    std::lock_guard<std::mutex> lock(s_statusLock);
    std::memcpy(out, s_statusLine, kStatusLineSize);
}

namespace {

// The column: left 10, right 410, each line 25 below the one before, 60 high.
struct OverlayCursor {
    RECT rect = {10, 0, 410, 60};
    void Line(ID3DXFont* font, const char* text) {
        if (font) font->DrawTextA(nullptr, text, int(std::strlen(text)), &rect, 0, 0xFFFFFFFF);
    }
    void Next(int step) {
        rect.top += step;
        rect.bottom = rect.top + 60;
    }
};

ID3DXFont* Pick(bool bold) {
    return bold ? g_pFontBold.get() : g_pFont.get();
}

void DrawJoystickLines(OverlayCursor& c) {
    const DIJOYSTATE2& j = g_JoyState;
    char text[kStatusLineSize];
    auto line = [&](const char* format, auto... values) {
        std::snprintf(text, sizeof text, format, values...);
        c.Line(g_pFont.get(), text);
        c.Next(15);
    };
    line("Axes: %ld %ld %ld", long(j.lX), long(j.lY), long(j.lZ));
    line("Rotation: %ld %ld %ld", long(j.lRx), long(j.lRy), long(j.lRz));
    line("Slider: %ld %ld", long(j.rglSlider[0]), long(j.rglSlider[1]));
    line("Velocity Axes: %ld %ld %ld", long(j.lVX), long(j.lVY), long(j.lVZ));
    line("Velocity Rotation: %ld %ld %ld", long(j.lVRx), long(j.lVRy), long(j.lVRz));
    line("Velocity Slider: %ld %ld", long(j.rglVSlider[0]), long(j.rglVSlider[1]));
    line("AccelerationAxes: %ld %ld %ld", long(j.lAX), long(j.lAY), long(j.lAZ));
    line("AccelerationRotation: %ld %ld %ld", long(j.lARx), long(j.lARy), long(j.lARz));
    line("Acceleration Slider: %ld %ld", long(j.rglASlider[0]), long(j.rglASlider[1]));
    line("Force Axes: %ld %ld %ld", long(j.lFX), long(j.lFY), long(j.lFZ));
    line("Force Rotation: %ld %ld %ld", long(j.lFRx), long(j.lFRy), long(j.lFRz));
    line("Force Slider: %ld %ld", long(j.rglFSlider[0]), long(j.rglFSlider[1]));
    // The hats are unsigned; printed as signed, a centred hat (0xFFFFFFFF) shows as -1.
    line("POV: %ld %ld %ld %ld", long(int32_t(j.rgdwPOV[0])), long(int32_t(j.rgdwPOV[1])),
         long(int32_t(j.rgdwPOV[2])), long(int32_t(j.rgdwPOV[3])));
    for (int i = 0; i < 128; ++i)
        if (j.rgbButtons[i] & 0x80) line("Button: %d is pressed", i);
}

} // namespace

void DrawOverlay() {
    OverlayCursor c;
    char status[kStatusLineSize];
    ReadStatusLine(status);
    c.Line(g_pFont.get(), status);
    c.Next(25);
    c.Line(g_pFontBold.get(), "Press F1 to show/hide help");
    c.Next(25);
    char display[kStatusLineSize];
    std::snprintf(display, sizeof display, "Display: %dx%d (%.1f fps)", g_nScreenWidth,
                  g_nScreenHeight, double(g_fFrameRate));
    c.Line(g_pFontBold.get(), display);
    static const char* const kKeyLines[] = {
        "[Esc/F10] Quit",
        "[Cursor Left] Turn left",
        "[Cursor Right] Turn right",
        "[Cursor Up] Move forward",
        "[Cursor Down] Move backward",
        "[A] Strafe left",
        "[D] Strafe right",
        "[W] Move up",
        "[S] Move down",
    };
    for (const char* line : kKeyLines) {
        c.Next(25);
        c.Line(g_pFontBold.get(), line);
    }
    c.Next(25);
    // Without an effect the frame shows a camera's plain view whatever the flags say: mark
    // what is shown.
    const bool plain = g_bStandardView || !g_pEffect;
    c.Line(Pick(plain && !g_bCamera2View), "[1]: normal view from camera 1");
    c.Next(25);
    c.Line(Pick(plain && g_bCamera2View), "[2]: normal view from camera 2");
    c.Next(25);
    c.Line(Pick(!plain && g_bWithZ), "[3]: Duoscope view");
    c.Next(25);
    c.Line(Pick(g_bAutoMove2), "[4]: Toggle auto move camera 2");
    if (!g_bShowExtendedHelp) return;
    c.Next(25);
    c.Line(Pick(!plain && !g_bWithZ), "'Z': enable Duoscope (withoutZ)");
    c.Next(25);
    c.Line(Pick(g_bComputerControl), "'C': computer control camera 1");
    c.Next(25);
    c.Line(Pick(!g_bComputerControl), "'X': user control camera 1");
    if (!g_pJoystick) return;
    c.Next(30);
    DrawJoystickLines(c);
}
