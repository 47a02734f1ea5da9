// The two characters' bodies: a slim sailor in a striped shirt, navy bell-bottoms and a white
// cap, and a stout man with a wide belly, brown suit, red tie and bowler hat. Both are about
// 24 units tall, stand on y = 0 and face +z; +x is their right side.
#include "modelgen_character.h"

#include <algorithm>
#include <cmath>

namespace modelgen {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180;

// Material slots shared by both characters' material lists.
enum : uint32_t { kCloth, kCloth2, kSkin, kLight, kDark };

// Two eyes and a nose on the front of the head (+z), so the facing is plain to see.
void AddFace(MeshBuilder& b, double eyeY, double eyeZ, double noseY, double noseZ) {
    b.material = kDark;
    AddBox(b, {-0.75, eyeY, eyeZ - 0.2}, {-0.35, eyeY + 0.3, eyeZ}, 1);
    AddBox(b, {0.35, eyeY, eyeZ - 0.2}, {0.75, eyeY + 0.3, eyeZ}, 1);
    b.material = kSkin;
    AddBox(b, {-0.2, noseY, noseZ - 0.5}, {0.2, noseY + 0.6, noseZ}, 1);
}

// Upper arm, forearm and hand hanging from a shoulder; the elbow ring bends with both bones.
void AddArm(MeshBuilder& b, const Joints& j, int side, double upperR, double lowerR,
            double handLength, uint32_t sleeve, uint32_t forearm) {
    const int upper = side == 0 ? kLeftArm : kRightArm;
    const int lower = side == 0 ? kLeftForearm : kRightForearm;
    const Vec3 s = j.shoulder[side], e = j.elbow[side];
    const double wrist = e.y - (s.y - e.y) * 0.78;
    b.weigh = SplitY(lower, upper, e.y);
    b.material = sleeve;
    AddTube(b, s.x, s.z,
            {{e.y, lowerR, lowerR},
             {(e.y + s.y) / 2, upperR * 0.92, upperR * 0.92},
             {s.y, upperR, upperR},
             {s.y + 0.5, upperR * 0.6, upperR * 0.6}},
            12, false, true, 1, 0.25);
    b.material = forearm;
    AddTube(b, e.x, e.z, {{wrist, lowerR * 0.82, lowerR * 0.82}, {e.y, lowerR, lowerR}}, 12, true,
            false, 1, 0.25);
    b.weigh = Rigid(lower);
    b.material = kSkin;
    AddEllipsoid(b, {e.x, wrist - handLength * 0.45, e.z + 0.1},
                 {lowerR * 0.75, handLength * 0.6, lowerR * 0.9}, 10, 6, -kPi / 2, kPi / 2);
}

// Thigh and shin down to the ankle, and a shoe on the ankle that points forward.
void AddLeg(MeshBuilder& b, const Joints& j, int side, uint32_t trousers,
            const std::vector<Ring>& thigh, const std::vector<Ring>& shin, Vec3 shoeLo,
            Vec3 shoeHi) {
    const int upper = side == 0 ? kLeftLeg : kRightLeg;
    const int lower = side == 0 ? kLeftShin : kRightShin;
    const int foot = side == 0 ? kLeftFoot : kRightFoot;
    const Vec3 h = j.hip[side], k = j.knee[side];
    b.weigh = SplitY(lower, upper, k.y);
    b.material = trousers;
    AddTube(b, h.x, h.z, thigh, 12, false, false, 1, 0.25);
    AddTube(b, k.x, k.z, shin, 12, true, false, 1, 0.25);
    b.weigh = Rigid(foot);
    b.material = kDark;
    AddBox(b, {h.x + shoeLo.x, shoeLo.y, shoeLo.z}, {h.x + shoeHi.x, shoeHi.y, shoeHi.z}, 1);
}

Material Textured(const std::string& name, const std::string& file) {
    return {name, 1, 1, 1, 1, 8, {0.1, 0.1, 0.1}, {0, 0, 0}, file};
}

Material Plain(const std::string& name, double r, double g, double b, double power) {
    return {name, r, g, b, 1, power, {0.15, 0.15, 0.15}, {0, 0, 0}, ""};
}

} // namespace

Model BuildSeaman() {
    const Figure f{.name = "Seaman",
                   .hipY = 11.6,
                   .legX = 1.05,
                   .thigh = 5.4,
                   .shin = 5.4,
                   .spineUp = 1.6,
                   .neckUp = 6.8,
                   .shoulderX = 2.9,
                   .shoulderUp = 6.0,
                   .upperArm = 4.0,
                   .legSwing = 24 * kDeg,
                   .armSwing = 22 * kDeg,
                   .kneeBend = 35 * kDeg,
                   .elbowBend = 12 * kDeg,
                   .elbowSwing = 18 * kDeg,
                   .hipTwist = 4 * kDeg,
                   .shoulderTwist = 3 * kDeg,
                   .hipRoll = 0,
                   .bobShare = 0.7};
    const Joints j = FigureJoints(f);
    MeshBuilder b;
    b.mesh.name = "SeamanBody";
    b.mesh.materials = {Textured("SeamanShirt", "seaman_shirt.png"),
                        Textured("SeamanTrousers", "seaman_trousers.png"),
                        Textured("SeamanSkin", "skin.png"), Plain("SeamanCap", 0.96, 0.96, 0.96, 8),
                        Plain("SeamanShoes", 0.08, 0.08, 0.10, 32)};

    // Trousers up to the waist, a dark belt, the striped shirt to the neck.
    b.weigh = SplitY(kHips, kSpine, j.spine.y);
    b.material = kCloth2;
    AddTube(b, 0, 0, {{10.6, 1.95, 1.25}, {12.0, 2.0, 1.3}, {j.spine.y, 1.9, 1.22}}, 14, true,
            false, 2, 0.25);
    b.material = kDark;
    AddTube(b, 0, 0, {{12.6, 1.99, 1.3}, {13.1, 1.97, 1.29}}, 14, false, false, 1, 1);
    b.material = kCloth;
    AddTube(b, 0, 0,
            {{12.8, 1.9, 1.22},
             {j.spine.y, 1.86, 1.2},
             {15.5, 1.85, 1.15},
             {17.5, 2.05, 1.25},
             {19.0, 2.1, 1.25},
             {19.8, 1.6, 1.0},
             {20.1, 0.7, 0.65}},
            14, false, false, 2, 0.25);
    // The square navy sailor collar on the back.
    b.weigh = Rigid(kSpine);
    b.material = kCloth2;
    AddBox(b, {-1.7, 17.6, -1.47}, {1.7, 19.7, -1.22}, 0.5);

    b.weigh = SplitY(kSpine, kHead, j.neck.y);
    b.material = kSkin;
    AddTube(b, 0, 0, {{19.6, 0.62, 0.6}, {j.neck.y, 0.62, 0.6}, {20.8, 0.6, 0.58}}, 10, false,
            false, 1, 0.5);
    b.weigh = Rigid(kHead);
    AddEllipsoid(b, {0, 21.9, 0.05}, {1.35, 1.65, 1.5}, 14, 10, -kPi / 2, kPi / 2);
    AddFace(b, 22.25, 1.5, 21.5, 1.85);
    // White sailor cap with a navy band.
    b.material = kLight;
    AddTube(b, 0, 0.05, {{23.0, 1.45, 1.55}, {23.9, 1.5, 1.6}}, 14, true, true, 1, 1);
    b.material = kCloth2;
    AddTube(b, 0, 0.05, {{22.95, 1.48, 1.58}, {23.3, 1.49, 1.59}}, 14, false, false, 1, 1);

    for (int side = 0; side < 2; ++side) {
        AddArm(b, j, side, 0.78, 0.6, 1.5, kCloth, kSkin);
        // Bell-bottoms: the shin widens toward the shoe.
        const double k = j.knee[side].y;
        AddLeg(b, j, side, kCloth2,
               {{k, 0.82, 0.85}, {9.0, 0.95, 1.0}, {j.hips.y, 1.0, 1.05}, {12.2, 0.9, 0.9}},
               {{0.7, 1.0, 1.05}, {3.0, 0.78, 0.82}, {k, 0.82, 0.85}}, {-0.5, 0, -0.7},
               {0.5, 0.9, 1.9});
    }
    return AssembleCharacter(f, std::move(b.mesh));
}

Model BuildFatman() {
    const Figure f{.name = "Fatman",
                   .hipY = 10.8,
                   .legX = 1.7,
                   .thigh = 5.0,
                   .shin = 4.9,
                   .spineUp = 2.4,
                   .neckUp = 6.0,
                   .shoulderX = 4.6,
                   .shoulderUp = 5.4,
                   .upperArm = 3.8,
                   .legSwing = 17 * kDeg,
                   .armSwing = 12 * kDeg,
                   .kneeBend = 25 * kDeg,
                   .elbowBend = 8 * kDeg,
                   .elbowSwing = 10 * kDeg,
                   .hipTwist = 3 * kDeg,
                   .shoulderTwist = 2 * kDeg,
                   .hipRoll = 4 * kDeg,
                   .bobShare = 0.7};
    const Joints j = FigureJoints(f);
    MeshBuilder b;
    b.mesh.name = "FatmanBody";
    b.mesh.materials = {Textured("FatmanSuit", "fatman_suit.png"),
                        Textured("FatmanTie", "fatman_tie.png"), Textured("FatmanSkin", "skin.png"),
                        Plain("FatmanShirt", 0.95, 0.95, 0.92, 8),
                        Plain("FatmanHat", 0.10, 0.08, 0.07, 32)};

    // Seat, the round belly and a broad chest, all in the brown suit.
    const Vec3 belly{0, 14.2, 0.7}, bellyR{3.7, 4.0, 3.3};
    b.weigh = Rigid(kHips);
    b.material = kCloth;
    AddTube(b, 0, 0, {{9.6, 2.9, 2.2}, {11.0, 3.2, 2.5}, {12.0, 3.3, 2.6}}, 16, true, false, 2,
            0.25);
    b.weigh = SplitY(kHips, kSpine, j.spine.y, 0.6);
    AddEllipsoid(b, belly, bellyR, 18, 12, -kPi / 2, kPi / 2);
    const std::vector<Ring> chest = {
        {13.5, 3.3, 2.4}, {16.0, 3.4, 2.5}, {18.0, 3.8, 2.4}, {18.9, 3.5, 2.2}, {19.4, 1.3, 1.2}};
    AddTube(b, 0, 0, chest, 16, false, false, 2, 0.25);

    // The red tie lies on the shirt front, following the chest and the belly.
    auto frontZ = [&](double y) {
        double chestZ = chest.front().rz;
        for (size_t i = 0; i + 1 < chest.size(); ++i)
            if (y >= chest[i].y && y <= chest[i + 1].y)
                chestZ = chest[i].rz + (chest[i + 1].rz - chest[i].rz) * (y - chest[i].y) /
                                           (chest[i + 1].y - chest[i].y);
        double d = (y - belly.y) / bellyR.y;
        double bellyZ = d * d < 1 ? belly.z + bellyR.z * std::sqrt(1 - d * d) : 0;
        return std::max(chestZ, bellyZ) + 0.12;
    };
    std::vector<Vec3> tie;
    for (double y : {18.8, 18.2, 17.6, 17.0, 16.4, 15.8, 15.2, 14.7})
        tie.push_back({0, y, frontZ(y)});
    b.weigh = Rigid(kSpine);
    b.material = kCloth2;
    AddRibbon(b, tie, {0.55, 0.6, 0.7, 0.8, 0.9, 1.0, 1.05, 0.15});

    // White collar, thick neck, round head with a moustache, bowler hat.
    b.material = kLight;
    AddTube(b, 0, 0, {{18.9, 1.35, 1.3}, {19.6, 1.35, 1.3}}, 14, false, true, 1, 1);
    b.weigh = SplitY(kSpine, kHead, j.neck.y);
    b.material = kSkin;
    AddTube(b, 0, 0, {{18.9, 1.2, 1.15}, {j.neck.y, 1.2, 1.15}, {20.0, 1.1, 1.05}}, 12, false,
            false, 1, 0.5);
    b.weigh = Rigid(kHead);
    AddEllipsoid(b, {0, 21.1, 0.1}, {1.75, 1.95, 1.8}, 16, 10, -kPi / 2, kPi / 2);
    AddFace(b, 21.6, 1.75, 20.9, 2.25);
    b.material = kDark;
    AddBox(b, {-0.65, 20.5, 1.65}, {0.65, 20.8, 1.98}, 1);
    AddTube(b, 0, 0.1, {{22.4, 2.2, 2.3}, {22.6, 2.2, 2.3}}, 16, true, true, 1, 1);
    AddTube(b, 0, 0.1, {{22.6, 1.6, 1.7}, {23.3, 1.6, 1.7}}, 16, false, false, 1, 1);
    AddEllipsoid(b, {0, 23.3, 0.1}, {1.6, 0.9, 1.7}, 16, 5, 0, kPi / 2);

    for (int side = 0; side < 2; ++side) {
        AddArm(b, j, side, 1.0, 0.85, 1.7, kCloth, kCloth);
        const double k = j.knee[side].y;
        AddLeg(b, j, side, kCloth,
               {{k, 1.25, 1.3}, {8.5, 1.5, 1.55}, {j.hips.y, 1.6, 1.65}, {11.5, 1.4, 1.4}},
               {{0.9, 1.05, 1.1}, {3.2, 1.1, 1.15}, {k, 1.25, 1.3}}, {-0.65, 0, -0.9},
               {0.65, 1.0, 2.3});
    }
    return AssembleCharacter(f, std::move(b.mesh));
}

} // namespace modelgen
