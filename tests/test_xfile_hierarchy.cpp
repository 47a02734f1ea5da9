// The D3DX loader stand-ins: the hierarchy loader with its allocator calls, frame search and
// destruction, and the merged plain-mesh loader.
#include "test_xfile_util.h"

using namespace xtest;
using Strings = std::vector<std::string>;

namespace {

// Two frames, a mesh each; the second mesh has two materials listed out of order.
const std::string kTwoMeshes = Text(R"(
Material Shared { 0.5;0.5;0.5;1;; 8; 1;1;1;; 0;0;0;; TextureFilename { "wall.png"; } }
Frame Left { FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, -10,0,0,1;; }
  Mesh a { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshNormals { 1; 0;0;-1;; 1; 3;0,0,0;; }
    MeshMaterialList { 1; 1; 0; { Shared } } } }
Frame Right { FrameTransformMatrix { 0,0,-1,0, 0,1,0,0, 1,0,0,0, 10,0,0,1;; }
  Mesh b { 4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;; 3; 3;0,1,2;, 3;0,2,3;, 3;1,2,3;;
    MeshNormals { 1; 0;0;-1;; 3; 3;0,0,0;, 3;0,0,0;, 3;0,0,0;; }
    MeshMaterialList { 2; 3; 1, 0, 1; Material { 1;0;0;1;; 1; 0;0;0;; 0;0;0;; }
      Material { 0;0;1;0.5;; 2; 0;0;0;; 0;0;0;; TextureFilename { "glass.png"; } } } } }
)");

const D3DXMATERIAL* Materials(const BufferPtr& buffer) {
    return static_cast<const D3DXMATERIAL*>(buffer->GetBufferPointer());
}

std::vector<uint32_t> List(std::span<const uint32_t> s) {
    return {s.begin(), s.end()};
}

} // namespace

TEST(XFileHierarchy, WusonBuildsEveryFrameAndItsSkinnedMesh) {
    Loaded w;
    ASSERT_EQ(w.File(SharedFile("Testwuson.X")), S_OK);
    ASSERT_NE(w.root, nullptr);
    EXPECT_EQ(w.allocator.liveFrames, 39);
    EXPECT_EQ(w.allocator.liveContainers, 1);
    // Calls in file order: the first frame, its mesh, then the skeleton depth first.
    const Strings& calls = w.allocator.calls;
    ASSERT_GE(calls.size(), 6u);
    EXPECT_EQ(Strings(calls.begin(), calls.begin() + 6),
              (Strings{"F Wuson", "M mesh_Wuson", "F Root", "F Spine_Back01", "F Spine_Back02",
                       "F Spine_Back03"}));
    EXPECT_EQ(calls.back(), "F ForeLeg_R_05");

    const D3DXFRAME* root = w.root;
    EXPECT_STREQ(root->Name, "Wuson");
    ASSERT_NE(root->pFrameSibling, nullptr);
    EXPECT_STREQ(root->pFrameSibling->Name, "Root");
    EXPECT_EQ(root->pFrameSibling->pFrameSibling, nullptr);
    EXPECT_EQ(root->TransformationMatrix.m[2][1], -1.0f); // from its FrameTransformMatrix
    EXPECT_FLOAT_EQ(root->pFrameSibling->TransformationMatrix.m[3][1], 0.522834f);

    const CopyingContainer* c = Container(root);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->name, "mesh_Wuson");
    EXPECT_EQ(c->NumMaterials, 0u); // the file has no materials
    EXPECT_EQ(c->pMaterials, nullptr);
    const MeshPtr& mesh = c->MeshData.pMesh;
    EXPECT_EQ(c->MeshData.Type, D3DXMESHTYPE_MESH);
    EXPECT_EQ(mesh->GetNumFaces(), 3732u);
    EXPECT_EQ(c->adjacency, mesh->GenerateAdjacency());
    ASSERT_NE(c->pSkinInfo, nullptr);
    const ID3DXSkinInfo& skin = *c->pSkinInfo;
    EXPECT_EQ(skin.GetNumBones(), 37u);
    EXPECT_EQ(skin.GetNumVertices(), mesh->GetNumVertices());
    EXPECT_STREQ(skin.GetBoneName(0), "ForeLeg_R_05");
    EXPECT_EQ(skin.GetBoneOffsetMatrix(0)->m[3][2], 0.281316f);
    EXPECT_EQ(skin.GetNumBoneInfluences(0), 65u);
    EXPECT_EQ(skin.GetBoneName(37), nullptr);
    for (DWORD b = 0; b < skin.GetNumBones(); ++b) // every bone names a frame of the tree
        EXPECT_NE(D3DXFrameFind(root, skin.GetBoneName(b)), nullptr) << skin.GetBoneName(b);
    ASSERT_NE(w.controller, nullptr);
    EXPECT_EQ(w.controller->GetNumAnimationSets(), 3u);
}

TEST(XFileHierarchy, MeshesAreSortedByMaterialWithVerticesInPlace) {
    Loaded l;
    l.controller = std::make_shared<ID3DXAnimationController>(
        std::vector<AnimSetPtr>{}, [](const std::string&) { return nullptr; });
    ASSERT_EQ(l.Memory(kTwoMeshes), S_OK);
    EXPECT_EQ(l.controller, nullptr); // no AnimationSet: no controller
    EXPECT_EQ(l.allocator.calls, (Strings{"F Left", "M a", "F Right", "M b"}));
    ASSERT_NE(l.root->pFrameSibling, nullptr);
    const CopyingContainer* b = Container(l.root->pFrameSibling);
    ASSERT_NE(b, nullptr);
    const ID3DXMesh& mesh = *b->MeshData.pMesh;
    // Faces 1, 0, 1 by material become 0 | 1, 1 in a stable order; vertices keep file order.
    EXPECT_EQ(List(mesh.Attributes()), (std::vector<uint32_t>{0, 1, 1}));
    EXPECT_EQ(List(mesh.Indices()), (std::vector<uint32_t>{0, 2, 3, 0, 1, 2, 1, 2, 3}));
    EXPECT_EQ(mesh.Vertices()[2].position[0], 1.0f);
    EXPECT_EQ(mesh.Vertices()[2].position[1], 1.0f);
    DWORD ranges = 0;
    mesh.GetAttributeTable(nullptr, &ranges);
    EXPECT_EQ(ranges, 2u);
    // Materials as the file gives them, ambient black, textures named as written.
    ASSERT_EQ(b->NumMaterials, 2u);
    EXPECT_EQ(b->materials[0].MatD3D.Diffuse.r, 1.0f);
    EXPECT_EQ(b->materials[1].MatD3D.Diffuse.a, 0.5f);
    EXPECT_EQ(b->materials[1].MatD3D.Power, 2.0f);
    EXPECT_EQ(b->materials[1].MatD3D.Ambient.b, 0.0f);
    EXPECT_EQ(b->textures, (Strings{"", "glass.png"}));
    EXPECT_EQ(Container(l.root)->textures, (Strings{"wall.png"}));
    EXPECT_EQ(b->pSkinInfo, nullptr);
}

TEST(XFileHierarchy, FramesMeshesAndTopLevelMeshesLinkInFileOrder) {
    Loaded l;
    ASSERT_EQ(l.Memory(Text(R"(
Mesh loose { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }
Frame P { Mesh first { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; } Frame C1 { Frame G { } }
  Mesh second { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,2,1;; } Frame C2 { } Frame { } }
)")),
              S_OK);
    EXPECT_EQ(l.allocator.calls, (Strings{"F <null>", "M loose", "F P", "M first", "F C1", "F G",
                                          "M second", "F C2", "F <null>"}));
    const D3DXFRAME* root = l.root;
    EXPECT_EQ(root->Name, nullptr); // the loose mesh's own frame
    EXPECT_STREQ(Container(root)->Name, "loose");
    const D3DXFRAME* p = root->pFrameSibling;
    ASSERT_NE(p, nullptr);
    const D3DXMESHCONTAINER* first = p->pMeshContainer;
    EXPECT_STREQ(first->Name, "first");
    ASSERT_NE(first->pNextMeshContainer, nullptr);
    EXPECT_STREQ(first->pNextMeshContainer->Name, "second");
    EXPECT_EQ(first->pNextMeshContainer->pNextMeshContainer, nullptr);
    const D3DXFRAME* c1 = p->pFrameFirstChild;
    EXPECT_STREQ(c1->Name, "C1");
    EXPECT_STREQ(c1->pFrameFirstChild->Name, "G");
    EXPECT_STREQ(c1->pFrameSibling->Name, "C2");
    EXPECT_EQ(c1->pFrameSibling->pFrameSibling->Name, nullptr);
    EXPECT_EQ(c1->TransformationMatrix.m[0][0], 1.0f); // no FrameTransformMatrix: identity

    EXPECT_EQ(D3DXFrameFind(root, "G"), c1->pFrameFirstChild);
    EXPECT_EQ(D3DXFrameFind(root, "C2"), c1->pFrameSibling);
    EXPECT_EQ(D3DXFrameFind(root, "P"), p);
    EXPECT_EQ(D3DXFrameFind(root, "missing"), nullptr);
    EXPECT_EQ(D3DXFrameFind(root, nullptr), nullptr);
    EXPECT_EQ(D3DXFrameFind(nullptr, "P"), nullptr);
    EXPECT_EQ(D3DXFrameDestroy(nullptr, &l.allocator), S_OK);
}

TEST(XFileHierarchy, CubeInEveryFormatGivesItsContainer) {
    for (const char* name : {"test_cube_text.x", "test_cube_binary.x", "test_cube_compressed.x"}) {
        SCOPED_TRACE(name);
        Loaded l;
        ASSERT_EQ(l.File(SharedFile(name)), S_OK);
        EXPECT_EQ(l.allocator.calls, (Strings{"F Root", "F Cube", "M Cube"}));
        const CopyingContainer* c = Container(l.root->pFrameFirstChild);
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(c->NumMaterials, 1u);
        EXPECT_NEAR(c->materials[0].MatD3D.Diffuse.g, 0.639216f, 1e-6);
        EXPECT_NEAR(c->materials[0].MatD3D.Specular.b, 0.498039f, 1e-6);
        EXPECT_EQ(c->materials[0].MatD3D.Ambient.r, 0.0f);
        ASSERT_NE(c->pSkinInfo, nullptr);
        EXPECT_STREQ(c->pSkinInfo->GetBoneName(0), "Cube");
    }
}

TEST(XFileHierarchy, AllocatorFailureUndoesEverythingMade) {
    // Fail each of the cube's three create calls in turn: what was made before is destroyed,
    // the root stays null, and one line names the file.
    for (int failAt = 1; failAt <= 3; ++failAt) {
        SCOPED_TRACE(failAt);
        ErrorLines errors;
        Loaded l;
        l.allocator.failAt = failAt;
        EXPECT_EQ(l.File(SharedFile("test_cube_text.x"), false), E_FAIL);
        EXPECT_EQ(l.root, nullptr);
        EXPECT_EQ(l.allocator.liveFrames + l.allocator.liveContainers, 0);
        ASSERT_EQ(errors.lines.size(), 1u);
        EXPECT_NE(errors.lines[0].find("test_cube_text.x: the allocator"), std::string::npos)
            << errors.lines[0];
    }
}

TEST(XFileMeshLoad, MergesMeshesInTheirFramesWithMaterialsInOrder) {
    BufferPtr adjacency, materials, effects;
    DWORD count = 0;
    MeshPtr mesh;
    ASSERT_EQ(D3DXLoadMeshFromXInMemory(kTwoMeshes.data(), DWORD(kTwoMeshes.size()),
                                        D3DXMESH_MANAGED, nullptr, &adjacency, &materials, &effects,
                                        &count, &mesh),
              S_OK);
    ASSERT_EQ(count, 3u);
    ASSERT_EQ(mesh->GetNumFaces(), 4u);
    ASSERT_EQ(mesh->GetNumVertices(), 7u);
    // Mesh a moved by (-10, 0, 0); mesh b turned a quarter about y (x -> -z) and moved by +10.
    auto v = mesh->Vertices();
    EXPECT_EQ(v[1].position[0], -9.0f);
    EXPECT_EQ(v[3 + 1].position[0], 10.0f);
    EXPECT_EQ(v[3 + 1].position[2], -1.0f);
    EXPECT_NEAR(v[3].normal[0], -1.0f, 1e-6); // (0,0,-1) through the quarter turn
    EXPECT_NEAR(v[0].normal[2], -1.0f, 1e-6);
    // Attribute ids: a's material 0; b's 1 and 0 offset by one. Faces sorted by attribute.
    EXPECT_EQ(List(mesh->Attributes()), (std::vector<uint32_t>{0, 1, 2, 2}));
    EXPECT_EQ(List(mesh->Indices().first(6)), (std::vector<uint32_t>{0, 1, 2, 3, 5, 6}));

    ASSERT_EQ(adjacency->GetBufferSize(), 4u * 3u * sizeof(DWORD));
    const std::vector<uint32_t> adj = mesh->GenerateAdjacency();
    EXPECT_EQ(std::memcmp(adjacency->GetBufferPointer(), adj.data(), adj.size() * 4), 0);

    const D3DXMATERIAL* mats = Materials(materials);
    const char* begin = static_cast<const char*>(materials->GetBufferPointer());
    EXPECT_EQ(mats[0].MatD3D.Power, 8.0f);
    EXPECT_EQ(mats[1].MatD3D.Diffuse.r, 1.0f);
    EXPECT_EQ(mats[2].MatD3D.Diffuse.a, 0.5f);
    ASSERT_NE(mats[0].pTextureFilename, nullptr);
    EXPECT_STREQ(mats[0].pTextureFilename, "wall.png");
    EXPECT_EQ(mats[1].pTextureFilename, nullptr);
    EXPECT_STREQ(mats[2].pTextureFilename, "glass.png");
    for (int i : {0, 2}) { // the names live in the material buffer itself
        EXPECT_GE(mats[i].pTextureFilename, begin);
        EXPECT_LT(mats[i].pTextureFilename, begin + materials->GetBufferSize());
    }
    ASSERT_EQ(effects->GetBufferSize(), 3u * sizeof(D3DXEFFECTINSTANCE));
    EXPECT_EQ(
        static_cast<const D3DXEFFECTINSTANCE*>(effects->GetBufferPointer())[2].pEffectFilename,
        nullptr);
}

TEST(XFileMeshLoad, SharedFilesLoadAsOneMesh) {
    MeshPtr mesh;
    BufferPtr materials;
    DWORD count = 99;
    ASSERT_EQ(D3DXLoadMeshFromXA(SharedFile("kwxport_test_cubewithvcolors.x").c_str(),
                                 D3DXMESH_MANAGED, nullptr, nullptr, &materials, nullptr, &count,
                                 &mesh),
              S_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_NE(std::string(Materials(materials)[1].pTextureFilename).find("top.tga"),
              std::string::npos);
    EXPECT_TRUE(mesh->GetDeclaration().hasColor);
    EXPECT_FLOAT_EQ(mesh->Vertices()[0].position[1], -0.492126f); // moved by Box01's frame

    // Wuson: one mesh, placed by frame Wuson (y and z swapped), no materials.
    count = 99;
    ASSERT_EQ(D3DXLoadMeshFromXA(SharedFile("Testwuson.X").c_str(), 0, nullptr, nullptr, &materials,
                                 nullptr, &count, &mesh),
              S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(materials->GetBufferSize(), 0u);
    xfile::Scene scene;
    ASSERT_TRUE(xfile::LoadSceneFile(SharedFile("Testwuson.X").c_str(), scene));
    const MeshVertex& file0 = scene.meshes[0].vertices[0];
    const MeshVertex& moved = mesh->Vertices()[0];
    EXPECT_FLOAT_EQ(moved.position[0], file0.position[0]);
    EXPECT_FLOAT_EQ(moved.position[1], -file0.position[2]);
    EXPECT_FLOAT_EQ(moved.position[2], file0.position[1]);

    ErrorLines errors;
    const std::string empty = Text("Frame nothing { }");
    EXPECT_EQ(D3DXLoadMeshFromXInMemory(empty.data(), DWORD(empty.size()), 0, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, &mesh),
              E_FAIL);
    EXPECT_EQ(errors.lines, (Strings{"(memory): holds no mesh"}));
}

TEST(XFileMeshLoad, GeneratedModelsLoad) {
    // The viewer's own models: the room as one mesh, the characters as skinned hierarchies.
    for (const std::string name : {"room.x", "seaman.x", "fatman.x"}) {
        SCOPED_TRACE(name);
        const std::string path = std::string(DUO_SOURCE_DIR) + "/data/" + name;
        MeshPtr mesh;
        DWORD count = 0;
        BufferPtr materials;
        ASSERT_EQ(D3DXLoadMeshFromXA(path.c_str(), 0, nullptr, nullptr, &materials, nullptr, &count,
                                     &mesh),
                  S_OK);
        EXPECT_GT(mesh->GetNumFaces(), 0u);
        ASSERT_GE(count, 3u);
        int textured = 0, translucent = 0;
        for (DWORD i = 0; i < count; ++i) {
            textured += Materials(materials)[i].pTextureFilename != nullptr;
            translucent += Materials(materials)[i].MatD3D.Diffuse.a < 1.0f;
        }
        EXPECT_GT(textured, 0);
        Loaded l;
        ASSERT_EQ(l.File(path), S_OK);
        if (name == "room.x") {
            EXPECT_GT(translucent, 0);
            EXPECT_LT(textured, int(count));
            continue;
        }
        ASSERT_NE(l.controller, nullptr);
        AnimSetPtr set;
        ASSERT_EQ(l.controller->GetAnimationSet(0, &set), S_OK);
        EXPECT_NEAR(set->GetPeriod(), 1.0, 0.5);
        // Every animation drives a frame of the tree, and posing moves some frame.
        for (UINT a = 0; a < set->GetNumAnimations(); ++a) {
            const char* frame = nullptr;
            set->GetAnimationNameByIndex(a, &frame);
            EXPECT_NE(D3DXFrameFind(l.root, frame), nullptr) << frame;
        }
        std::vector<D3DXMATRIX> before;
        for (const D3DXFRAME* f : Frames(l.root)) before.push_back(f->TransformationMatrix);
        l.controller->SetTrackPosition(0, set->GetPeriod() / 4);
        l.controller->AdvanceTime(0, nullptr);
        float moved = 0;
        const auto after = Frames(l.root);
        for (size_t i = 0; i < after.size(); ++i)
            moved = std::max(moved, MaxDifference(before[i], after[i]->TransformationMatrix));
        EXPECT_GT(moved, 0.01f);
        bool skinned = false;
        for (const D3DXFRAME* f : after)
            for (const D3DXMESHCONTAINER* c = f->pMeshContainer; c; c = c->pNextMeshContainer) {
                if (!c->pSkinInfo) continue;
                skinned = true;
                for (DWORD b = 0; b < c->pSkinInfo->GetNumBones(); ++b)
                    EXPECT_NE(D3DXFrameFind(l.root, c->pSkinInfo->GetBoneName(b)), nullptr);
            }
        EXPECT_TRUE(skinned);
    }
}
