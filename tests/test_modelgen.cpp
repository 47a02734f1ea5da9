// The model generator: the committed data/ files are exactly what it writes, and the models it
// builds have the shape, skin and walk the viewer relies on.
#include "modelgen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace fs = std::filesystem;
using namespace modelgen;

namespace {

std::string ReadFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

struct Bounds {
    Vec3 lo{1e30, 1e30, 1e30}, hi{-1e30, -1e30, -1e30};
};

Bounds BoundsOf(const std::vector<Vec3>& points) {
    Bounds b;
    for (const Vec3& p : points) {
        b.lo = {std::min(b.lo.x, p.x), std::min(b.lo.y, p.y), std::min(b.lo.z, p.z)};
        b.hi = {std::max(b.hi.x, p.x), std::max(b.hi.y, p.y), std::max(b.hi.z, p.z)};
    }
    return b;
}

Vec3 FaceNormal(const std::vector<Vec3>& pos, const std::array<uint32_t, 3>& f) {
    return Cross(Sub(pos[f[1]], pos[f[0]]), Sub(pos[f[2]], pos[f[0]]));
}

// Every face is wound so that its normal agrees with its vertices' normals.
void ExpectWoundAsNormals(const Mesh& mesh, double minDot) {
    for (size_t f = 0; f < mesh.faces.size(); ++f) {
        const Vec3 n = FaceNormal(mesh.positions, mesh.faces[f]);
        ASSERT_GT(std::sqrt(Dot(n, n)), 1e-9) << "degenerate face " << f;
        for (uint32_t v : mesh.faces[f])
            ASSERT_GT(Dot(Normalize(n), mesh.normals[v]), minDot) << "face " << f;
    }
}

double MaxDifference(const Mat4& a, const Mat4& b) {
    double d = 0;
    for (int i = 0; i < 16; ++i) d = std::max(d, std::fabs(a.m[i] - b.m[i]));
    return d;
}

// Vertices rigidly bound to `bone` below `maxY` in the bind pose: a shoe.
std::vector<size_t> RigidVerticesBelow(const Model& m, int bone, double maxY) {
    std::vector<size_t> out;
    for (size_t v = 0; v < m.mesh.positions.size(); ++v)
        if (m.mesh.weights[v].size() == 1 && m.mesh.weights[v][0].bone == bone &&
            m.mesh.positions[v].y < maxY)
            out.push_back(v);
    return out;
}

double MaxZ(const std::vector<Vec3>& pos, const std::vector<size_t>& which) {
    double z = -1e30;
    for (size_t v : which) z = std::max(z, pos[v].z);
    return z;
}

int BoneIndex(const Model& m, const std::string& name) {
    auto it = std::find(m.bones.begin(), m.bones.end(), name);
    return it == m.bones.end() ? -1 : int(it - m.bones.begin());
}

// Each character in turn.
class ModelgenCharacter : public testing::TestWithParam<const char*> {
  protected:
    const Model m = std::string(GetParam()) == "seaman" ? BuildSeaman() : BuildFatman();
};

} // namespace

TEST(ModelgenOutput, GeneratorReproducesCommittedData) {
    const fs::path out = fs::path(DUO_BINARY_DIR) / "modelgen_check";
    fs::remove_all(out);
    fs::create_directories(out);
    const std::string cmd =
        std::string("\"") + DUO_MODELGEN_EXE + "\" \"" + out.string() + "\" > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

    std::set<std::string> expected = {"room.x", "seaman.x", "fatman.x"};
    for (const Image& img : BuildTextures()) expected.insert(img.name);
    std::set<std::string> written;
    for (const auto& entry : fs::directory_iterator(out)) written.insert(entry.path().filename());
    EXPECT_EQ(written, expected);

    const fs::path data = fs::path(DUO_SOURCE_DIR) / "data";
    for (const std::string& name : expected) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(fs::exists(data / name)) << "run duoscope-modelgen data/ and commit the output";
        const std::string generated = ReadFile(out / name), committed = ReadFile(data / name);
        const auto diff =
            std::mismatch(generated.begin(), generated.end(), committed.begin(), committed.end());
        EXPECT_TRUE(generated == committed)
            << generated.size() << " bytes, committed " << committed.size()
            << "; first difference at byte " << (diff.first - generated.begin());
    }
}

TEST(ModelgenOutput, EveryTextureIsNamedAndEveryNameIsWritten) {
    std::set<std::string> images, named;
    for (const Image& img : BuildTextures()) {
        images.insert(img.name);
        EXPECT_TRUE(img.width >= 16 && img.width <= 256 && img.height >= 16 && img.height <= 256)
            << img.name;
        EXPECT_EQ(img.rgb.size(), size_t(img.width) * img.height * 3) << img.name;
        std::vector<uint8_t> png = EncodePng(img);
        ASSERT_GT(png.size(), 8u);
        EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG") << img.name;
    }
    for (const Model& m : {BuildRoom(), BuildSeaman(), BuildFatman()})
        for (const Material& mat : m.mesh.materials)
            if (!mat.texture.empty()) named.insert(mat.texture);
    EXPECT_EQ(images, named);
}

TEST(ModelgenOutput, WriterUsesTheDocumentedSyntax) {
    Model m;
    m.frames = {{"Root", -1, Identity()}, {"Bone", 0, Translation({0, 2, 0})}};
    m.meshFrame = 0;
    m.mesh.name = "Tri";
    m.mesh.positions = {{0, 0, 0}, {0, 1, 0}, {1, 0, -0.0000001}};
    m.mesh.normals = {{0, 0, -1}, {0, 0, -1}, {0, 0, -1}};
    m.mesh.uvs = {{0, 1}, {0, 0}, {1, 1}};
    m.mesh.faces = {{0, 1, 2}};
    m.mesh.faceMaterial = {0};
    m.mesh.materials = {{"Red", 1, 0, 0, 0.5, 8, {0.1, 0.1, 0.1}, {0, 0, 0}, "red.png"}};
    m.mesh.weights = {{{0, 1}}, {{0, 0.5}}, {{0, 1}}};
    m.bones = {"Bone"};
    m.boneOffsets = {Translation({0, -2, 0})};
    m.sets = {{"Walk", {{"Bone", {{0, Translation({0, 2, 0})}, {4800, Translation({0, 3, 0})}}}}}};
    // "@" stands for the first three rows of an identity matrix.
    std::string expected =
        "xof 0303txt 0032\n\nAnimTicksPerSecond {\n 4800;\n}\n\nFrame Root {\n"
        " FrameTransformMatrix {\n  @0.000000,0.000000,0.000000,1.000000;;\n }\n\n Mesh Tri {\n"
        "  3;\n  0.000000;0.000000;0.000000;,\n  0.000000;1.000000;0.000000;,\n"
        "  1.000000;0.000000;0.000000;;\n  1;\n  3;0,1,2;;\n\n  MeshNormals {\n   3;\n"
        "   0.000000;0.000000;-1.000000;,\n   0.000000;0.000000;-1.000000;,\n"
        "   0.000000;0.000000;-1.000000;;\n   1;\n   3;0,1,2;;\n  }\n\n  MeshTextureCoords {\n"
        "   3;\n   0.000000;1.000000;,\n   0.000000;0.000000;,\n   1.000000;1.000000;;\n  }\n\n"
        "  MeshMaterialList {\n   1;\n   1;\n   0;\n   Material Red {\n"
        "    1.000000;0.000000;0.000000;0.500000;;\n    8.000000;\n"
        "    0.100000;0.100000;0.100000;;\n    0.000000;0.000000;0.000000;;\n"
        "    TextureFilename {\n     \"red.png\";\n    }\n   }\n  }\n\n  XSkinMeshHeader {\n"
        "   1;\n   1;\n   1;\n  }\n\n  SkinWeights {\n   \"Bone\";\n   3;\n   0,\n   1,\n   2;\n"
        "   1.000000,\n   0.500000,\n   1.000000;\n   @0.000000,-2.000000,0.000000,1.000000;;\n"
        "  }\n }\n\n Frame Bone {\n  FrameTransformMatrix {\n"
        "   @0.000000,2.000000,0.000000,1.000000;;\n  }\n }\n}\n\nAnimationSet Walk {\n"
        " Animation {\n  {Bone}\n  AnimationOptions {\n   1;\n   0;\n  }\n  AnimationKey {\n"
        "   4;\n   2;\n   0;16;@0.000000,2.000000,0.000000,1.000000;;,\n"
        "   4800;16;@0.000000,3.000000,0.000000,1.000000;;;\n  }\n }\n}\n";
    for (size_t at; (at = expected.find('@')) != std::string::npos;)
        expected.replace(at, 1,
                         "1.000000,0.000000,0.000000,0.000000,0.000000,1.000000,0.000000,"
                         "0.000000,0.000000,0.000000,1.000000,0.000000,");
    EXPECT_EQ(WriteXText(m), expected);
}

TEST(ModelgenRoom, EnclosesTheWanderSquareWithRoomToSpare) {
    const Model room = BuildRoom();
    EXPECT_TRUE(room.frames.empty());
    EXPECT_TRUE(room.mesh.weights.empty());
    const size_t n = room.mesh.positions.size();
    EXPECT_TRUE(n >= 300 && n <= 3000) << n << " vertices";
    const Bounds b = BoundsOf(room.mesh.positions);
    EXPECT_DOUBLE_EQ(b.lo.y, 0.0);
    EXPECT_GE(b.hi.y, 40.0); // well above the eyes, 25 over the feet
    for (double v : {-b.lo.x, b.hi.x, -b.lo.z, b.hi.z}) EXPECT_GE(v, 170.0);
}

TEST(ModelgenRoom, MaterialsExerciseBothSweeps) {
    const Mesh& mesh = BuildRoom().mesh;
    ASSERT_GE(mesh.materials.size(), 3u);
    bool texturedFloor = false, plainOpaque = false, halfAlpha = false;
    for (const Material& m : mesh.materials) {
        texturedFloor |= m.texture == "floor.png" && m.a == 1.0;
        plainOpaque |= m.texture.empty() && m.a == 1.0;
        halfAlpha |= m.a == 0.5;
    }
    EXPECT_TRUE(texturedFloor);
    EXPECT_TRUE(plainOpaque);
    EXPECT_TRUE(halfAlpha);
    // Each material is used and its faces form one contiguous range.
    EXPECT_TRUE(std::is_sorted(mesh.faceMaterial.begin(), mesh.faceMaterial.end()));
    std::set<uint32_t> used(mesh.faceMaterial.begin(), mesh.faceMaterial.end());
    EXPECT_EQ(used.size(), mesh.materials.size());
}

TEST(ModelgenRoom, ShellFacesIntoTheRoomAndWindingMatchesNormals) {
    const Mesh mesh = BuildRoom().mesh;
    ExpectWoundAsNormals(mesh, 0.5);
    const std::set<std::string> shell = {"Floor", "Ceiling", "WallPaint", "Brick"};
    size_t shellFaces = 0;
    for (size_t f = 0; f < mesh.faces.size(); ++f) {
        const auto& face = mesh.faces[f];
        if (!shell.count(mesh.materials[mesh.faceMaterial[f]].name)) continue;
        ++shellFaces;
        Vec3 centroid = Scale(
            Add(Add(mesh.positions[face[0]], mesh.positions[face[1]]), mesh.positions[face[2]]),
            1.0 / 3);
        // The room's middle, at eye height, lies in front of every shell face.
        EXPECT_GT(Dot(FaceNormal(mesh.positions, face), Sub({0, 25, 0}, centroid)), 0)
            << "face " << f;
    }
    EXPECT_GE(shellFaces, 12u);
}

TEST_P(ModelgenCharacter, StandAboutTwentyFourTallFacingPlusZ) {
    const Bounds b = BoundsOf(m.mesh.positions);
    EXPECT_GE(b.hi.y, 22.0);
    EXPECT_LE(b.hi.y, 26.0);
    EXPECT_NEAR(b.lo.y, 0.0, 1e-9);
    // Face (below the hat) and shoes stick out in front (+z), not behind.
    std::vector<Vec3> head;
    for (size_t v = 0; v < m.mesh.positions.size(); ++v)
        if (m.mesh.weights[v][0].bone == BoneIndex(m, "Head") && m.mesh.positions[v].y < 22.2)
            head.push_back(m.mesh.positions[v]);
    const Bounds h = BoundsOf(head);
    EXPECT_GT(h.hi.z + h.lo.z, 0.3);
    EXPECT_GT(b.hi.z, -b.lo.z);
    const size_t n = m.mesh.positions.size();
    EXPECT_TRUE(n >= 500 && n <= 5000) << n << " vertices";
}

TEST(ModelgenCharacters, ToldApartByShapeAndColour) {
    const Model seaman = BuildSeaman(), fatman = BuildFatman();
    const Bounds s = BoundsOf(seaman.mesh.positions), f = BoundsOf(fatman.mesh.positions);
    EXPECT_GT(f.hi.x - f.lo.x, 1.3 * (s.hi.x - s.lo.x));
    EXPECT_GT(f.hi.z - f.lo.z, 1.5 * (s.hi.z - s.lo.z));
    std::set<std::string> clothes;
    for (const Model* m : {&seaman, &fatman})
        for (const Material& mat : m->mesh.materials)
            if (!mat.texture.empty() && mat.texture != "skin.png") clothes.insert(mat.texture);
    EXPECT_GE(clothes.size(), 4u); // no clothing texture shared
}

TEST_P(ModelgenCharacter, SkinIsCompleteNormalisedAndInvertsTheBindPose) {
    for (const char* bone : {"Hips", "Spine", "Head", "LeftArm", "RightArm", "LeftLeg", "RightLeg",
                             "LeftFoot", "RightFoot"})
        EXPECT_GE(BoneIndex(m, bone), 0) << bone;
    ASSERT_EQ(m.boneOffsets.size(), m.bones.size());
    ASSERT_EQ(m.mesh.weights.size(), m.mesh.positions.size());
    std::vector<size_t> perBone(m.bones.size());
    bool blended = false;
    for (const auto& w : m.mesh.weights) {
        double sum = 0;
        for (const Influence& in : w) {
            ASSERT_TRUE(in.bone >= 0 && size_t(in.bone) < m.bones.size());
            EXPECT_GT(in.weight, 0.0);
            ++perBone[in.bone];
            sum += in.weight;
        }
        EXPECT_EQ(sum, 1.0);
        blended |= w.size() > 1;
    }
    EXPECT_TRUE(blended);
    for (size_t b = 0; b < m.bones.size(); ++b) EXPECT_GT(perBone[b], 0u) << m.bones[b];

    const std::vector<Mat4> bind = CombinedMatrices(m, BindLocals(m));
    for (size_t b = 0; b < m.bones.size(); ++b) {
        int frame = FindFrame(m, m.bones[b]);
        ASSERT_GE(frame, 0) << m.bones[b];
        EXPECT_LT(MaxDifference(Multiply(m.boneOffsets[b], bind[frame]), Identity()), 1e-9);
    }
    const std::vector<Vec3> skinned = SkinPositions(m, bind);
    for (size_t v = 0; v < skinned.size(); ++v)
        ASSERT_LT(std::sqrt(Dot(Sub(skinned[v], m.mesh.positions[v]),
                                Sub(skinned[v], m.mesh.positions[v]))),
                  1e-9);
}

TEST_P(ModelgenCharacter, FacesAreWoundOutwardAsTheirNormals) {
    EXPECT_TRUE(std::is_sorted(m.mesh.faceMaterial.begin(), m.mesh.faceMaterial.end()));
    ExpectWoundAsNormals(m.mesh, 0.2);
}

TEST_P(ModelgenCharacter, WalkIsOneLoopingSecondOfRigidMatrixKeys) {
    EXPECT_EQ(m.ticksPerSecond, 4800u);
    ASSERT_EQ(m.sets.size(), 1u);
    EXPECT_EQ(m.sets[0].name, "Walk");
    std::set<std::string> animated;
    uint32_t end = m.sets[0].animations.at(0).keys.back().tick;
    EXPECT_TRUE(end >= 3600 && end <= 6000) << end;
    for (const Animation& a : m.sets[0].animations) {
        SCOPED_TRACE(a.frame);
        const int frame = FindFrame(m, a.frame);
        ASSERT_GE(frame, 0);
        animated.insert(a.frame);
        ASSERT_GE(a.keys.size(), 2u);
        EXPECT_EQ(a.keys.front().tick, 0u);
        EXPECT_EQ(a.keys.back().tick, end);
        EXPECT_EQ(MaxDifference(a.keys.front().matrix, a.keys.back().matrix), 0.0);
        for (size_t k = 1; k < a.keys.size(); ++k) {
            EXPECT_GT(a.keys[k].tick, a.keys[k - 1].tick);
            EXPECT_LE(a.keys[k].tick - a.keys[k - 1].tick, 600u);
        }
        for (const AnimKey& key : a.keys) {
            // Rotation rows orthonormal, no projection column.
            const auto& e = key.matrix.m;
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c) {
                    double d = e[r * 4] * e[c * 4] + e[r * 4 + 1] * e[c * 4 + 1] +
                               e[r * 4 + 2] * e[c * 4 + 2];
                    EXPECT_NEAR(d, r == c ? 1.0 : 0.0, 1e-9);
                }
            for (int i : {3, 7, 11}) EXPECT_EQ(e[i], 0.0);
            EXPECT_EQ(e[15], 1.0);
            // Limbs turn about their joint: the translation is the bind one.
            if (a.frame != "Hips") {
                for (int i = 12; i < 15; ++i) EXPECT_NEAR(e[i], m.frames[frame].local.m[i], 1e-12);
            }
        }
    }
    for (const char* f : {"LeftLeg", "RightLeg", "LeftArm", "RightArm", "Hips"})
        EXPECT_TRUE(animated.count(f)) << f;
}

TEST_P(ModelgenCharacter, WalkAlternatesTheFeetOnTheFloor) {
    const uint32_t end = m.sets[0].animations[0].keys.back().tick;
    const auto leftShoe = RigidVerticesBelow(m, BoneIndex(m, "LeftFoot"), 1.2),
               rightShoe = RigidVerticesBelow(m, BoneIndex(m, "RightFoot"), 1.2);
    ASSERT_FALSE(leftShoe.empty());
    ASSERT_FALSE(rightShoe.empty());
    auto pose = [&](uint32_t tick) {
        return SkinPositions(m, CombinedMatrices(m, PoseLocals(m, 0, tick)));
    };
    // A quarter stride in the left foot leads, three quarters in the right one.
    const auto q1 = pose(end / 4), q3 = pose(end * 3 / 4);
    EXPECT_GT(MaxZ(q1, leftShoe), MaxZ(q1, rightShoe) + 2.0);
    EXPECT_GT(MaxZ(q3, rightShoe), MaxZ(q3, leftShoe) + 2.0);
    for (uint32_t tick = 0; tick <= end; tick += end / 16) {
        const Bounds b = BoundsOf(pose(tick));
        EXPECT_GE(b.lo.y, -0.4) << tick; // shoes neither sink nor float
        EXPECT_LE(b.lo.y, 0.4) << tick;
        EXPECT_GE(b.hi.y, 21.0) << tick;
        EXPECT_LE(b.hi.y, 26.0) << tick;
    }
}

INSTANTIATE_TEST_SUITE_P(Both, ModelgenCharacter, testing::Values("seaman", "fatman"),
                         [](const auto& info) { return std::string(info.param); });
