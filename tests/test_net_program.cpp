// Networked viewers off-screen: two through the real relay (one walks, the other shows it
// where it walked), checked against viewers fed one message by a scripted server.
#include "support/net_script.h"
#include "support/viewer_process.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

Env NetEnv(int port, const std::string& keys, int frames) {
    Env env = Reproducible({{"DUOSCOPE_FIXED_STEP", "20"}, {"DUOSCOPE_KEYS", keys}});
    env["DUOSCOPE_SCREENSHOT"] = "shot.png";
    env["DUOSCOPE_SERVER_PORT"] = std::to_string(port);
    if (frames > 0) env["DUOSCOPE_FRAMES"] = std::to_string(frames);
    return env;
}

// Camera 2 rides on the other character: a viewer looking through it for 40 frames.
Image Watch(const std::string& name, int port) {
    const std::string dir = MakeScratchDir(name);
    const ViewerRun run =
        RunProgram(ViewerPath("duoscope-net"), {}, NetEnv(port, "2@0-100000", 40), dir);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    return LoadPng(dir + "/shot.png");
}

Image WatchFed(const std::string& name, const Bytes& message) {
    ScriptedServer server;
    server.Run([&message](int fd) {
        SendAll(fd, Concat({Words({-2, 1, 0}), message}));
        ReadBytes(fd, 28, 30000); // until the viewer says goodbye
    });
    return Watch(name, server.port);
}

TEST(NetProgram, TheOtherViewerShowsTheWalkerWhereItWalked) {
    RelayProcess relay;
    const int watcher = Connect(relay.port); // the test listens in as a third client
    ASSERT_EQ(WordAt(ReadBytes(watcher, 12), 0), -2);

    // The walker: forward for a second, then forward and back at once, which moves nothing
    // but keeps its place going out; two equal position messages in a row: it has stopped.
    const std::string walkerDir = MakeScratchDir("net_walker");
    const int walker =
        StartProgram(ViewerPath("duoscope-net"), {},
                     NetEnv(relay.port, "UP@0-9000000,DOWN@1000-9000000", 0), walkerDir);
    Bytes settled, last;
    for (int i = 0; i < 2000 && settled.empty(); ++i) {
        const Bytes m = ReadFrame(watcher, 20000);
        if (m.size() < 16) break;
        if (WordAt(m, 16) != 500) continue;
        if (m == last) settled = m;
        last = m;
    }
    ASSERT_EQ(settled.size(), 48u);
    int32_t sender; // little-endian copy of the sender id, then x, y, z, yaw
    float place[4];
    std::memcpy(&sender, settled.data() + 28, 4);
    std::memcpy(place, settled.data() + 32, 16);
    EXPECT_EQ(sender, WordAt(settled, 8));
    EXPECT_EQ(place[0], 0.0f);
    EXPECT_GT(place[2], -40.0f + 20.0f); // walked forward from its start at z -40
    EXPECT_EQ(place[3], 0.0f);

    // The watcher joins while the walker stands and sends its place: the other character
    // stands where the walker stopped, the same picture as a viewer fed that one message.
    const Image seen = Watch("net_watch", relay.port);
    ASSERT_FALSE(seen.Empty());
    EXPECT_EQ(seen.rgba, WatchFed("net_fed", settled).rgba);
    // Not-a-number and infinite places are stored as they arrive; that viewer draws on and
    // ends normally, and its picture differs, so the comparison above can fail.
    Bytes odd = settled;
    const float bad[4] = {NAN, INFINITY, -INFINITY, NAN};
    std::memcpy(odd.data() + 32, bad, 16);
    const Image oddShot = WatchFed("net_odd", odd);
    EXPECT_FALSE(oddShot.Empty());
    EXPECT_NE(oddShot.rgba, seen.rgba);

    kill(walker, SIGTERM); // shuts down in order
    EXPECT_EQ(WaitProgram(walker, walkerDir, 30).exitCode, 0);
    close(watcher);
}

} // namespace
