// The session against a scripted server on loopback: handshake, framing, goodbye, broken and
// hostile streams, sends and the close.
#include "net/net.h"
#include "support/net_script.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::mutex g_lock;
std::vector<Bytes> g_bodies; // first 40 bytes of every body handed to the callback

void Record(uint8_t* body) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_bodies.emplace_back(body, body + 40);
}

size_t Recorded() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_bodies.size();
}

Bytes Id(int32_t id) {
    return Words({-2, id, 0});
}

// A 32-byte body of type 500 as a peer would send it: three big-endian words, then bytes 12 to
// 31 as the sender laid them out.
Bytes PositionMessage() {
    Bytes body = Words({500, 0, 3});
    for (int i = 12; i < 32; ++i) body.push_back(uint8_t(i));
    return Concat({Words({-1, 0, 3, 32}), body});
}

struct NetSessionTest : ::testing::Test {
    NetSession s;
    ScriptedServer server;
    void SetUp() override {
        std::lock_guard<std::mutex> lock(g_lock);
        g_bodies.clear();
        s.setCallback(Record, nullptr);
    }
    int Open() { return s.open("127.0.0.1", server.Port(), 0); }
    bool ThreadEnds() {
        return WaitFor([&] { return !s.channels[0].threadRunning; });
    }
};

TEST_F(NetSessionTest, HandshakeSkipsUselessRecordsAndTakesTheFirstValidId) {
    server.Run([](int fd) {
        // id 0, a negative id, a wrong marker, then id 7 split byte by byte.
        SendAll(fd, Concat({Id(0), Id(-5), Words({-3, 9, 0})}));
        for (uint8_t b : Id(7)) SendAll(fd, Bytes{b});
        ReadBytes(fd, 1);
    });
    ASSERT_EQ(Open(), 0);
    EXPECT_EQ(s.ownId, 7);
    EXPECT_TRUE(s.connected);
    EXPECT_TRUE(s.channels[0].threadRunning);
    EXPECT_EQ(s.openCount, 1);
    EXPECT_EQ(s.open("127.0.0.1", server.Port(), 2), -2);
    s.closeAll();
    EXPECT_FALSE(s.channels[0].threadRunning);
}

TEST_F(NetSessionTest, SilentServerFailsWithinTheBoundAndLeavesNothingRunning) {
    server.Run([](int fd) { ReadBytes(fd, 1, 8000); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Open(), -1);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(6));
    EXPECT_FALSE(s.connected);
    EXPECT_EQ(s.openCount, 0);
    EXPECT_FALSE(s.channels[0].threadStarted);
    EXPECT_EQ(s.channels[0].socketHandle, -1); // released
}

// A server whose queue of pending connections is full drops the handshake packets, like an
// address that never answers: the connect gives up after its bound.
TEST_F(NetSessionTest, ConnectThatNeverCompletesFailsWithinTheBound) {
    const int full = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(full, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(full, 0);
    getsockname(full, reinterpret_cast<sockaddr*>(&a), &len);
    std::vector<int> waiting;
    for (int i = 0; i < 4; ++i) {
        waiting.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        connect(waiting.back(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(s.open("127.0.0.1", ntohs(a.sin_port), 0), -1);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GT(took, std::chrono::milliseconds(2500)); // it did hang in the connect
    EXPECT_LT(took, std::chrono::seconds(6));
    for (int fd : waiting) close(fd);
    close(full);
}

TEST_F(NetSessionTest, RefusedAndUnparsableAddressesFail) {
    int refused = 0;
    {
        ScriptedServer gone; // a port that was just closed refuses
        refused = gone.Port();
    }
    EXPECT_EQ(s.open("127.0.0.1", refused, 0), -1);
    EXPECT_EQ(s.open("localhost", server.Port(), 0), -1); // names are not looked up
    EXPECT_EQ(s.open("", server.Port(), 0), -1);
    EXPECT_FALSE(s.connected);
}

TEST_F(NetSessionTest, MessageReachesCallbackInOneSegmentAndByteByByte) {
    for (bool split : {false, true}) {
        SCOPED_TRACE(split ? "byte by byte" : "one segment");
        NetSession t;
        t.setCallback(Record, nullptr);
        ScriptedServer srv;
        srv.Run([split](int fd) {
            SendAll(fd, Id(4));
            Bytes other = Concat({Words({-1, 0, 3, 16}), Words({777, 0, 3, -9})});
            Bytes all = Concat({PositionMessage(), other});
            if (!split) SendAll(fd, all);
            for (size_t i = 0; split && i < all.size(); ++i) SendAll(fd, Bytes{all[i]});
            ReadBytes(fd, 1);
        });
        const size_t before = Recorded();
        ASSERT_EQ(t.open("127.0.0.1", srv.Port(), 0), 0);
        ASSERT_TRUE(WaitFor([&] { return Recorded() == before + 2; }));
        t.closeAll();
        std::lock_guard<std::mutex> lock(g_lock);
        const Bytes& b = g_bodies[before];
        int32_t w[3];
        std::memcpy(w, b.data(), 12); // host order
        EXPECT_EQ(w[0], 500);
        EXPECT_EQ(w[1], 0);
        EXPECT_EQ(w[2], 3);
        for (int i = 12; i < 32; ++i) EXPECT_EQ(b[size_t(i)], i) << "byte " << i;
        std::memcpy(w, g_bodies[before + 1].data(), 12);
        EXPECT_EQ(w[0], 777);
        EXPECT_EQ(WordAt(g_bodies[before + 1], 12), -9); // as sent
    }
}

TEST_F(NetSessionTest, GoodbyeFromTheServerClosesTheChannel) {
    Bytes after;
    server.Run([&after](int fd) {
        SendAll(fd, Concat({Id(2), Words({-1, 0, 0, 12}), Words({-4, 0, 0})}));
        after = ReadBytes(fd, 16, 3000); // the client says nothing and closes
    });
    ASSERT_EQ(Open(), 0);
    ASSERT_TRUE(ThreadEnds());
    EXPECT_EQ(s.ownId, -2);
    EXPECT_FALSE(s.connected);
    EXPECT_FALSE(s.channels[0].isOpen);
    server.Join();
    EXPECT_TRUE(after.empty());
    // A send after the close fails quietly.
    uint8_t body[32] = {};
    EXPECT_LT(s.sendMessage(0, body, 500, 32, 1), 0);
}

// Bad body lengths, a peer closing in the middle of a piece, and garbage: the channel closes
// as if the connection were lost, the thread ends, and the server sees the close.
TEST_F(NetSessionTest, BrokenStreamsCloseTheChannel) {
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"length 11", Words({-1, 0, 3, 11})},
        {"length 10241", Words({-1, 0, 3, 10241})},
        {"length 2^31-1", Words({-1, 0, 3, 0x7fffffff})},
        {"length 0", Words({-1, 0, 3, 0})},
        {"negative length", Words({-1, 0, 3, -16})},
        {"close mid-header", Words({-1, 0})},
        {"close mid-body", Concat({Words({-1, 0, 3, 32}), Words({500, 0})})},
        {"garbage then close", Bytes(333, 0xA5)},
    };
    for (const auto& [name, stream] : cases) {
        SCOPED_TRACE(name);
        NetSession t;
        t.setCallback(Record, nullptr);
        ScriptedServer srv;
        const bool closes = std::string(name).find("close") != std::string::npos;
        Bytes rest;
        srv.Run([&, closes](int fd) {
            SendAll(fd, Concat({Id(5), stream}));
            if (closes) shutdown(fd, SHUT_WR);
            rest = ReadBytes(fd, 1, 3000);
        });
        ASSERT_EQ(t.open("127.0.0.1", srv.Port(), 0), 0);
        ASSERT_TRUE(WaitFor([&] { return !t.channels[0].threadRunning; }));
        EXPECT_FALSE(t.channels[0].isOpen);
        srv.Join();
        EXPECT_TRUE(rest.empty()); // the server saw the close, not a time-out
        t.closeAll();
    }
}

TEST_F(NetSessionTest, SendMessageWritesHeaderThenBody) {
    Bytes got;
    server.Run([&got](int fd) {
        SendAll(fd, Id(7));
        got = ReadBytes(fd, 48);
    });
    ASSERT_EQ(Open(), 0);
    uint8_t body[32];
    for (int i = 0; i < 32; ++i) body[i] = uint8_t(100 + i);
    EXPECT_EQ(s.sendMessage(0, body, 500, 32, 1), 32);
    server.Join();
    ASSERT_EQ(got.size(), 48u);
    for (auto [offset, word] :
         {std::pair{0, -1}, {4, 0}, {8, 7}, {12, 32}, {16, 500}, {20, 0}, {24, 7}})
        EXPECT_EQ(WordAt(got, size_t(offset)), word) << "offset " << offset;
    for (int i = 12; i < 32; ++i) EXPECT_EQ(got[size_t(16 + i)], 100 + i);
    EXPECT_EQ(s.sendTo(-1, body, 5), 5); // everyone: the length asked for
}

TEST_F(NetSessionTest, CloseAllSaysGoodbyeThenResetsTheConnection) {
    Bytes got;
    short after = 0;
    server.Run([&](int fd) {
        SendAll(fd, Id(7));
        got = ReadBytes(fd, 28);
        Bytes eof = ReadBytes(fd, 1);
        // A reset leaves the socket hung up, an orderly close would leave it half open.
        WaitFor([&] {
            pollfd p = {fd, POLLOUT, 0};
            poll(&p, 1, 0);
            after = p.revents;
            return (after & POLLHUP) != 0;
        });
    });
    ASSERT_EQ(Open(), 0);
    s.closeAll();
    server.Join();
    ASSERT_EQ(got.size(), 28u);
    for (auto [offset, word] :
         {std::pair{0, -1}, {4, 0}, {8, 7}, {12, 12}, {16, -4}, {20, 0}, {24, 7}})
        EXPECT_EQ(WordAt(got, size_t(offset)), word) << "offset " << offset;
    EXPECT_TRUE(after & POLLHUP);
    EXPECT_FALSE(s.connected);
    EXPECT_FALSE(s.channels[0].threadRunning);
    EXPECT_EQ(s.channels[0].socketHandle, -1);
    s.closeAll(); // again: nothing to do, no goodbye
}

// A receive thread that cannot be created: open fails and gives its socket back. The child
// process may start no thread at all (no process allowance left for its user).
TEST_F(NetSessionTest, ThreadThatCannotStartFailsTheOpen) {
    const pid_t child = fork();
    if (child == 0) {
        if (getuid() == 0 && setuid(65534) != 0) _exit(10);
        const rlimit none = {0, 0};
        if (setrlimit(RLIMIT_NPROC, &none) != 0) _exit(11);
        if (Open() != -1) _exit(12);
        _exit(s.connected || s.openCount != 0 || s.channels[0].socketHandle != -1 ? 13 : 0);
    }
    Bytes rest;
    server.Run([&rest](int fd) {
        SendAll(fd, Id(6));
        rest = ReadBytes(fd, 1); // the close, not a time-out
    });
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    server.Join();
    EXPECT_TRUE(rest.empty());
}

// A server that floods faster than the session reads: the session keeps reading one piece
// per turn, and the close still ends within a turn or two.
TEST_F(NetSessionTest, FloodDoesNotHoldTheCloseBack) {
    server.Run([](int fd) {
        SendAll(fd, Id(8));
        Bytes many;
        for (int i = 0; i < 2000; ++i) {
            Bytes m = PositionMessage();
            many.insert(many.end(), m.begin(), m.end());
        }
        while (SendAll(fd, many)) {
        }
    });
    ASSERT_EQ(Open(), 0);
    ASSERT_TRUE(WaitFor([] { return Recorded() >= 3; }));
    const auto start = std::chrono::steady_clock::now();
    s.closeAll();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_FALSE(s.channels[0].threadRunning);
}

} // namespace
