// Shared skeleton and walk cycle of the two characters; each character file only shapes its
// body on these bones.
#pragma once

#include "modelgen.h"

namespace modelgen {

// Bone indices; frame i + kFirstBoneFrame carries bone i.
enum Bone : int {
    kHips,
    kSpine,
    kHead,
    kLeftArm,
    kLeftForearm,
    kRightArm,
    kRightForearm,
    kLeftLeg,
    kLeftShin,
    kLeftFoot,
    kRightLeg,
    kRightShin,
    kRightFoot,
    kBoneCount,
};
constexpr int kRootFrame = 0, kBodyFrame = 1, kFirstBoneFrame = 2;

// Proportions (joint offsets from the parent joint, bind pose with arms and legs hanging
// straight down) and how the figure walks. Angles in radians.
struct Figure {
    std::string name; // root frame; the mesh is named name + "Body"
    double hipY;      // hip joint height above the feet
    double legX;      // hip joint to each thigh, sideways
    double thigh;     // hip to knee
    double shin;      // knee to ankle
    double spineUp;   // hips to the spine joint
    double neckUp;    // spine joint to the neck
    double shoulderX, shoulderUp;
    double upperArm; // shoulder to elbow
    double legSwing, armSwing, kneeBend, elbowBend, elbowSwing;
    double hipTwist, shoulderTwist, hipRoll;
    double bobShare; // hip drop at full stride, as a share of what straight legs would need
};

// Bind-pose joint positions in model space.
struct Joints {
    Vec3 hips, spine, neck, shoulder[2], elbow[2], hip[2], knee[2], ankle[2]; // [0] left, [1] right
};

std::vector<Frame> FigureFrames(const Figure& f);
Joints FigureJoints(const Figure& f);

WeightFn Rigid(int bone);
// `below` under y - band, `above` over y + band, half and half between: the rings at a joint
// bend with both bones.
WeightFn SplitY(int below, int above, double y, double band = 0.05);

// Frames, skin (bone names, offsets) and the "Walk" animation set around a finished mesh.
Model AssembleCharacter(const Figure& f, Mesh mesh);

} // namespace modelgen
