// The session against a scripted server on loopback (handshake, bounds, framing, goodbye,
// broken streams, sends, the close), then received positions and server.txt.
#include "core/settings.h"
#include "net/net.h"
#include "render/render.h"
#include "scene/scene.h"
#include "support/net_script.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <numeric>
#include <sys/resource.h>

namespace {

using std::chrono::steady_clock;
std::mutex g_lock;
std::vector<Bytes> g_bodies; // the first 32 bytes of every body handed to the callback
std::atomic<size_t> g_count;

void Record(uint8_t* body) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_bodies.emplace_back(body, body + 32);
    ++g_count;
}

int Open(NetSession& s, int port) {
    s.setCallback(Record, nullptr);
    return s.open("127.0.0.1", port, 0);
}

Bytes Host(std::vector<int32_t> words) {
    return Bytes(reinterpret_cast<uint8_t*>(words.data()),
                 reinterpret_cast<uint8_t*>(words.data() + words.size()));
}

// Ids of 0, negative or under a wrong marker are skipped; the first valid one is ours (all
// arriving byte by byte). sendMessage writes header and body; closeAll says goodbye, then resets.
TEST(NetSession, HandshakeSendMessageAndCloseAll) {
    NetSession s;
    ScriptedServer server;
    server.Serve(
        Concat({Words({-2, 0, 0}), Words({-2, -5, 0}), Words({-3, 9, 0}), Words({-2, 7, 0})}),
        48 + 28, 5000, true);
    ASSERT_EQ(Open(s, server.port), 0);
    EXPECT_TRUE(s.ownId == 7 && s.connected);
    EXPECT_EQ(s.open("127.0.0.1", server.port, 2), -2);
    uint8_t body[32];
    std::iota(body, body + 32, uint8_t(100));
    EXPECT_EQ(s.sendMessage(0, body, 500, 32, 1), 32);
    s.closeAll();
    server.Join();
    EXPECT_EQ(server.got, Concat({Words({-1, 0, 7, 32, 500, 0, 7}), Bytes(body + 12, body + 32),
                                  Words({-1, 0, 7, 12, -4, 0, 7})}));
    EXPECT_TRUE(WaitFor([&] { // a reset hangs the socket up; an orderly close would not
        pollfd p = {server.peer, POLLOUT, 0};
        return poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
    }));
    EXPECT_TRUE(!s.connected && !s.channels[0].threadRunning && s.channels[0].socketHandle == -1);
}

// A server that never sends an id, and one whose full queue of pending connections drops the
// connect like an address that never answers: each fails after its bound of 3 s.
TEST(NetSession, SilentServerAndDeadAddressFailWithinTheBound) {
    NetSession s;
    ScriptedServer silent, full;
    silent.Serve({}, 1, 8000);
    const int pending[] = {Connect(full.port), Connect(full.port), Connect(full.port),
                           Connect(full.port)};
    for (int port : {silent.port, full.port}) {
        const auto start = steady_clock::now();
        EXPECT_EQ(Open(s, port), -1);
        const auto took = steady_clock::now() - start;
        EXPECT_TRUE(took > std::chrono::milliseconds(2900) && took < std::chrono::seconds(6));
        EXPECT_FALSE(s.connected || s.channels[0].threadStarted);
        EXPECT_EQ(s.channels[0].socketHandle, -1); // released
    }
    for (int fd : pending) close(fd);
}

// Two messages (one of another type) then a goodbye from source 0, in one segment and byte by
// byte; bad body lengths, a peer closing in the middle of a piece, garbage. Each time the
// channel closes, the thread ends, and the server sees the client close, not a time-out.
TEST(NetSession, MessagesGoodbyeAndBrokenStreams) {
    const Bytes position = Frame(3, 32),
                good = Concat({position, Words({-1, 0, 3, 16, 777, 0, 3, -9}),
                               Words({-1, 0, 0, 12, -4, 0, 0})});
    int i = 0;
    for (const Bytes& stream :
         {good, good, Words({-1, 0, 3, 11}), Words({-1, 0, 3, 10241}),
          Words({-1, 0, 3, 0x7fffffff}), Words({-1, 0, 3, 0}), Words({-1, 0, 3, -16}),
          Words({-1, 0}), Words({-1, 0, 3, 32, 500, 0}), Bytes(333, 0xA5)}) {
        const bool split = i++ == 1; // the second time byte by byte
        SCOPED_TRACE(i);
        NetSession s;
        ScriptedServer server;
        server.Serve(Concat({Words({-2, 4, 0}), stream}), 16, 3000, split, true);
        const size_t before = g_count;
        ASSERT_EQ(Open(s, server.port), 0);
        ASSERT_TRUE(WaitFor([&] { return !s.channels[0].threadRunning; }) && !s.channels[0].isOpen);
        server.Join();
        EXPECT_TRUE(server.got.empty());
        if (stream != good) continue;
        EXPECT_TRUE(s.ownId == -2 && !s.connected);
        uint8_t body[32] = {};
        EXPECT_LT(s.sendMessage(0, body, 500, 32, 1), 0); // fails quietly
        std::lock_guard<std::mutex> lock(g_lock);
        ASSERT_EQ(g_bodies.size(), before + 2);
        // The three words in host order, the rest as sent.
        EXPECT_EQ(g_bodies[before],
                  Concat({Host({500, 0, 3}), Bytes(position.begin() + 28, position.end())}));
        EXPECT_EQ(Bytes(g_bodies[before + 1].begin(), g_bodies[before + 1].begin() + 16),
                  Concat({Host({777, 0, 3}), Words({-9})}));
    }
}

// In a child with no process allowance left the receive thread cannot be created.
TEST(NetSession, ThreadThatCannotStartFailsTheOpen) {
    NetSession s;
    ScriptedServer server;
    const pid_t child = fork();
    if (child == 0) {
        const rlimit none = {0, 0};
        if ((getuid() == 0 && setuid(65534) != 0) || setrlimit(RLIMIT_NPROC, &none) != 0) _exit(10);
        const bool failed = Open(s, server.port) == -1 && !s.connected && s.openCount == 0;
        _exit(failed && s.channels[0].socketHandle == -1 ? 0 : 11);
    }
    server.Serve(Words({-2, 6, 0}), 1);
    int status = -1;
    EXPECT_TRUE(waitpid(child, &status, 0) == child && status == 0) << status;
    server.Join();
    EXPECT_TRUE(server.got.empty()); // closed, not timed out
}

TEST(NetSession, FloodDoesNotHoldTheCloseBack) {
    NetSession s;
    ScriptedServer server;
    server.Run([](int fd) {
        Bytes many = Words({-2, 8, 0});
        while (SendAll(fd, many)) many = Frame(3, 32);
    });
    const size_t before = g_count;
    ASSERT_EQ(Open(s, server.port), 0);
    ASSERT_TRUE(WaitFor([&] { return g_count >= before + 3; }));
    const auto start = steady_clock::now();
    s.closeAll();
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(3)); // not for ever
    EXPECT_FALSE(s.channels[0].threadRunning);
}

std::string Status() {
    char text[kStatusLineSize];
    ReadStatusLine(text);
    return text;
}

// A body as the session hands it over: the three words in host order, then the position.
void Receive(int32_t type, int32_t sender, float x, float y, float z, float yaw) {
    Bytes b = Host({type, 0, sender, 0, 0, 0, 0, 0});
    wire::writePosition(b.data(), {sender, x, y, z, yaw});
    onNetworkMessage(b.data());
}

TEST(Position, ReceiveRules) {
    ResetSettings();
    ResetScene();
    ResetReceivedPosition();
    g_NetSession.ownId = 5;
    SetStatusLine("%s", "before");
    Receive(500, 5, 9, 9, 9, 9); // our own
    Receive(501, 6, 9, 9, 9, 9); // another type
    ApplyReceivedPosition();
    EXPECT_EQ(Status(), "before");
    const SceneObject& o = g_SceneObjects[1];
    EXPECT_EQ(o.position.x, 0.0f);
    Receive(500, 6, 1.5f, 0.0f, -20.25f, 90.0f);
    EXPECT_EQ(Status(), "Got position from network: 1.50 0.00 -20.25 (yrot: 90.00)");
    EXPECT_EQ(o.position.x, 0.0f); // the frame applies it, in one piece
    ApplyReceivedPosition();
    EXPECT_EQ(std::vector<float>({o.position.x, o.position.y, o.position.z, o.yaw}),
              std::vector<float>({1.5f, 0.0f, -20.25f, 90.0f}));
    EXPECT_FALSE(o.moved);
    EXPECT_EQ(g_SceneObjects[2].position.x, 0.0f);  // the controlled one stays
    Receive(500, 6, NAN, INFINITY, -INFINITY, NAN); // stored as they arrive
    ApplyReceivedPosition();
    EXPECT_TRUE(std::isnan(o.position.x) && std::isinf(o.position.y));
    EXPECT_EQ(Status(), "Got position from network: nan inf -inf (yrot: nan)");
    g_NetSession.ownId = 0;
}

TEST(Position, ServerTxt) {
    const auto home = std::filesystem::current_path();
    std::filesystem::current_path(MakeScratchDir("server_txt", false));
    ScriptedServer server;
    server.Serve(Words({-2, 1, 0}), 28);
    g_nServerPort = server.port;
    connectToServer(); // no server.txt
    EXPECT_EQ(Status(), "Try to connect to server **");
    const std::pair<std::string, std::string> cases[] = {
        {"localhost\n", "Try to connect to server *localhost*"}, // names are not looked up
        {"", "Try to connect to server **"},
        {std::string("\x01\x02\xff\x00z", 5), "Try to connect to server *\x01\x02\xff*"},
        {std::string(10000, 'a'), "Try to connect to server *" + std::string(229, 'a')},
        {"  127.0.0.1 192.0.2.1\nmore\n", "Connected to server *127.0.0.1*"}};
    for (const auto& [content, status] : cases) {
        std::ofstream("server.txt") << content;
        connectToServer();
        EXPECT_EQ(Status(), status);
        EXPECT_EQ(g_NetSession.connected, status[0] == 'C');
    }
    g_NetSession.closeAll();
    g_nServerPort = 9009;
    std::filesystem::current_path(home);
}

} // namespace
