// The .x reader: the three container formats, materials and their references, vertex parts,
// polygons, normal splitting; and the third-party files as exported, when present.
#include "test_xfile_util.h"

using namespace xtest;
using xfile::MeshData;
using xfile::Scene;

namespace {

// Everything the reader gives, as text (numbers to five digits): equal scenes print the same.
std::string Print(const Scene& s) {
    std::string o =
        std::to_string(s.ticksPerSecond) + " ticks, sets " + std::to_string(s.sets.size());
    auto nums = [&o](const float* f, size_t n) {
        char buf[32];
        for (size_t i = 0; i < n; ++i) o += (std::snprintf(buf, sizeof buf, " %.5g", f[i]), buf);
    };
    for (const xfile::Frame& f : s.frames) o += "\n" + f.name, nums(&f.transform.m[0][0], 16);
    for (const MeshData& m : s.meshes) {
        const MeshDeclaration& d = m.declaration;
        o += "\nmesh " + m.name + " " + char('0' + d.hasNormal) + char('0' + d.hasTexCoord) +
             char('0' + d.hasColor);
        for (const MeshVertex& v : m.vertices)
            nums(v.position, 3), nums(v.normal, 3), nums(v.texcoord, 2),
                o += " " + std::to_string(v.color);
        for (uint32_t i : m.indices) o += " " + std::to_string(i);
        for (uint32_t a : m.attributes) o += " a" + std::to_string(a);
        for (const xfile::Material& k : m.materials) o += "\n" + k.texture, nums(k.faceColor, 4);
        for (const xfile::Bone& b : m.bones) {
            o += "\n" + b.name;
            for (uint32_t v : b.vertices) o += " " + std::to_string(v);
            nums(b.weights.data(), b.weights.size());
            nums(&b.offset.m[0][0], 16);
        }
    }
    return o;
}

} // namespace

TEST(XFileReader, EveryContainerFormatReadsTheSame) {
    // The fixture in binary with 32- and 64-bit floats, and compressed in blocks of 200 and 100
    // bytes, so that every block after the first inflates with the previous ones as dictionary.
    const Scene text = MustRead(ReadBytes(Corpus("model.x")));
    EXPECT_EQ(std::pair(text.meshes.size(), text.ticksPerSecond), std::pair(size_t(2), 10.0));
    for (const char* name : {"model-bin.x", "model-bin64.x", "model-tzip.x", "model-bzip.x"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Print(MustRead(ReadBytes(Corpus(name)))), Print(text));
    }
}

TEST(XFileReader, ThirdPartyFilesReadAsExported) {
    // What the Assimp oracle does not compare: real exporters' binary and compressed files read
    // as their text twin; colours, DeclData.
    SKIP_WITHOUT_THIRD_PARTY();
    const Scene cube = MustRead(ReadBytes(ThirdParty("test_cube_text.x")));
    ASSERT_EQ(cube.meshes.size(), 1u); // its values go through the code our fixtures check
    for (const char* name : {"test_cube_binary.x", "test_cube_compressed.x"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Print(MustRead(ReadBytes(ThirdParty(name)))), Print(cube));
    }

    const Scene s = MustRead(ReadBytes(ThirdParty("kwxport_test_cubewithvcolors.x")));
    ASSERT_TRUE(s.meshes.size() == 1u && s.meshes[0].vertices.size() > 12);
    const MeshData& m = s.meshes[0];
    const auto& v = m.vertices;
    EXPECT_TRUE(m.declaration.hasColor); // vertices 0, 1, 6: red, white, green
    EXPECT_EQ((std::vector<uint32_t>{v[0].color, v[1].color, v[6].color}),
              (std::vector<uint32_t>{0xFFFF0000u, 0xFFFFFFFFu, 0xFF00FF00u}));
    // DeclData carries a tangent and a binormal (FLOAT3, usages 7 and 6): read, checked against
    // the data size, and left out of the vertex, whose normals stay the file's.
    ASSERT_EQ(m.declElements.size(), 2u);
    EXPECT_EQ(m.declElements[0].usage, 7u);
    EXPECT_EQ((std::vector<float>{v[0].normal[1], v[12].normal[0]}), (std::vector<float>{-1, 1}));
    ASSERT_EQ(m.materials.size(), 3u);
    // Texture names stay as written: the texture loader deals with the Windows path.
    EXPECT_EQ(m.materials[1].texture,
              "C:\\\\code\\\\sourceforge\\\\kwxport\\\\trunkMerged\\\\test\\\\data\\\\top.tga");
    EXPECT_EQ(m.attributes, (std::vector<uint32_t>{0, 0, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2}));
}

TEST(XFileReader, MaterialsResolveByNamePolygonsBecomeFansUnknownObjectsAreSkipped) {
    const Scene s = MustRead(TextBytes(R"(
Material Red { 1;0;0;1;; 1; 0;0;0;; 0;0;0;; }
Material Green { 0;1;0;1;; 2; 0;0;0;; 0;0;0;; TextureFilename { "green.png"; } }
Material Blue { 0;0;1;1;; 3; 0;0;0;; 0;0;0;; }
Frame Blue { }
Mesh quad { 4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;; 3; 3;0,1,2;, 3;0,2,3;, 3;0,1,3;;
  MeshMaterialList { 3; 2; 2, 0; { Blue } { Red } { Green <3d82ab4d-62da-11cf-ab39-0020af71e433> } }
}
)"));
    ASSERT_EQ(s.meshes.size(), 1u);
    const std::vector<xfile::Material>& mat = s.meshes[0].materials;
    ASSERT_EQ(mat.size(), 3u);
    EXPECT_EQ((std::vector<std::string>{mat[0].name, mat[1].name, mat[2].name}),
              (std::vector<std::string>{"Blue", "Red", "Green"}));
    EXPECT_EQ((std::vector<float>{mat[0].faceColor[2], mat[0].power}), (std::vector<float>{1, 3}));
    EXPECT_EQ(mat[2].texture, "green.png");
    // Two face entries for three faces: the last entry repeats.
    EXPECT_EQ(s.meshes[0].attributes, (std::vector<uint32_t>{2, 0, 0}));
    // A top-level mesh gets an unnamed frame of its own.
    ASSERT_EQ(s.roots.size(), 2u);
    EXPECT_EQ(s.frames[s.roots[0]].name, "Blue");
    EXPECT_FALSE(s.frames[s.roots[1]].named);

    const Scene fans = MustRead(TextBytes(R"(
# a comment
template Custom { <01234567-89ab-cdef-0123-456789abcdef> DWORD x; [...] }
Custom c { 5; Mesh inner { 1; 0;0;0;; 0;; } { Somewhere } }   // skipped whole
Frame F {
  FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 7,8,9,1;; }
  Mesh poly { 6; 0;0;0;, 1;0;0;, 2;1;0;, 1;2;0;, 0;2;0;, 5;5;5;; 2; 5;0,1,2,3,4;, 3;5,0,1;; }
}
)"));
    ASSERT_EQ(std::pair(fans.meshes.size(), fans.roots.size()), std::pair(size_t(1), size_t(1)));
    EXPECT_EQ(fans.frames[fans.roots[0]].transform.m[3][2], 9.0f);
    EXPECT_EQ(fans.meshes[0].indices, (std::vector<uint32_t>{0, 1, 2, 0, 2, 3, 0, 3, 4, 5, 0, 1}));
    EXPECT_EQ(fans.ticksPerSecond, 4800); // no AnimTicksPerSecond
}

TEST(XFileReader, NormalsSplitVerticesAndSkinFollowsTheCopies) {
    // Vertex 1 carries normal 0 in face 0 and normal 1 in face 1: it is copied.
    const Scene s = MustRead(TextBytes(R"(
Frame Bone { }
Mesh m { 4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;; 2; 3;0,1,2;, 3;0,2,3;;
  MeshNormals { 2; 0;0;1;, 0;1;0;; 2; 3;0,0,0;, 3;1,1,1;; }
  MeshTextureCoords { 4; 0;0;, 1;0;, 1;1;, 0;1;; }
  SkinWeights { "Bone"; 2; 0, 2; 0.25, 0.75; 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; }
}
Frame A { { m } }
)"));
    // A top-level mesh that a frame places gets no frame of its own.
    ASSERT_EQ(std::pair(s.meshes.size(), s.roots.size()), std::pair(size_t(1), size_t(2)));
    EXPECT_TRUE(s.frames[s.roots[1]].items.at(0).isMesh);
    const MeshData& m = s.meshes[0];
    const auto& v = m.vertices;
    ASSERT_EQ(v.size(), 6u); // vertices 0 and 2 are shared by both faces
    EXPECT_EQ(m.sourcePosition, (std::vector<uint32_t>{0, 1, 2, 3, 0, 2}));
    EXPECT_EQ(m.indices, (std::vector<uint32_t>{0, 1, 2, 4, 5, 3}));
    // Normals per copy; copy 5 keeps its position and that position's texture coordinates.
    EXPECT_EQ(
        (std::vector<float>{v[0].normal[2], v[4].normal[1], v[5].position[0], v[5].texcoord[1]}),
        (std::vector<float>{1, 1, 1, 1}));
    ASSERT_EQ(m.bones.size(), 1u);
    EXPECT_EQ(m.bones[0].vertices, (std::vector<uint32_t>{0, 4, 2, 5}));
    EXPECT_EQ(m.bones[0].weights, (std::vector<float>{0.25f, 0.25f, 0.75f, 0.75f}));
}
