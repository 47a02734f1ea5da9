// Models on the recording device: the hierarchy allocator, loading .x files into slots,
// skinning at an animation time, and drawing in two sweeps with materials and textures.
#include "core/matrix.h"
#include "core/settings.h"
#include "models/model.h"
#include "support/recording_scene.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <tuple>

namespace {

// tests/data/skinned_strip.x: a two-frame skinned strip, three vertices on bone "Arm", which a
// matrix-key animation moves from x = 0 to x = 4 over one second (4800 ticks);
// tests/data/lost_bone.x: the same with its skin naming a bone no frame has.
std::string TestFile(const char* name) {
    return std::string(DUO_SOURCE_DIR) + "/tests/data/" + name;
}

ModelMeshContainer* FirstContainer(ModelFrame* frame) {
    if (!frame) return nullptr;
    if (frame->pMeshContainer) return static_cast<ModelMeshContainer*>(frame->pMeshContainer);
    if (auto* mc = FirstContainer(static_cast<ModelFrame*>(frame->pFrameFirstChild))) return mc;
    return FirstContainer(static_cast<ModelFrame*>(frame->pFrameSibling));
}

class Models : public ::testing::Test {
  protected:
    void SetUp() override { device = UseRecordingDevice(); }
    void TearDown() override { ReleaseRecordingDevice(); }
    ModelMeshContainer* Create(int subsets, const D3DXMATERIAL* materials, DWORD count,
                               const DWORD* adjacency = nullptr, const SkinInfoPtr& skin = nullptr,
                               MeshPtr mesh = nullptr) {
        D3DXMESHDATA data = {D3DXMESHTYPE_MESH,
                             mesh ? mesh : MakeTriangleMesh(device.get(), subsets)};
        D3DXMESHCONTAINER* mc = nullptr;
        EXPECT_EQ(g_HierarchyAllocator.CreateMeshContainer("body", &data, materials, nullptr, count,
                                                           adjacency, skin, &mc),
                  S_OK);
        return static_cast<ModelMeshContainer*>(mc);
    }
    // Render states set ("state=value") and subsets drawn ("draw id"), in order.
    std::string Trace() const {
        std::string t;
        for (const RecordedCall& c : device->calls)
            if (c.op == "SetRenderState" || c.op == "DrawSubset")
                t += (c.op[0] == 'D' ? "draw " + std::to_string(c.a)
                                     : std::to_string(c.a) + "=" + std::to_string(c.b)) +
                     " ";
        return t;
    }

    std::shared_ptr<RecordingDevice> device;
};

TEST_F(Models, AllocatorNamesFramesRefusesProgressiveMeshesGivesMaterialsAndDrawMeshes) {
    D3DXFRAME *named = nullptr, *unnamed = nullptr, *empty = nullptr;
    ASSERT_EQ(g_HierarchyAllocator.CreateFrame("Hips", &named), S_OK);
    ASSERT_EQ(g_HierarchyAllocator.CreateFrame(nullptr, &unnamed), S_OK);
    ASSERT_EQ(g_HierarchyAllocator.CreateFrame("", &empty), S_OK);
    EXPECT_EQ(std::string(named->Name) + "|" + unnamed->Name + "|" + empty->Name, "Hips|no_name|");
    const D3DXMATRIX identity = IdentityMatrix();
    EXPECT_EQ(std::memcmp(&named->TransformationMatrix, &identity, sizeof identity), 0);
    for (D3DXFRAME* f : {named, unnamed, empty, (D3DXFRAME*)nullptr})
        EXPECT_EQ(g_HierarchyAllocator.DestroyFrame(f), S_OK);
    EXPECT_EQ(g_HierarchyAllocator.DestroyMeshContainer(nullptr), S_OK);

    D3DXMESHDATA data = {D3DXMESHTYPE_PMESH, MakeTriangleMesh(device.get(), 1)};
    auto* sentinel = reinterpret_cast<D3DXMESHCONTAINER*>(0x1234);
    D3DXMESHCONTAINER* out = sentinel;
    EXPECT_EQ(g_HierarchyAllocator.CreateMeshContainer("p", &data, nullptr, nullptr, 0, nullptr,
                                                       nullptr, &out),
              E_FAIL);
    EXPECT_EQ(out, sentinel) << "the output is left alone";

    // No materials: one grey one, untextured.
    ModelMeshContainer* mc = Create(1, nullptr, 0);
    ASSERT_EQ(mc->NumMaterials, 1u);
    const D3DMATERIAL9& grey = mc->pMaterials[0].MatD3D;
    EXPECT_EQ((std::array{grey.Diffuse.r, grey.Diffuse.g, grey.Diffuse.b, grey.Diffuse.a,
                          grey.Ambient.r, grey.Specular.g, grey.Emissive.b, grey.Power}),
              (std::array{0.8f, 0.8f, 0.8f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f}));
    EXPECT_EQ(mc->pTextures[0], nullptr);
    g_HierarchyAllocator.DestroyMeshContainer(mc);

    // A texture per material; one that cannot be read is drawn untextured.
    const std::string texture = std::string(DUO_SOURCE_DIR) + "/data/floor.png";
    D3DXMATERIAL materials[3] = {{MaterialWithAlpha(1), texture.c_str()},
                                 {MaterialWithAlpha(1), nullptr},
                                 {MaterialWithAlpha(0.5f), "no-such-texture.png"}};
    const DWORD adjacency[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    MeshPtr mesh = MakeTriangleMesh(device.get(), 3);
    mc = Create(3, materials, 3, adjacency, nullptr, mesh);
    EXPECT_TRUE(mc->pTextures[0] && !mc->pTextures[1] && !mc->pTextures[2]);
    EXPECT_EQ(mc->pMaterials[2].MatD3D.Diffuse.a, 0.5f);
    EXPECT_EQ(std::memcmp(mc->pAdjacency, adjacency, sizeof adjacency), 0);
    EXPECT_EQ(mc->pDrawMesh, mc->MeshData.pMesh);
    EXPECT_EQ(mesh.use_count(), 3); // ours and the container's two
    g_HierarchyAllocator.DestroyMeshContainer(mc);
    EXPECT_EQ(mesh.use_count(), 1); // both released

    // Skinned: its own draw mesh, the bones' offsets, and an attribute table.
    xfile::Bone a{"Upper", {0, 1}, {1, 1}, IdentityMatrix()},
        b{"Lower", {2, 3, 4, 5}, {1, 1, 1, 1}, IdentityMatrix()};
    a.offset.m[3][1] = -2.0f;
    auto skin = std::make_shared<ID3DXSkinInfo>(6, std::vector<xfile::Bone>{a, b});
    mc = Create(2, materials + 1, 2, nullptr, skin);
    EXPECT_NE(mc->pDrawMesh, mc->MeshData.pMesh);
    EXPECT_EQ(mc->pDrawMesh->GetNumVertices(), mc->MeshData.pMesh->GetNumVertices());
    EXPECT_EQ(std::tuple(mc->NumBones, mc->pBoneOffsets[0].m[3][1], mc->NumAttributeRanges,
                         mc->pAttributeRanges[1].AttribId),
              std::tuple(2u, -2.0f, 2u, 1u));
    g_HierarchyAllocator.DestroyMeshContainer(mc);
}

TEST_F(Models, SkinnedHierarchyIsPosedAtTimeZeroFollowsTheAnimationAndSkinsOncePerTime) {
    LoadModel(1, TestFile("skinned_strip.x").c_str(), true);
    ModelSlot& m = g_ModelSlots[1];
    ASSERT_FALSE(IsModelSlotEmpty(1));
    EXPECT_DOUBLE_EQ(m.Period, 1.0);
    ModelMeshContainer* mc = FirstContainer(m.pRootFrame);
    ASSERT_NE(mc, nullptr);
    ASSERT_NE(mc->pSkinInfo, nullptr);
    // Offset undoes the bind pose: at time 0 the vertices sit where the file put them; at 0.5
    // they moved 2 with the bone.
    const auto near = [&](std::array<float, 3> want) {
        auto v = mc->pDrawMesh->Vertices();
        return std::fabs(v[0].position[0] - want[0]) + std::fabs(v[1].position[0] - want[1]) +
                   std::fabs(v[2].position[1] - want[2]) <
               1e-4f;
    };
    EXPECT_TRUE(near({0, 1, 1}));
    UpdateModelAnimation(1, 0.5f);
    EXPECT_TRUE(near({2, 3, 1}));
    EXPECT_EQ(mc->MeshData.pMesh->Vertices()[1].position[0], 1.0f) << "source never touched";

    MeshVertex* v = nullptr;
    mc->pDrawMesh->LockVertexBuffer(0, &v);
    v[0].position[0] = 99.0f; // a marker the next skinning pass would overwrite
    mc->pDrawMesh->UnlockVertexBuffer();
    UpdateModelAnimation(1, 0.5f);
    EXPECT_EQ(mc->pDrawMesh->Vertices()[0].position[0], 99.0f) << "same time: not skinned again";
    UpdateModelAnimation(1, 0.0f);
    EXPECT_NEAR(mc->pDrawMesh->Vertices()[0].position[0], 0.0f, 1e-4);

    // A bone no frame has follows the root: offset (0, -1, 0) times the root's identity.
    testing::internal::CaptureStderr();
    LoadModel(2, TestFile("lost_bone.x").c_str(), true);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("NoSuchFrame"), std::string::npos);
    ASSERT_NE(mc = FirstContainer(g_ModelSlots[2].pRootFrame), nullptr);
    UpdateModelAnimation(2, 0.5f);
    EXPECT_NEAR(mc->pDrawMesh->Vertices()[2].position[1], 0.0f, 1e-5);
}

TEST_F(Models, MissingFileLeavesTheSlotEmptyAndHarmless) {
    testing::internal::CaptureStderr();
    LoadModel(0, "no-such-room.x", false);
    LoadModel(1, "no-such-man.x", true);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(err.find("no-such-room.x") != err.npos && err.find("no-such-man.x") != err.npos);
    EXPECT_TRUE(IsModelSlotEmpty(0) && IsModelSlotEmpty(1));
    device->calls.clear();
    UpdateModelAnimation(1, 0.3f);
    DrawModel(0);
    DrawModel(1);
    FreeModel(0);
    FreeModel(1);
    EXPECT_TRUE(device->calls.empty());
}

TEST_F(Models, OurModelsLoad) {
    // Their materials and animations are checked by the .x loader tests; here: the slots.
    std::filesystem::current_path(std::string(DUO_SOURCE_DIR) + "/data/"); // texture names
    LoadModel(0, "room.x", false);
    LoadModel(1, "seaman.x", true);
    LoadModel(2, "fatman.x", true);
    const ModelSlot& room = g_ModelSlots[0];
    ASSERT_FALSE(IsModelSlotEmpty(0));
    bool textured = false;
    for (DWORD i = 0; i < room.NumMaterials; ++i) {
        // Plain models take the diffuse colour as ambient.
        EXPECT_EQ(room.pMaterials[i].Ambient.r, room.pMaterials[i].Diffuse.r);
        textured |= room.pTextures[i] != nullptr;
    }
    EXPECT_TRUE(textured) << "textures are found from data/";
    for (int slot : {1, 2}) {
        ASSERT_FALSE(IsModelSlotEmpty(slot));
        ModelMeshContainer* mc = FirstContainer(g_ModelSlots[slot].pRootFrame);
        ASSERT_NE(mc, nullptr);
        for (DWORD b = 0; b < mc->NumBones; ++b) EXPECT_NE(mc->ppBoneFrameMatrices[b], nullptr);
    }
}

TEST_F(Models, UntexturedSubsetLeavesTheEffectTextureAsItWas) {
    auto texture = std::make_shared<IDirect3DTexture9>(1, 1, std::vector<uint8_t>(4, 255));
    MakePlainSlot(0, {1.0f, 1.0f}, {texture, nullptr});
    DrawModel(0);
    const auto textures = device->Calls("Effect.SetTexture");
    ASSERT_EQ(textures.size(), 1u);
    EXPECT_EQ(std::tuple(textures[0].name, textures[0].object),
              std::tuple("g_txScene", texture.get()));
    const auto flags = device->Calls("Effect.SetInt"); // g_bHasTexture 1, then 0
    ASSERT_EQ(flags.size(), 2u);
    EXPECT_EQ(std::tuple(flags[0].name, flags[0].a, flags[1].a),
              std::tuple("g_bHasTexture", 1u, 0u));
    EXPECT_EQ(device->Calls("Effect.CommitChanges").size(), 2u);
    // The device's stage 0 got the texture, then null for the second subset.
    const auto stage0 = device->Calls("SetTexture");
    ASSERT_GE(stage0.size(), 2u);
    EXPECT_EQ(std::tuple(stage0[0].object, stage0[1].object),
              std::tuple(texture.get(), (IDirect3DTexture9*)nullptr));
}

TEST_F(Models, OpaqueThenBlendedSweepAlsoWithoutEffectAndWithoutMaterialsNothingIsDrawn) {
    MakePlainSlot(0, {1.0f, 0.5f, 1.5f}); // alpha above one: never drawn
    // Colour vertex (141) off; the opaque subset; blending (27) on with source alpha (19 = 5)
    // and inverse source alpha (20 = 6) for the translucent one; then both back.
    const std::string sweeps = "141=0 draw 0 27=1 19=5 20=6 draw 1 27=0 141=1 ";
    DrawModel(0);
    EXPECT_EQ(Trace(), sweeps);
    EXPECT_EQ(device->texture0, nullptr);
    g_pEffect.reset(); // then only the device is told
    device->calls.clear();
    DrawModel(0);
    for (const RecordedCall& c : device->calls)
        EXPECT_EQ(c.op.rfind("Effect.", 0), std::string::npos) << c.op;
    EXPECT_EQ(Trace(), sweeps);
    device->calls.clear();
    MakePlainSlot(0, {});
    DrawModel(0);
    EXPECT_EQ(Trace().find("draw"), std::string::npos);
    EXPECT_EQ(device->GetRenderState(D3DRS_COLORVERTEX), DWORD(TRUE));
}

TEST_F(Models, HierarchyFramesAreDrawnRelativeToTheIncomingWorld) {
    D3DXFRAME *root = nullptr, *child = nullptr;
    ASSERT_EQ(g_HierarchyAllocator.CreateFrame("root", &root), S_OK);
    ASSERT_EQ(g_HierarchyAllocator.CreateFrame("child", &child), S_OK);
    root->pFrameFirstChild = child;
    child->pMeshContainer = Create(1, nullptr, 0);
    D3DXMatrixTranslation(&static_cast<ModelFrame*>(child)->CombinedMatrix, 0, 1, 0);
    g_ModelSlots[1].IsHierarchy = true;
    g_ModelSlots[1].pRootFrame = static_cast<ModelFrame*>(root);

    D3DXMATRIX incoming;
    D3DXMatrixTranslation(&incoming, 5, 0, 0);
    device->SetTransform(D3DTS_WORLD, &incoming);
    device->calls.clear();
    DrawModel(1);
    const auto draws = device->Calls("DrawSubset");
    ASSERT_EQ(draws.size(), 1u);
    D3DXMATRIX after;
    device->GetTransform(D3DTS_WORLD, &after);
    // Frame world = combined x incoming; the incoming world is restored afterwards.
    EXPECT_EQ(
        std::tuple(draws[0].matrix.m[3][0], draws[0].matrix.m[3][1], after.m[3][0], after.m[3][1]),
        std::tuple(5.0f, 1.0f, 5.0f, 0.0f));
}

TEST_F(Models, ThreeHundredThousandSiblingsAreLinkedPosedSkinnedAndDrawnInOrder) {
    // a (x 1) holds a mesh and a child c (x 3); b's mesh is skinned on bone z (y 5), the last
    // of 300 000 siblings, more than a walk recursing once per sibling has stack for.
    auto at = [](int x, int y) {
        return "FrameTransformMatrix {1,0,0,0,0,1,0,0,0,0,1,0," + std::to_string(x) + "," +
               std::to_string(y) + ",0,1;;}\n";
    };
    const std::string tri = "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;\n";
    std::string x =
        "xof 0303txt 0032\nFrame a {" + at(1, 0) + tri + "}\nFrame c {" + at(3, 0) + tri +
        "} } }\nFrame b {" + at(2, 0) + tri +
        "SkinWeights { \"z\"; 3; 0,1,2; 1,1,1; 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; } } }\n";
    for (int i = 0; i < 300000; ++i) x += "Frame{}";
    x += "Frame z {" + at(0, 5) + "}";
    D3DXFRAME* root = nullptr;
    ASSERT_EQ(D3DXLoadMeshHierarchyFromXInMemory(x.data(), DWORD(x.size()), 0, device.get(),
                                                 &g_HierarchyAllocator, nullptr, &root, nullptr),
              S_OK);
    ModelSlot& m = g_ModelSlots[1];
    m.IsHierarchy = true;
    m.pRootFrame = static_cast<ModelFrame*>(root);
    LinkBones(m.pRootFrame, m.pRootFrame);
    const D3DXMATRIX identity = IdentityMatrix();
    UpdateFrameMatrices(m.pRootFrame, &identity);
    UpdateSkins(m.pRootFrame);
    DrawModel(1);
    // a, then its sibling chain (b's skinned mesh drawn in model space), then its child c.
    std::vector<float> xs;
    for (const RecordedCall& c : device->Calls("DrawSubset")) xs.push_back(c.matrix.m[3][0]);
    EXPECT_EQ(xs, (std::vector<float>{1, 0, 4}));
    auto* b = static_cast<ModelMeshContainer*>(root->pFrameSibling->pMeshContainer);
    EXPECT_EQ(b->pDrawMesh->Vertices()[2].position[1], 6.0f); // (0, 1, 0) moved with z
}

} // namespace
