#include "frames.h"

namespace relay {

void writeIdAssignment(std::uint8_t* out, std::int32_t id) {
    putWord(out, kIdMarker);
    putWord(out + 4, id);
    putWord(out + 8, 0);
}

void writeGoodbye(std::uint8_t* out) {
    putWord(out, kFrameMarker);
    putWord(out + 4, 0); // the client's channel to the relay
    putWord(out + 8, 0); // source 0: the relay itself
    putWord(out + 12, kMinBody);
    putWord(out + 16, kGoodbyeType);
    putWord(out + 20, 0); // the channel being closed
    putWord(out + 24, 0); // the sender: the relay
}

long frameAt(const std::uint8_t* data, std::size_t length) {
    if (length >= 4 && getWord(data) != kFrameMarker) return -1;
    if (length < kHeaderSize) return 0;
    const std::int32_t body = getWord(data + 12);
    if (body < kMinBody || body > kMaxBody) return -1;
    const std::size_t size = kHeaderSize + std::size_t(body);
    return length >= size ? long(size) : 0;
}

} // namespace relay
