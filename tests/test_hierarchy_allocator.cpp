// The hierarchy allocator's records: names, materials, textures, references and bone arrays.
#include "core/settings.h"
#include "models/model.h"
#include "support/recording_scene.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class Allocator : public ::testing::Test {
  protected:
    void SetUp() override { device = UseRecordingDevice(); }
    void TearDown() override { ReleaseRecordingDevice(); }

    ModelMeshContainer* Create(const D3DXMESHDATA& data, const D3DXMATERIAL* materials, DWORD count,
                               const SkinInfoPtr& skin = nullptr) {
        D3DXMESHCONTAINER* mc = nullptr;
        EXPECT_EQ(g_HierarchyAllocator.CreateMeshContainer("body", &data, materials, nullptr, count,
                                                           nullptr, skin, &mc),
                  S_OK);
        return static_cast<ModelMeshContainer*>(mc);
    }

    std::shared_ptr<RecordingDevice> device;
};

TEST_F(Allocator, FrameNamesAndMatrices) {
    D3DXFRAME* named = nullptr;
    D3DXFRAME* unnamed = nullptr;
    D3DXFRAME* empty = nullptr;
    ASSERT_EQ(g_HierarchyAllocator.CreateFrame("Hips", &named), S_OK);
    ASSERT_EQ(g_HierarchyAllocator.CreateFrame(nullptr, &unnamed), S_OK);
    ASSERT_EQ(g_HierarchyAllocator.CreateFrame("", &empty), S_OK);
    EXPECT_STREQ(named->Name, "Hips");
    EXPECT_STREQ(unnamed->Name, "no_name");
    EXPECT_STREQ(empty->Name, ""); // an empty name stays empty
    const D3DXMATRIX identity = IdentityMatrix();
    EXPECT_EQ(std::memcmp(&named->TransformationMatrix, &identity, sizeof identity), 0);
    EXPECT_EQ(
        std::memcmp(&static_cast<ModelFrame*>(named)->CombinedMatrix, &identity, sizeof identity),
        0);
    EXPECT_EQ(named->pFrameSibling, nullptr);
    EXPECT_EQ(named->pMeshContainer, nullptr);
    for (D3DXFRAME* f : {named, unnamed, empty})
        EXPECT_EQ(g_HierarchyAllocator.DestroyFrame(f), S_OK);
    EXPECT_EQ(g_HierarchyAllocator.DestroyFrame(nullptr), S_OK);
    EXPECT_EQ(g_HierarchyAllocator.DestroyMeshContainer(nullptr), S_OK);
}

TEST_F(Allocator, MeshWithoutMaterialsGetsOneGreyMaterial) {
    D3DXMESHDATA data = {D3DXMESHTYPE_MESH, MakeTriangleMesh(device.get(), 1)};
    ModelMeshContainer* mc = Create(data, nullptr, 0);
    ASSERT_NE(mc, nullptr);
    EXPECT_EQ(mc->NumMaterials, 1u);
    const D3DMATERIAL9& m = mc->pMaterials[0].MatD3D;
    EXPECT_EQ(m.Diffuse.r, 0.8f);
    EXPECT_EQ(m.Diffuse.g, 0.8f);
    EXPECT_EQ(m.Diffuse.b, 0.8f);
    EXPECT_EQ(m.Diffuse.a, 1.0f);
    EXPECT_EQ(m.Ambient.r + m.Specular.g + m.Emissive.b + m.Power, 0.0f);
    EXPECT_EQ(mc->pMaterials[0].pTextureFilename, nullptr);
    EXPECT_EQ(mc->pTextures[0], nullptr);
    EXPECT_EQ(mc->pEffects, nullptr);
    g_HierarchyAllocator.DestroyMeshContainer(mc);
}

TEST_F(Allocator, TexturesPerMaterialAndTwoReferencesOnAnUnskinnedMesh) {
    const std::string texture = std::string(DUO_SOURCE_DIR) + "/data/floor.png";
    D3DXMATERIAL materials[3] = {{MaterialWithAlpha(1), texture.c_str()},
                                 {MaterialWithAlpha(1), nullptr},
                                 {MaterialWithAlpha(0.5f), "no-such-texture.png"}};
    MeshPtr mesh = MakeTriangleMesh(device.get(), 3);
    D3DXMESHDATA data = {D3DXMESHTYPE_MESH, mesh};
    const DWORD adjacency[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    D3DXMESHCONTAINER* raw = nullptr;
    ASSERT_EQ(g_HierarchyAllocator.CreateMeshContainer("body", &data, materials, nullptr, 3,
                                                       adjacency, nullptr, &raw),
              S_OK);
    auto* mc = static_cast<ModelMeshContainer*>(raw);
    EXPECT_NE(mc->pTextures[0], nullptr);
    EXPECT_EQ(mc->pTextures[1], nullptr);
    EXPECT_EQ(mc->pTextures[2], nullptr); // unreadable: drawn untextured
    EXPECT_EQ(mc->pMaterials[2].MatD3D.Diffuse.a, 0.5f);
    EXPECT_EQ(std::memcmp(mc->pAdjacency, adjacency, sizeof adjacency), 0);
    EXPECT_EQ(mc->pDrawMesh, mc->MeshData.pMesh);
    EXPECT_EQ(mesh.use_count(), 4); // ours, the data's, and the container's two
    EXPECT_EQ(mc->NumBones, 0u);
    EXPECT_EQ(mc->pAttributeRanges, nullptr);
    g_HierarchyAllocator.DestroyMeshContainer(mc);
    EXPECT_EQ(mesh.use_count(), 2); // both released
}

TEST_F(Allocator, ProgressiveMeshIsRefusedAndTheOutputLeftAlone) {
    D3DXMESHDATA data = {D3DXMESHTYPE_PMESH, MakeTriangleMesh(device.get(), 1)};
    auto* sentinel = reinterpret_cast<D3DXMESHCONTAINER*>(0x1234);
    D3DXMESHCONTAINER* out = sentinel;
    EXPECT_EQ(g_HierarchyAllocator.CreateMeshContainer("p", &data, nullptr, nullptr, 0, nullptr,
                                                       nullptr, &out),
              E_FAIL);
    EXPECT_EQ(out, sentinel);
}

TEST_F(Allocator, SkinnedMeshGetsItsOwnDrawMeshBonesAndRanges) {
    xfile::Bone a, b;
    a.name = "Upper";
    a.offset = IdentityMatrix();
    a.offset.m[3][1] = -2.0f;
    a.vertices = {0, 1};
    a.weights = {1.0f, 1.0f};
    b.name = "Lower";
    b.offset = IdentityMatrix();
    b.vertices = {2, 3, 4, 5};
    b.weights = {1.0f, 1.0f, 1.0f, 1.0f};
    auto skin = std::make_shared<ID3DXSkinInfo>(6, std::vector<xfile::Bone>{a, b});
    D3DXMATERIAL materials[2] = {{MaterialWithAlpha(1), nullptr}, {MaterialWithAlpha(1), nullptr}};
    D3DXMESHDATA data = {D3DXMESHTYPE_MESH, MakeTriangleMesh(device.get(), 2)};
    ModelMeshContainer* mc = Create(data, materials, 2, skin);
    ASSERT_NE(mc, nullptr);
    EXPECT_NE(mc->pDrawMesh, mc->MeshData.pMesh);
    EXPECT_EQ(mc->pDrawMesh->GetNumVertices(), mc->MeshData.pMesh->GetNumVertices());
    EXPECT_EQ(mc->NumBones, 2u);
    EXPECT_EQ(mc->pBoneOffsets[0].m[3][1], -2.0f);
    EXPECT_EQ(mc->NumAttributeRanges, 2u);
    EXPECT_EQ(mc->pAttributeRanges[1].AttribId, 1u);
    EXPECT_EQ(mc->ppBoneFrameMatrices[0], nullptr); // linked after loading
    g_HierarchyAllocator.DestroyMeshContainer(mc);
}

} // namespace
