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

void ExpectSameMesh(const MeshData& a, const MeshData& b) {
    ASSERT_EQ(a.vertices.size(), b.vertices.size());
    for (size_t v = 0; v < a.vertices.size(); ++v)
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(a.vertices[v].position[c], b.vertices[v].position[c], 1e-6)
                << "vertex " << v;
            EXPECT_NEAR(a.vertices[v].normal[c], b.vertices[v].normal[c], 1e-6) << "vertex " << v;
        }
    EXPECT_EQ(a.indices, b.indices);
    EXPECT_EQ(a.attributes, b.attributes);
    EXPECT_EQ(a.declaration, b.declaration);
    ASSERT_EQ(a.materials.size(), b.materials.size());
    for (size_t m = 0; m < a.materials.size(); ++m) {
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(a.materials[m].faceColor[c], b.materials[m].faceColor[c], 1e-6);
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

const char* kHeader = "xof 0303txt 0032\n";

} // namespace

TEST(XFileReader, CubeTextReadsAsExported) {
    const Scene s = MustLoad("test_cube_text.x");
    EXPECT_EQ(s.ticksPerSecond, 24);
    ASSERT_EQ(s.roots.size(), 1u);
    const xfile::Frame& root = s.frames[s.roots[0]];
    EXPECT_EQ(root.name, "Root");
    // Root swaps y and z: rows (1,0,0), (0,0,1), (0,1,0).
    EXPECT_EQ(root.transform.m[1][2], 1.0f);
    EXPECT_EQ(root.transform.m[2][1], 1.0f);
    EXPECT_EQ(root.transform.m[1][1], 0.0f);
    ASSERT_EQ(root.items.size(), 1u);
    EXPECT_FALSE(root.items[0].isMesh);
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
    EXPECT_EQ(m.vertices[0].position[0], -1.0f);
    EXPECT_EQ(m.vertices[0].position[2], 1.0f);
    EXPECT_EQ(m.vertices[4].position[0], 0.999999f);
    EXPECT_EQ(m.vertices[0].normal[1], -1.0f);
    EXPECT_EQ(m.vertices[20].normal[2], 1.0f);
    EXPECT_TRUE(m.declaration.hasNormal);
    EXPECT_TRUE(m.declaration.hasTexCoord);
    EXPECT_FALSE(m.declaration.hasColor);

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
    EXPECT_EQ(m.bones[0].offset.m[1][2], 1.0f);
    EXPECT_EQ(m.bones[0].offset.m[3][3], 1.0f);
}

TEST(XFileReader, BinaryAndCompressedCubeMatchText) {
    const Scene text = MustLoad("test_cube_text.x");
    const Scene binary = MustLoad("test_cube_binary.x");
    const Scene packed = MustLoad("test_cube_compressed.x");
    for (const Scene* s : {&binary, &packed}) {
        ASSERT_EQ(s->meshes.size(), 1u);
        ASSERT_EQ(s->frames.size(), text.frames.size());
        EXPECT_EQ(s->ticksPerSecond, 24);
        for (size_t f = 0; f < text.frames.size(); ++f) {
            EXPECT_EQ(s->frames[f].name, text.frames[f].name);
            EXPECT_LT(MaxDifference(s->frames[f].transform, text.frames[f].transform), 1e-6f);
        }
        ExpectSameMesh(text.meshes[0], s->meshes[0]);
    }
}

TEST(XFileReader, OwnCompressionOfEveryFormatReadsTheSame) {
    // Small blocks make every block after the first depend on the dictionary carried over.
    const std::vector<uint8_t> binary = ReadBytes(SharedFile("test_cube_binary.x"));
    const Scene plain = MustRead(binary);
    ExpectSameMesh(plain.meshes[0], MustRead(Compress(binary, 200)).meshes[0]);

    const std::vector<uint8_t> text = ReadBytes(SharedFile("Testwuson.X"));
    const Scene wuson = MustRead(text);
    const Scene zipped = MustRead(Compress(text));
    ExpectSameMesh(wuson.meshes[0], zipped.meshes[0]);
    EXPECT_EQ(zipped.frames.size(), 39u);
    EXPECT_EQ(zipped.sets.size(), 3u);
}

TEST(XFileReader, BinaryWith64BitFloatsMatches32Bit) {
    auto write = [](int floatBytes) {
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
    const Scene narrow = MustRead(write(4));
    const Scene wide = MustRead(write(8));
    ASSERT_EQ(wide.meshes.size(), 1u);
    EXPECT_FLOAT_EQ(wide.meshes[0].vertices[0].position[0], 0.1f);
    EXPECT_FLOAT_EQ(wide.meshes[0].vertices[2].texcoord[0], 0.5f);
    ExpectSameMesh(narrow.meshes[0], wide.meshes[0]);
}

TEST(XFileReader, VertexColourCubeKeepsColoursTexturesAndDeclData) {
    const Scene s = MustLoad("kwxport_test_cubewithvcolors.x");
    ASSERT_EQ(s.meshes.size(), 1u);
    const MeshData& m = s.meshes[0];
    EXPECT_EQ(m.name, "mesh_Box01");
    EXPECT_EQ(s.frames[s.roots[0]].transform.m[3][1], -0.492126f);

    EXPECT_TRUE(m.declaration.hasColor);
    EXPECT_EQ(m.vertices[0].color, 0xFFFF0000u); // red
    EXPECT_EQ(m.vertices[1].color, 0xFFFFFFFFu); // white
    EXPECT_EQ(m.vertices[6].color, 0xFF00FF00u); // green
    EXPECT_EQ(m.vertices[23].color, 0xFF00FF00u);

    // DeclData carries a tangent and a binormal (FLOAT3, usages 7 and 6): read, checked
    // against the data size, and left out of the vertex, whose normals stay the file's.
    ASSERT_EQ(m.declElements.size(), 2u);
    EXPECT_EQ(m.declElements[0].type, 2u);
    EXPECT_EQ(m.declElements[0].usage, 7u);
    EXPECT_EQ(m.declElements[1].usage, 6u);
    EXPECT_EQ(m.vertices[0].normal[1], -1.0f);
    EXPECT_EQ(m.vertices[12].normal[0], 1.0f);
    EXPECT_EQ(m.vertices[1].texcoord[1], 1.0f);

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
    EXPECT_EQ(s.roots.size(), 2u);
    EXPECT_EQ(s.frames[s.roots[0]].name, "Wuson");
    EXPECT_EQ(s.frames[s.roots[1]].name, "Root");
    ASSERT_EQ(s.meshes.size(), 1u);
    EXPECT_EQ(s.meshes[0].fileVertices, 3205u);
    EXPECT_EQ(s.meshes[0].bones.size(), 37u);
    EXPECT_EQ(s.meshes[0].bones[0].name, "ForeLeg_R_05");
    EXPECT_EQ(s.meshes[0].bones[0].offset.m[0][2], 0.999930f);
    EXPECT_EQ(s.meshes[0].bones[0].offset.m[3][1], -0.556346f);
    EXPECT_EQ(s.meshes[0].bones[0].vertices.size(), 65u);
    EXPECT_EQ(s.meshes[0].bones.back().name, "Tail01");
    EXPECT_EQ(s.meshes[0].bones.back().offset.m[3][1], -1.337518f);
    EXPECT_TRUE(s.meshes[0].materials.empty());
    EXPECT_EQ(s.ticksPerSecond, 4800);
    ASSERT_EQ(s.sets.size(), 3u);
    EXPECT_EQ(s.sets[0].name, "Wuson_Run");
    EXPECT_EQ(s.sets[1].name, "Wuson_Walk");
    EXPECT_EQ(s.sets[2].name, "Wuson_Bind");
    EXPECT_EQ(s.sets[0].animations.size(), 39u);
    EXPECT_EQ(s.sets[0].animations[1].frameName, "Root");
    EXPECT_EQ(s.sets[0].animations[1].positions.size(), 30u);
    EXPECT_EQ(s.sets[0].animations[1].positions[29].time, 4640u);
    EXPECT_FLOAT_EQ(s.sets[0].animations[0].rotations[0].value[1], -0.707107f); // w, x, y, z
}

TEST(XFileReader, MaterialReferencesResolveByName) {
    const std::string file = std::string(kHeader) + R"(
Material Red { 1;0;0;1;; 1; 0;0;0;; 0;0;0;; }
Material Green { 0;1;0;1;; 2; 0;0;0;; 0;0;0;; TextureFilename { "green.png"; } }
Material Blue { 0;0;1;1;; 3; 0;0;0;; 0;0;0;; }
Frame Blue { }
Mesh quad {
  4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;;
  3; 3;0,1,2;, 3;0,2,3;, 3;0,1,3;;
  MeshMaterialList {
    3; 2; 2, 0;
    { Blue }
    { Red }
    { Green <3d82ab4d-62da-11cf-ab39-0020af71e433> }
  }
}
)";
    const Scene s = MustRead(Bytes(file));
    ASSERT_EQ(s.meshes.size(), 1u);
    const MeshData& m = s.meshes[0];
    ASSERT_EQ(m.materials.size(), 3u);
    EXPECT_EQ(m.materials[0].name, "Blue");
    EXPECT_EQ(m.materials[0].faceColor[2], 1.0f);
    EXPECT_EQ(m.materials[0].power, 3.0f);
    EXPECT_EQ(m.materials[1].name, "Red");
    EXPECT_EQ(m.materials[1].faceColor[0], 1.0f);
    EXPECT_EQ(m.materials[2].name, "Green");
    EXPECT_EQ(m.materials[2].texture, "green.png");
    // Two face entries for three faces: the last entry repeats.
    EXPECT_EQ(m.attributes, (std::vector<uint32_t>{2, 0, 0}));
    // A top-level mesh gets an unnamed frame of its own.
    ASSERT_EQ(s.roots.size(), 2u);
    EXPECT_EQ(s.frames[s.roots[0]].name, "Blue");
    EXPECT_FALSE(s.frames[s.roots[1]].named);
}

TEST(XFileReader, PolygonsBecomeFansAndUnknownObjectsAreSkipped) {
    const std::string file = std::string(kHeader) + R"(
# a comment
template Custom { <01234567-89ab-cdef-0123-456789abcdef> DWORD x; [...] }
Custom c { 5; Mesh inner { 1; 0;0;0;; 0;; } { Somewhere } }   // skipped whole
Frame F {
  FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 7,8,9,1;; }
  Mesh poly {
    6; 0;0;0;, 1;0;0;, 2;1;0;, 1;2;0;, 0;2;0;, 5;5;5;;
    2; 5;0,1,2,3,4;, 3;5,0,1;;
  }
}
)";
    const Scene s = MustRead(Bytes(file));
    ASSERT_EQ(s.meshes.size(), 1u);
    ASSERT_EQ(s.roots.size(), 1u);
    EXPECT_EQ(s.frames[s.roots[0]].transform.m[3][2], 9.0f);
    const MeshData& m = s.meshes[0];
    EXPECT_EQ(m.fileFaces, 2u);
    EXPECT_EQ(m.indices, (std::vector<uint32_t>{0, 1, 2, 0, 2, 3, 0, 3, 4, 5, 0, 1}));
    EXPECT_EQ(s.ticksPerSecond, 4800); // no AnimTicksPerSecond
}

TEST(XFileReader, NormalsSplitVerticesAndSkinFollowsTheCopies) {
    // Vertex 1 carries normal 0 in face 0 and normal 1 in face 1: it is copied.
    const std::string file = std::string(kHeader) + R"(
Frame Bone { }
Mesh m {
  4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;;
  2; 3;0,1,2;, 3;0,2,3;;
  MeshNormals { 2; 0;0;1;, 0;1;0;; 2; 3;0,0,0;, 3;1,1,1;; }
  MeshTextureCoords { 4; 0;0;, 1;0;, 1;1;, 0;1;; }
  SkinWeights { "Bone"; 2; 0, 2; 0.25, 0.75; 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; }
}
)";
    const Scene s = MustRead(Bytes(file));
    const MeshData& m = s.meshes[0];
    ASSERT_EQ(m.vertices.size(), 6u); // vertices 0 and 2 are shared by both faces
    EXPECT_EQ(m.sourcePosition, (std::vector<uint32_t>{0, 1, 2, 3, 0, 2}));
    EXPECT_EQ(m.indices, (std::vector<uint32_t>{0, 1, 2, 4, 5, 3}));
    EXPECT_EQ(m.vertices[0].normal[2], 1.0f);
    EXPECT_EQ(m.vertices[4].normal[1], 1.0f);
    EXPECT_EQ(m.vertices[5].position[0], 1.0f);
    EXPECT_EQ(m.vertices[5].texcoord[1], 1.0f); // the copy keeps its position's coordinates
    ASSERT_EQ(m.bones.size(), 1u);
    EXPECT_EQ(m.bones[0].vertices, (std::vector<uint32_t>{0, 4, 2, 5}));
    EXPECT_EQ(m.bones[0].weights, (std::vector<float>{0.25f, 0.25f, 0.75f, 0.75f}));
}

TEST(XFileReader, FramesPlaceMeshesTheyReference) {
    const std::string file = std::string(kHeader) + R"(
Mesh shared { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }
Frame A { { shared } }
Frame B { Frame C { { shared } } }
)";
    const Scene s = MustRead(Bytes(file));
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
