// Model drawing on the recording device: the two sweeps, materials and textures handed to the
// device and the effect, and the world transforms of a hierarchy.
#include "core/settings.h"
#include "models/model.h"
#include "core/matrix.h"
#include "support/recording_scene.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

class ModelDraw : public ::testing::Test {
  protected:
    void SetUp() override { device = UseRecordingDevice(); }
    void TearDown() override { ReleaseRecordingDevice(); }

    std::vector<DWORD> DrawnSubsets() const {
        std::vector<DWORD> ids;
        for (const RecordedCall& c : device->Calls("DrawSubset")) ids.push_back(c.a);
        return ids;
    }
    // Index of the first call with that op (and state, for render states) at or after from.
    size_t Find(const std::string& op, size_t from = 0, int state = -1, int value = -1) const {
        for (size_t i = from; i < device->calls.size(); ++i) {
            const RecordedCall& c = device->calls[i];
            if (c.op == op && (state < 0 || c.a == DWORD(state)) &&
                (value < 0 || c.b == DWORD(value)))
                return i;
        }
        return SIZE_MAX;
    }

    std::shared_ptr<RecordingDevice> device;
};

TEST_F(ModelDraw, OpaqueThenBlendedSweepAndAlphaAboveOneNever) {
    MakePlainSlot(0, {1.0f, 0.5f, 1.5f});
    DrawModel(0);
    EXPECT_EQ(DrawnSubsets(), (std::vector<DWORD>{0, 1}));
    const size_t blendOn = Find("SetRenderState", 0, D3DRS_ALPHABLENDENABLE, TRUE);
    const size_t first = Find("DrawSubset");
    const size_t second = Find("DrawSubset", first + 1);
    EXPECT_LT(first, blendOn);
    EXPECT_LT(blendOn, second);
    EXPECT_NE(Find("SetRenderState", blendOn, D3DRS_SRCBLEND, D3DBLEND_SRCALPHA), SIZE_MAX);
    EXPECT_NE(Find("SetRenderState", blendOn, D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA), SIZE_MAX);
    EXPECT_GT(Find("SetRenderState", second, D3DRS_ALPHABLENDENABLE, FALSE), second);
    // Colour vertex off for the model, on again after; stage 0 unbound at the end.
    const RecordedCall& f = device->calls.front();
    EXPECT_EQ(std::tuple(f.op, f.a, f.b), std::tuple("SetRenderState", 0u + D3DRS_COLORVERTEX, 0u));
    EXPECT_EQ(device->GetRenderState(D3DRS_COLORVERTEX), DWORD(TRUE));
    EXPECT_EQ(device->texture0, nullptr);
}

TEST_F(ModelDraw, UntexturedSubsetLeavesTheEffectTextureAsItWas) {
    auto texture = std::make_shared<IDirect3DTexture9>(1, 1, std::vector<uint8_t>(4, 255));
    MakePlainSlot(0, {1.0f, 1.0f}, {texture, nullptr});
    DrawModel(0);
    const auto textures = device->Calls("Effect.SetTexture");
    ASSERT_EQ(textures.size(), 1u);
    EXPECT_EQ(std::tuple(textures[0].name, textures[0].object),
              std::tuple("g_txScene", texture.get()));
    const auto flags = device->Calls("Effect.SetInt"); // g_bHasTexture 1, then 0
    ASSERT_EQ(flags.size(), 2u);
    EXPECT_EQ(std::tuple(flags[0].a, flags[1].a), std::tuple(1u, 0u));
    EXPECT_EQ(device->Calls("Effect.CommitChanges").size(), 2u);
    // The device's stage 0 got the texture, then null for the second subset.
    const auto stage0 = device->Calls("SetTexture");
    ASSERT_GE(stage0.size(), 2u);
    EXPECT_EQ(std::tuple(stage0[0].object, stage0[1].object),
              std::tuple(texture.get(), (IDirect3DTexture9*)nullptr));
}

TEST_F(ModelDraw, WithoutEffectOnlyTheDeviceIsToldAndWithoutMaterialsNothingIsDrawn) {
    g_pEffect.reset();
    MakePlainSlot(0, {1.0f, 0.5f});
    DrawModel(0);
    for (const RecordedCall& c : device->calls)
        EXPECT_EQ(c.op.rfind("Effect.", 0), std::string::npos) << c.op;
    EXPECT_EQ(DrawnSubsets(), (std::vector<DWORD>{0, 1}));
    device->calls.clear();
    MakePlainSlot(0, {});
    DrawModel(0);
    EXPECT_TRUE(DrawnSubsets().empty());
    EXPECT_EQ(device->GetRenderState(D3DRS_COLORVERTEX), DWORD(TRUE));
}

TEST_F(ModelDraw, HierarchyFramesAreDrawnRelativeToTheIncomingWorld) {
    HierarchyAllocator& alloc = g_HierarchyAllocator;
    D3DXFRAME* root = nullptr;
    D3DXFRAME* child = nullptr;
    ASSERT_EQ(alloc.CreateFrame("root", &root), S_OK);
    ASSERT_EQ(alloc.CreateFrame("child", &child), S_OK);
    root->pFrameFirstChild = child;
    D3DXMESHDATA data = {D3DXMESHTYPE_MESH, MakeTriangleMesh(device.get(), 1)};
    D3DXMATERIAL material = {MaterialWithAlpha(1.0f), nullptr};
    D3DXMESHCONTAINER* mc = nullptr;
    ASSERT_EQ(
        alloc.CreateMeshContainer("mesh", &data, &material, nullptr, 1, nullptr, nullptr, &mc),
        S_OK);
    child->pMeshContainer = mc;
    D3DXMatrixTranslation(&static_cast<ModelFrame*>(child)->CombinedMatrix, 0, 1, 0);
    ModelSlot& m = g_ModelSlots[1];
    m.IsHierarchy = true;
    m.pRootFrame = static_cast<ModelFrame*>(root);

    D3DXMATRIX incoming;
    D3DXMatrixTranslation(&incoming, 5, 0, 0);
    device->SetTransform(D3DTS_WORLD, &incoming);
    device->calls.clear();
    DrawModel(1);
    const auto draws = device->Calls("DrawSubset");
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].matrix.m[3][0], 5.0f); // frame world = combined x incoming
    EXPECT_EQ(draws[0].matrix.m[3][1], 1.0f);
    D3DXMATRIX after;
    device->GetTransform(D3DTS_WORLD, &after);
    EXPECT_EQ(after.m[3][0], 5.0f); // restored
    EXPECT_EQ(after.m[3][1], 0.0f);
}

} // namespace
