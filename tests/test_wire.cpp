// The wire layout pinned with literal bytes: a header for a 32-byte body from 258 to channel 0,
// then a position body (three words left to the sender; id 258, x 1.5, y -2, z 0.25, yaw 90).
#include "net/wire.h"
#include "support/net_script.h"

#include <gtest/gtest.h>

TEST(Wire, EncodersAndReadersFollowTheLayout) {
    Bytes b(48);
    wire::writeHeader(b.data(), 0, 258, 32);
    wire::writePosition(b.data() + 16, {258, 1.5f, -2.0f, 0.25f, 90.0f});
    EXPECT_EQ(b, Concat({{0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0, 0, 0, 1, 2, 0, 0, 0, 32},
                         Bytes(12),
                         {2, 1, 0, 0, 0, 0, 0xc0, 0x3f, 0, 0, 0, 0xc0},
                         {0, 0, 0x80, 0x3e, 0, 0, 0xb4, 0x42}}));
    wire::Header h;
    wire::Position p;
    ASSERT_TRUE(wire::readHeader(b.data(), 16, h) && wire::readPosition(b.data() + 16, 32, p));
    EXPECT_TRUE(h.marker == -1 && h.destination == 0 && h.source == 258 && h.bodyLength == 32);
    EXPECT_TRUE(p.senderId == 258 && p.x == 1.5f && p.y == -2.0f && p.z == 0.25f && p.yaw == 90.0f);
    EXPECT_FALSE(wire::readHeader(b.data(), 15, h) || wire::readPosition(b.data() + 16, 31, p));
}
