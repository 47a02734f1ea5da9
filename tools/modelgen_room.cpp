// The room: a 400 x 400 hall, 80 high, around the characters' 300 x 300 wander square, with
// furniture placed so that the two camera views look clearly different, and glass panels that
// are drawn in the blended sweep.
#include "modelgen.h"

namespace modelgen {

namespace {

enum RoomMaterial : uint32_t {
    kFloor,
    kWallPaint,
    kBrick,
    kCeiling,
    kCrate,
    kPillar,
    kSofa,
    kCabinet,
    kWood,
    kGlass,
};

std::vector<Material> RoomMaterials() {
    std::vector<Material> m(10);
    m[kFloor] = {"Floor", 1, 1, 1, 1, 8, {0.1, 0.1, 0.1}, {0, 0, 0}, "floor.png"};
    m[kWallPaint] = {"WallPaint", 0.86, 0.80, 0.68, 1, 4, {0.05, 0.05, 0.05}, {0, 0, 0}, ""};
    m[kBrick] = {"Brick", 1, 1, 1, 1, 4, {0.05, 0.05, 0.05}, {0, 0, 0}, "wall.png"};
    m[kCeiling] = {"Ceiling", 0.92, 0.92, 0.95, 1, 4, {0, 0, 0}, {0, 0, 0}, ""};
    m[kCrate] = {"Crate", 1, 1, 1, 1, 8, {0.1, 0.1, 0.1}, {0, 0, 0}, "crate.png"};
    m[kPillar] = {"Pillar", 0.35, 0.45, 0.70, 1, 16, {0.3, 0.3, 0.3}, {0, 0, 0}, ""};
    m[kSofa] = {"Sofa", 0.70, 0.15, 0.12, 1, 4, {0.05, 0.05, 0.05}, {0, 0, 0}, ""};
    m[kCabinet] = {"Cabinet", 0.25, 0.50, 0.30, 1, 8, {0.1, 0.1, 0.1}, {0, 0, 0}, ""};
    m[kWood] = {"Wood", 0.45, 0.28, 0.15, 1, 8, {0.1, 0.1, 0.1}, {0, 0, 0}, ""};
    m[kGlass] = {"Glass", 0.55, 0.80, 0.95, 0.5, 32, {0.6, 0.6, 0.6}, {0, 0, 0}, ""};
    return m;
}

constexpr double kHalf = 200;   // walls at x, z = +-200
constexpr double kHeight = 80;  // ceiling height
constexpr double kTexUnit = 50; // world units per texture repeat on floor and brick walls

void AddShell(MeshBuilder& b) {
    // Every surface faces into the room.
    const double w = 2 * kHalf, h = kHeight, r = w / kTexUnit;
    b.material = kFloor;
    AddGrid(b, {-kHalf, 0, kHalf}, {w, 0, 0}, {0, 0, -w}, 8, 8, {0, 0}, {r, r});
    b.material = kCeiling;
    AddGrid(b, {-kHalf, h, -kHalf}, {w, 0, 0}, {0, 0, w}, 4, 4, {0, 0}, {1, 1});
    const Vec2 wallSpan{r, h / kTexUnit};
    // Brick to the north and west, paint to the east and south: each heading shows a
    // different wall behind different furniture.
    b.material = kBrick;
    AddGrid(b, {-kHalf, h, kHalf}, {w, 0, 0}, {0, -h, 0}, 8, 2, {0, 0}, wallSpan);  // north, +z
    AddGrid(b, {-kHalf, h, -kHalf}, {0, 0, w}, {0, -h, 0}, 8, 2, {0, 0}, wallSpan); // west, -x
    b.material = kWallPaint;
    AddGrid(b, {kHalf, h, kHalf}, {0, 0, -w}, {0, -h, 0}, 8, 2, {0, 0}, wallSpan);  // east, +x
    AddGrid(b, {kHalf, h, -kHalf}, {-w, 0, 0}, {0, -h, 0}, 8, 2, {0, 0}, wallSpan); // south, -z
}

void AddFurniture(MeshBuilder& b) {
    // Four pillars from floor to ceiling on plinths, one in each quarter.
    const double pillarAt[4][2] = {{-100, -100}, {100, -100}, {-100, 100}, {100, 100}};
    b.material = kPillar;
    for (const auto& p : pillarAt) {
        AddTube(b, p[0], p[1], {{0, 6, 6}, {kHeight, 6, 6}}, 16, false, false, 1, 1 / kHeight);
        AddBox(b, {p[0] - 8, 0, p[1] - 8}, {p[0] + 8, 4, p[1] + 8}, 0.1);
    }

    b.material = kCrate;
    const double crate = 1.0 / 20; // one texture per 20 units
    AddBox(b, {50, 0, 120}, {70, 20, 140}, crate);
    AddBox(b, {54, 20, 124}, {66, 32, 136}, crate);
    AddBox(b, {-152, 0, -82}, {-128, 18, -58}, crate);
    AddBox(b, {120, 0, -160}, {140, 20, -140}, crate);
    AddBox(b, {142, 0, -158}, {158, 16, -142}, crate);

    // A sofa against the north wall, west of centre.
    b.material = kSofa;
    AddBox(b, {-150, 0, 165}, {-90, 10, 190}, 0.1);
    AddBox(b, {-150, 10, 183}, {-90, 24, 190}, 0.1);
    AddBox(b, {-154, 0, 165}, {-150, 16, 190}, 0.1);
    AddBox(b, {-90, 0, 165}, {-86, 16, 190}, 0.1);

    // A tall cabinet against the east wall.
    b.material = kCabinet;
    AddBox(b, {186, 0, -40}, {198, 50, 40}, 0.1);

    // A door in the south wall and a table west of centre.
    b.material = kWood;
    AddBox(b, {-20, 0, -200}, {20, 50, -198.5}, 0.1);
    AddBox(b, {-90, 14, -10}, {-50, 16, 20}, 0.1);
    const double legAt[4][2] = {{-89, -9}, {-53, -9}, {-89, 17}, {-53, 17}};
    for (const auto& l : legAt) AddBox(b, {l[0], 0, l[1]}, {l[0] + 2, 14, l[1] + 2}, 0.1);

    // Glass panels, seen from both sides: ahead of camera 1's start, ahead of camera 2's start,
    // and one in the south-west.
    b.material = kGlass;
    AddTwoSidedPanel(b, {-30, 40, 90}, {60, 0, 0}, {0, -40, 0});
    AddTwoSidedPanel(b, {90, 40, -10}, {0, 0, 60}, {0, -40, 0});
    AddTwoSidedPanel(b, {-130, 40, -110}, {60, 0, 0}, {0, -40, 0});
}

} // namespace

Model BuildRoom() {
    MeshBuilder b;
    b.mesh.name = "Room";
    b.mesh.materials = RoomMaterials();
    AddShell(b);
    AddFurniture(b);
    GroupFacesByMaterial(b.mesh);
    Model model;
    model.mesh = std::move(b.mesh);
    return model;
}

} // namespace modelgen
