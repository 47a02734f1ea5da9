#include "core/settings.h"
#include "app/shell.h"
#include "platform/win/input.h"

#include "platform/gfx/png_writer.h"

#include <charconv>
#include <cstdlib>
#include <string_view>
#include <vector>

AutomationHooks g_Hooks;

static bool ParseWhole(const char* text, int64_t min, int64_t max, int64_t* out) {
    const std::string_view s(text);
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
    return ec == std::errc() && end == s.data() + s.size() && *out >= min && *out <= max;
}

bool ReadAutomationHooks(AutomationHooks& hooks, std::string* error) {
    hooks = AutomationHooks{};
    if (const char* frames = std::getenv("DUOSCOPE_FRAMES")) {
        if (!ParseWhole(frames, 1, INT64_MAX, &hooks.frames)) {
            *error =
                std::string("DUOSCOPE_FRAMES must be a whole number above 0, not '") + frames + "'";
            return false;
        }
    }
    if (const char* file = std::getenv("DUOSCOPE_SCREENSHOT")) {
        if (!*file) {
            *error = "DUOSCOPE_SCREENSHOT must name a file";
            return false;
        }
        hooks.screenshot = file;
    }
    if (const char* keys = std::getenv("DUOSCOPE_KEYS")) {
        std::string why;
        if (!SetKeyScript(keys, &why)) {
            *error = "DUOSCOPE_KEYS: " + why;
            return false;
        }
    }
    if (const char* step = std::getenv("DUOSCOPE_FIXED_STEP")) {
        int64_t value = 0;
        if (!ParseWhole(step, 1, 60000, &value)) {
            *error = std::string("DUOSCOPE_FIXED_STEP must be a whole number of milliseconds "
                                 "from 1 to 60000, not '") +
                     step + "'";
            return false;
        }
        hooks.fixedStep = uint32_t(value);
    }
    if (const char* seed = std::getenv("DUOSCOPE_SEED")) {
        int64_t value = 0;
        if (!ParseWhole(seed, 0, UINT32_MAX, &value)) {
            *error = std::string("DUOSCOPE_SEED must be a whole number from 0 to 4294967295, "
                                 "not '") +
                     seed + "'";
            return false;
        }
        hooks.seeded = true;
        hooks.seed = unsigned(value);
    }
    if (const char* port = std::getenv("DUOSCOPE_SERVER_PORT")) {
        int64_t value = 0;
        if (!ParseWhole(port, 1, 65535, &value)) {
            *error = std::string("DUOSCOPE_SERVER_PORT must be a port number from 1 to 65535, "
                                 "not '") +
                     port + "'";
            return false;
        }
        hooks.serverPort = int(value);
    }
    return true;
}

bool WriteScreenshot(const char* fileName) {
    if (!g_pDevice) return false;
    std::vector<uint8_t> rgba;
    if (!g_pDevice->ReadBackBuffer(rgba)) return false;
    const int w = g_pDevice->BackBufferWidth(), h = g_pDevice->BackBufferHeight();
    return WritePngFile(fileName, w, h, rgba);
}
