#include "core/settings.h"
#include "app/shell.h"

#include <cstdlib>
#include <cstring>
#include <vector>

void ParseCommandLine(const char* commandLine) {
    if (!commandLine) return;
    // strtok writes into its text, so work on a copy.
    std::vector<char> text(commandLine, commandLine + std::strlen(commandLine) + 1);
    char* token = std::strtok(text.data(), " ");
    while (token) {
        int32_t* target = nullptr;
        if (std::strcmp(token, "rx") == 0) target = &g_nScreenWidth;
        if (std::strcmp(token, "ry") == 0) target = &g_nScreenHeight;
        if (target) {
            // The value token is consumed and never examined as an option. An option that is
            // the last token has no value and changes nothing.
            char* value = std::strtok(nullptr, " ");
            if (!value) break;
            *target = std::atoi(value);
        }
        token = std::strtok(nullptr, " ");
    }
}

void StartFrameRate(FrameRateCounter& counter, uint32_t now) {
    counter.frames = 0;
    counter.startTick = now;
}

void CountFrame(FrameRateCounter& counter, uint32_t now) {
    if (++counter.frames < 100) return;
    const uint32_t elapsed = now - counter.startTick; // wrap-around is harmless
    g_fFrameRate = 100.0f / (float(elapsed) * 0.001f);
    counter.frames = 0;
    counter.startTick = now;
}
