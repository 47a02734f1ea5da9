// Animation sets, the controller and software skinning.
#include "test_xfile_util.h"

#include <cstring>

using namespace xtest;

namespace {

void Pose(ID3DXAnimationController& c, const AnimSetPtr& set, double seconds) {
    const HRESULT r[] = {c.SetTrackAnimationSet(0, set), c.SetTrackEnable(0, true),
                         c.SetTrackPosition(0, seconds), c.AdvanceTime(0, nullptr)};
    ASSERT_EQ(std::vector<HRESULT>(r, r + 4), std::vector<HRESULT>(4, S_OK));
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

TEST(XFileAnimation, KeysInterpolateAndLoop) {
    Loaded l;
    ASSERT_EQ(l.Memory(kKeys), S_OK);
    ASSERT_TRUE(l.controller && l.controller->GetNumAnimationSets() == 2u);
    AnimSetPtr set, none;
    ASSERT_EQ(l.controller->GetAnimationSet(0, &set), S_OK);
    EXPECT_EQ(l.controller->GetAnimationSet(2, &none), E_FAIL);
    EXPECT_DOUBLE_EQ(set->GetPeriod(), 1.0); // last key at tick 10, 10 ticks per second

    const auto& m = D3DXFrameFind(l.root, "Mover")->TransformationMatrix.m;
    const auto& matrix = D3DXFrameFind(l.root, "Matrix")->TransformationMatrix.m;
    const D3DXMATRIX& still = D3DXFrameFind(l.root, "Still")->TransformationMatrix;
    const D3DXMATRIX stillBefore = still;

    // Half way: translation 5, half the quarter turn (45 degrees about y), scale 2.
    Pose(*l.controller, set, 0.5);
    const float c45 = std::sqrt(0.5f);
    // Row 0 is the scaled, turned x axis; D3DX: a positive turn about y takes +x towards -z.
    // Matrix keys (ticks 0 and 4) lerp element-wise, and hold after the last key.
    const D3DXMATRIX half = {
        {{2 * c45, 0, -2 * c45, 0}, {0, 2, 0, 0}, {2 * c45, 0, 2 * c45, 0}, {5, 0, 0, 1}}};
    EXPECT_LT(MaxDifference(D3DXFrameFind(l.root, "Mover")->TransformationMatrix, half), 1e-5f);
    EXPECT_NEAR(matrix[3][0], 8.0f, 1e-5);
    Pose(*l.controller, set, 0.1);
    EXPECT_NEAR(matrix[3][0], 2.0f, 1e-5);
    EXPECT_NEAR(matrix[3][1], -1.0f, 1e-5);

    // Positions wrap modulo the period, below zero too.
    Pose(*l.controller, set, 3.25);
    EXPECT_NEAR(m[3][0], 2.5f, 1e-4);
    Pose(*l.controller, set, -0.25);
    EXPECT_NEAR(m[3][0], 7.5f, 1e-4);
    // A frame no animation names keeps its matrix.
    EXPECT_EQ(MaxDifference(still, stillBefore), 0.0f);

    // Time advances enabled tracks only.
    l.controller->SetTrackPosition(0, 0.25);
    l.controller->AdvanceTime(0.25, nullptr);
    EXPECT_NEAR(m[3][0], 5.0f, 1e-4);
    l.controller->SetTrackEnable(0, false);
    l.controller->AdvanceTime(0.25, nullptr);
    l.controller->SetTrackEnable(0, true);
    l.controller->AdvanceTime(0, nullptr);
    EXPECT_NEAR(m[3][0], 5.0f, 1e-4);

    // A set of another controller and tracks past the last are refused.
    auto foreign = std::make_shared<ID3DXAnimationSet>(xfile::AnimationSet{}, 4800);
    EXPECT_EQ(l.controller->SetTrackAnimationSet(0, foreign), E_FAIL);
    EXPECT_EQ(l.controller->SetTrackAnimationSet(2, set), E_FAIL); // two tracks: 0 and 1
    EXPECT_EQ(l.controller->SetTrackPosition(2, 0), E_FAIL);
}

TEST(XFileSkin, HandComputedPose) {
    // Two bones: bone 0 moves by (2, 0, 0); bone 1 turns a quarter about z (x -> y) and moves
    // by (0, 4, 0). Vertex 0 is half on each, vertex 1 all on bone 1, vertex 2 on none; bone 1's
    // vertex 7 is beyond the mesh and dropped.
    ID3DXSkinInfo skin(3, {{"a", {0}, {0.5f}, IdentityMatrix()},
                           {"b", {1, 0, 7}, {1.0f, 0.5f, 1.0f}, IdentityMatrix()}});
    const D3DXMATRIX m[2] = {{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {2, 0, 0, 1}}},
                             {{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}, {0, 4, 0, 1}}}};
    const MeshVertex source[3] = {{{1, 0, 0}, {1, 0, 0}, {0.25f, 0.75f}, 0xFF102030u},
                                  {{1, 2, 3}, {0, 1, 0}, {1, 1}, 0xFFFFFFFFu},
                                  {{5, 6, 7}, {0, 0, 1}, {0.5f, 0.5f}, 0x80808080u}};
    MeshVertex out[3] = {};
    ASSERT_EQ(skin.UpdateSkinnedMesh(m, nullptr, source, out), S_OK);
    // Vertex 0: 0.5 * (3, 0, 0) + 0.5 * ((0, 1, 0) + (0, 4, 0)) = (1.5, 2.5, 0); normal
    // 0.5 * (1, 0, 0) + 0.5 * (0, 1, 0), normalised.
    // Vertex 1: (1, 2, 3) turned is (-2, 1, 3), moved (-2, 5, 3); normal (0, 1, 0) -> (-1, 0, 0).
    const float h = std::sqrt(0.5f);
    const MeshVertex want[2] = {{{1.5f, 2.5f, 0}, {h, h, 0}, {0.25f, 0.75f}, 0xFF102030u},
                                {{-2, 5, 3}, {-1, 0, 0}, {1, 1}, 0xFFFFFFFFu}};
    for (int i = 0; i < 2; ++i)
        for (int k = 0; k < 3; ++k) {
            EXPECT_FLOAT_EQ(out[i].position[k], want[i].position[k]) << i << "." << k;
            EXPECT_NEAR(out[i].normal[k], want[i].normal[k], 1e-6) << i << "." << k;
        }
    EXPECT_EQ(std::memcmp(&out[0].texcoord, &want[0].texcoord, 12), 0); // texcoord and colour
    // Vertex 2 has no weights: copied as it is.
    EXPECT_EQ(std::memcmp(&out[2], &source[2], sizeof(MeshVertex)), 0);

    // Inverse-transpose matrices, when given, move the normals instead.
    const D3DXMATRIX flip[2] = {IdentityMatrix(), IdentityMatrix()};
    ASSERT_EQ(skin.UpdateSkinnedMesh(m, flip, source, out), S_OK);
    EXPECT_FLOAT_EQ(out[1].normal[1], 1.0f);
    EXPECT_FLOAT_EQ(out[1].position[0], -2.0f);
    EXPECT_EQ(skin.UpdateSkinnedMesh(nullptr, nullptr, source, out), E_FAIL);
}
