// Networked viewers off-screen: two through the real relay (one walks, the other shows it
// where it walked), and one fed odd positions by a scripted server.
#include "support/net_script.h"
#include "support/viewer_process.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cmath>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::map<std::string, std::string> ViewerEnv(int port, const std::string& keys, int frames) {
    std::map<std::string, std::string> env = {{"SDL_VIDEODRIVER", "offscreen"},
                                              {"DUOSCOPE_FIXED_STEP", "20"},
                                              {"DUOSCOPE_KEYS", keys},
                                              {"DUOSCOPE_SEED", "7"},
                                              {"DUOSCOPE_SCREENSHOT", "shot.png"}};
    env["DUOSCOPE_SERVER_PORT"] = std::to_string(port);
    if (frames > 0) env["DUOSCOPE_FRAMES"] = std::to_string(frames);
    return env;
}

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {AF_INET, htons(uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
    return connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? fd : -1;
}

// Reads framed messages until two position messages in a row carry the same place (the walker
// has stopped and keeps sending where it stands); returns that header and body.
Bytes SettledPosition(int fd) {
    Bytes last;
    for (int i = 0; i < 2000; ++i) {
        Bytes header = ReadBytes(fd, 16, 20000);
        if (header.size() < 16) return {};
        Bytes body = ReadBytes(fd, size_t(WordAt(header, 12)), 20000);
        if (WordAt(body, 0) != 500) continue;
        Bytes message = Concat({header, body});
        if (message == last) return message;
        last = message;
    }
    return {};
}

Image RunFedViewer(const std::string& name, const Bytes& message) {
    ScriptedServer server;
    server.Run([&message](int fd) {
        SendAll(fd, Concat({Words({-2, 1, 0}), message}));
        ReadBytes(fd, 28, 30000); // until the viewer says goodbye
    });
    const std::string dir = MakeScratchDir(name);
    const ViewerRun run =
        RunProgram(ViewerPath("duoscope-net"), {}, ViewerEnv(server.port, "2@0-100000", 40), dir);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    return LoadPng(dir + "/shot.png");
}

TEST(NetProgram, TheOtherViewerShowsTheWalkerWhereItWalked) {
    const std::string relayDir = MakeScratchDir("net_relay");
    const int relay = StartProgram(DUO_BINARY_DIR "/duoscope-relay",
                                   {"--port", "0", "--bind", "127.0.0.1"}, {}, relayDir);
    std::string log;
    ASSERT_TRUE(WaitFor([&] {
        log = ReadFile(relayDir + "/stderr.txt");
        return log.find("listening on 127.0.0.1:") != std::string::npos;
    }));
    const int port = std::stoi(log.substr(log.find("127.0.0.1:") + 10));
    const int watcher = Connect(port); // the test listens in as a third client
    ASSERT_GE(watcher, 0);
    ASSERT_EQ(WordAt(ReadBytes(watcher, 12), 0), -2);

    // The walker: forward for a second, then forward and back at once, which moves
    // nothing but keeps its place going out every few frames.
    const std::string walkerDir = MakeScratchDir("net_walker");
    const int walker =
        StartProgram(ViewerPath("duoscope-net"), {},
                     ViewerEnv(port, "UP@0-9000000,DOWN@1000-9000000", 0), walkerDir);
    const Bytes settled = SettledPosition(watcher);
    ASSERT_EQ(settled.size(), 48u);
    int32_t sender; // little-endian copy of the sender id, then x, y, z, yaw
    float place[4];
    std::memcpy(&sender, settled.data() + 28, 4);
    std::memcpy(place, settled.data() + 32, 16);
    EXPECT_EQ(sender, WordAt(settled, 8));
    EXPECT_EQ(place[0], 0.0f);
    EXPECT_GT(place[2], -40.0f + 20.0f); // walked forward from its start at z -40
    EXPECT_EQ(place[3], 0.0f);

    // The watcher viewer joins while the walker stands still and sends its place; through its
    // camera 2 it looks from the other character, which must stand where the walker stopped:
    // the same picture as a viewer fed that one message directly.
    const std::string watchDir = MakeScratchDir("net_watch");
    const ViewerRun watch =
        RunProgram(ViewerPath("duoscope-net"), {}, ViewerEnv(port, "2@0-100000", 40), watchDir);
    EXPECT_EQ(watch.exitCode, 0) << watch.errors;
    const Image seen = LoadPng(watchDir + "/shot.png");
    const Image fed = RunFedViewer("net_fed", settled);
    ASSERT_FALSE(seen.Empty());
    EXPECT_EQ(seen.rgba, fed.rgba);
    Bytes moved = settled;
    moved[40] ^= 0x40; // z elsewhere: a different picture, so the comparison can fail
    EXPECT_NE(RunFedViewer("net_fed_elsewhere", moved).rgba, seen.rgba);

    // SIGTERM: the walker shuts down in order (exit 0) and says goodbye; the relay too.
    kill(walker, SIGTERM);
    EXPECT_EQ(WaitProgram(walker, walkerDir, 30).exitCode, 0);
    kill(relay, SIGTERM);
    EXPECT_EQ(WaitProgram(relay, relayDir, 30).exitCode, 0);
    close(watcher);
}

// Not-a-number and infinite places are stored as they arrive; the viewer draws on (camera 2
// rides on that character) and ends normally.
TEST(NetProgram, OddPlacesDoNotStopTheViewer) {
    Bytes body = Words({500, 0, 2});
    const int32_t sender = 2;
    const float odd[4] = {NAN, INFINITY, -INFINITY, NAN};
    body.insert(body.end(), reinterpret_cast<const uint8_t*>(&sender),
                reinterpret_cast<const uint8_t*>(&sender) + 4);
    body.insert(body.end(), reinterpret_cast<const uint8_t*>(odd),
                reinterpret_cast<const uint8_t*>(odd) + 16);
    const Image shot = RunFedViewer("net_odd", Concat({Words({-1, 0, 2, 32}), body}));
    EXPECT_FALSE(shot.Empty());
}

TEST(NetProgram, MalformedServerPortIsRefused) {
    const std::string dir = MakeScratchDir("net_port");
    for (const char* port : {"0", "65536", "12x", "-1"}) {
        const ViewerRun run =
            RunProgram(ViewerPath("duoscope-net"), {}, {{"DUOSCOPE_SERVER_PORT", port}}, dir);
        EXPECT_EQ(run.exitCode, 2) << port;
        EXPECT_NE(run.errors.find("DUOSCOPE_SERVER_PORT must be a port number from 1 to 65535"),
                  std::string::npos)
            << run.errors;
    }
}

} // namespace
