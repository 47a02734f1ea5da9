// Position messages and the server connection: the receive rules, the status texts, and
// server.txt as users (and accidents) write it.
#include "core/settings.h"
#include "net/net.h"
#include "render/render.h"
#include "scene/scene.h"
#include "support/net_script.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

std::string Status() {
    char text[kStatusLineSize];
    ReadStatusLine(text);
    return text;
}

// A received body: the first three words already in host order, the tail little-endian.
std::vector<uint8_t> Body(int32_t type, int32_t sender, float x, float y, float z, float yaw) {
    std::vector<uint8_t> b(32);
    const int32_t head[3] = {type, 0, sender};
    const float tail[4] = {x, y, z, yaw};
    std::memcpy(b.data(), head, 12);
    std::memcpy(b.data() + 12, &sender, 4);
    std::memcpy(b.data() + 16, tail, 16);
    return b;
}

struct PositionTest : ::testing::Test {
    void SetUp() override {
        ResetSettings();
        ResetScene();
        ResetReceivedPosition();
        g_NetSession.ownId = 5;
        SetStatusLine("%s", "before");
    }
    void TearDown() override { g_NetSession.ownId = 0; }
};

TEST_F(PositionTest, ReceiveRules) {
    auto own = Body(500, 5, 9, 9, 9, 9);
    onNetworkMessage(own.data());
    auto other = Body(501, 6, 9, 9, 9, 9);
    onNetworkMessage(other.data());
    ApplyReceivedPosition();
    EXPECT_EQ(Status(), "before");
    EXPECT_EQ(g_SceneObjects[1].position.x, 0.0f);

    auto peer = Body(500, 6, 1.5f, 0.0f, -20.25f, 90.0f);
    onNetworkMessage(peer.data());
    EXPECT_EQ(Status(), "Got position from network: 1.50 0.00 -20.25 (yrot: 90.00)");
    EXPECT_EQ(g_SceneObjects[1].position.x, 0.0f); // not before the frame applies it
    ApplyReceivedPosition();
    const SceneObject& o = g_SceneObjects[1];
    EXPECT_EQ(o.position.x, 1.5f);
    EXPECT_EQ(o.position.y, 0.0f);
    EXPECT_EQ(o.position.z, -20.25f);
    EXPECT_EQ(o.yaw, 90.0f);
    EXPECT_FALSE(o.moved);
    EXPECT_EQ(g_SceneObjects[2].position.x, 0.0f); // the controlled one stays

    // Values are stored as they arrive, whatever they are.
    auto odd = Body(500, 6, NAN, INFINITY, -INFINITY, NAN);
    onNetworkMessage(odd.data());
    ApplyReceivedPosition();
    EXPECT_TRUE(std::isnan(o.position.x));
    EXPECT_TRUE(std::isinf(o.position.y));
    EXPECT_EQ(Status(), "Got position from network: nan inf -inf (yrot: nan)");
}

TEST_F(PositionTest, SendPositionBuildsTheBody) {
    Bytes got;
    ScriptedServer server;
    server.Run([&got](int fd) {
        SendAll(fd, Words({-2, 3, 0}));
        got = ReadBytes(fd, 48);
    });
    g_NetSession.ownId = 0;
    ASSERT_EQ(g_NetSession.open("127.0.0.1", server.Port(), 0), 0);
    PlaceObject(2, 2, 1.5f, 2.0f, -3.0f, 1, 1, 1, 0, 370.0f, 0);
    EXPECT_EQ(sendPosition(2, 0), 32);
    server.Join();
    g_NetSession.closeAll();
    ASSERT_EQ(got.size(), 48u);
    EXPECT_EQ(WordAt(got, 16), 500);
    EXPECT_EQ(WordAt(got, 24), 3);
    int32_t id;
    float v[4];
    std::memcpy(&id, got.data() + 28, 4);
    std::memcpy(v, got.data() + 32, 16);
    EXPECT_EQ(id, 3);
    EXPECT_EQ(v[0], 1.5f);
    EXPECT_EQ(v[1], 2.0f);
    EXPECT_EQ(v[2], -3.0f);
    EXPECT_EQ(v[3], 370.0f); // not wrapped
}

// connectToServer in a scratch directory holding the given server.txt (none for nullptr).
struct ServerFileTest : ::testing::Test {
    std::filesystem::path dir, home;
    void SetUp() override {
        home = std::filesystem::current_path();
        dir = std::filesystem::path(DUO_BINARY_DIR) / "scratch" / "server_txt";
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
        g_NetSession.ownId = 0;
    }
    void TearDown() override {
        g_NetSession.closeAll();
        g_NetSession.ownId = 0;
        g_nServerPort = 9009;
        std::filesystem::current_path(home);
    }
    void Write(const std::string& content) { std::ofstream("server.txt") << content; }
};

TEST_F(ServerFileTest, UnusableWordsKeepTheTryText) {
    const std::string longWord(10000, 'a');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"localhost\n", "Try to connect to server *localhost*"},
        {"", "Try to connect to server **"},
        {std::string("\x01\x02\xff\x00z", 5), "Try to connect to server *\x01\x02\xff*"},
        {longWord, "Try to connect to server *" + std::string(229, 'a')},
    };
    ScriptedServer server; // would answer if the word were taken for its address
    g_nServerPort = server.Port();
    for (const auto& [content, status] : cases) {
        Write(content);
        connectToServer();
        EXPECT_EQ(Status(), status);
        EXPECT_FALSE(g_NetSession.connected);
    }
    std::filesystem::remove("server.txt");
    connectToServer();
    EXPECT_EQ(Status(), "Try to connect to server **");
}

TEST_F(ServerFileTest, FirstWordNamesTheServer) {
    ScriptedServer server;
    server.Run([](int fd) {
        SendAll(fd, Words({-2, 1, 0}));
        ReadBytes(fd, 28);
    });
    g_nServerPort = server.Port();
    Write("  127.0.0.1 192.0.2.1\nmore\n");
    connectToServer();
    EXPECT_TRUE(g_NetSession.connected);
    EXPECT_EQ(Status(), "Connected to server *127.0.0.1*");
    g_NetSession.closeAll();
}

} // namespace
