// The wire layout, shared by the viewer's network session and duoscope-relay so that each
// marker, size and field offset is spelled once. Header-only, standard library only: the relay
// includes it without linking anything of the viewer.
//
// Every word is a signed 32-bit integer, most significant byte first (big-endian), except the
// position payload, which the viewer lays out little-endian.
//
//   id assignment, 12 bytes: -2, id, unused (0)             the first record a client reads
//   header, 16 bytes:        -1, destination, source, body length
//   body, 12..10240 bytes:   type, destination, source, then the type's payload
//   position body, 32 bytes: 500, destination, source, then little-endian sender id (int32)
//                            at 12 and x, y, z, yaw (float) at 16, 20, 24, 28
//   goodbye body, 12 bytes:  -4, the channel being closed, the sender
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace wire {

inline constexpr std::int32_t kMarkerHeader = -1;
inline constexpr std::int32_t kMarkerIdAssignment = -2;

inline constexpr int kIdAssignmentSize = 12;
inline constexpr int kIdAssignmentIdAt = 4;

inline constexpr int kHeaderSize = 16;
inline constexpr int kHeaderDestinationAt = 4;
inline constexpr int kHeaderSourceAt = 8;
inline constexpr int kHeaderBodyLengthAt = 12;

// A body holds at least its three words and at most what a receive slot of the session holds.
inline constexpr std::int32_t kMinBodyLength = 12;
inline constexpr std::int32_t kMaxBodyLength = 10240;
inline constexpr int kMaxFrameSize = kHeaderSize + kMaxBodyLength;

inline constexpr int kBodyTypeAt = 0;
inline constexpr int kBodyDestinationAt = 4;
inline constexpr int kBodySourceAt = 8;

inline constexpr std::int32_t kTypePosition = 500;
inline constexpr std::int32_t kTypeGoodbye = -4;

inline constexpr int kPositionSenderIdAt = 12;
inline constexpr int kPositionXAt = 16;
inline constexpr int kPositionYAt = 20;
inline constexpr int kPositionZAt = 24;
inline constexpr int kPositionYawAt = 28;
inline constexpr int kPositionBodyLength = 32;

inline constexpr int kGoodbyeBodyLength = kMinBodyLength;
inline constexpr int kGoodbyeFrameSize = kHeaderSize + kGoodbyeBodyLength;

// The raw word accessors: the caller has checked that 4 bytes are there.
inline std::int32_t readWord(const std::uint8_t* p) {
    return std::int32_t(std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 |
                        std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]));
}
inline void writeWord(std::uint8_t* p, std::int32_t value) {
    const auto v = std::uint32_t(value);
    p[0] = std::uint8_t(v >> 24), p[1] = std::uint8_t(v >> 16), p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}
inline std::uint32_t readLittle(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
inline void writeLittle(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v), p[1] = std::uint8_t(v >> 8), p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

struct Header {
    std::int32_t marker, destination, source, bodyLength;
};

// The words of the header at the front of bytes; false when fewer than 16 bytes are there.
inline bool readHeader(const std::uint8_t* bytes, std::size_t length, Header& out) {
    if (length < std::size_t(kHeaderSize)) return false;
    out = {readWord(bytes), readWord(bytes + kHeaderDestinationAt),
           readWord(bytes + kHeaderSourceAt), readWord(bytes + kHeaderBodyLengthAt)};
    return true;
}

struct Position {
    std::int32_t senderId;
    float x, y, z, yaw;
};

// The payload of a position body as it lies on the wire, whatever the type word says (the
// session hands bodies over with the three words already in host order); false when the body
// is too short to hold one.
inline bool readPosition(const std::uint8_t* body, std::size_t length, Position& out) {
    if (length < std::size_t(kPositionBodyLength)) return false;
    out = {std::int32_t(readLittle(body + kPositionSenderIdAt)),
           std::bit_cast<float>(readLittle(body + kPositionXAt)),
           std::bit_cast<float>(readLittle(body + kPositionYAt)),
           std::bit_cast<float>(readLittle(body + kPositionZAt)),
           std::bit_cast<float>(readLittle(body + kPositionYawAt))};
    return true;
}

// Writes the payload of a position body (bytes 12 to 31); the three words are the sender's.
inline void writePosition(std::uint8_t* body, const Position& p) {
    writeLittle(body + kPositionSenderIdAt, std::uint32_t(p.senderId));
    writeLittle(body + kPositionXAt, std::bit_cast<std::uint32_t>(p.x));
    writeLittle(body + kPositionYAt, std::bit_cast<std::uint32_t>(p.y));
    writeLittle(body + kPositionZAt, std::bit_cast<std::uint32_t>(p.z));
    writeLittle(body + kPositionYawAt, std::bit_cast<std::uint32_t>(p.yaw));
}

// 16 bytes.
inline void writeHeader(std::uint8_t* out, std::int32_t destination, std::int32_t source,
                        std::int32_t bodyLength) {
    writeWord(out, kMarkerHeader);
    writeWord(out + kHeaderDestinationAt, destination);
    writeWord(out + kHeaderSourceAt, source);
    writeWord(out + kHeaderBodyLengthAt, bodyLength);
}

// The three words every body starts with: 12 bytes.
inline void writeBodyWords(std::uint8_t* body, std::int32_t type, std::int32_t destination,
                           std::int32_t source) {
    writeWord(body + kBodyTypeAt, type);
    writeWord(body + kBodyDestinationAt, destination);
    writeWord(body + kBodySourceAt, source);
}

// 12 bytes.
inline void writeIdAssignment(std::uint8_t* out, std::int32_t id) {
    writeWord(out, kMarkerIdAssignment);
    writeWord(out + kIdAssignmentIdAt, id);
    writeWord(out + 8, 0); // unused
}

// A goodbye closing channel from source, header and body: 28 bytes. The relay's own goodbye
// closes channel 0 from source 0.
inline void writeGoodbye(std::uint8_t* out, std::int32_t channel, std::int32_t source) {
    writeHeader(out, channel, source, kGoodbyeBodyLength);
    writeBodyWords(out + kHeaderSize, kTypeGoodbye, channel, source);
}

} // namespace wire
