// The relay's log on stderr, one line per event, held to a rate per kind of line so that an
// attack (a connection storm, a crowd of forgers) cannot fill the disk: each kind has 20 lines
// in hand and earns one a second; the lines held back are counted and the count said once the
// kind may speak again. The stats line, asked for, is never held back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace relay {

enum class LogKind { Connect, Refusal, Drop, Room, Position, Count };

// Why a client was dropped, as the stats line counts it (None: it left, or its socket failed).
enum class DropKind { None, Forged, Rate, Backlog, Timeout, Count };

// Counts since the last stats line.
struct Stats {
    std::uint64_t framesIn = 0, forwarded = 0, bytesIn = 0, bytesOut = 0, refused = 0;
    std::uint64_t drops[int(DropKind::Count)] = {};
    std::int64_t since = 0; // ms
};

// Milliseconds on the monotonic clock.
std::int64_t nowMs();

void logLine(LogKind kind, std::int64_t now, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Says how many lines of each kind were held back, for the kinds that may speak again; the
// milliseconds until the next kind with held-back lines may, or -1 when none has any.
int logHeldBack(std::int64_t now);

// The stats line, never held back: the counts since the last one, their time and their rates;
// then counts anew from now.
void logStats(Stats& s, std::size_t clients, std::size_t rooms, std::int64_t now);

} // namespace relay
