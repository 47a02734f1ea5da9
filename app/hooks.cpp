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

static bool ParseWhole(const char* text, int64_t min, int64_t max, int64_t* out) {
    const std::string_view s(text);
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
    return ec == std::errc() && end == s.data() + s.size() && *out >= min && *out <= max;
}

bool ReadAutomationHooks(AutomationHooks& hooks, std::string* error) {
    hooks = AutomationHooks{};
    s_processEntry = std::chrono::steady_clock::now();
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
    if (const char* trace = std::getenv("DUOSCOPE_STARTUP_TRACE")) {
        if (std::string_view(trace) != "0" && std::string_view(trace) != "1") {
            *error = std::string("DUOSCOPE_STARTUP_TRACE must be 0 or 1, not '") + trace + "'";
            return false;
        }
        hooks.traceStartup = *trace == '1';
    }
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
