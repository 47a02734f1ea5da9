// Received positions and the server connection: the receive rules, the status texts, server.txt
// as users (and accidents) write it, the hook that moves the server port.
#include "app/shell.h"
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

namespace {

std::string Status() {
    char text[kStatusLineSize];
    ReadStatusLine(text);
    return text;
}

// A body as the session hands it over: three words in host order, then the sender id and x,
// y, z, yaw little-endian.
void Receive(int32_t type, int32_t sender, float x, float y, float z, float yaw) {
    uint8_t b[32];
    const int32_t head[4] = {type, 0, sender, sender};
    const float tail[4] = {x, y, z, yaw};
    std::memcpy(b, head, 16);
    std::memcpy(b + 16, tail, 16);
    onNetworkMessage(b);
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
    EXPECT_EQ(g_SceneObjects[2].position.x, 0.0f); // the controlled one stays

    Receive(500, 6, NAN, INFINITY, -INFINITY, NAN); // stored as they arrive
    ApplyReceivedPosition();
    EXPECT_TRUE(std::isnan(o.position.x) && std::isinf(o.position.y));
    EXPECT_EQ(Status(), "Got position from network: nan inf -inf (yrot: nan)");
    g_NetSession.ownId = 0;
}

// connectToServer in a scratch directory, against a server that would answer on its port.
TEST(Position, ServerTxt) {
    const auto home = std::filesystem::current_path();
    const auto dir = std::filesystem::path(DUO_BINARY_DIR) / "scratch" / "server_txt";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    ScriptedServer server;
    server.Run([](int fd) {
        SendAll(fd, Words({-2, 1, 0}));
        ReadBytes(fd, 28);
    });
    g_nServerPort = server.port;
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
    std::filesystem::remove("server.txt");
    connectToServer();
    EXPECT_EQ(Status(), "Try to connect to server **");
    g_NetSession.ownId = 0;
    g_nServerPort = 9009;
    std::filesystem::current_path(home);
}

TEST(Position, MalformedServerPortIsRefused) {
    for (const char* port : {"0", "65536", "12x", "-1"}) {
        setenv("DUOSCOPE_SERVER_PORT", port, 1);
        AutomationHooks hooks;
        std::string error;
        EXPECT_FALSE(ReadAutomationHooks(hooks, &error));
        EXPECT_EQ(error, "DUOSCOPE_SERVER_PORT must be a port number from 1 to 65535, not '" +
                             std::string(port) + "'");
    }
    unsetenv("DUOSCOPE_SERVER_PORT");
}

} // namespace
