// Networked viewers off-screen: two through the real relay (one walks, the other shows it
// where it walked), checked against viewers fed one message by a scripted server.
#include "support/net_script.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

Env NetEnv(int port, const std::string& keys) {
    return Reproducible({{"DUOSCOPE_FIXED_STEP", "20"},
                         {"DUOSCOPE_KEYS", keys},
                         {"DUOSCOPE_SERVER_PORT", std::to_string(port)}});
}

// Camera 2 rides on the other character: a viewer looking through it for 40 frames.
Image Watch(const std::string& name, int port) {
    const std::string dir = MakeScratchDir(name);
    Env env = NetEnv(port, "2@0-100000");
    env.insert({{"DUOSCOPE_FRAMES", "40"}, {"DUOSCOPE_SCREENSHOT", "shot.png"}});
    const ViewerRun run = RunProgram(ViewerPath("duoscope-net"), {}, env, dir);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    return LoadPng(dir + "/shot.png");
}

Image WatchFed(const std::string& name, const Bytes& message) {
    ScriptedServer server;
    server.Serve(Concat({Words({-2, 1, 0}), message}), 28, 30000); // to the viewer's goodbye
    return Watch(name, server.port);
}

TEST(NetProgram, TheOtherViewerShowsTheWalkerWhereItWalked) {
    RelayProcess relay;
    const int watcher = Connect(relay.port); // the test listens in as the walker's partner
    ASSERT_EQ(WordAt(ReadBytes(watcher, 12), 0), -2);

    // The walker: forward for a second, then forward and back at once, which moves nothing
    // but keeps its place going out; two equal position messages in a row: it has stopped.
    const std::string walkerDir = MakeScratchDir("net_walker");
    const int walker =
        StartProgram(ViewerPath("duoscope-net"), {},
                     NetEnv(relay.port, "UP@0-9000000,DOWN@1000-9000000"), walkerDir);
    Bytes settled, last, m;
    for (int i = 0; i < 2000 && settled.empty() && (m = ReadFrame(watcher, 20000)).size() >= 16;
         ++i, last = m)
        if (WordAt(m, 16) == 500 && m == last) settled = m;
    ASSERT_EQ(settled.size(), 48u);
    wire::Position place;
    ASSERT_TRUE(wire::readPosition(settled.data() + 16, 32, place));
    EXPECT_TRUE(place.senderId == WordAt(settled, 8) && place.x == 0.0f && place.yaw == 0.0f);
    EXPECT_GT(place.z, -40.0f + 20.0f); // walked forward from its start at z -40

    // The test leaves the walker's room and a viewer takes its place, getting the walker's
    // last position from the relay: the other character stands where the walker stopped, the
    // same picture as a viewer fed that one message.
    close(watcher);
    ASSERT_TRUE(relay.WaitLog("duoscope-relay: client 1 left room 1 (1 in it)\n"));
    const Image seen = Watch("net_watch", relay.port);
    EXPECT_TRUE(!seen.Empty() && seen.rgba == WatchFed("net_fed", settled).rgba);
    // Not-a-number and infinite places are stored as they arrive; that viewer draws on and
    // ends normally, and its picture differs, so the comparison above can fail.
    Bytes odd = settled;
    wire::writePosition(odd.data() + 16, {place.senderId, NAN, INFINITY, -INFINITY, NAN});
    const Image oddShot = WatchFed("net_odd", odd);
    EXPECT_TRUE(!oddShot.Empty() && oddShot.rgba != seen.rgba);

    kill(walker, SIGTERM); // shuts down in order
    EXPECT_EQ(WaitProgram(walker, walkerDir, 30).exitCode, 0);
}

} // namespace
