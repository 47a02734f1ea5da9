// The built viewer run off-screen with the automation hooks: log, exit codes, screenshot size.
#include "support/viewer_process.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(Program, GoodStartLogsTwoLinesAndPresentsAtTheRequestedSize) {
    const std::string dir = MakeScratchDir("good_start");
    ViewerRun run = RunProgram(
        ViewerPath(), {"rx", "800", "ry", "600"},
        Reproducible({{"DUOSCOPE_FRAMES", "5"}, {"DUOSCOPE_SCREENSHOT", dir + "/shot.png"}}), dir);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.log, "Initialized DirectX 9\nInitialized resolution 800x600\n");
    const Image shot = LoadPng(dir + "/shot.png");
    EXPECT_EQ(std::pair(shot.width, shot.height), std::pair(800, 600));
}

TEST(Program, MalformedHooksAreRefusedBeforeAnythingStarts) {
    const std::string dir = MakeScratchDir("bad_hooks");
    const std::pair<const char*, const char*> bad[] = {
        {"DUOSCOPE_FRAMES", "ten"},      {"DUOSCOPE_FRAMES", "0"},
        {"DUOSCOPE_KEYS", "UP@5"},       {"DUOSCOPE_SEED", "-1"},
        {"DUOSCOPE_SEED", "12x"},        {"DUOSCOPE_FIXED_STEP", "0"},
        {"DUOSCOPE_FIXED_STEP", "16.7"}, {"DUOSCOPE_FIXED_STEP", "60001"},
        {"DUOSCOPE_FIXED_STEP", ""},     {"DUOSCOPE_SCREENSHOT", ""}};
    for (auto [name, value] : bad) {
        // An empty value is set as such, not removed.
        ViewerRun run = RunProgram("/usr/bin/env", {std::string(name) + "=" + value, ViewerPath()},
                                   Reproducible(), dir);
        EXPECT_EQ(run.exitCode, 2) << name << "=" << value;
        EXPECT_NE(run.errors.find(name), std::string::npos) << run.errors;
        EXPECT_TRUE(run.log.empty()) << "log written for " << name;
    }
}

TEST(Program, UnwritableLogDoesNotStopTheViewer) {
    const std::string dir = MakeScratchDir("no_log");
    // A directory where log.txt should be: fopen fails and the viewer runs on.
    std::filesystem::create_directory(dir + "/log.txt");
    ViewerRun run = RunProgram(ViewerPath(), {}, Reproducible({{"DUOSCOPE_FRAMES", "3"}}), dir);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
}

} // namespace
