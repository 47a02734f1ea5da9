#include "core/settings.h"
#include "app/shell.h"
#include "platform/win/input.h"

#include "platform/gfx/png_writer.h"

#include <chrono>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

AutomationHooks g_Hooks;
static std::chrono::steady_clock::time_point s_processEntry;

// A whole-number hook in [min, max]. Unset: true, and given stays false. Malformed or out of
// range: false, with "NAME must be WHAT, not 'TEXT'" in error.
static bool ReadWholeHook(const char* name, int64_t min, int64_t max, const char* what, bool* given,
                          int64_t* value, std::string* error) {
    const char* text = std::getenv(name);
    *given = text != nullptr;
    if (!text) return true;
    const std::string_view s(text);
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *value);
    if (ec == std::errc() && end == s.data() + s.size() && *value >= min && *value <= max)
        return true;
    *error = std::string(name) + " must be " + what + ", not '" + text + "'";
    return false;
}

bool ReadAutomationHooks(AutomationHooks& hooks, std::string* error) {
    hooks = AutomationHooks{};
    s_processEntry = std::chrono::steady_clock::now();
    bool given = false;
    int64_t value = 0;
    if (!ReadWholeHook("DUOSCOPE_FRAMES", 1, INT64_MAX, "a whole number above 0", &given,
                       &hooks.frames, error))
        return false;
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
    if (!ReadWholeHook("DUOSCOPE_FIXED_STEP", 1, 60000,
                       "a whole number of milliseconds from 1 to 60000", &given, &value, error))
        return false;
    if (given) hooks.fixedStep = uint32_t(value);
    if (!ReadWholeHook("DUOSCOPE_SEED", 0, UINT32_MAX, "a whole number from 0 to 4294967295",
                       &given, &value, error))
        return false;
    if (given) hooks.seeded = true, hooks.seed = unsigned(value);
    if (!ReadWholeHook("DUOSCOPE_SERVER_PORT", 1, 65535, "a port number from 1 to 65535", &given,
                       &value, error))
        return false;
    if (given) hooks.serverPort = int(value);
    if (!ReadWholeHook("DUOSCOPE_STARTUP_TRACE", 0, 1, "0 or 1", &given, &value, error))
        return false;
    hooks.traceStartup = given && value == 1;
    return true;
}

void TraceStartup(const char* phase) {
    if (!g_Hooks.traceStartup) return;
    const std::chrono::duration<double, std::milli> t =
        std::chrono::steady_clock::now() - s_processEntry;
    std::fprintf(stderr, "duoscope: startup %s %.1f ms\n", phase, t.count());
}

bool WriteScreenshot(const char* fileName) {
    if (!g_pDevice) return false;
    std::vector<uint8_t> rgba;
    if (!g_pDevice->ReadBackBuffer(rgba)) return false;
    const int w = g_pDevice->BackBufferWidth(), h = g_pDevice->BackBufferHeight();
    return WritePngFile(fileName, w, h, rgba);
}
