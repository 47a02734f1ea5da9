// Hostile and odd inputs given to the built viewer: a broken or missing effect file, texture or
// model, and sizes no screen has. The viewer never crashes or hangs: it either runs on and says
// what it lacks on stderr, or ends with its log line and exit code 1.
#include "support/viewer_process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

namespace {

namespace fs = std::filesystem;
using Setup = std::function<void(const std::string& dir)>;

// Puts bytes in place of a file of data/ (the scratch dir holds a link to it).
void Replace(const std::string& dir, const std::string& name, const std::string& bytes) {
    fs::remove(dir + "/" + name);
    std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
}
std::string Original(const std::string& name) {
    return ReadFile(std::string(DUO_SOURCE_DIR) + "/data/" + name);
}
Setup Remove(const std::string& name) {
    return [=](const std::string& dir) { fs::remove(dir + "/" + name); };
}
Setup Bytes(const std::string& name, std::string bytes) {
    return [=](const std::string& dir) { Replace(dir, name, bytes); };
}
Setup Directory(const std::string& name) {
    return [=](const std::string& dir) {
        fs::remove(dir + "/" + name), fs::create_directory(dir + "/" + name);
    };
}
Setup Truncated(const std::string& name, double fraction) {
    return [=](const std::string& dir) {
        const std::string all = Original(name);
        Replace(dir, name, all.substr(0, size_t(all.size() * fraction)));
    };
}
std::string Random(size_t n) {
    std::mt19937 random(7);
    std::string bytes(n, '\0');
    for (char& c : bytes) c = char(random());
    return bytes;
}
// The effect file with one piece of text replaced (or cut, from `from` to the end).
Setup Effect(const std::string& from, const std::string& to, bool cutToEnd = false) {
    return [=](const std::string& dir) {
        std::string fx = Original("Duoscope.fx");
        const size_t at = fx.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        fx.replace(at, cutToEnd ? std::string::npos : from.size(), to);
        Replace(dir, "Duoscope.fx", fx);
    };
}

constexpr const char kRunning[] = "Initialized DirectX 9\nInitialized resolution 640x480\n";
constexpr const char kNoEffect[] =
    "duoscope: no effect loaded; drawing the plain camera views instead\n";

struct Case {
    const char* name;
    Setup setup;
    std::vector<std::string> args;
    int exitCode;
    std::string log;       // the whole log; the start of it when it ends with "..."
    std::string errors;    // the first stderr line starts with this
    std::string also = {}; // and stderr ends with this
};

TEST(HostileInput, TheViewerRunsOnSayingWhatItLacksOrEndsWithItsLogLine) {
    const auto none = [](const std::string&) {};
    std::vector<Case> cases = {
        {"fx_missing",
         Remove("Duoscope.fx"),
         {},
         0,
         kRunning,
         "Duoscope.fx: cannot open the effect file\n",
         kNoEffect},
        {"fx_empty",
         Bytes("Duoscope.fx", ""),
         {},
         0,
         kRunning,
         "Duoscope.fx:1: no technique\n",
         kNoEffect},
        {"fx_stage",
         Effect("fragColor = vec4(vec3(grey)", "fragColor = nonsense(vec3(grey)"),
         {},
         0,
         kRunning,
         "Duoscope.fx:81: fragment stage 'Grey' does not compile\n",
         kNoEffect},
        {"fx_technique",
         Effect("@technique Duoscope\n", "", true),
         {},
         0,
         kRunning,
         "Duoscope.fx: no technique 'Duoscope'\n",
         kNoEffect},
        {"size_huge",
         none,
         {"rx", "100000", "ry", "100000"},
         1,
         "Initialized DirectX 9\nCannot initialize resolution 100000x100000 -- program quit\n",
         ""},
        {"size_negative",
         none,
         {"rx", "-5"},
         1,
         "Initialized DirectX 9\nCannot initialize resolution -5x480 -- program quit\n",
         ""},
        // Past the range of int: whatever atoi makes of it, no back buffer has that size.
        {"size_overflow",
         none,
         {"ry", "99999999999999999999"},
         1,
         "Initialized DirectX 9\nCannot initialize resolution 640x...",
         ""},
    };
    const char* models[] = {"room.x", "seaman.x", "fatman.x"};
    for (int i = 0; i < 3; ++i) {
        const std::string m = models[i];
        cases.push_back({"missing", Remove(m), {}, 0, kRunning, m + ": cannot open the file\n"});
        cases.push_back({"empty",
                         Bytes(m, ""),
                         {},
                         0,
                         kRunning,
                         m + ": byte offset 0: not an .x file (no 'xof ' header)\n"});
        cases.push_back({"random",
                         Bytes(m, Random(5000)),
                         {},
                         0,
                         kRunning,
                         m + ": byte offset 0: not an .x file (no 'xof ' header)\n"});
        cases.push_back({"directory", Directory(m), {}, 0, kRunning, m + ": "});
        for (double fraction : {0.1, 0.5, 0.9})
            if (int(fraction * 10) % 3 == i) // each model cut at one fraction
                cases.push_back({"truncated", Truncated(m, fraction), {}, 0, kRunning, m + ": "});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + (c.errors.empty() ? "" : " " + c.errors));
        const std::string dir = MakeScratchDir(std::string("hostile_") + c.name);
        c.setup(dir);
        const ViewerRun run =
            RunProgram(ViewerPath(), c.args, Reproducible({{"DUOSCOPE_FRAMES", "3"}}), dir, 60);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.errors; // -1: crashed or hung
        if (c.log.ends_with("..."))
            EXPECT_TRUE(run.log.starts_with(c.log.substr(0, c.log.size() - 3))) << run.log;
        else
            EXPECT_EQ(run.log, c.log);
        EXPECT_TRUE(run.errors.starts_with(c.errors)) << run.errors;
        EXPECT_TRUE(run.errors.ends_with(c.also)) << run.errors;
    }
}

TEST(HostileInput, AMissingTextureLeavesTheModelPlainAndTheViewerRunning) {
    const std::string dir = MakeScratchDir("hostile_texture");
    fs::remove(dir + "/wall.png");
    const ViewerRun run =
        RunProgram(ViewerPath(), {}, Reproducible({{"DUOSCOPE_FRAMES", "3"}}), dir, 60);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.log, kRunning);
    // At most one line, and that one names the file.
    EXPECT_LE(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
    EXPECT_TRUE(run.errors.empty() || run.errors.find("wall.png") != std::string::npos);
}

} // namespace
