// The relay's frame splitter: bytes in, complete framed messages out, or a framing error. Pure
// code with no sockets, so it can be fuzzed on its own; the layout it knows is net/wire.h's.
#pragma once

#include "net/wire.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace relay {

// Looks at the bytes at the front of a stream: the size of the complete frame they start
// with, 0 when more bytes are needed, -1 when the framing is broken. A wrong marker is seen
// as soon as its 4 bytes are there, a bad length as soon as the header is complete.
long frameAt(const std::uint8_t* data, std::size_t length);

// One client's input: room for exactly one frame of the largest size, so a valid stream
// always makes progress and nothing is allocated after construction.
struct FrameBuffer {
    std::uint8_t data[wire::kMaxFrameSize];
    std::size_t used = 0;

    std::uint8_t* freeSpace() { return data + used; }
    std::size_t freeSize() const { return wire::kMaxFrameSize - used; }
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
