// The session against a scripted server on loopback: handshake, bounds, framing, goodbye,
// broken and hostile streams, sends and the close.
#include "net/net.h"
#include "support/net_script.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using std::chrono::steady_clock;
std::mutex g_lock;
std::vector<Bytes> g_bodies; // the first 32 bytes of every body handed to the callback

void Record(uint8_t* body) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_bodies.emplace_back(body, body + 32);
}

size_t Recorded() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_bodies.size();
}

Bytes Id(int32_t id) {
    return Words({-2, id, 0});
}

// Header and a 32-byte type-500 body: three big-endian words, then bytes 12..31 as laid out.
Bytes Position() {
    Bytes body = Words({-1, 0, 3, 32, 500, 0, 3});
    for (int i = 12; i < 32; ++i) body.push_back(uint8_t(i));
    return body;
}

struct NetSessionTest : ::testing::Test {
    NetSession s;
    ScriptedServer server;
    void SetUp() override { s.setCallback(Record, nullptr); }
    int Open(int port = 0) { return s.open("127.0.0.1", port ? port : server.port, 0); }
};

// Ids of 0, negative or under a wrong marker are skipped; the first valid one, arriving byte
// by byte, is ours. sendMessage writes header and body; closeAll says goodbye, then resets.
TEST_F(NetSessionTest, HandshakeSendMessageAndCloseAll) {
    Bytes got;
    short after = 0;
    server.Run([&](int fd) {
        SendAll(fd, Concat({Id(0), Id(-5), Words({-3, 9, 0})}));
        for (uint8_t b : Id(7)) SendAll(fd, Bytes{b});
        got = ReadBytes(fd, 48 + 28);
        ReadBytes(fd, 1); // the end of the stream; a reset hangs the socket up, a close would not
        WaitFor([&] {
            pollfd p = {fd, POLLOUT, 0};
            return poll(&p, 1, 0) >= 0 && ((after = p.revents) & POLLHUP) != 0;
        });
    });
    ASSERT_EQ(Open(), 0);
    EXPECT_EQ(s.ownId, 7);
    EXPECT_TRUE(s.connected);
    EXPECT_EQ(s.open("127.0.0.1", server.port, 2), -2);
    uint8_t body[32];
    for (int i = 0; i < 32; ++i) body[i] = uint8_t(100 + i);
    EXPECT_EQ(s.sendMessage(0, body, 500, 32, 1), 32);
    s.closeAll();
    server.Join();
    ASSERT_EQ(got.size(), 76u);
    const std::vector<int32_t> words = {-1, 0, 7, 32, 500, 0, 7, -1, 0, 7, 12, -4, 0, 7};
    for (size_t i = 0; i < words.size(); ++i)
        EXPECT_EQ(WordAt(got, i < 7 ? i * 4 : 48 + (i - 7) * 4), words[i]) << i;
    EXPECT_EQ(Bytes(got.begin() + 28, got.begin() + 48), Bytes(body + 12, body + 32));
    EXPECT_TRUE(after & POLLHUP);
    EXPECT_FALSE(s.connected);
    EXPECT_FALSE(s.channels[0].threadRunning);
    EXPECT_EQ(s.channels[0].socketHandle, -1);
    EXPECT_EQ(s.sendTo(-1, body, 5), 5); // everyone: the length asked for, whatever went out
}

// A server that never sends an id, and one whose full queue of pending connections drops the
// connect like an address that never answers: each fails after its bound of 3 s.
TEST_F(NetSessionTest, SilentServerAndDeadAddressFailWithinTheBound) {
    server.Run([](int fd) { ReadBytes(fd, 1, 8000); });
    ScriptedServer full;
    std::vector<int> pending;
    for (int i = 0; i < 4; ++i) pending.push_back(Connect(full.port));
    for (int port : {server.port, full.port}) {
        const auto start = steady_clock::now();
        EXPECT_EQ(Open(port), -1);
        EXPECT_GT(steady_clock::now() - start, std::chrono::milliseconds(2900)) << port;
        EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(6));
        EXPECT_FALSE(s.connected || s.channels[0].threadStarted);
        EXPECT_EQ(s.channels[0].socketHandle, -1); // released
    }
    for (int fd : pending) close(fd);
}

// Two messages, one of another type, then a goodbye from source 0: in one segment and byte
// by byte. The channel closes and the client closes without a word.
TEST_F(NetSessionTest, MessagesAndGoodbyeInOneSegmentAndByteByByte) {
    for (bool split : {false, true}) {
        NetSession t;
        t.setCallback(Record, nullptr);
        ScriptedServer srv;
        Bytes after, position = Position();
        srv.Run([&](int fd) {
            Bytes all = Concat({Id(4), position, Words({-1, 0, 3, 16, 777, 0, 3, -9}),
                                Words({-1, 0, 0, 12, -4, 0, 0})});
            for (size_t i = 0; split && i < all.size(); ++i) SendAll(fd, Bytes{all[i]});
            if (!split) SendAll(fd, all);
            after = ReadBytes(fd, 16, 3000);
        });
        const size_t before = Recorded();
        ASSERT_EQ(t.open("127.0.0.1", srv.port, 0), 0);
        ASSERT_TRUE(WaitFor([&] { return !t.channels[0].threadRunning; })) << split;
        EXPECT_EQ(t.ownId, -2);
        EXPECT_FALSE(t.connected || t.channels[0].isOpen);
        srv.Join();
        EXPECT_TRUE(after.empty());
        uint8_t body[32] = {};
        EXPECT_LT(t.sendMessage(0, body, 500, 32, 1), 0); // fails quietly
        std::lock_guard<std::mutex> lock(g_lock);
        ASSERT_EQ(g_bodies.size(), before + 2);
        int32_t w[6];
        std::memcpy(w, g_bodies[before].data(), 12); // host order
        std::memcpy(w + 3, g_bodies[before + 1].data(), 12);
        EXPECT_EQ(std::vector<int32_t>(w, w + 6), (std::vector<int32_t>{500, 0, 3, 777, 0, 3}));
        EXPECT_EQ(Bytes(g_bodies[before].begin() + 12, g_bodies[before].end()),
                  Bytes(position.begin() + 28, position.end()));
        EXPECT_EQ(WordAt(g_bodies[before + 1], 12), -9); // as sent
    }
}

// Bad body lengths, a peer closing in the middle of a piece, garbage: the channel closes as
// if the connection were lost, the thread ends, and the server sees the close.
TEST_F(NetSessionTest, BrokenStreamsCloseTheChannel) {
    for (const Bytes& stream :
         {Words({-1, 0, 3, 11}), Words({-1, 0, 3, 10241}), Words({-1, 0, 3, 0x7fffffff}),
          Words({-1, 0, 3, 0}), Words({-1, 0, 3, -16}), Words({-1, 0}),
          Words({-1, 0, 3, 32, 500, 0}), Bytes(333, 0xA5)}) {
        SCOPED_TRACE(WordAt(stream, 12));
        NetSession t;
        ScriptedServer srv;
        Bytes rest;
        srv.Run([&](int fd) {
            SendAll(fd, Concat({Id(5), stream}));
            shutdown(fd, SHUT_WR); // a no-op for the lengths: they close first
            rest = ReadBytes(fd, 1, 3000);
        });
        ASSERT_EQ(t.open("127.0.0.1", srv.port, 0), 0);
        ASSERT_TRUE(WaitFor([&] { return !t.channels[0].threadRunning; }));
        EXPECT_FALSE(t.channels[0].isOpen);
        srv.Join();
        EXPECT_TRUE(rest.empty()); // the close, not a time-out
    }
}

// A receive thread that cannot be created: open fails and gives its socket back. The child
// process may start no thread at all (no process allowance left for its user).
TEST_F(NetSessionTest, ThreadThatCannotStartFailsTheOpen) {
    const pid_t child = fork();
    if (child == 0) {
        const rlimit none = {0, 0};
        if ((getuid() == 0 && setuid(65534) != 0) || setrlimit(RLIMIT_NPROC, &none) != 0) _exit(10);
        const bool failed = Open() == -1 && !s.connected && s.openCount == 0;
        _exit(failed && s.channels[0].socketHandle == -1 ? 0 : 11);
    }
    Bytes rest;
    server.Run([&rest](int fd) {
        SendAll(fd, Id(6));
        rest = ReadBytes(fd, 1);
    });
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    server.Join();
    EXPECT_TRUE(rest.empty());
}

// A server flooding faster than the session reads: it reads on, and the close still ends
// within a turn or two.
TEST_F(NetSessionTest, FloodDoesNotHoldTheCloseBack) {
    server.Run([](int fd) {
        Bytes many = Id(8);
        for (int i = 0; i < 2000; ++i) many = Concat({many, Position()});
        while (SendAll(fd, many)) many = Position();
    });
    const size_t before = Recorded();
    ASSERT_EQ(Open(), 0);
    ASSERT_TRUE(WaitFor([&] { return Recorded() >= before + 3; }));
    const auto start = steady_clock::now();
    s.closeAll();
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_FALSE(s.channels[0].threadRunning);
}

} // namespace
