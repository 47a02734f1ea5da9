#include "frames.h"

namespace relay {

long frameAt(const std::uint8_t* data, std::size_t length) {
    if (length >= 4 && wire::readWord(data) != wire::kMarkerHeader) return -1;
    wire::Header h;
    if (!wire::readHeader(data, length, h)) return 0;
    if (h.bodyLength < wire::kMinBodyLength || h.bodyLength > wire::kMaxBodyLength) return -1;
    const std::size_t size = wire::kHeaderSize + std::size_t(h.bodyLength);
    return length >= size ? long(size) : 0;
}

} // namespace relay
