// The built viewer run off-screen with the automation hooks: log, exit codes, malformed hooks;
// and hostile inputs (broken or missing files, sizes no screen has, no graphics): it never
// crashes or hangs, but runs on saying what it lacks or ends with code 1.
#include "support/viewer_process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace {

namespace fs = std::filesystem;

// Text with one piece replaced, or cut from there to the end.
std::function<std::string(std::string)> Replace(std::string from, std::string to, bool toEnd) {
    return [=](std::string s) {
        const size_t at = s.find(from);
        return at == s.npos ? "" : s.replace(at, toEnd ? s.size() : from.size(), to);
    };
}
// The text matches the pattern: the same, except that a '*' stands for any run of characters.
bool Matches(const std::string& text, const std::string& pattern) {
    const size_t star = pattern.find('*');
    if (star == pattern.npos) return text == pattern;
    return text.size() >= pattern.size() - 1 && text.starts_with(pattern.substr(0, star)) &&
           text.ends_with(pattern.substr(star + 1));
}

// What takes a data/ file's place: nothing, a directory, or the edit of the original bytes.
enum Kind { Remove, Directory, Edit };

struct Case {
    std::string file; // the file changed, if any
    Kind kind;
    std::function<std::string(std::string)> edit;
    std::vector<std::string> args;
    int exitCode;
    std::string log, errors; // patterns
    Env env = {};
};

TEST(HostileInput, TheViewerRunsOnSayingWhatItLacksOrEndsWithItsLogLine) {
    const std::string running = "Initialized DirectX 9\nInitialized resolution 640x480\n";
    const std::string noEffect =
        "duoscope: no effect loaded; drawing the plain camera views instead\n";
    const auto quit = [](std::string size) {
        return "Initialized DirectX 9\nCannot initialize resolution " + size + " -- program quit\n";
    };
    const std::string fx = "Duoscope.fx",
                      notX = ": byte offset 0: not an .x file (no 'xof ' header)\n";
    // clang-format off
    const Case cases[] = {
        {fx, Remove, {}, {}, 0, running, "Duoscope.fx: cannot open the effect file\n" + noEffect},
        {fx, Edit, Replace("", "", true), {}, 0, running, // empty
         "Duoscope.fx:1: no technique\n" + noEffect},
        {fx, Edit, Replace("= vec4(vec3(grey)", "= nonsense(", false), {}, 0, running,
         "Duoscope.fx:80: fragment stage 'Grey' does not compile\n*" + noEffect},
        {fx, Edit, Replace("@technique Duoscope\n", "", true), {}, 0, running,
         "Duoscope.fx: no technique 'Duoscope'\n" + noEffect},
        {"", Remove, {}, {"rx", "800", "ry", "600"}, 0, "Initialized DirectX 9\n"
         "Initialized resolution 800x600\n", ""}, // the screenshot's size: test_window_present
        {"", Remove, {}, {"rx", "100000", "ry", "100000"}, 1, quit("100000x100000"), "*"},
        {"", Remove, {}, {"rx", "-5"}, 1, quit("-5x480"), "*"},
        {"", Remove, {}, {}, 1, "Cannot initialize DirectX 9 -- program quit\n",
         "duoscope: no video: *", {{"SDL_VIDEODRIVER", "nosuchdriver"}, {"DISPLAY", ""}}},
        // The reader's refusals are its own tests': here each model is named and the viewer runs.
        {"room.x", Remove, {}, {}, 0, running, "room.x: cannot open the file\n"},
        {"seaman.x", Edit, Replace("xof ", "xo! ", false), {}, 0, running, "seaman.x" + notX},
        {"fatman.x", Directory, {}, {}, 0, running, "fatman.x: not a regular file\n"},
        {"wall.png", Remove, {}, {}, 0, running, "texture 'wall.png': no such file\n"},
        {"log.txt", Directory, {}, {}, 0, "", "*"}, // the log cannot be opened: runs on
    };
    // clang-format on
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i << ": " << c.file);
        const std::string dir = MakeScratchDir("hostile_" + std::to_string(i));
        const std::string path = dir + "/" + c.file;
        if (!c.file.empty()) fs::remove(path);
        if (c.kind == Directory) fs::create_directory(path);
        if (c.kind == Edit)
            std::ofstream(path, std::ios::binary)
                << c.edit(ReadFile(std::string(DUO_SOURCE_DIR) + "/data/" + c.file));
        Env env = c.env;
        env["DUOSCOPE_FRAMES"] = "3";
        const ViewerRun run = RunProgram(ViewerPath(), c.args, Reproducible(env), dir);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.errors; // -1: crashed or hung
        EXPECT_TRUE(Matches(run.log, c.log)) << run.log;
        EXPECT_TRUE(Matches(run.errors, c.errors)) << run.errors;
    }
}

TEST(Program, MalformedHooksAreRefusedBeforeAnythingStarts) {
    const std::string dir = MakeScratchDir("bad_hooks");
    const std::pair<const char*, const char*> bad[] = {
        {"DUOSCOPE_FRAMES", "ten"},        {"DUOSCOPE_FRAMES", "0"},
        {"DUOSCOPE_KEYS", "UP@5"},         {"DUOSCOPE_SEED", "-1"},
        {"DUOSCOPE_SEED", "12x"},          {"DUOSCOPE_FIXED_STEP", "0"},
        {"DUOSCOPE_FIXED_STEP", "16.7"},   {"DUOSCOPE_FIXED_STEP", "60001"},
        {"DUOSCOPE_FIXED_STEP", ""},       {"DUOSCOPE_SCREENSHOT", ""},
        {"DUOSCOPE_SERVER_PORT", "65536"}, {"DUOSCOPE_STARTUP_TRACE", "2"}};
    for (auto [name, value] : bad) {
        // An empty value is set as such, not removed.
        ViewerRun run = RunProgram("/usr/bin/env", {std::string(name) + "=" + value, ViewerPath()},
                                   Reproducible(), dir);
        EXPECT_EQ(run.exitCode, 2) << name << "=" << value;
        EXPECT_NE(run.errors.find(name), std::string::npos) << run.errors;
        EXPECT_TRUE(run.log.empty()) << "log written for " << name;
    }
}

} // namespace
