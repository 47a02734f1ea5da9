// What the viewer relies on in the generated models, checked before anything is written: the
// generator refuses to write a model that breaks it.
#include "modelgen.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace modelgen {

namespace {

struct Bounds {
    Vec3 lo{1e30, 1e30, 1e30}, hi{-1e30, -1e30, -1e30};
};

Bounds BoundsOf(const std::vector<Vec3>& points, const std::vector<size_t>* only = nullptr) {
    Bounds b;
    auto add = [&](const Vec3& p) {
        b.lo = {std::min(b.lo.x, p.x), std::min(b.lo.y, p.y), std::min(b.lo.z, p.z)};
        b.hi = {std::max(b.hi.x, p.x), std::max(b.hi.y, p.y), std::max(b.hi.z, p.z)};
    };
    if (only)
        for (size_t i : *only) add(points[i]);
    else
        for (const Vec3& p : points) add(p);
    return b;
}

std::string N(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

// Faces sorted by material with every material used, none degenerate, each wound so that its
// normal agrees with its vertices' normals (Direct3D culls by winding).
std::string CheckMesh(const Mesh& m, double minDot) {
    if (!std::is_sorted(m.faceMaterial.begin(), m.faceMaterial.end()))
        return "faces not grouped by material";
    if (std::set<uint32_t>(m.faceMaterial.begin(), m.faceMaterial.end()).size() !=
        m.materials.size())
        return "a material without faces";
    for (size_t f = 0; f < m.faces.size(); ++f) {
        const auto& v = m.faces[f];
        const Vec3 n = Cross(Sub(m.positions[v[1]], m.positions[v[0]]),
                             Sub(m.positions[v[2]], m.positions[v[0]]));
        if (std::sqrt(Dot(n, n)) < 1e-9) return "face " + std::to_string(f) + " is degenerate";
        for (uint32_t i : v)
            if (Dot(Normalize(n), m.normals[i]) <= minDot)
                return "face " + std::to_string(f) + " is wound against its normals";
    }
    return "";
}

// Vertices bound wholly to one bone below a height in the bind pose: a shoe.
std::vector<size_t> Shoe(const Model& m, const std::string& bone) {
    const int b = int(std::find(m.bones.begin(), m.bones.end(), bone) - m.bones.begin());
    std::vector<size_t> out;
    for (size_t v = 0; v < m.mesh.positions.size(); ++v)
        if (m.mesh.weights[v].size() == 1 && m.mesh.weights[v][0].bone == b &&
            m.mesh.positions[v].y < 1.2)
            out.push_back(v);
    return out;
}

std::string CheckSkin(const Model& m) {
    for (const char* bone : {"Hips", "Spine", "Head", "LeftArm", "RightArm", "LeftLeg", "RightLeg",
                             "LeftFoot", "RightFoot"})
        if (std::find(m.bones.begin(), m.bones.end(), bone) == m.bones.end())
            return std::string("no bone ") + bone;
    if (m.boneOffsets.size() != m.bones.size() || m.mesh.weights.size() != m.mesh.positions.size())
        return "bone offsets or weights missing";
    std::vector<size_t> perBone(m.bones.size());
    for (size_t v = 0; v < m.mesh.weights.size(); ++v) {
        double sum = 0;
        for (const Influence& in : m.mesh.weights[v]) {
            if (in.bone < 0 || size_t(in.bone) >= m.bones.size() || !(in.weight > 0))
                return "vertex " + std::to_string(v) + " has a bad influence";
            ++perBone[in.bone];
            sum += in.weight;
        }
        if (std::fabs(sum - 1) > 1e-12)
            return "vertex " + std::to_string(v) + ": weights sum to " + N(sum) + ", not 1";
    }
    for (size_t b = 0; b < m.bones.size(); ++b)
        if (!perBone[b]) return "bone " + m.bones[b] + " moves no vertex";
    const std::vector<Mat4> bind = CombinedMatrices(m, BindLocals(m));
    for (size_t b = 0; b < m.bones.size(); ++b) {
        const int f = FindFrame(m, m.bones[b]);
        if (f < 0) return "bone " + m.bones[b] + " names no frame";
        const Mat4 id = Multiply(m.boneOffsets[b], bind[f]);
        for (int i = 0; i < 16; ++i)
            if (std::fabs(id.m[i] - Identity().m[i]) > 1e-9)
                return "offset of " + m.bones[b] + " does not undo its bind pose";
    }
    return "";
}

std::string CheckWalk(const Model& m) {
    if (m.ticksPerSecond != 4800 || m.sets.size() != 1 || m.sets[0].name != "Walk")
        return "not one Walk set at 4800 ticks per second";
    const uint32_t end = m.sets[0].animations.at(0).keys.back().tick;
    if (end < 3600 || end > 6000) return "Walk lasts " + std::to_string(end) + " ticks";
    std::set<std::string> animated;
    for (const Animation& a : m.sets[0].animations) {
        const int f = FindFrame(m, a.frame);
        const std::string what = "Walk of " + a.frame + ": ";
        if (f < 0) return what + "no such frame";
        animated.insert(a.frame);
        if (a.keys.size() < 2 || a.keys.front().tick != 0 || a.keys.back().tick != end ||
            a.keys.front().matrix.m != a.keys.back().matrix.m)
            return what + "does not loop from tick 0 to " + std::to_string(end);
        for (size_t k = 0; k < a.keys.size(); ++k) {
            if (k &&
                (a.keys[k].tick <= a.keys[k - 1].tick || a.keys[k].tick - a.keys[k - 1].tick > 600))
                return what + "keys out of order or too far apart";
            const auto& e = a.keys[k].matrix.m;
            // Rigid: rotation rows orthonormal, no projection column; limbs turn about their
            // joint, so only the hips move.
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c)
                    if (std::fabs(e[r * 4] * e[c * 4] + e[r * 4 + 1] * e[c * 4 + 1] +
                                  e[r * 4 + 2] * e[c * 4 + 2] - (r == c)) > 1e-9)
                        return what + "key " + std::to_string(k) + " is not rigid";
            if (e[3] != 0 || e[7] != 0 || e[11] != 0 || e[15] != 1)
                return what + "key " + std::to_string(k) + " projects";
            for (int i = 12; i < 15 && a.frame != "Hips"; ++i)
                if (std::fabs(e[i] - m.frames[f].local.m[i]) > 1e-12)
                    return what + "key " + std::to_string(k) + " moves the joint";
        }
    }
    for (const char* f : {"LeftLeg", "RightLeg", "LeftArm", "RightArm", "Hips"})
        if (!animated.count(f)) return std::string("Walk does not move ") + f;
    // The feet take turns in front, and stay on the floor all the way.
    const auto left = Shoe(m, "LeftFoot"), right = Shoe(m, "RightFoot");
    if (left.empty() || right.empty()) return "no shoes";
    auto pose = [&](uint32_t tick) {
        return SkinPositions(m, CombinedMatrices(m, PoseLocals(m, 0, tick)));
    };
    const auto q1 = pose(end / 4), q3 = pose(end * 3 / 4);
    if (BoundsOf(q1, &left).hi.z < BoundsOf(q1, &right).hi.z + 2 ||
        BoundsOf(q3, &right).hi.z < BoundsOf(q3, &left).hi.z + 2)
        return "the feet do not take turns";
    for (uint32_t tick = 0; tick <= end; tick += end / 16) {
        const Bounds b = BoundsOf(pose(tick));
        if (std::fabs(b.lo.y) > 0.4 || b.hi.y < 21 || b.hi.y > 26)
            return "at tick " + std::to_string(tick) + " the feet leave the floor";
    }
    return "";
}

} // namespace

std::string CheckRoom(const Model& room) {
    if (!room.frames.empty() || !room.mesh.weights.empty()) return "the room has frames or a skin";
    const Bounds b = BoundsOf(room.mesh.positions);
    // The wander square runs to 150 each way; the eyes ride 25 above the floor.
    if (b.lo.y != 0 || b.hi.y < 40 || std::min({-b.lo.x, b.hi.x, -b.lo.z, b.hi.z}) < 170)
        return "the room does not enclose the wander square";
    bool floor = false, plain = false, glass = false;
    for (const Material& m : room.mesh.materials) {
        floor |= m.texture == "floor.png" && m.a == 1;
        plain |= m.texture.empty() && m.a == 1;
        glass |= m.a == 0.5;
    }
    if (!floor || !plain || !glass)
        return "the room lacks a textured floor, a plain or a translucent material";
    if (std::string e = CheckMesh(room.mesh, 0.5); !e.empty()) return e;
    const Mesh& m = room.mesh;
    for (size_t f = 0; f < m.faces.size(); ++f) {
        const std::string& mat = m.materials[m.faceMaterial[f]].name;
        if (mat != "Floor" && mat != "Ceiling" && mat != "WallPaint" && mat != "Brick") continue;
        const auto& v = m.faces[f];
        const Vec3 n = Cross(Sub(m.positions[v[1]], m.positions[v[0]]),
                             Sub(m.positions[v[2]], m.positions[v[0]]));
        const Vec3 centre =
            Scale(Add(Add(m.positions[v[0]], m.positions[v[1]]), m.positions[v[2]]), 1.0 / 3);
        if (Dot(n, Sub({0, 25, 0}, centre)) <= 0)
            return "shell face " + std::to_string(f) + " faces out of the room";
    }
    return "";
}

std::string CheckCharacter(const Model& m) {
    const Bounds b = BoundsOf(m.mesh.positions);
    if (b.hi.y < 22 || b.hi.y > 26 || std::fabs(b.lo.y) > 1e-9)
        return "stands " + N(b.hi.y - b.lo.y) + " tall, not about 24 from the floor";
    if (b.hi.z <= -b.lo.z) return "does not face +z";
    for (const std::string& e : {CheckMesh(m.mesh, 0.2), CheckSkin(m), CheckWalk(m)})
        if (!e.empty()) return e;
    return "";
}

std::string CheckModels(const Model& room, const Model& seaman, const Model& fatman,
                        const std::vector<Image>& images) {
    const std::pair<const char*, std::string> each[] = {{"room: ", CheckRoom(room)},
                                                        {"seaman: ", CheckCharacter(seaman)},
                                                        {"fatman: ", CheckCharacter(fatman)}};
    for (const auto& [name, error] : each)
        if (!error.empty()) return name + error;
    // Told apart at a glance: the stout man is wider and deeper, no clothing is shared.
    const Bounds s = BoundsOf(seaman.mesh.positions), f = BoundsOf(fatman.mesh.positions);
    if (f.hi.x - f.lo.x < 1.3 * (s.hi.x - s.lo.x) || f.hi.z - f.lo.z < 1.5 * (s.hi.z - s.lo.z))
        return "the characters are too alike in shape";
    std::set<std::string> named, clothes, made;
    for (const Model* m : {&room, &seaman, &fatman})
        for (const Material& mat : m->mesh.materials) {
            if (mat.texture.empty()) continue;
            named.insert(mat.texture);
            if (m != &room && mat.texture != "skin.png") clothes.insert(mat.texture);
        }
    if (clothes.size() < 4) return "the characters share clothing";
    for (const Image& i : images) {
        made.insert(i.name);
        if (i.width < 16 || i.width > 256 || i.height < 16 || i.height > 256 ||
            i.rgb.size() != size_t(i.width) * i.height * 3)
            return i.name + ": bad size";
    }
    return named == made ? "" : "the textures named and the textures made differ";
}

} // namespace modelgen
