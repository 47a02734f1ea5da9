#include "log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <time.h>

namespace relay {

namespace {

constexpr double kLinesInHand = 20;
constexpr double kLinesPerMs = 1.0 / 1000;
const char* const kKindNames[] = {"connect", "refusal", "drop", "room", "position"};

struct Allowance {
    double lines = kLinesInHand;
    std::int64_t at = 0;
    long heldBack = 0;
};
Allowance s_allowance[int(LogKind::Count)];

// Takes a line from the kind's allowance; false when it has none.
bool take(Allowance& a, std::int64_t now) {
    a.lines = std::min(kLinesInHand, a.lines + double(now - a.at) * kLinesPerMs);
    a.at = now;
    if (a.lines < 1) return false;
    a.lines -= 1;
    return true;
}

} // namespace

std::int64_t nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void logLine(LogKind kind, std::int64_t now, const char* format, ...) {
    Allowance& a = s_allowance[int(kind)];
    if (!take(a, now)) {
        ++a.heldBack;
        return;
    }
    // One write per line, so lines never interleave with another writer's.
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::fprintf(stderr, "duoscope-relay: %s\n", line);
}

int logHeldBack(std::int64_t now) {
    int wait = -1;
    for (int k = 0; k < int(LogKind::Count); ++k) {
        Allowance& a = s_allowance[k];
        if (a.heldBack == 0) continue;
        if (take(a, now)) {
            std::fprintf(stderr, "duoscope-relay: %ld %s lines held back\n", a.heldBack,
                         kKindNames[k]);
            a.heldBack = 0;
            continue;
        }
        const int ms = int((1 - a.lines) / kLinesPerMs) + 1;
        wait = wait < 0 ? ms : std::min(wait, ms);
    }
    return wait;
}

void logStats(Stats& s, std::size_t clients, std::size_t rooms, std::int64_t now) {
    const double seconds = double(std::max<std::int64_t>(1, now - s.since)) / 1000;
    const auto n = [](std::uint64_t v) { return static_cast<unsigned long long>(v); };
    const auto* d = s.drops;
    std::fprintf(stderr,
                 "duoscope-relay: stats: %zu clients, %zu rooms, %llu frames in, %llu forwarded, "
                 "%llu B in, %llu B out in %.1f s (%.1f frames/s in, %.1f forwarded/s, %.0f B/s "
                 "in, %.0f B/s out), dropped: %llu forged, %llu rate, %llu backlog, %llu "
                 "timeout, %llu caps\n",
                 clients, rooms, n(s.framesIn), n(s.forwarded), n(s.bytesIn), n(s.bytesOut),
                 seconds, double(s.framesIn) / seconds, double(s.forwarded) / seconds,
                 double(s.bytesIn) / seconds, double(s.bytesOut) / seconds,
                 n(d[int(DropKind::Forged)]), n(d[int(DropKind::Rate)]),
                 n(d[int(DropKind::Backlog)]), n(d[int(DropKind::Timeout)]), n(s.refused));
    s = Stats{};
    s.since = now;
}

} // namespace relay
