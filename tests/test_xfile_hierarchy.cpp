// The D3DX loader stand-ins: the hierarchy loader with its allocator calls, frame search and
// destruction, and the merged plain-mesh loader.
#include "test_xfile_util.h"

#include <cstdio>

using namespace xtest;

namespace {

std::string Text(const std::string& body) {
    return "xof 0303txt 0032\n" + body;
}

HRESULT LoadText(const std::string& text, TestAllocator& allocator, D3DXFRAME** root,
                 AnimControllerPtr* controller = nullptr) {
    return D3DXLoadMeshHierarchyFromXInMemory(text.data(), DWORD(text.size()), D3DXMESH_MANAGED,
                                              nullptr, &allocator, nullptr, root, controller);
}

HRESULT LoadShared(const char* name, TestAllocator& allocator, D3DXFRAME** root,
                   AnimControllerPtr* controller = nullptr) {
    return D3DXLoadMeshHierarchyFromXA(SharedFile(name).c_str(), D3DXMESH_MANAGED, nullptr,
                                       &allocator, nullptr, root, controller);
}

const TestContainer* Container(const D3DXFRAME* f) {
    return static_cast<const TestContainer*>(f->pMeshContainer);
}

// Two frames, a mesh each; the second mesh has two materials listed out of order.
const std::string kTwoMeshes = Text(R"(
Material Shared { 0.5;0.5;0.5;1;; 8; 1;1;1;; 0;0;0;; TextureFilename { "wall.png"; } }
Frame Left {
  FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, -10,0,0,1;; }
  Mesh a {
    3; 0;0;0;, 1;0;0;, 0;1;0;;
    1; 3;0,1,2;;
    MeshNormals { 1; 0;0;-1;; 1; 3;0,0,0;; }
    MeshMaterialList { 1; 1; 0; { Shared } }
  }
}
Frame Right {
  FrameTransformMatrix { 0,0,-1,0, 0,1,0,0, 1,0,0,0, 10,0,0,1;; }
  Mesh b {
    4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;;
    3; 3;0,1,2;, 3;0,2,3;, 3;1,2,3;;
    MeshNormals { 1; 0;0;-1;; 3; 3;0,0,0;, 3;0,0,0;, 3;0,0,0;; }
    MeshMaterialList { 2; 3; 1, 0, 1;
      Material { 1;0;0;1;; 1; 0;0;0;; 0;0;0;; }
      Material { 0;0;1;0.5;; 2; 0;0;0;; 0;0;0;; TextureFilename { "glass.png"; } }
    }
  }
}
)");

} // namespace

TEST(XFileHierarchy, WusonBuildsEveryFrameAndItsSkinnedMesh) {
    TestAllocator allocator;
    D3DXFRAME* root = nullptr;
    AnimControllerPtr controller;
    ASSERT_EQ(LoadShared("Testwuson.X", allocator, &root, &controller), S_OK);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(allocator.liveFrames, 39);
    EXPECT_EQ(allocator.liveContainers, 1);
    // Calls in file order: the first frame, its mesh, then the skeleton depth first.
    ASSERT_GE(allocator.calls.size(), 6u);
    EXPECT_EQ(allocator.calls[0], "F Wuson");
    EXPECT_EQ(allocator.calls[1], "M mesh_Wuson");
    EXPECT_EQ(allocator.calls[2], "F Root");
    EXPECT_EQ(allocator.calls[3], "F Spine_Back01");
    EXPECT_EQ(allocator.calls[5], "F Spine_Back03");
    EXPECT_EQ(allocator.calls.back(), "F ForeLeg_R_05");

    EXPECT_STREQ(root->Name, "Wuson");
    ASSERT_NE(root->pFrameSibling, nullptr);
    EXPECT_STREQ(root->pFrameSibling->Name, "Root");
    EXPECT_EQ(root->pFrameSibling->pFrameSibling, nullptr);
    EXPECT_EQ(root->TransformationMatrix.m[2][1], -1.0f); // from its FrameTransformMatrix
    EXPECT_FLOAT_EQ(root->pFrameSibling->TransformationMatrix.m[3][1], 0.522834f);

    const TestContainer* c = Container(root);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->name, "mesh_Wuson");
    EXPECT_EQ(c->NumMaterials, 0u); // the file has no materials
    EXPECT_EQ(c->pMaterials, nullptr);
    const MeshPtr& mesh = c->MeshData.pMesh;
    EXPECT_EQ(c->MeshData.Type, D3DXMESHTYPE_MESH);
    EXPECT_EQ(mesh->GetNumFaces(), 3732u);
    EXPECT_EQ(c->adjacency, mesh->GenerateAdjacency());
    ASSERT_NE(c->pSkinInfo, nullptr);
    EXPECT_EQ(c->pSkinInfo->GetNumBones(), 37u);
    EXPECT_EQ(c->pSkinInfo->GetNumVertices(), mesh->GetNumVertices());
    EXPECT_STREQ(c->pSkinInfo->GetBoneName(0), "ForeLeg_R_05");
    EXPECT_EQ(c->pSkinInfo->GetBoneOffsetMatrix(0)->m[3][2], 0.281316f);
    EXPECT_EQ(c->pSkinInfo->GetNumBoneInfluences(0), 65u);
    EXPECT_EQ(c->pSkinInfo->GetBoneName(37), nullptr);
    // Every bone names a frame of the tree.
    for (DWORD b = 0; b < c->pSkinInfo->GetNumBones(); ++b)
        EXPECT_NE(D3DXFrameFind(root, c->pSkinInfo->GetBoneName(b)), nullptr)
            << c->pSkinInfo->GetBoneName(b);

    ASSERT_NE(controller, nullptr);
    EXPECT_EQ(controller->GetNumAnimationSets(), 3u);
    controller.reset();
    EXPECT_EQ(D3DXFrameDestroy(root, &allocator), S_OK);
    EXPECT_EQ(allocator.liveFrames, 0);
    EXPECT_EQ(allocator.liveContainers, 0);
}

TEST(XFileHierarchy, MeshesAreSortedByMaterialWithVerticesInPlace) {
    TestAllocator allocator;
    D3DXFRAME* root = nullptr;
    AnimControllerPtr controller = std::make_shared<ID3DXAnimationController>(
        std::vector<AnimSetPtr>{}, [](const std::string&) { return nullptr; });
    ASSERT_EQ(LoadText(kTwoMeshes, allocator, &root, &controller), S_OK);
    EXPECT_EQ(controller, nullptr); // no AnimationSet: no controller
    EXPECT_EQ(allocator.calls, (std::vector<std::string>{"F Left", "M a", "F Right", "M b"}));
    const D3DXFRAME* right = root->pFrameSibling;
    ASSERT_NE(right, nullptr);
    const TestContainer* b = Container(right);
    ASSERT_NE(b, nullptr);
    const ID3DXMesh& mesh = *b->MeshData.pMesh;
    // Faces 1, 0, 1 by material become 0 | 1, 1 in a stable order; vertices keep file order.
    EXPECT_EQ(std::vector<uint32_t>(mesh.Attributes().begin(), mesh.Attributes().end()),
              (std::vector<uint32_t>{0, 1, 1}));
    EXPECT_EQ(std::vector<uint32_t>(mesh.Indices().begin(), mesh.Indices().end()),
              (std::vector<uint32_t>{0, 2, 3, 0, 1, 2, 1, 2, 3}));
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
    EXPECT_EQ(b->textures, (std::vector<std::string>{"", "glass.png"}));
    EXPECT_EQ(Container(root)->textures, (std::vector<std::string>{"wall.png"}));
    EXPECT_EQ(b->pSkinInfo, nullptr);
    EXPECT_EQ(D3DXFrameDestroy(root, &allocator), S_OK);
    EXPECT_EQ(allocator.liveFrames + allocator.liveContainers, 0);
}

TEST(XFileHierarchy, FramesMeshesAndTopLevelMeshesLinkInFileOrder) {
    const std::string file = Text(R"(
Mesh loose { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }
Frame P {
  Mesh first { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }
  Frame C1 { Frame G { } }
  Mesh second { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,2,1;; }
  Frame C2 { }
  Frame { }
}
)");
    TestAllocator allocator;
    D3DXFRAME* root = nullptr;
    ASSERT_EQ(LoadText(file, allocator, &root), S_OK);
    EXPECT_EQ(allocator.calls,
              (std::vector<std::string>{"F <null>", "M loose", "F P", "M first", "F C1", "F G",
                                        "M second", "F C2", "F <null>"}));
    EXPECT_EQ(root->Name, nullptr); // the loose mesh's own frame
    EXPECT_STREQ(Container(root)->Name, "loose");
    const D3DXFRAME* p = root->pFrameSibling;
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p->pMeshContainer->Name, "first");
    ASSERT_NE(p->pMeshContainer->pNextMeshContainer, nullptr);
    EXPECT_STREQ(p->pMeshContainer->pNextMeshContainer->Name, "second");
    EXPECT_EQ(p->pMeshContainer->pNextMeshContainer->pNextMeshContainer, nullptr);
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
    EXPECT_EQ(D3DXFrameDestroy(root, &allocator), S_OK);
    EXPECT_EQ(allocator.liveFrames + allocator.liveContainers, 0);
    EXPECT_EQ(D3DXFrameDestroy(nullptr, &allocator), S_OK);
}

TEST(XFileHierarchy, AllocatorFailureUndoesEverythingMade) {
    // Fail each create call in turn: what was made before is destroyed, the root stays null.
    TestAllocator probe;
    D3DXFRAME* root = nullptr;
    ASSERT_EQ(LoadShared("test_cube_text.x", probe, &root), S_OK);
    const int calls = int(probe.calls.size());
    EXPECT_EQ(calls, 3); // Root, Cube, mesh Cube
    D3DXFrameDestroy(root, &probe);
    for (int failAt = 1; failAt <= calls; ++failAt) {
        TestAllocator allocator;
        allocator.failAt = failAt;
        D3DXFRAME* r = nullptr;
        ErrorLines errors;
        EXPECT_EQ(LoadShared("test_cube_text.x", allocator, &r), E_FAIL) << failAt;
        EXPECT_EQ(r, nullptr);
        EXPECT_EQ(allocator.liveFrames, 0) << failAt;
        EXPECT_EQ(allocator.liveContainers, 0) << failAt;
        ASSERT_EQ(errors.lines.size(), 1u);
        EXPECT_NE(errors.lines[0].find("test_cube_text.x: the allocator"), std::string::npos)
            << errors.lines[0];
    }
}

TEST(XFileHierarchy, CubeInAllFormatsGivesTheSameContainer) {
    std::vector<std::vector<MeshVertex>> vertices;
    for (const char* name : {"test_cube_text.x", "test_cube_binary.x", "test_cube_compressed.x"}) {
        TestAllocator allocator;
        D3DXFRAME* root = nullptr;
        ASSERT_EQ(LoadShared(name, allocator, &root), S_OK) << name;
        EXPECT_EQ(allocator.calls, (std::vector<std::string>{"F Root", "F Cube", "M Cube"}));
        const TestContainer* c = Container(root->pFrameFirstChild);
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(c->NumMaterials, 1u);
        EXPECT_NEAR(c->materials[0].MatD3D.Diffuse.g, 0.639216f, 1e-6);
        EXPECT_NEAR(c->materials[0].MatD3D.Specular.b, 0.498039f, 1e-6);
        EXPECT_EQ(c->materials[0].MatD3D.Ambient.r, 0.0f);
        ASSERT_NE(c->pSkinInfo, nullptr);
        EXPECT_STREQ(c->pSkinInfo->GetBoneName(0), "Cube");
        auto v = c->MeshData.pMesh->Vertices();
        vertices.emplace_back(v.begin(), v.end());
        D3DXFrameDestroy(root, &allocator);
    }
    for (size_t i = 1; i < vertices.size(); ++i) {
        ASSERT_EQ(vertices[i].size(), vertices[0].size());
        for (size_t v = 0; v < vertices[0].size(); ++v)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(vertices[i][v].position[c], vertices[0][v].position[c], 1e-6);
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
    EXPECT_EQ(std::vector<uint32_t>(mesh->Attributes().begin(), mesh->Attributes().end()),
              (std::vector<uint32_t>{0, 1, 2, 2}));
    EXPECT_EQ(std::vector<uint32_t>(mesh->Indices().begin(), mesh->Indices().begin() + 6),
              (std::vector<uint32_t>{0, 1, 2, 3, 5, 6}));

    ASSERT_EQ(adjacency->GetBufferSize(), 4u * 3u * sizeof(DWORD));
    const std::vector<uint32_t> adj = mesh->GenerateAdjacency();
    EXPECT_EQ(std::memcmp(adjacency->GetBufferPointer(), adj.data(), adj.size() * 4), 0);

    const auto* mats = static_cast<const D3DXMATERIAL*>(materials->GetBufferPointer());
    const char* begin = static_cast<const char*>(materials->GetBufferPointer());
    const char* end = begin + materials->GetBufferSize();
    EXPECT_EQ(mats[0].MatD3D.Power, 8.0f);
    EXPECT_EQ(mats[1].MatD3D.Diffuse.r, 1.0f);
    EXPECT_EQ(mats[2].MatD3D.Diffuse.a, 0.5f);
    ASSERT_NE(mats[0].pTextureFilename, nullptr);
    EXPECT_STREQ(mats[0].pTextureFilename, "wall.png");
    EXPECT_EQ(mats[1].pTextureFilename, nullptr);
    EXPECT_STREQ(mats[2].pTextureFilename, "glass.png");
    for (int i : {0, 2}) { // the names live in the material buffer itself
        EXPECT_GE(mats[i].pTextureFilename, begin);
        EXPECT_LT(mats[i].pTextureFilename, end);
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
    EXPECT_NE(
        std::string(
            static_cast<const D3DXMATERIAL*>(materials->GetBufferPointer())[1].pTextureFilename)
            .find("top.tga"),
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
    EXPECT_EQ(errors.lines, (std::vector<std::string>{"(memory): holds no mesh"}));
}

TEST(XFileMeshLoad, GeneratedModelsLoad) {
    // The viewer's own models: the room as one mesh, the characters as skinned hierarchies.
    const std::string data = std::string(DUO_SOURCE_DIR) + "/data/";
    for (const char* name : {"room.x", "seaman.x", "fatman.x"}) {
        SCOPED_TRACE(name);
        const std::string path = data + name;
        MeshPtr mesh;
        DWORD count = 0;
        BufferPtr materials;
        ASSERT_EQ(D3DXLoadMeshFromXA(path.c_str(), 0, nullptr, nullptr, &materials, nullptr, &count,
                                     &mesh),
                  S_OK);
        EXPECT_GT(mesh->GetNumFaces(), 0u);
        ASSERT_GE(count, 3u);
        const auto* mats = static_cast<const D3DXMATERIAL*>(materials->GetBufferPointer());
        int textured = 0, translucent = 0;
        for (DWORD i = 0; i < count; ++i) {
            textured += mats[i].pTextureFilename != nullptr;
            translucent += mats[i].MatD3D.Diffuse.a < 1.0f;
        }
        EXPECT_GT(textured, 0);
        if (std::string(name) == "room.x") {
            EXPECT_GT(translucent, 0);
            EXPECT_LT(textured, int(count));
        }

        TestAllocator allocator;
        D3DXFRAME* root = nullptr;
        AnimControllerPtr controller;
        ASSERT_EQ(D3DXLoadMeshHierarchyFromXA(path.c_str(), 0, nullptr, &allocator, nullptr, &root,
                                              &controller),
                  S_OK);
        if (std::string(name) != "room.x") {
            ASSERT_NE(controller, nullptr);
            AnimSetPtr set;
            ASSERT_EQ(controller->GetAnimationSet(0, &set), S_OK);
            EXPECT_NEAR(set->GetPeriod(), 1.0, 0.5);
            // Every animation drives a frame of the tree, and posing moves some frame.
            std::vector<D3DXMATRIX> before;
            for (const D3DXFRAME* f : Frames(root)) before.push_back(f->TransformationMatrix);
            for (UINT a = 0; a < set->GetNumAnimations(); ++a) {
                const char* frame = nullptr;
                set->GetAnimationNameByIndex(a, &frame);
                EXPECT_NE(D3DXFrameFind(root, frame), nullptr) << frame;
            }
            controller->SetTrackPosition(0, set->GetPeriod() / 4);
            controller->AdvanceTime(0, nullptr);
            float moved = 0;
            const auto after = Frames(root);
            for (size_t i = 0; i < after.size(); ++i)
                moved = std::max(moved, MaxDifference(before[i], after[i]->TransformationMatrix));
            EXPECT_GT(moved, 0.01f);
            bool skinned = false;
            for (const D3DXFRAME* f : Frames(root))
                for (const D3DXMESHCONTAINER* c = f->pMeshContainer; c; c = c->pNextMeshContainer) {
                    if (!c->pSkinInfo) continue;
                    skinned = true;
                    for (DWORD b = 0; b < c->pSkinInfo->GetNumBones(); ++b)
                        EXPECT_NE(D3DXFrameFind(root, c->pSkinInfo->GetBoneName(b)), nullptr);
                }
            EXPECT_TRUE(skinned);
        }
        controller.reset();
        D3DXFrameDestroy(root, &allocator);
        EXPECT_EQ(allocator.liveFrames + allocator.liveContainers, 0);
    }
}
