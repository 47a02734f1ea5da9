// Assimp as an independent oracle on our models and the third-party files (when present). It
// negates z, transposes matrices, splits meshes by material and duplicates vertices per corner;
// the comparisons undo exactly that and nothing else.
#include "test_xfile_util.h"

#include <assimp/cimport.h>
#include <assimp/scene.h>

#include <map>
#include <span>

using namespace xtest;

namespace {

// Assimp's matrix in our convention: transpose, and flip z on both sides.
D3DXMATRIX FromAssimp(const aiMatrix4x4& a) {
    D3DXMATRIX m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) m.m[r][c] = ((r == 2) != (c == 2) ? -1.0f : 1.0f) * a[c][r];
    return m;
}

// Every point of one set lies within tolerance of some point of the other.
float WorstNearest(const std::vector<std::array<float, 3>>& from,
                   const std::vector<std::array<float, 3>>& to) {
    float worst = 0;
    for (const auto& p : from) {
        float best = 1e30f;
        for (const auto& q : to)
            best = std::min(best, std::max({std::fabs(p[0] - q[0]), std::fabs(p[1] - q[1]),
                                            std::fabs(p[2] - q[2])}));
        worst = std::max(worst, best);
    }
    return worst;
}

// The file named by the parameter (in data/, else third-party), read by both.
class AssimpOracle : public testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        std::string path = DUO_SOURCE_DIR "/data/" + std::string(GetParam());
        if (!std::filesystem::exists(path)) {
            SKIP_WITHOUT_THIRD_PARTY();
            path = ThirdParty(GetParam());
        }
        ai.reset(aiImportFile(path.c_str(), 0));
        ASSERT_NE(ai, nullptr) << aiGetErrorString();
        ASSERT_TRUE(xfile::LoadSceneFile(path.c_str(), ours));
    }
    std::unique_ptr<const aiScene, decltype(&aiReleaseImport)> ai{nullptr, aiReleaseImport};
    xfile::Scene ours;
};

} // namespace

TEST_P(AssimpOracle, GeometryBonesAndFramesAgree) {
    // Positions in the file's mesh space on both sides (assimp keeps meshes in node space), and
    // the bones: the same names and offset matrices.
    std::vector<std::array<float, 3>> mine, theirs;
    std::map<std::string, D3DXMATRIX> bones;
    for (const aiMesh* m : std::span(ai->mMeshes, ai->mNumMeshes)) {
        for (const aiVector3D& p : std::span(m->mVertices, m->mNumVertices))
            theirs.push_back({p.x, p.y, -p.z});
        for (const aiBone* b : std::span(m->mBones, m->mNumBones))
            bones[b->mName.C_Str()] = FromAssimp(b->mOffsetMatrix);
    }
    for (const xfile::MeshData& m : ours.meshes) {
        for (const MeshVertex& v : m.vertices)
            mine.push_back({v.position[0], v.position[1], v.position[2]});
        for (const xfile::Bone& b : m.bones) {
            ASSERT_TRUE(bones.count(b.name)) << b.name;
            EXPECT_LT(MaxDifference(bones[b.name], b.offset), 1e-5f) << b.name;
            bones.erase(b.name);
        }
    }
    EXPECT_TRUE(bones.empty());
    ASSERT_FALSE(mine.empty());
    EXPECT_LT(WorstNearest(mine, theirs), 1e-5f);
    EXPECT_LT(WorstNearest(theirs, mine), 1e-5f);

    // Frames: every named frame's transform.
    for (const xfile::Frame& f : ours.frames) {
        if (!f.named) continue; // Assimp names unnamed frames its own way
        const aiNode* node = ai->mRootNode->FindNode(f.name.c_str());
        ASSERT_NE(node, nullptr) << f.name;
        EXPECT_LT(MaxDifference(FromAssimp(node->mTransformation), f.transform), 1e-5f) << f.name;
    }
}

TEST_P(AssimpOracle, AnimationPosesAgreeAtEveryKey) {
    ASSERT_EQ(ours.sets.size(), ai->mNumAnimations);
    for (unsigned a = 0; a < ai->mNumAnimations; ++a) {
        const aiAnimation* anim = ai->mAnimations[a];
        ID3DXAnimationSet set(ours.sets[a], ours.ticksPerSecond);
        EXPECT_STREQ(set.GetName(), anim->mName.C_Str());
        EXPECT_EQ(anim->mTicksPerSecond, ours.ticksPerSecond);
        EXPECT_NEAR(set.GetPeriod() * ours.ticksPerSecond, anim->mDuration, 1e-6);
        int compared = 0;
        for (unsigned c = 0; c < anim->mNumChannels; ++c) {
            const aiNodeAnim* ch = anim->mChannels[c];
            UINT index = 0;
            for (const char* name = ""; set.GetAnimationNameByIndex(index, &name) == S_OK &&
                                        std::string(name) != ch->mNodeName.C_Str();)
                ++index;
            ASSERT_LT(index, set.GetNumAnimations()) << ch->mNodeName.C_Str();
            // Keys where all three kinds are given at the same tick.
            for (unsigned k = 0; k < ch->mNumPositionKeys; ++k) {
                const double tick = ch->mPositionKeys[k].mTime;
                auto at = [tick](const auto* keys, unsigned n) {
                    for (unsigned i = 0; i < n; ++i)
                        if (keys[i].mTime == tick) return int(i);
                    return n == 1 ? 0 : -1;
                };
                const int r = at(ch->mRotationKeys, ch->mNumRotationKeys),
                          s = at(ch->mScalingKeys, ch->mNumScalingKeys);
                if (r < 0 || s < 0) continue;
                const aiMatrix4x4 theirs(ch->mScalingKeys[s].mValue, ch->mRotationKeys[r].mValue,
                                         ch->mPositionKeys[k].mValue);
                D3DXMATRIX mine;
                ASSERT_EQ(set.GetTransform(tick / ours.ticksPerSecond, index, &mine), S_OK);
                EXPECT_LT(MaxDifference(mine, FromAssimp(theirs)), 1e-4f)
                    << ch->mNodeName.C_Str() << " tick " << tick;
                ++compared;
            }
        }
        EXPECT_GT(compared, 30) << anim->mName.C_Str();
    }
}

INSTANTIATE_TEST_SUITE_P(Files, AssimpOracle,
                         testing::Values("room.x", "seaman.x", "fatman.x", "test_cube_text.x",
                                         "test_cube_binary.x", "test_cube_compressed.x",
                                         "kwxport_test_cubewithvcolors.x", "Testwuson.X"),
                         [](const auto& info) {
                             std::string n = info.param;
                             std::replace(n.begin(), n.end(), '.', '_');
                             return n;
                         });
