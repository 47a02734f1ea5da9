// Skeleton, skin offsets and the walk cycle shared by both characters.
#include "modelgen_character.h"

#include <algorithm>
#include <cmath>

namespace modelgen {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint32_t kTicksPerSecond = 4800;
constexpr uint32_t kStrideTicks = 4800; // one stride (left and right step) per second
constexpr int kKeysPerStride = 16;

const char* const kBoneNames[kBoneCount] = {
    "Hips",    "Spine",    "Head",     "LeftArm",  "LeftForearm", "RightArm",  "RightForearm",
    "LeftLeg", "LeftShin", "LeftFoot", "RightLeg", "RightShin",   "RightFoot",
};
const int kBoneParent[kBoneCount] = {
    -1,    kHips,    kSpine,    kSpine, kLeftArm,  kSpine,     kRightArm,
    kHips, kLeftLeg, kLeftShin, kHips,  kRightLeg, kRightShin,
};

std::vector<Vec3> BindOffsets(const Figure& f) {
    std::vector<Vec3> t(kBoneCount);
    t[kHips] = {0, f.hipY, 0};
    t[kSpine] = {0, f.spineUp, 0};
    t[kHead] = {0, f.neckUp, 0};
    t[kLeftArm] = {-f.shoulderX, f.shoulderUp, 0};
    t[kRightArm] = {f.shoulderX, f.shoulderUp, 0};
    t[kLeftForearm] = t[kRightForearm] = {0, -f.upperArm, 0};
    t[kLeftLeg] = {-f.legX, 0, 0};
    t[kRightLeg] = {f.legX, 0, 0};
    t[kLeftShin] = t[kRightShin] = {0, -f.thigh, 0};
    t[kLeftFoot] = t[kRightFoot] = {0, -f.shin, 0};
    return t;
}

// Swinging a hanging limb forward (foot or hand toward +z) is a negative turn about x.
Mat4 Swing(double forward) {
    return RotationX(-forward);
}

// Local matrices of every bone at phase p (radians) of the stride. The left leg leads at
// p = pi / 2, the right one at 3 pi / 2; arms swing against the legs.
std::vector<Mat4> WalkPose(const Figure& f, double p) {
    const std::vector<Vec3> bind = BindOffsets(f);
    const double s = std::sin(p), c = std::cos(p);
    // Straight legs spread by legSwing lift the feet by hipY * (1 - cos); the hips drop by a
    // share of that at full stride and are highest as the legs pass each other.
    const double drop = f.bobShare * f.hipY * (1 - std::cos(f.legSwing)) * s * s;
    std::vector<Mat4> m(kBoneCount);
    for (int i = 0; i < kBoneCount; ++i) m[i] = Translation(bind[i]);
    m[kHips] = Multiply(Multiply(RotationY(f.hipTwist * s), RotationZ(f.hipRoll * s)),
                        Translation({0, f.hipY - drop, 0}));
    m[kSpine] = Multiply(
        Multiply(RotationZ(-f.hipRoll * s), RotationY(-(f.hipTwist + f.shoulderTwist) * s)),
        m[kSpine]);
    // Knees bend while the leg swings forward, and are straight when it bears weight; the
    // ankles keep the feet level so the toes do not dig into the floor.
    const double leg[2] = {f.legSwing * s, -f.legSwing * s};
    const double knee[2] = {f.kneeBend * std::max(0.0, c), f.kneeBend * std::max(0.0, -c)};
    const int legBone[2] = {kLeftLeg, kRightLeg}, shinBone[2] = {kLeftShin, kRightShin};
    const int footBone[2] = {kLeftFoot, kRightFoot};
    for (int i = 0; i < 2; ++i) {
        m[legBone[i]] = Multiply(Swing(leg[i]), m[legBone[i]]);
        m[shinBone[i]] = Multiply(Swing(-knee[i]), m[shinBone[i]]);
        m[footBone[i]] = Multiply(Swing(knee[i] - leg[i]), m[footBone[i]]);
    }
    m[kLeftArm] = Multiply(Swing(-f.armSwing * s), m[kLeftArm]);
    m[kRightArm] = Multiply(Swing(f.armSwing * s), m[kRightArm]);
    m[kLeftForearm] =
        Multiply(Swing(f.elbowBend + f.elbowSwing * std::max(0.0, -s)), m[kLeftForearm]);
    m[kRightForearm] =
        Multiply(Swing(f.elbowBend + f.elbowSwing * std::max(0.0, s)), m[kRightForearm]);
    return m;
}

} // namespace

std::vector<Frame> FigureFrames(const Figure& f) {
    std::vector<Frame> frames;
    frames.push_back({f.name, -1, Identity()});
    frames.push_back({"Body", kRootFrame, Identity()});
    const std::vector<Vec3> bind = BindOffsets(f);
    for (int i = 0; i < kBoneCount; ++i) {
        int parent = kBoneParent[i] < 0 ? kRootFrame : kBoneParent[i] + kFirstBoneFrame;
        frames.push_back({kBoneNames[i], parent, Translation(bind[i])});
    }
    return frames;
}

Joints FigureJoints(const Figure& f) {
    Model m;
    m.frames = FigureFrames(f);
    std::vector<Mat4> combined = CombinedMatrices(m, BindLocals(m));
    auto at = [&](int bone) { return TransformPoint({0, 0, 0}, combined[bone + kFirstBoneFrame]); };
    Joints j;
    j.hips = at(kHips);
    j.spine = at(kSpine);
    j.neck = at(kHead);
    j.shoulder[0] = at(kLeftArm);
    j.shoulder[1] = at(kRightArm);
    j.elbow[0] = at(kLeftForearm);
    j.elbow[1] = at(kRightForearm);
    j.hip[0] = at(kLeftLeg);
    j.hip[1] = at(kRightLeg);
    j.knee[0] = at(kLeftShin);
    j.knee[1] = at(kRightShin);
    j.ankle[0] = at(kLeftFoot);
    j.ankle[1] = at(kRightFoot);
    return j;
}

WeightFn Rigid(int bone) {
    return [bone](Vec3) { return std::vector<Influence>{{bone, 1.0}}; };
}

WeightFn SplitY(int below, int above, double y, double band) {
    return [=](Vec3 p) {
        if (p.y < y - band) return std::vector<Influence>{{below, 1.0}};
        if (p.y > y + band) return std::vector<Influence>{{above, 1.0}};
        return std::vector<Influence>{{below, 0.5}, {above, 0.5}};
    };
}

Model AssembleCharacter(const Figure& f, Mesh mesh) {
    Model model;
    model.frames = FigureFrames(f);
    model.meshFrame = kBodyFrame;
    GroupFacesByMaterial(mesh);
    model.mesh = std::move(mesh);
    model.ticksPerSecond = kTicksPerSecond;

    // Skin: bone i binds to its frame; the offset takes model space into the bone's space.
    std::vector<Mat4> bindCombined = CombinedMatrices(model, BindLocals(model));
    for (int i = 0; i < kBoneCount; ++i) {
        model.bones.push_back(kBoneNames[i]);
        model.boneOffsets.push_back(Inverse(bindCombined[i + kFirstBoneFrame]));
    }

    // Walk: matrix keys for every bone that moves; the last key repeats the first exactly.
    AnimationSet walk;
    walk.name = "Walk";
    const int animated[] = {kHips,    kSpine,    kLeftArm,  kLeftForearm, kRightArm,  kRightForearm,
                            kLeftLeg, kLeftShin, kLeftFoot, kRightLeg,    kRightShin, kRightFoot};
    for (int bone : animated) walk.animations.push_back({kBoneNames[bone], {}});
    for (int k = 0; k <= kKeysPerStride; ++k) {
        double phase = 2 * kPi * (k % kKeysPerStride) / kKeysPerStride;
        std::vector<Mat4> pose = WalkPose(f, phase);
        uint32_t tick = kStrideTicks * uint32_t(k) / kKeysPerStride;
        for (size_t a = 0; a < std::size(animated); ++a)
            walk.animations[a].keys.push_back({tick, pose[animated[a]]});
    }
    model.sets.push_back(std::move(walk));
    return model;
}

} // namespace modelgen
