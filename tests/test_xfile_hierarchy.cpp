// The D3DX loader stand-ins: the hierarchy loader with its allocator calls, frame search and
// destruction, and the merged plain-mesh loader.
#include "test_xfile_util.h"

#include <cstring>
#include <tuple>

using namespace xtest;
using Strings = std::vector<std::string>;

namespace {

// tests/fuzz/corpus/xfile/model.x: frame Left (moved by -10 in x) holds mesh a (one triangle,
// material Shared by reference); frame Right (a quarter turn about y, moved by +10) holds
// mesh b (three faces with materials 1, 0, 1, skinned to Left and Right).
const std::string kModel = Corpus("model.x");

std::vector<uint32_t> List(std::span<const uint32_t> s) {
    return {s.begin(), s.end()};
}
const CopyingContainer* Container(const D3DXFRAME* f) {
    return static_cast<const CopyingContainer*>(f->pMeshContainer);
}
std::string Tree(const D3DXFRAME* f) {
    std::string o;
    for (; f; f = f->pFrameSibling) {
        o += std::string("(") + (f->Name ? f->Name : "-");
        for (const D3DXMESHCONTAINER* c = f->pMeshContainer; c; c = c->pNextMeshContainer)
            o += std::string(" ") + (c->Name ? c->Name : "-");
        o += Tree(f->pFrameFirstChild) + ")";
    }
    return o;
}

} // namespace

TEST(XFileHierarchy, MeshesAreSortedByMaterialWithVerticesInPlace) {
    Loaded l;
    ASSERT_EQ(l.File(kModel), S_OK);
    EXPECT_EQ(l.allocator.calls, (Strings{"F Left", "M a", "F Right", "M b"}));
    ASSERT_TRUE(Container(l.root) && l.root->pFrameSibling && Container(l.root->pFrameSibling));
    const CopyingContainer* b = Container(l.root->pFrameSibling);
    const ID3DXMesh& mesh = *b->MeshData.pMesh;
    // Faces 1, 0, 1 by material become 0 | 1, 1 in a stable order; vertices keep file order.
    EXPECT_EQ(List(mesh.Attributes()), (std::vector<uint32_t>{0, 1, 1}));
    EXPECT_EQ(List(mesh.Indices()), (std::vector<uint32_t>{0, 2, 3, 0, 1, 2, 1, 2, 3}));
    EXPECT_EQ(mesh.Vertices()[2].position[1], 1.0f);
    EXPECT_EQ(b->adjacency, mesh.GenerateAdjacency());
    DWORD ranges = 0;
    mesh.GetAttributeTable(nullptr, &ranges);
    EXPECT_EQ(ranges, 2u);
    // Materials as the file gives them, ambient black, textures named as written.
    ASSERT_EQ(b->NumMaterials, 2u);
    const D3DMATERIAL9 &m0 = b->materials[0].MatD3D, &m1 = b->materials[1].MatD3D;
    EXPECT_EQ((std::vector<float>{m0.Diffuse.r, m1.Diffuse.a, m1.Power, m1.Ambient.b}),
              (std::vector<float>{1, 0.5f, 2, 0}));
    EXPECT_EQ(b->textures, (Strings{"", "glass.png"}));
    EXPECT_EQ(Container(l.root)->textures, (Strings{"wall.png"}));
    EXPECT_EQ(Container(l.root)->pSkinInfo, nullptr);
    ASSERT_TRUE(b->pSkinInfo && l.controller);
    EXPECT_STREQ(b->pSkinInfo->GetBoneName(1), "Right");
    EXPECT_EQ(b->pSkinInfo->GetBoneName(2), nullptr);
    EXPECT_EQ(l.controller->GetNumAnimationSets(), 1u);
}

TEST(XFileHierarchy, FramesMeshesAndTopLevelMeshesLinkInFileOrder) {
    Loaded l;
    l.controller = std::make_shared<ID3DXAnimationController>(
        std::vector<AnimSetPtr>{}, [](const std::string&) { return nullptr; });
    ASSERT_EQ(l.Memory(Text(R"(
Mesh loose { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }
Frame P { Mesh first { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; } Frame C1 { Frame G { } }
  Mesh second { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,2,1;; } Frame C2 { } Frame { } }
)")),
              S_OK);
    EXPECT_EQ(l.controller, nullptr); // no AnimationSet: no controller
    EXPECT_EQ(l.allocator.calls, (Strings{"F <null>", "M loose", "F P", "M first", "F C1", "F G",
                                          "M second", "F C2", "F <null>"}));
    // "(frame containers children)" for each sibling; "-" for no name.
    EXPECT_EQ(Tree(l.root), "(- loose)(P first second(C1(G))(C2)(-))");
    const D3DXFRAME* g = D3DXFrameFind(l.root, "G");
    ASSERT_NE(g, nullptr);
    EXPECT_STREQ(g->Name, "G");
    EXPECT_EQ(g->TransformationMatrix.m[0][0], 1.0f); // no FrameTransformMatrix: identity
    EXPECT_EQ(D3DXFrameFind(l.root, "missing"), nullptr);
    EXPECT_EQ(D3DXFrameFind(nullptr, "P"), nullptr);
    EXPECT_EQ(D3DXFrameDestroy(nullptr, &l.allocator), S_OK);
}

TEST(XFileHierarchy, AllocatorFailureUndoesEverythingMade) {
    // Fail each of the four create calls in turn: what was made before is destroyed, the root
    // stays null, and one line names the file.
    const char* says[] = {
        "the allocator made no frame for 'Left'", "the allocator refused mesh 'a'",
        "the allocator made no frame for 'Right'", "the allocator refused mesh 'b'"};
    for (int failAt = 1; failAt <= 4; ++failAt) {
        SCOPED_TRACE(failAt);
        testing::internal::CaptureStderr();
        Loaded l;
        l.allocator.failAt = failAt;
        EXPECT_EQ(l.File(kModel), E_FAIL);
        EXPECT_EQ(l.root, nullptr);
        EXPECT_EQ(l.allocator.live, 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), kModel + ": " + says[failAt - 1] + "\n");
    }
}

TEST(XFileMeshLoad, MergesMeshesInTheirFramesWithMaterialsInOrder) {
    BufferPtr adjacency, materials, effects;
    DWORD count = 0;
    MeshPtr mesh;
    ASSERT_EQ(D3DXLoadMeshFromXA(kModel.c_str(), D3DXMESH_MANAGED, nullptr, &adjacency, &materials,
                                 &effects, &count, &mesh),
              S_OK);
    ASSERT_EQ(std::tuple(count, mesh->GetNumFaces(), mesh->GetNumVertices()),
              std::tuple(3u, 4u, 7u));
    // Mesh a moved by (-10, 0, 0); mesh b turned a quarter about y (x -> -z) and moved by +10.
    auto v = mesh->Vertices();
    EXPECT_EQ((std::vector<float>{v[1].position[0], v[4].position[0], v[4].position[2]}),
              (std::vector<float>{-9, 10, -1}));
    EXPECT_EQ(std::pair(v[3].normal[0], v[0].normal[2]),
              std::pair(-1.0f, -1.0f)); // (0,0,-1) turned
    // Attribute ids: a's material 0; b's 1 and 0 offset by one. Faces sorted by attribute.
    EXPECT_EQ(List(mesh->Attributes()), (std::vector<uint32_t>{0, 1, 2, 2}));
    EXPECT_EQ(List(mesh->Indices().first(6)), (std::vector<uint32_t>{0, 1, 2, 3, 5, 6}));
    // Edges 3-5, 5-6 and 4-5 each join two of b's faces; the adjacency is the mesh's own.
    ASSERT_EQ(adjacency->GetBufferSize(), 4u * 3u * sizeof(DWORD));
    const std::vector<uint32_t> adj = mesh->GenerateAdjacency();
    EXPECT_EQ(std::memcmp(adjacency->GetBufferPointer(), adj.data(), adj.size() * 4), 0);
    EXPECT_EQ(adj, (std::vector<uint32_t>{~0u, ~0u, ~0u, 2, 3, ~0u, ~0u, 3, 1, 2, 1, ~0u}));

    const auto* mats = static_cast<const D3DXMATERIAL*>(materials->GetBufferPointer());
    const char* begin = static_cast<const char*>(materials->GetBufferPointer());
    const char* end = begin + materials->GetBufferSize(); // the names live in the buffer itself
    // In order (a's, then b's): the names tell them apart; their values are the hierarchy's.
    ASSERT_TRUE(mats[0].pTextureFilename > begin && mats[2].pTextureFilename < end);
    EXPECT_STREQ(mats[0].pTextureFilename, "wall.png");
    EXPECT_EQ(mats[1].pTextureFilename, nullptr);
    EXPECT_STREQ(mats[2].pTextureFilename, "glass.png");
    EXPECT_EQ(effects->GetBufferSize(), 3u * sizeof(D3DXEFFECTINSTANCE));

    testing::internal::CaptureStderr();
    const std::string empty = Text("Frame nothing { }");
    EXPECT_EQ(D3DXLoadMeshFromXInMemory(empty.data(), DWORD(empty.size()), 0, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, &mesh),
              E_FAIL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "(memory): holds no mesh\n");
}
