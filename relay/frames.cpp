#include "frames.h"

#include <cmath>
#include <cstdio>

namespace relay {

long frameAt(const std::uint8_t* data, std::size_t length) {
    if (length >= 4 && wire::readWord(data) != wire::kMarkerHeader) return -1;
    wire::Header h;
    if (!wire::readHeader(data, length, h)) return 0;
    if (h.bodyLength < wire::kMinBodyLength || h.bodyLength > wire::kMaxBodyLength) return -1;
    const std::size_t size = wire::kHeaderSize + std::size_t(h.bodyLength);
    return length >= size ? long(size) : 0;
}

Verdict checkFrame(const std::uint8_t* frame, std::size_t size, std::int32_t sender, char* why,
                   std::size_t whySize) {
    wire::Header h;
    if (!wire::readHeader(frame, size, h) || size < std::size_t(wire::kHeaderSize) + 12) {
        std::snprintf(why, whySize, "broken framing");
        return Verdict::Forged;
    }
    const std::uint8_t* body = frame + wire::kHeaderSize;
    const std::int32_t type = wire::readWord(body + wire::kBodyTypeAt);
    const std::int32_t source = wire::readWord(body + wire::kBodySourceAt);
    wire::Position p{};
    if (h.source != sender)
        std::snprintf(why, whySize, "header source %d is not its id", int(h.source));
    else if (type == wire::kMarkerHeader)
        std::snprintf(why, whySize, "body starting with -1");
    else if (source != sender)
        std::snprintf(why, whySize, "%s source %d is not its id",
                      type == wire::kTypeGoodbye ? "goodbye" : "body", int(source));
    else if (type != wire::kTypePosition || !wire::readPosition(body, size - wire::kHeaderSize, p))
        return Verdict::Forward;
    else if (p.senderId != sender)
        std::snprintf(why, whySize, "position sender %d is not its id", int(p.senderId));
    else
        return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) &&
                       std::isfinite(p.yaw)
                   ? Verdict::Forward
                   : Verdict::NotFinite;
    return Verdict::Forged;
}

} // namespace relay
