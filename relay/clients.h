// One connected client: its unfinished input frame, its backlog of output, and what the relay
// knows of it. Memory follows traffic: a client standing still holds a few hundred bytes and
// an output buffer of at most kOutputKept; a large frame and a backlog take room only while
// they last.
#pragma once

#include "net/wire.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace relay {

struct Room;

// Input held inline: a position (48 bytes) or a goodbye (28) and the start of the next one.
inline constexpr std::size_t kSmallInput = 64;
// Output room kept once drained; a larger backlog's room is given back when it drains.
inline constexpr std::size_t kOutputKept = 1024;
inline constexpr std::size_t kPositionSize = wire::kHeaderSize + wire::kPositionBodyLength;

struct QueuedPosition {
    std::int32_t sender;
    std::size_t at; // offset of its 48 bytes in the output, not yet begun to be sent
};

struct Client {
    int fd = -1;
    std::int32_t id = 0;
    std::uint32_t address = 0; // IPv4, network order
    char peer[24] = {};        // "a.b.c.d:port"
    Room* room = nullptr;

    // The unfinished frame: in small while it fits, else in big (one largest frame).
    std::uint8_t small[kSmallInput];
    std::unique_ptr<std::uint8_t[]> big;
    std::size_t inUsed = 0;
    std::int64_t frameBegun = 0; // ms, when its first byte came

    // Output: [outStart, outEnd) unsent, in out (outCap bytes, or none).
    std::unique_ptr<std::uint8_t[]> out;
    std::size_t outCap = 0, outStart = 0, outEnd = 0;
    std::vector<QueuedPosition> queued; // at most one per sender

    std::uint8_t lastPosition[kPositionSize]; // the last it sent, for newcomers to its room
    bool hasLastPosition = false;
    double tokens = 0; // messages it may send now
    std::int64_t tokensAt = 0;
    long notFinite = 0; // positions not forwarded
    char dropReason[80] = {};
};

// Appends a frame from sender to c's output. A position replaces the one from the same sender
// still waiting whole, so a slow reader gets the latest places; any other frame keeps its
// order, and a position after it goes after it. False when the output other than those
// positions would pass cap bytes.
bool queueFrame(Client& c, const std::uint8_t* frame, std::size_t size, std::int32_t sender,
                bool position, std::size_t cap);

// Sends as much output as the socket takes. False when the connection failed.
bool flushOutput(Client& c);

inline bool hasOutput(const Client& c) {
    return c.outStart < c.outEnd;
}

} // namespace relay
