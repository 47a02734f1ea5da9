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

// What the cap on connections per address counts by: an IPv4 address, as its IPv4-mapped IPv6
// form, or an IPv6 /64 prefix with the low half zero. One host owns a whole /64, so a client
// cannot pass the cap by taking one address of its /64 after another. The two never meet: a
// mapped address has a nonzero low half, a /64 key a zero one.
struct AddressKey {
    std::uint64_t high = 0, low = 0;
    bool operator==(const AddressKey&) const = default;
};
struct AddressKeyHash {
    std::size_t operator()(const AddressKey& k) const {
        return std::size_t(k.high * 0x9E3779B97F4A7C15ull ^ k.low);
    }
};

struct Client {
    int fd = -1;
    std::int32_t id = 0;
    AddressKey address;
    char peer[48] = {}; // "a.b.c.d:port" or "[v6]:port"
    Room* room = nullptr;
    std::size_t index = 0; // in the relay's list of clients

    // The clients with a begun frame, oldest first, so the next deadline is at the front.
    Client* olderBegun = nullptr;
    Client* newerBegun = nullptr;
    bool begun = false;
    bool toFlush = false;  // in this turn's list of clients to send to
    bool waitsOut = false; // the socket's buffer filled: watched for writable

    // The unfinished frame: in small while it fits, else in big (one largest frame).
    std::uint8_t small[kSmallInput];
    std::unique_ptr<std::uint8_t[]> big;
    std::size_t inUsed = 0;
    std::int64_t frameBegun = 0; // ms, when its first byte came

    // Output: [outStart, outEnd) unsent, in out (outCap bytes, or none).
    std::unique_ptr<std::uint8_t[]> out;
    std::size_t outCap = 0, outStart = 0, outEnd = 0;
    std::vector<QueuedPosition> queued; // at most one per sender, in sender order

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

// Sends as much output as the socket takes, adding the bytes sent to sent. False when the
// connection failed.
bool flushOutput(Client& c, std::uint64_t& sent);

inline bool hasOutput(const Client& c) {
    return c.outStart < c.outEnd;
}

} // namespace relay
