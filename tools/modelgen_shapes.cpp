// Mesh building blocks: grids, boxes, tubes, ellipsoids and ribbons with normals, texture
// coordinates and (through the builder's weight function) bone weights.
//
// Winding: a triangle (p0, p1, p2) faces where Cross(p1 - p0, p2 - p0) points. Seen from that
// side in our left-handed frame the corners run clockwise, which is the front face Direct3D
// keeps with its default counter-clockwise culling.
#include "modelgen.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace modelgen {

namespace {
constexpr double kPi = 3.14159265358979323846;
} // namespace

uint32_t AddVertex(MeshBuilder& b, Vec3 p, Vec3 n, Vec2 uv) {
    Mesh& m = b.mesh;
    m.positions.push_back(p);
    m.normals.push_back(Normalize(n));
    m.uvs.push_back(uv);
    if (b.weigh) m.weights.push_back(b.weigh(p));
    return static_cast<uint32_t>(m.positions.size() - 1);
}

void AddTriangle(MeshBuilder& b, uint32_t i0, uint32_t i1, uint32_t i2) {
    b.mesh.faces.push_back({i0, i1, i2});
    b.mesh.faceMaterial.push_back(b.material);
}

void AddGrid(MeshBuilder& b, Vec3 origin, Vec3 du, Vec3 dv, int nu, int nv, Vec2 uv0, Vec2 uvSpan) {
    Vec3 n = Normalize(Cross(du, dv));
    uint32_t first = static_cast<uint32_t>(b.mesh.positions.size());
    for (int j = 0; j <= nv; ++j)
        for (int i = 0; i <= nu; ++i) {
            double s = double(i) / nu, t = double(j) / nv;
            Vec3 p = Add(origin, Add(Scale(du, s), Scale(dv, t)));
            AddVertex(b, p, n, {uv0.u + uvSpan.u * s, uv0.v + uvSpan.v * t});
        }
    auto at = [&](int i, int j) { return first + uint32_t(j * (nu + 1) + i); };
    for (int j = 0; j < nv; ++j)
        for (int i = 0; i < nu; ++i) {
            AddTriangle(b, at(i, j), at(i + 1, j), at(i + 1, j + 1));
            AddTriangle(b, at(i, j), at(i + 1, j + 1), at(i, j + 1));
        }
}

void AddBox(MeshBuilder& b, Vec3 lo, Vec3 hi, double k) {
    double dx = hi.x - lo.x, dy = hi.y - lo.y, dz = hi.z - lo.z;
    // Each face from its top-left corner as seen from outside: du to the right, dv down.
    struct Face {
        Vec3 origin, du, dv;
    };
    const Face faces[6] = {
        {{hi.x, hi.y, lo.z}, {0, 0, dz}, {0, -dy, 0}},  // +x
        {{lo.x, hi.y, hi.z}, {0, 0, -dz}, {0, -dy, 0}}, // -x
        {{hi.x, hi.y, hi.z}, {-dx, 0, 0}, {0, -dy, 0}}, // +z
        {{lo.x, hi.y, lo.z}, {dx, 0, 0}, {0, -dy, 0}},  // -z
        {{lo.x, hi.y, hi.z}, {dx, 0, 0}, {0, 0, -dz}},  // +y
        {{lo.x, lo.y, lo.z}, {dx, 0, 0}, {0, 0, dz}},   // -y
    };
    for (const Face& f : faces) {
        double lu = std::sqrt(Dot(f.du, f.du)), lv = std::sqrt(Dot(f.dv, f.dv));
        AddGrid(b, f.origin, f.du, f.dv, 1, 1, {0, 0}, {lu * k, lv * k});
    }
}

void AddTwoSidedPanel(MeshBuilder& b, Vec3 origin, Vec3 du, Vec3 dv) {
    AddGrid(b, origin, du, dv, 1, 1, {0, 0}, {1, 1});
    AddGrid(b, Add(origin, du), Scale(du, -1), dv, 1, 1, {0, 0}, {1, 1});
}

void AddTube(MeshBuilder& b, double cx, double cz, const std::vector<Ring>& rings, int segments,
             bool capBottom, bool capTop, double uRepeat, double vPerUnit) {
    const size_t n = rings.size();
    const double yTop = rings.back().y;
    // Angles start at the back (-z) so the texture seam is out of sight from the front.
    auto angle = [&](int j) { return -kPi / 2 + 2 * kPi * j / segments; };
    uint32_t first = static_cast<uint32_t>(b.mesh.positions.size());
    for (size_t i = 0; i < n; ++i) {
        // Radius slope along y for the normals of tapered sections.
        size_t lo = i > 0 ? i - 1 : i, hi = i + 1 < n ? i + 1 : i;
        double dy = rings[hi].y - rings[lo].y;
        double sx = dy > 0 ? (rings[hi].rx - rings[lo].rx) / dy : 0;
        double sz = dy > 0 ? (rings[hi].rz - rings[lo].rz) / dy : 0;
        for (int j = 0; j <= segments; ++j) {
            double a = angle(j), c = std::cos(a), s = std::sin(a);
            Vec3 p{cx + rings[i].rx * c, rings[i].y, cz + rings[i].rz * s};
            Vec3 alongY{sx * c, 1, sz * s};
            Vec3 around{-rings[i].rx * s, 0, rings[i].rz * c};
            AddVertex(b, p, Cross(alongY, around),
                      {uRepeat * j / segments, (yTop - rings[i].y) * vPerUnit});
        }
    }
    auto at = [&](size_t i, int j) { return first + uint32_t(i * (segments + 1) + j); };
    for (size_t i = 0; i + 1 < n; ++i)
        for (int j = 0; j < segments; ++j) {
            AddTriangle(b, at(i, j), at(i + 1, j), at(i + 1, j + 1));
            AddTriangle(b, at(i, j), at(i + 1, j + 1), at(i, j + 1));
        }
    auto cap = [&](const Ring& r, double ny) {
        uint32_t centre = AddVertex(b, {cx, r.y, cz}, {0, ny, 0}, {0.5, 0.5});
        uint32_t ring0 = static_cast<uint32_t>(b.mesh.positions.size());
        for (int j = 0; j < segments; ++j) {
            double c = std::cos(angle(j)), s = std::sin(angle(j));
            AddVertex(b, {cx + r.rx * c, r.y, cz + r.rz * s}, {0, ny, 0},
                      {0.5 + 0.5 * c, 0.5 + 0.5 * s});
        }
        for (int j = 0; j < segments; ++j) {
            uint32_t p0 = ring0 + uint32_t(j), p1 = ring0 + uint32_t((j + 1) % segments);
            if (ny > 0)
                AddTriangle(b, centre, p1, p0);
            else
                AddTriangle(b, centre, p0, p1);
        }
    };
    if (capBottom) cap(rings.front(), -1);
    if (capTop) cap(rings.back(), 1);
}

void AddEllipsoid(MeshBuilder& b, Vec3 c, Vec3 r, int segments, int rings, double latFrom,
                  double latTo) {
    uint32_t first = static_cast<uint32_t>(b.mesh.positions.size());
    std::vector<bool> pole(rings + 1);
    for (int i = 0; i <= rings; ++i) {
        double lat = latFrom + (latTo - latFrom) * i / rings;
        double cl = std::cos(lat), sl = std::sin(lat);
        pole[i] = std::fabs(cl) < 1e-9;
        if (pole[i]) cl = 0;
        for (int j = 0; j <= segments; ++j) {
            double a = -kPi / 2 + 2 * kPi * j / segments;
            double ca = std::cos(a), sa = std::sin(a);
            Vec3 p{c.x + r.x * cl * ca, c.y + r.y * sl, c.z + r.z * cl * sa};
            Vec3 n{cl * ca / r.x, sl / r.y, cl * sa / r.z};
            AddVertex(b, p, n, {double(j) / segments, double(rings - i) / rings});
        }
    }
    auto at = [&](int i, int j) { return first + uint32_t(i * (segments + 1) + j); };
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < segments; ++j) {
            // Skip the triangles that collapse into a pole.
            if (!pole[i + 1]) AddTriangle(b, at(i, j), at(i + 1, j), at(i + 1, j + 1));
            if (!pole[i]) AddTriangle(b, at(i, j), at(i + 1, j + 1), at(i, j + 1));
        }
}

void AddRibbon(MeshBuilder& b, const std::vector<Vec3>& spine, const std::vector<double>& widths) {
    const size_t n = spine.size();
    uint32_t first = static_cast<uint32_t>(b.mesh.positions.size());
    double length = 0;
    for (size_t i = 0; i < n; ++i) {
        if (i > 0)
            length += std::sqrt(Dot(Sub(spine[i], spine[i - 1]), Sub(spine[i], spine[i - 1])));
        Vec3 down = Sub(spine[i + 1 < n ? i + 1 : i], spine[i > 0 ? i - 1 : i]);
        Vec3 normal = Cross({-1, 0, 0}, down);
        double h = widths[i] / 2;
        // Seen from the front, +x is on the viewer's left.
        AddVertex(b, Add(spine[i], {h, 0, 0}), normal, {0, length * 0.5});
        AddVertex(b, Add(spine[i], {-h, 0, 0}), normal, {1, length * 0.5});
    }
    for (size_t i = 0; i + 1 < n; ++i) {
        uint32_t l0 = first + uint32_t(2 * i), r0 = l0 + 1, l1 = l0 + 2, r1 = l0 + 3;
        AddTriangle(b, l0, r0, r1);
        AddTriangle(b, l0, r1, l1);
    }
}

void GroupFacesByMaterial(Mesh& mesh) {
    std::vector<size_t> order(mesh.faces.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return mesh.faceMaterial[a] < mesh.faceMaterial[b];
    });
    std::vector<std::array<uint32_t, 3>> faces;
    std::vector<uint32_t> materials;
    for (size_t i : order) {
        faces.push_back(mesh.faces[i]);
        materials.push_back(mesh.faceMaterial[i]);
    }
    mesh.faces = std::move(faces);
    mesh.faceMaterial = std::move(materials);
}

} // namespace modelgen
