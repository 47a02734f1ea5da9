// The relay's wire words and its frame splitter: bytes in, complete framed messages out, or a
// framing error. Pure code with no sockets, so it can be fuzzed on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace relay {

// Every word on the wire is a signed 32-bit integer, most significant byte first.
inline constexpr std::size_t kHeaderSize = 16;       // marker, destination, source, body length
inline constexpr std::size_t kIdAssignmentSize = 12; // -2, id, 0
inline constexpr std::size_t kGoodbyeSize = 28;      // header announcing 12, then -4, channel, 0
inline constexpr std::int32_t kMinBody = 12;         // a body starts with three words
inline constexpr std::int32_t kMaxBody = 10240;      // what a client's receive slot holds
inline constexpr std::size_t kMaxFrame = kHeaderSize + kMaxBody;
inline constexpr std::int32_t kFrameMarker = -1;
inline constexpr std::int32_t kIdMarker = -2;
inline constexpr std::int32_t kGoodbyeType = -4;

inline std::int32_t getWord(const std::uint8_t* p) {
    const std::uint32_t v = std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 |
                            std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
    return static_cast<std::int32_t>(v);
}

inline void putWord(std::uint8_t* p, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

// The first 12 bytes a client reads after connecting.
void writeIdAssignment(std::uint8_t* out, std::int32_t id);
// A goodbye from the relay (source 0) closing the client's channel 0: 28 bytes.
void writeGoodbye(std::uint8_t* out);

// Looks at the bytes at the front of a stream: the size of the complete frame they start
// with, 0 when more bytes are needed, -1 when the framing is broken. A wrong marker is seen
// as soon as its 4 bytes are there, a bad length as soon as the header is complete.
long frameAt(const std::uint8_t* data, std::size_t length);

// One client's input: room for exactly one frame of the largest size, so a valid stream
// always makes progress and nothing is allocated after construction.
struct FrameBuffer {
    std::uint8_t data[kMaxFrame];
    std::size_t used = 0;

    std::uint8_t* freeSpace() { return data + used; }
    std::size_t freeSize() const { return kMaxFrame - used; }
};

// Hands every complete frame at the front of buf to onFrame(bytes, size), in order, then
// moves the rest to the front. Returns false on a framing error; the frames before the error
// were handed out all the same.
template <class OnFrame> bool splitFrames(FrameBuffer& buf, OnFrame&& onFrame) {
    std::size_t offset = 0;
    bool ok = true;
    for (;;) {
        const long size = frameAt(buf.data + offset, buf.used - offset);
        if (size < 0) {
            ok = false;
            break;
        }
        if (size == 0) break;
        onFrame(static_cast<const std::uint8_t*>(buf.data + offset), std::size_t(size));
        offset += std::size_t(size);
    }
    if (offset > 0) {
        std::memmove(buf.data, buf.data + offset, buf.used - offset);
        buf.used -= offset;
    }
    return ok;
}

} // namespace relay
