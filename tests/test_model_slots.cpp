// Model slots: loading real .x files into slots, posing with software skinning at an
// animation time, and what happens with missing files and bones.
#include "core/settings.h"
#include "models/model.h"
#include "support/recording_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

namespace {

// A two-frame skinned strip: three vertices on bone "Arm", which a matrix-key animation moves
// from x = 0 to x = 4 over one second (4800 ticks).
const char kSkinnedFile[] = R"(xof 0303txt 0032
Frame Root {
  FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1;; }
  Frame Arm {
    FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,1,0,1;; }
  }
  Mesh Strip {
    3; 0;0;0;, 1;0;0;, 0;%Y%;0;;
    1; 3;0,1,2;;
    MeshMaterialList { 1; 1; 0;; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } }
    XSkinMeshHeader { 1; 1; 1; }
    SkinWeights { "%BONE%"; 3; 0,1,2; 1,1,1; 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,-1,0,1;; }
  }
}
AnimTicksPerSecond { 4800; }
AnimationSet Move {
  Animation {
    { Arm }
    AnimationKey { 4; 3;
      0;16;1,0,0,0, 0,1,0,0, 0,0,1,0, 0,1,0,1;;,
      2400;16;1,0,0,0, 0,1,0,0, 0,0,1,0, 2,1,0,1;;,
      4800;16;1,0,0,0, 0,1,0,0, 0,0,1,0, 4,1,0,1;;;
    }
  }
}
)";

std::string WriteFile(const std::string& name, std::string text, const std::string& bone = "Arm") {
    for (auto [key, value] : {std::pair<std::string, std::string>{"%BONE%", bone}, {"%Y%", "1"}})
        text.replace(text.find(key), key.size(), value);
    const std::string path = std::string(DUO_BINARY_DIR) + "/" + name;
    std::ofstream(path) << text;
    return path;
}

ModelMeshContainer* FirstContainer(ModelFrame* frame) {
    if (!frame) return nullptr;
    if (frame->pMeshContainer) return static_cast<ModelMeshContainer*>(frame->pMeshContainer);
    if (auto* mc = FirstContainer(static_cast<ModelFrame*>(frame->pFrameFirstChild))) return mc;
    return FirstContainer(static_cast<ModelFrame*>(frame->pFrameSibling));
}

class ModelSlots : public ::testing::Test {
  protected:
    void SetUp() override { device = UseRecordingDevice(); }
    void TearDown() override { ReleaseRecordingDevice(); }
    std::shared_ptr<RecordingDevice> device;
};

TEST_F(ModelSlots, SkinnedHierarchyIsPosedAtTimeZeroAndFollowsTheAnimation) {
    LoadModel(1, WriteFile("skinned.x", kSkinnedFile).c_str(), true);
    ModelSlot& m = g_ModelSlots[1];
    ASSERT_FALSE(IsModelSlotEmpty(1));
    EXPECT_DOUBLE_EQ(m.Period, 1.0);
    EXPECT_EQ(m.LastTime, 0.0f);
    ModelMeshContainer* mc = FirstContainer(m.pRootFrame);
    ASSERT_NE(mc, nullptr);
    ASSERT_NE(mc->pSkinInfo, nullptr);
    auto drawn = mc->pDrawMesh->Vertices();
    // Offset undoes the bind pose: at time 0 the vertices sit where the file put them.
    EXPECT_NEAR(drawn[1].position[0], 1.0f, 1e-5);
    EXPECT_NEAR(drawn[2].position[1], 1.0f, 1e-5);

    UpdateModelAnimation(1, 0.5f);
    drawn = mc->pDrawMesh->Vertices();
    EXPECT_NEAR(drawn[0].position[0], 2.0f, 1e-4); // moved with the bone
    EXPECT_NEAR(drawn[1].position[0], 3.0f, 1e-4);
    EXPECT_NEAR(drawn[2].position[1], 1.0f, 1e-4);
    // The source mesh is never touched.
    EXPECT_EQ(mc->MeshData.pMesh->Vertices()[1].position[0], 1.0f);
    EXPECT_EQ(m.LastTime, 0.5f);
}

TEST_F(ModelSlots, SameTimeTwiceSkinsOnce) {
    LoadModel(1, WriteFile("skinned_once.x", kSkinnedFile).c_str(), true);
    ModelMeshContainer* mc = FirstContainer(g_ModelSlots[1].pRootFrame);
    ASSERT_NE(mc, nullptr);
    UpdateModelAnimation(1, 0.5f);
    MeshVertex* v = nullptr;
    mc->pDrawMesh->LockVertexBuffer(0, &v);
    v[0].position[0] = 99.0f; // a marker the next skinning pass would overwrite
    mc->pDrawMesh->UnlockVertexBuffer();
    UpdateModelAnimation(1, 0.5f);
    EXPECT_EQ(mc->pDrawMesh->Vertices()[0].position[0], 99.0f);
    UpdateModelAnimation(1, 0.0f); // another time: skinned again
    EXPECT_NEAR(mc->pDrawMesh->Vertices()[0].position[0], 0.0f, 1e-4);
}

TEST_F(ModelSlots, BoneWithoutFrameFollowsTheRoot) {
    testing::internal::CaptureStderr();
    LoadModel(2, WriteFile("lost_bone.x", kSkinnedFile, "NoSuchFrame").c_str(), true);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("NoSuchFrame"), std::string::npos);
    ModelMeshContainer* mc = FirstContainer(g_ModelSlots[2].pRootFrame);
    ASSERT_NE(mc, nullptr);
    UpdateModelAnimation(2, 0.5f);
    // offset (0,-1,0) times the identity of the root.
    EXPECT_NEAR(mc->pDrawMesh->Vertices()[2].position[1], 0.0f, 1e-5);
}

TEST_F(ModelSlots, MissingFileLeavesTheSlotEmptyAndHarmless) {
    testing::internal::CaptureStderr();
    LoadModel(0, "no-such-room.x", false);
    LoadModel(1, "no-such-man.x", true);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("no-such-room.x"), std::string::npos);
    EXPECT_NE(err.find("no-such-man.x"), std::string::npos);
    EXPECT_TRUE(IsModelSlotEmpty(0));
    EXPECT_TRUE(IsModelSlotEmpty(1));
    device->calls.clear();
    UpdateModelAnimation(1, 0.3f);
    DrawModel(0);
    DrawModel(1);
    FreeModel(0);
    FreeModel(1);
    EXPECT_TRUE(device->calls.empty());
}

TEST_F(ModelSlots, OurModelsLoad) {
    const std::string data = std::string(DUO_SOURCE_DIR) + "/data/";
    std::filesystem::current_path(data); // textures are named relative to data/
    LoadModel(0, "room.x", false);
    LoadModel(1, "seaman.x", true);
    LoadModel(2, "fatman.x", true);
    const ModelSlot& room = g_ModelSlots[0];
    ASSERT_FALSE(IsModelSlotEmpty(0));
    ASSERT_GE(room.NumMaterials, 3u);
    bool textured = false, untextured = false, translucent = false;
    for (DWORD i = 0; i < room.NumMaterials; ++i) {
        // Plain models take the diffuse colour as ambient.
        EXPECT_EQ(room.pMaterials[i].Ambient.r, room.pMaterials[i].Diffuse.r);
        EXPECT_EQ(room.pMaterials[i].Ambient.a, room.pMaterials[i].Diffuse.a);
        textured |= room.pTextures[i] != nullptr;
        untextured |= room.pTextures[i] == nullptr;
        translucent |= room.pMaterials[i].Diffuse.a < 1.0f;
    }
    EXPECT_TRUE(textured && untextured && translucent);
    for (int slot : {1, 2}) {
        const ModelSlot& c = g_ModelSlots[slot];
        ASSERT_FALSE(IsModelSlotEmpty(slot));
        EXPECT_NE(c.pAnimController, nullptr);
        EXPECT_GT(c.Period, 0.5);
        EXPECT_LT(c.Period, 2.0);
        ModelMeshContainer* mc = FirstContainer(c.pRootFrame);
        ASSERT_NE(mc, nullptr);
        EXPECT_NE(mc->pSkinInfo, nullptr);
        for (DWORD b = 0; b < mc->NumBones; ++b) EXPECT_NE(mc->ppBoneFrameMatrices[b], nullptr);
        // About 24 units tall at time 0.
        float top = -1e9f, bottom = 1e9f;
        for (const MeshVertex& v : mc->pDrawMesh->Vertices()) {
            top = std::max(top, v.position[1]);
            bottom = std::min(bottom, v.position[1]);
        }
        EXPECT_NEAR(top - bottom, 24.0f, 2.5f);
        EXPECT_NEAR(bottom, 0.0f, 1.0f);
    }
}

} // namespace
