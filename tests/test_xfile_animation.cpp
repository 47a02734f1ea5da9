// Animation sets, the controller and software skinning.
#include "test_xfile_util.h"

#include <array>

using namespace xtest;

namespace {

void Pose(ID3DXAnimationController& c, const AnimSetPtr& set, double seconds) {
    ASSERT_EQ(c.SetTrackAnimationSet(0, set), S_OK);
    ASSERT_EQ(c.SetTrackEnable(0, true), S_OK);
    ASSERT_EQ(c.SetTrackPosition(0, seconds), S_OK);
    ASSERT_EQ(c.AdvanceTime(0, nullptr), S_OK);
}

// The first three floats of v, each to float precision.
void Expect3(const float* v, std::array<float, 3> want) {
    for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(v[i], want[i]) << "component " << i;
}

// Frame Mover: positions 0 -> (10,0,0) over ticks 0..10 at 10 ticks/s; a quarter turn about y;
// scale 1 -> 3. Frame Still has no animation; an animation names a frame that does not exist.
const std::string kKeys = Text(R"(
AnimTicksPerSecond { 10; }
Frame Still { FrameTransformMatrix { 2,0,0,0, 0,2,0,0, 0,0,2,0, 1,2,3,1;; } }
Frame Mover { }
Frame Matrix { }
AnimationSet Keys {
  Animation { { Mover }
    AnimationKey { 2; 2; 0;3;0,0,0;;, 10;3;10,0,0;;; }
    AnimationKey { 0; 2; 10;4;0.7071068,0,-0.7071068,0;;, 0;4;1,0,0,0;;; }
    AnimationKey { 1; 2; 0;3;1,1,1;;, 10;3;3,3,3;;; }
  }
  Animation { { Ghost } AnimationKey { 2; 1; 0;3;5,5,5;;; } }
  Animation { { Matrix }
    AnimationKey { 4; 2; 0;16;1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;;, 4;16;1,0,0,0,0,1,0,0,0,0,1,0,8,-4,0,1;;; }
  }
}
AnimationSet Second { Animation { { Still } AnimationKey { 2; 1; 0;3;0,0,0;;; } } }
)");

} // namespace

TEST(XFileAnimation, WusonBindPoseRepeatsTheFrameMatrices) {
    // The exporter wrote each frame's own matrix into the bind set's keys: sampled at its start
    // it must give the FrameTransformMatrix back. This fixes the quaternion convention.
    Loaded w;
    ASSERT_EQ(w.File(SharedFile("Testwuson.X")), S_OK);
    ASSERT_NE(w.controller, nullptr);
    std::vector<D3DXMATRIX> file;
    const auto frames = Frames(w.root);
    ASSERT_EQ(frames.size(), 39u);
    for (const D3DXFRAME* f : frames) file.push_back(f->TransformationMatrix);

    AnimSetPtr bind, run, walk;
    ASSERT_EQ(w.controller->GetAnimationSetByName("Wuson_Bind", &bind), S_OK);
    ASSERT_EQ(w.controller->GetAnimationSet(0, &run), S_OK);
    ASSERT_EQ(w.controller->GetAnimationSet(1, &walk), S_OK);
    EXPECT_STREQ(run->GetName(), "Wuson_Run");
    EXPECT_EQ(bind->GetSourceTicksPerSecond(), 4800);
    EXPECT_EQ(bind->GetNumAnimations(), 39u);
    // Periods: last key over ticks per second.
    EXPECT_DOUBLE_EQ(run->GetPeriod(), 4640.0 / 4800.0);
    EXPECT_DOUBLE_EQ(walk->GetPeriod(), 17280.0 / 4800.0);
    EXPECT_EQ(bind->GetPeriod(), 0.0);

    // The run pose at a quarter of its period moves the skeleton well away from the bind pose...
    Pose(*w.controller, run, run->GetPeriod() / 4);
    float worst = 0;
    for (size_t i = 0; i < frames.size(); ++i)
        worst = std::max(worst, MaxDifference(frames[i]->TransformationMatrix, file[i]));
    EXPECT_GT(worst, 0.05f);
    // ...and the bind pose brings every frame back.
    Pose(*w.controller, bind, 0);
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_LT(MaxDifference(frames[i]->TransformationMatrix, file[i]), 1e-3f)
            << frames[i]->Name;
}

TEST(XFileAnimation, KeysInterpolateAndLoop) {
    Loaded l;
    ASSERT_EQ(l.Memory(kKeys), S_OK);
    ASSERT_NE(l.controller, nullptr);
    ASSERT_EQ(l.controller->GetNumAnimationSets(), 2u);
    AnimSetPtr set;
    ASSERT_EQ(l.controller->GetAnimationSet(0, &set), S_OK);
    EXPECT_DOUBLE_EQ(set->GetPeriod(), 1.0); // last key at tick 10, 10 ticks per second

    const auto& m = D3DXFrameFind(l.root, "Mover")->TransformationMatrix.m;
    const auto& matrix = D3DXFrameFind(l.root, "Matrix")->TransformationMatrix.m;
    const D3DXMATRIX& still = D3DXFrameFind(l.root, "Still")->TransformationMatrix;
    const D3DXMATRIX stillBefore = still;

    // Half way: translation 5, half the quarter turn (45 degrees about y), scale 2.
    Pose(*l.controller, set, 0.5);
    const float c45 = std::sqrt(0.5f);
    EXPECT_NEAR(m[3][0], 5.0f, 1e-5);
    EXPECT_NEAR(m[0][0], 2 * c45, 1e-5);  // row 0 is the scaled, turned x axis
    EXPECT_NEAR(m[0][2], -2 * c45, 1e-5); // D3DX: a positive turn about y takes +x towards -z
    EXPECT_NEAR(m[1][1], 2.0f, 1e-5);
    EXPECT_NEAR(m[2][0], 2 * c45, 1e-5);
    // Matrix keys (ticks 0 and 4) lerp element-wise, and hold after the last key.
    EXPECT_NEAR(matrix[3][0], 8.0f, 1e-5);
    Pose(*l.controller, set, 0.1);
    EXPECT_NEAR(matrix[3][0], 2.0f, 1e-5);
    EXPECT_NEAR(matrix[3][1], -1.0f, 1e-5);

    // Positions wrap modulo the period, below zero too.
    Pose(*l.controller, set, 3.25);
    EXPECT_NEAR(m[3][0], 2.5f, 1e-4);
    Pose(*l.controller, set, -0.25);
    EXPECT_NEAR(m[3][0], 7.5f, 1e-4);
    EXPECT_DOUBLE_EQ(set->GetPeriodicPosition(-0.25), 0.75);

    // A frame no animation names keeps its matrix; an animation naming no frame is skipped.
    EXPECT_EQ(MaxDifference(still, stillBefore), 0.0f);
    UINT ghost = 99;
    EXPECT_EQ(set->GetAnimationIndexByName("Ghost", &ghost), S_OK);
    EXPECT_EQ(ghost, 1u);

    // Time advances enabled tracks only.
    l.controller->SetTrackPosition(0, 0.25);
    l.controller->AdvanceTime(0.25, nullptr);
    EXPECT_NEAR(m[3][0], 5.0f, 1e-4);
    l.controller->SetTrackEnable(0, false);
    l.controller->AdvanceTime(0.25, nullptr);
    double position = 0;
    l.controller->GetTrackPosition(0, &position);
    EXPECT_EQ(position, 0.5);
    EXPECT_NEAR(m[3][0], 5.0f, 1e-4);
    EXPECT_DOUBLE_EQ(l.controller->GetTime(), 0.5);
}

TEST(XFileAnimation, SrtAndControllerRefuseWhatIsNotTheirs) {
    Loaded l;
    ASSERT_EQ(l.Memory(kKeys), S_OK);
    AnimSetPtr set, none;
    ASSERT_EQ(l.controller->GetAnimationSet(0, &set), S_OK);
    D3DXVECTOR3 s, t;
    D3DXQUATERNION q;
    ASSERT_EQ(set->GetSRT(0.0, 0, &s, &q, &t), S_OK);
    // The file's (w, x, y, z) = (1, 0, 0, 0) at tick 0: no turn, scale 1, no translation.
    EXPECT_EQ(q.w, 1.0f);
    EXPECT_EQ(s.x, 1.0f);
    EXPECT_EQ(t.x, 0.0f);
    // A frame with only position keys: no rotation, unit scale.
    ASSERT_EQ(set->GetSRT(0.0, 1, &s, &q, &t), S_OK);
    EXPECT_EQ(q.w, 1.0f);
    EXPECT_EQ(s.y, 1.0f);
    EXPECT_EQ(t.z, 5.0f);
    EXPECT_EQ(set->GetSRT(0.0, 3, &s, &q, &t), E_FAIL);

    auto foreign = std::make_shared<ID3DXAnimationSet>(xfile::AnimationSet{}, 4800);
    const UINT past = ID3DXAnimationController::kMaxTracks;
    EXPECT_EQ(l.controller->SetTrackAnimationSet(0, foreign), E_FAIL);
    EXPECT_EQ(l.controller->SetTrackAnimationSet(past, set), E_FAIL);
    EXPECT_EQ(l.controller->SetTrackPosition(past, 0), E_FAIL);
    EXPECT_EQ(l.controller->GetAnimationSet(2, &none), E_FAIL);
    EXPECT_EQ(l.controller->GetAnimationSetByName("Nope", &none), E_FAIL);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(foreign->GetPeriod(), 0.0);
    EXPECT_EQ(foreign->GetPeriodicPosition(12.5), 0.0);
}

TEST(XFileSkin, HandComputedPose) {
    // Two bones: bone 0 moves by (2, 0, 0); bone 1 turns a quarter about z (x -> y) and moves
    // by (0, 4, 0). Vertex 0 is half on each, vertex 1 all on bone 1, vertex 2 on none; bone 1's
    // vertex 7 is beyond the mesh and dropped.
    ID3DXSkinInfo skin(3, {{"a", {0}, {0.5f}, IdentityMatrix()},
                           {"b", {1, 0, 7}, {1.0f, 0.5f, 1.0f}, IdentityMatrix()}});
    EXPECT_EQ(skin.GetNumBones(), 2u);
    EXPECT_EQ(skin.GetNumBoneInfluences(1), 2u);
    DWORD most = 0;
    skin.GetMaxVertexInfluences(&most);
    EXPECT_EQ(most, 2u);

    const D3DXMATRIX m[2] = {{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {2, 0, 0, 1}}},
                             {{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}, {0, 4, 0, 1}}}};
    const MeshVertex source[3] = {{{1, 0, 0}, {1, 0, 0}, {0.25f, 0.75f}, 0xFF102030u},
                                  {{1, 2, 3}, {0, 1, 0}, {1, 1}, 0xFFFFFFFFu},
                                  {{5, 6, 7}, {0, 0, 1}, {0.5f, 0.5f}, 0x80808080u}};
    MeshVertex out[3] = {};
    ASSERT_EQ(skin.UpdateSkinnedMesh(m, nullptr, source, out), S_OK);
    // Vertex 0: 0.5 * (3, 0, 0) + 0.5 * ((0, 1, 0) + (0, 4, 0)) = (1.5, 2.5, 0); normal
    // 0.5 * (1, 0, 0) + 0.5 * (0, 1, 0), normalised.
    Expect3(out[0].position, {1.5f, 2.5f, 0.0f});
    EXPECT_FLOAT_EQ(out[0].normal[0], std::sqrt(0.5f));
    EXPECT_FLOAT_EQ(out[0].normal[1], std::sqrt(0.5f));
    EXPECT_EQ(out[0].texcoord[1], 0.75f);
    EXPECT_EQ(out[0].color, 0xFF102030u);
    // Vertex 1: (1, 2, 3) turned is (-2, 1, 3), moved (-2, 5, 3); normal (0, 1, 0) -> (-1, 0, 0).
    Expect3(out[1].position, {-2.0f, 5.0f, 3.0f});
    EXPECT_FLOAT_EQ(out[1].normal[0], -1.0f);
    // Vertex 2 has no weights: copied as it is.
    EXPECT_EQ(std::memcmp(&out[2], &source[2], sizeof(MeshVertex)), 0);

    // Inverse-transpose matrices, when given, move the normals instead.
    const D3DXMATRIX flip[2] = {IdentityMatrix(), IdentityMatrix()};
    ASSERT_EQ(skin.UpdateSkinnedMesh(m, flip, source, out), S_OK);
    EXPECT_FLOAT_EQ(out[1].normal[1], 1.0f);
    EXPECT_FLOAT_EQ(out[1].position[0], -2.0f);
    EXPECT_EQ(skin.UpdateSkinnedMesh(nullptr, nullptr, source, out), E_FAIL);
}

TEST(XFileSkin, LoadedCubeFollowsItsBone) {
    // The shared cube is skinned to one bone with the offset from the file: moving the bone by
    // (0, 0, 5) moves every vertex by the same, after the offset swaps y and z (it undoes the
    // Root frame's turn).
    Loaded l;
    ASSERT_EQ(l.File(SharedFile("test_cube_binary.x"), false), S_OK);
    const D3DXMESHCONTAINER* c = l.root->pFrameFirstChild->pMeshContainer;
    ASSERT_NE(c->pSkinInfo, nullptr);
    D3DXMATRIX bone, moved = IdentityMatrix();
    moved.m[3][2] = 5;
    MultiplyMatrices(&bone, *c->pSkinInfo->GetBoneOffsetMatrix(0), moved);
    const auto source = c->MeshData.pMesh->Vertices();
    std::vector<MeshVertex> out(source.size());
    ASSERT_EQ(c->pSkinInfo->UpdateSkinnedMesh(&bone, nullptr, source.data(), out.data()), S_OK);
    for (size_t v = 0; v < source.size(); ++v) {
        EXPECT_NEAR(out[v].position[0], source[v].position[0], 1e-6);
        EXPECT_NEAR(out[v].position[1], source[v].position[2], 1e-6);
        EXPECT_NEAR(out[v].position[2], source[v].position[1] + 5, 1e-6);
    }
}
