// Small vector and matrix helpers in the row-vector, left-handed convention of the .x files.
#include "modelgen.h"

#include <cmath>

namespace modelgen {

Vec3 Add(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec3 Sub(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec3 Scale(Vec3 a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
double Dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3 Cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vec3 Normalize(Vec3 a) {
    double len = std::sqrt(Dot(a, a));
    return len > 0 ? Scale(a, 1.0 / len) : a;
}

Mat4 Identity() {
    Mat4 r;
    r.m[0] = r.m[5] = r.m[10] = r.m[15] = 1;
    return r;
}

Mat4 Translation(Vec3 t) {
    Mat4 r = Identity();
    r.m[12] = t.x;
    r.m[13] = t.y;
    r.m[14] = t.z;
    return r;
}

// Rotations as Direct3D builds them: a positive angle turns y toward z (X), z toward x (Y)
// and x toward y (Z).
Mat4 RotationX(double a) {
    Mat4 r = Identity();
    r.m[5] = std::cos(a);
    r.m[6] = std::sin(a);
    r.m[9] = -std::sin(a);
    r.m[10] = std::cos(a);
    return r;
}

Mat4 RotationY(double a) {
    Mat4 r = Identity();
    r.m[0] = std::cos(a);
    r.m[2] = -std::sin(a);
    r.m[8] = std::sin(a);
    r.m[10] = std::cos(a);
    return r;
}

Mat4 RotationZ(double a) {
    Mat4 r = Identity();
    r.m[0] = std::cos(a);
    r.m[1] = std::sin(a);
    r.m[4] = -std::sin(a);
    r.m[5] = std::cos(a);
    return r;
}

Mat4 Multiply(const Mat4& a, const Mat4& b) {
    Mat4 r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double s = 0;
            for (int k = 0; k < 4; ++k) s += a.m[i * 4 + k] * b.m[k * 4 + j];
            r.m[i * 4 + j] = s;
        }
    return r;
}

// Gauss-Jordan elimination with partial pivoting; the matrices here are rigid transforms, so
// a singular input is a bug and yields the identity.
Mat4 Inverse(const Mat4& a) {
    double w[4][8];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            w[i][j] = a.m[i * 4 + j];
            w[i][j + 4] = i == j ? 1 : 0;
        }
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r)
            if (std::fabs(w[r][c]) > std::fabs(w[pivot][c])) pivot = r;
        if (std::fabs(w[pivot][c]) < 1e-12) return Identity();
        for (int j = 0; j < 8; ++j) std::swap(w[c][j], w[pivot][j]);
        double inv = 1.0 / w[c][c];
        for (int j = 0; j < 8; ++j) w[c][j] *= inv;
        for (int r = 0; r < 4; ++r) {
            if (r == c) continue;
            double f = w[r][c];
            for (int j = 0; j < 8; ++j) w[r][j] -= f * w[c][j];
        }
    }
    Mat4 r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) r.m[i * 4 + j] = w[i][j + 4];
    return r;
}

Vec3 TransformPoint(Vec3 p, const Mat4& m) {
    return {p.x * m.m[0] + p.y * m.m[4] + p.z * m.m[8] + m.m[12],
            p.x * m.m[1] + p.y * m.m[5] + p.z * m.m[9] + m.m[13],
            p.x * m.m[2] + p.y * m.m[6] + p.z * m.m[10] + m.m[14]};
}

Vec3 TransformDirection(Vec3 d, const Mat4& m) {
    return {d.x * m.m[0] + d.y * m.m[4] + d.z * m.m[8], d.x * m.m[1] + d.y * m.m[5] + d.z * m.m[9],
            d.x * m.m[2] + d.y * m.m[6] + d.z * m.m[10]};
}

} // namespace modelgen
