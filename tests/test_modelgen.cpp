// The model generator: the committed data/ files are exactly what it writes, and it refuses to
// write a model that breaks what the viewer relies on (its checks run on every write).
#include "modelgen.h"
#include "support/viewer_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;
using namespace modelgen;

TEST(ModelgenOutput, GeneratorReproducesCommittedData) {
    const fs::path out = MakeScratchDir("modelgen_check", false);
    const std::string cmd =
        std::string("\"") + DUO_MODELGEN_EXE + "\" \"" + out.string() + "\" > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::set<std::string> written;
    for (const auto& entry : fs::directory_iterator(out)) written.insert(entry.path().filename());
    EXPECT_EQ(written, (std::set<std::string>{"room.x", "seaman.x", "fatman.x", "crate.png",
                                              "fatman_suit.png", "fatman_tie.png", "floor.png",
                                              "seaman_shirt.png", "seaman_trousers.png", "skin.png",
                                              "wall.png"}));
    const fs::path data = fs::path(DUO_SOURCE_DIR) / "data";
    for (const std::string& name : written) {
        SCOPED_TRACE(name);
        const std::string generated = ReadFile(out / name), committed = ReadFile(data / name);
        ASSERT_FALSE(committed.empty()) << "run duoscope-modelgen data/ and commit the output";
        EXPECT_TRUE(generated == committed)
            << generated.size() << " bytes, committed " << committed.size();
    }
}

TEST(ModelgenChecks, BrokenModelsAreRefused) {
    const Model room = BuildRoom(), seaman = BuildSeaman(), fatman = BuildFatman();
    const std::vector<modelgen::Image> images = BuildTextures();
    EXPECT_EQ(CheckModels(room, seaman, fatman, images), "");
    Model low = room, flipped = room, heavy = seaman, stiff = seaman;
    for (Vec3& p : low.mesh.positions) p.y = std::min(p.y, 30.0);
    std::swap(flipped.mesh.faces[0][1], flipped.mesh.faces[0][2]);
    heavy.mesh.weights[0][0].weight = 0.5;
    for (Animation& a : stiff.sets[0].animations)
        for (AnimKey& k : a.keys) k.matrix = a.keys[0].matrix;
    const std::pair<std::string, std::string> cases[] = {
        {CheckModels(low, seaman, fatman, images),
         "room: the room does not enclose the wander square"},
        {CheckRoom(flipped), "face 0 is wound against its normals"},
        {CheckCharacter(heavy), "vertex 0: weights sum to 0.5, not 1"},
        {CheckCharacter(stiff), "the feet do not take turns"},
        {CheckModels(room, seaman, seaman, images), "the characters are too alike in shape"},
        {CheckModels(room, seaman, fatman, {images.begin() + 1, images.end()}),
         "the textures named and the textures made differ"},
    };
    for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}
