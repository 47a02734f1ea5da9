// The relay's frame splitter and the checks on each frame: bytes in, complete framed messages
// out, or a framing error; then what to do with each one. Pure code with no sockets, so it can
// be fuzzed on its own; the layout it knows is net/wire.h's.
#pragma once

#include "net/wire.h"

#include <cstddef>
#include <cstdint>

namespace relay {

// Looks at the bytes at the front of a stream: the size of the complete frame they start
// with, 0 when more bytes are needed, -1 when the framing is broken. A wrong marker is seen
// as soon as its 4 bytes are there, a bad length as soon as the header is complete.
long frameAt(const std::uint8_t* data, std::size_t length);

// Hands every complete frame at the front of data[0, length) to onFrame(bytes, size), in
// order, for as long as onFrame returns true; consumed says how many bytes were handed out.
// Returns false on a framing error; the frames before the error were handed out all the same.
template <class OnFrame>
bool splitFrames(const std::uint8_t* data, std::size_t length, std::size_t& consumed,
                 OnFrame&& onFrame) {
    consumed = 0;
    for (;;) {
        const long size = frameAt(data + consumed, length - consumed);
        if (size <= 0) return size == 0;
        consumed += std::size_t(size);
        if (!onFrame(data + consumed - std::size_t(size), std::size_t(size))) return true;
    }
}

enum class Verdict {
    Forward,
    NotFinite, // a position off every map: not forwarded, the sender stays
    Forged,    // the sender goes; why says what it did
};

// What the relay does with a complete frame (as frameAt found it) from the client with id
// sender. An honest viewer writes its own id in the header, the body and a position's sender
// id, and never starts a body with -1, which a viewer would read as a header.
Verdict checkFrame(const std::uint8_t* frame, std::size_t size, std::int32_t sender, char* why,
                   std::size_t whySize);

// A position message, header and 32-byte body: the kind a receiver keeps only the latest of.
inline bool isPosition(const std::uint8_t* frame, std::size_t size) {
    return size == std::size_t(wire::kHeaderSize + wire::kPositionBodyLength) &&
           wire::readWord(frame + wire::kHeaderSize + wire::kBodyTypeAt) == wire::kTypePosition;
}

} // namespace relay
