// The relay's log on stderr, one line per event, held to a rate per kind of line so that an
// attack (a connection storm, a crowd of forgers) cannot fill the disk: each kind has 20 lines
// in hand and earns one a second; the lines held back are counted and the count said once the
// kind may speak again.
#pragma once

#include <cstdint>

namespace relay {

enum class LogKind { Connect, Refusal, Drop, Room, Position, Count };

// Milliseconds on the monotonic clock.
std::int64_t nowMs();

void logLine(LogKind kind, std::int64_t now, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Says how many lines of each kind were held back, for the kinds that may speak again; the
// milliseconds until the next kind with held-back lines may, or -1 when none has any.
int logHeldBack(std::int64_t now);

} // namespace relay
