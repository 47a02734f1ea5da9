// The .x reader on real exported files and on small hand-written ones: the three container
// formats, materials and their references, vertex parts, polygons, normal splitting.
#include "test_xfile_util.h"

using namespace xtest;
using xfile::MeshData;
using xfile::Scene;

namespace {

Scene MustRead(const std::vector<uint8_t>& bytes) {
    Scene s;
    std::string error;
    EXPECT_TRUE(Read(bytes, s, &error)) << error;
    return s;
}

Scene MustLoad(const char* name) {
    return MustRead(ReadBytes(SharedFile(name)));
}

template <size_t N> float Diff(const float (&a)[N], const float (&b)[N]) {
    float d = 0;
    for (size_t i = 0; i < N; ++i) d = std::max(d, std::fabs(a[i] - b[i]));
    return d;
}

void ExpectSameMesh(const MeshData& a, const MeshData& b) {
    ASSERT_EQ(a.vertices.size(), b.vertices.size());
    for (size_t v = 0; v < a.vertices.size(); ++v) {
        EXPECT_LE(Diff(a.vertices[v].position, b.vertices[v].position), 1e-6f) << "vertex " << v;
        EXPECT_LE(Diff(a.vertices[v].normal, b.vertices[v].normal), 1e-6f) << "vertex " << v;
    }
    EXPECT_EQ(a.indices, b.indices);
    EXPECT_EQ(a.attributes, b.attributes);
    EXPECT_EQ(a.declaration, b.declaration);
    ASSERT_EQ(a.materials.size(), b.materials.size());
    for (size_t m = 0; m < a.materials.size(); ++m) {
        EXPECT_LE(Diff(a.materials[m].faceColor, b.materials[m].faceColor), 1e-6f) << m;
        EXPECT_NEAR(a.materials[m].power, b.materials[m].power, 1e-4);
        EXPECT_EQ(a.materials[m].texture, b.materials[m].texture);
    }
    ASSERT_EQ(a.bones.size(), b.bones.size());
    for (size_t i = 0; i < a.bones.size(); ++i) {
        EXPECT_EQ(a.bones[i].name, b.bones[i].name);
        EXPECT_EQ(a.bones[i].vertices, b.bones[i].vertices);
        EXPECT_EQ(a.bones[i].weights, b.bones[i].weights);
        EXPECT_LT(MaxDifference(a.bones[i].offset, b.bones[i].offset), 1e-6f);
    }
}

// Rows (1,0,0), (0,0,1), (0,1,0): swaps y and z.
const D3DXMATRIX kSwapYZ{{{1, 0, 0, 0}, {0, 0, 1, 0}, {0, 1, 0, 0}, {0, 0, 0, 1}}};

} // namespace

TEST(XFileReader, CubeTextReadsAsExported) {
    const Scene s = MustLoad("test_cube_text.x");
    EXPECT_EQ(s.ticksPerSecond, 24);
    ASSERT_EQ(s.roots.size(), 1u);
    const xfile::Frame& root = s.frames[s.roots[0]];
    EXPECT_EQ(root.name, "Root");
    EXPECT_EQ(MaxDifference(root.transform, kSwapYZ), 0.0f);
    ASSERT_EQ(root.items.size(), 1u);
    ASSERT_FALSE(root.items[0].isMesh);
    const xfile::Frame& cube = s.frames[root.items[0].index];
    EXPECT_EQ(cube.name, "Cube");
    ASSERT_EQ(cube.items.size(), 1u);
    ASSERT_TRUE(cube.items[0].isMesh);

    const MeshData& m = s.meshes[cube.items[0].index];
    EXPECT_EQ(m.name, "Cube");
    EXPECT_EQ(m.fileVertices, 24u);
    EXPECT_EQ(m.vertices.size(), 24u);
    EXPECT_EQ(m.attributes.size(), 12u);
    EXPECT_EQ((std::vector<uint32_t>(m.indices.begin(), m.indices.begin() + 6)),
              (std::vector<uint32_t>{0, 2, 1, 0, 1, 3}));
    const auto& v = m.vertices; // sample positions and normals, exactly as written
    EXPECT_EQ((std::vector<float>{v[0].position[0], v[0].position[2], v[4].position[0],
                                  v[0].normal[1], v[20].normal[2]}),
              (std::vector<float>{-1, 1, 0.999999f, -1, 1}));
    EXPECT_EQ(m.declaration, (MeshDeclaration{true, true, false}));

    ASSERT_EQ(m.materials.size(), 1u);
    EXPECT_EQ(m.materials[0].name, "Material");
    EXPECT_FLOAT_EQ(m.materials[0].faceColor[0], 0.639216f);
    EXPECT_FLOAT_EQ(m.materials[0].power, 96.078430f);
    EXPECT_FLOAT_EQ(m.materials[0].specular[2], 0.498039f);
    EXPECT_FALSE(m.materials[0].hasTexture);

    ASSERT_EQ(m.bones.size(), 1u);
    EXPECT_EQ(m.bones[0].name, "Cube");
    EXPECT_EQ(m.bones[0].vertices.size(), 24u);
    EXPECT_EQ(m.bones[0].weights[23], 1.0f);
    EXPECT_EQ(MaxDifference(m.bones[0].offset, kSwapYZ), 0.0f);
}

TEST(XFileReader, EveryContainerFormatReadsTheSame) {
    // The cube as exported in binary and compressed form, and images compressed here: small
    // blocks make every block after the first depend on the dictionary carried over.
    const std::vector<uint8_t> binary = ReadBytes(SharedFile("test_cube_binary.x")),
                               wusonText = ReadBytes(SharedFile("Testwuson.X"));
    auto triangle = [](int floatBytes) {
        BinaryWriter w(floatBytes);
        w.Open("Mesh", "tri");
        w.Ints({3});
        w.Floats({0.1, 0.2, 0.3, 1.5, -2.25, 3, 1e-3, 4, 5});
        w.Ints({1, 3, 0, 1, 2});
        w.Open("MeshTextureCoords");
        w.Ints({3});
        w.Floats({0, 0, 1, 0, 0.5, 1});
        w.Close();
        w.Close();
        return w.out;
    };
    const Scene cube = MustLoad("test_cube_text.x"), wuson = MustRead(wusonText),
                narrow = MustRead(triangle(4));
    const struct {
        const char* name;
        std::vector<uint8_t> image;
        const Scene& like;
    } cases[] = {
        {"binary cube", binary, cube},
        {"compressed cube", ReadBytes(SharedFile("test_cube_compressed.x")), cube},
        {"binary cube compressed here", Compress(binary, 200), cube},
        {"Wuson compressed here", Compress(wusonText), wuson},
        {"binary with 64-bit floats", triangle(8), narrow},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Scene s = MustRead(c.image);
        EXPECT_EQ(s.ticksPerSecond, c.like.ticksPerSecond);
        EXPECT_EQ(s.sets.size(), c.like.sets.size());
        ASSERT_EQ(s.frames.size(), c.like.frames.size());
        for (size_t f = 0; f < s.frames.size(); ++f) {
            EXPECT_EQ(s.frames[f].name, c.like.frames[f].name);
            EXPECT_LT(MaxDifference(s.frames[f].transform, c.like.frames[f].transform), 1e-6f);
        }
        ASSERT_EQ(s.meshes.size(), 1u);
        ExpectSameMesh(c.like.meshes[0], s.meshes[0]);
    }
    const Scene wide = MustRead(triangle(8));
    EXPECT_FLOAT_EQ(wide.meshes[0].vertices[0].position[0], 0.1f);
    EXPECT_FLOAT_EQ(wide.meshes[0].vertices[2].texcoord[0], 0.5f);
}

TEST(XFileReader, VertexColourCubeKeepsColoursTexturesAndDeclData) {
    const Scene s = MustLoad("kwxport_test_cubewithvcolors.x");
    ASSERT_EQ(s.meshes.size(), 1u);
    const MeshData& m = s.meshes[0];
    const auto& v = m.vertices;
    EXPECT_EQ(m.name, "mesh_Box01");
    EXPECT_EQ(s.frames[s.roots[0]].transform.m[3][1], -0.492126f);

    EXPECT_TRUE(m.declaration.hasColor); // vertices 0, 1, 6, 23: red, white, green, green
    EXPECT_EQ((std::vector<uint32_t>{v[0].color, v[1].color, v[6].color, v[23].color}),
              (std::vector<uint32_t>{0xFFFF0000u, 0xFFFFFFFFu, 0xFF00FF00u, 0xFF00FF00u}));

    // DeclData carries a tangent and a binormal (FLOAT3, usages 7 and 6): read, checked
    // against the data size, and left out of the vertex, whose normals stay the file's.
    ASSERT_EQ(m.declElements.size(), 2u);
    EXPECT_EQ(m.declElements[0].type, 2u);
    EXPECT_EQ(m.declElements[0].usage, 7u);
    EXPECT_EQ(m.declElements[1].usage, 6u);
    EXPECT_EQ((std::vector<float>{v[0].normal[1], v[12].normal[0], v[1].texcoord[1]}),
              (std::vector<float>{-1, 1, 1}));

    ASSERT_EQ(m.materials.size(), 3u);
    const char* names[] = {"bottom", "top", "side"};
    const char* files[] = {"bottom.tga", "top.tga", "updown.tga"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m.materials[i].name, names[i]);
        EXPECT_TRUE(m.materials[i].hasTexture);
        // Texture names stay as written (the texture loader deals with the Windows path).
        EXPECT_EQ(
            m.materials[i].texture,
            std::string("C:\\\\code\\\\sourceforge\\\\kwxport\\\\trunkMerged\\\\test\\\\data\\\\") +
                files[i]);
    }
    EXPECT_FLOAT_EQ(m.materials[1].power, 52.999996f);
    EXPECT_EQ(m.attributes, (std::vector<uint32_t>{0, 0, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2}));
}

TEST(XFileReader, WusonHasItsFramesBonesAndSets) {
    const Scene s = MustLoad("Testwuson.X");
    EXPECT_EQ(s.frames.size(), 39u);
    ASSERT_EQ(s.roots.size(), 2u);
    EXPECT_EQ(s.frames[s.roots[0]].name, "Wuson");
    EXPECT_EQ(s.frames[s.roots[1]].name, "Root");
    ASSERT_EQ(s.meshes.size(), 1u);
    const MeshData& m = s.meshes[0];
    EXPECT_EQ(m.fileVertices, 3205u);
    EXPECT_TRUE(m.materials.empty());
    ASSERT_EQ(m.bones.size(), 37u);
    EXPECT_EQ(m.bones[0].name, "ForeLeg_R_05");
    EXPECT_EQ(m.bones[0].offset.m[0][2], 0.999930f);
    EXPECT_EQ(m.bones[0].offset.m[3][1], -0.556346f);
    EXPECT_EQ(m.bones[0].vertices.size(), 65u);
    EXPECT_EQ(m.bones.back().name, "Tail01");
    EXPECT_EQ(m.bones.back().offset.m[3][1], -1.337518f);

    EXPECT_EQ(s.ticksPerSecond, 4800);
    std::vector<std::string> sets;
    for (const xfile::AnimationSet& set : s.sets) sets.push_back(set.name);
    EXPECT_EQ(sets, (std::vector<std::string>{"Wuson_Run", "Wuson_Walk", "Wuson_Bind"}));
    const auto& run = s.sets[0].animations;
    ASSERT_EQ(run.size(), 39u);
    EXPECT_EQ(run[1].frameName, "Root");
    ASSERT_EQ(run[1].positions.size(), 30u);
    EXPECT_EQ(run[1].positions[29].time, 4640u);
    EXPECT_FLOAT_EQ(run[0].rotations[0].value[1], -0.707107f); // w, x, y, z
}

TEST(XFileReader, MaterialReferencesResolveByName) {
    const Scene s = MustRead(Bytes(Text(R"(
Material Red { 1;0;0;1;; 1; 0;0;0;; 0;0;0;; }
Material Green { 0;1;0;1;; 2; 0;0;0;; 0;0;0;; TextureFilename { "green.png"; } }
Material Blue { 0;0;1;1;; 3; 0;0;0;; 0;0;0;; }
Frame Blue { }
Mesh quad { 4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;; 3; 3;0,1,2;, 3;0,2,3;, 3;0,1,3;;
  MeshMaterialList { 3; 2; 2, 0; { Blue } { Red } { Green <3d82ab4d-62da-11cf-ab39-0020af71e433> } }
}
)")));
    ASSERT_EQ(s.meshes.size(), 1u);
    const std::vector<xfile::Material>& mat = s.meshes[0].materials;
    ASSERT_EQ(mat.size(), 3u);
    EXPECT_EQ(mat[0].name, "Blue");
    EXPECT_EQ(mat[0].faceColor[2], 1.0f);
    EXPECT_EQ(mat[0].power, 3.0f);
    EXPECT_EQ(mat[1].name, "Red");
    EXPECT_EQ(mat[1].faceColor[0], 1.0f);
    EXPECT_EQ(mat[2].name, "Green");
    EXPECT_EQ(mat[2].texture, "green.png");
    // Two face entries for three faces: the last entry repeats.
    EXPECT_EQ(s.meshes[0].attributes, (std::vector<uint32_t>{2, 0, 0}));
    // A top-level mesh gets an unnamed frame of its own.
    ASSERT_EQ(s.roots.size(), 2u);
    EXPECT_EQ(s.frames[s.roots[0]].name, "Blue");
    EXPECT_FALSE(s.frames[s.roots[1]].named);
}

TEST(XFileReader, PolygonsBecomeFansAndUnknownObjectsAreSkipped) {
    const Scene s = MustRead(Bytes(Text(R"(
# a comment
template Custom { <01234567-89ab-cdef-0123-456789abcdef> DWORD x; [...] }
Custom c { 5; Mesh inner { 1; 0;0;0;; 0;; } { Somewhere } }   // skipped whole
Frame F {
  FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 7,8,9,1;; }
  Mesh poly { 6; 0;0;0;, 1;0;0;, 2;1;0;, 1;2;0;, 0;2;0;, 5;5;5;; 2; 5;0,1,2,3,4;, 3;5,0,1;; }
}
)")));
    ASSERT_EQ(s.meshes.size(), 1u);
    ASSERT_EQ(s.roots.size(), 1u);
    EXPECT_EQ(s.frames[s.roots[0]].transform.m[3][2], 9.0f);
    EXPECT_EQ(s.meshes[0].fileFaces, 2u);
    EXPECT_EQ(s.meshes[0].indices, (std::vector<uint32_t>{0, 1, 2, 0, 2, 3, 0, 3, 4, 5, 0, 1}));
    EXPECT_EQ(s.ticksPerSecond, 4800); // no AnimTicksPerSecond
}

TEST(XFileReader, NormalsSplitVerticesAndSkinFollowsTheCopies) {
    // Vertex 1 carries normal 0 in face 0 and normal 1 in face 1: it is copied.
    const Scene s = MustRead(Bytes(Text(R"(
Frame Bone { }
Mesh m { 4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;; 2; 3;0,1,2;, 3;0,2,3;;
  MeshNormals { 2; 0;0;1;, 0;1;0;; 2; 3;0,0,0;, 3;1,1,1;; }
  MeshTextureCoords { 4; 0;0;, 1;0;, 1;1;, 0;1;; }
  SkinWeights { "Bone"; 2; 0, 2; 0.25, 0.75; 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; }
}
)")));
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

TEST(XFileReader, FramesPlaceMeshesTheyReference) {
    const Scene s = MustRead(Bytes(Text(R"(
Mesh shared { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }
Frame A { { shared } }
Frame B { Frame C { { shared } } }
)")));
    ASSERT_EQ(s.roots.size(), 2u); // no frame of its own for the referenced mesh
    EXPECT_EQ(s.meshes.size(), 1u);
    const xfile::Frame& a = s.frames[s.roots[0]];
    ASSERT_EQ(a.items.size(), 1u);
    EXPECT_TRUE(a.items[0].isMesh);
    const xfile::Frame& c = s.frames[s.frames[s.roots[1]].items[0].index];
    EXPECT_EQ(c.name, "C");
    ASSERT_EQ(c.items.size(), 1u);
    EXPECT_EQ(c.items[0].index, a.items[0].index);
}
