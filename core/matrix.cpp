#include "core/matrix.h"

#include <cmath>

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
    *out = IdentityMatrix();
    return out;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z) {
    *out = IdentityMatrix();
    out->m[3][0] = x;
    out->m[3][1] = y;
    out->m[3][2] = z;
    return out;
}

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz) {
    *out = IdentityMatrix();
    out->m[0][0] = sx;
    out->m[1][1] = sy;
    out->m[2][2] = sz;
    return out;
}

// A turn by angle in the plane of axes i and j (row vectors: i turns towards j).
static D3DXMATRIX* PlaneRotation(D3DXMATRIX* out, float angle, int i, int j) {
    const float c = std::cos(angle), s = std::sin(angle);
    *out = IdentityMatrix();
    out->m[i][i] = c;
    out->m[i][j] = s;
    out->m[j][i] = -s;
    out->m[j][j] = c;
    return out;
}

D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle) {
    return PlaneRotation(out, angle, 1, 2);
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle) {
    return PlaneRotation(out, angle, 2, 0);
}

D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle) {
    return PlaneRotation(out, angle, 0, 1);
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zn,
                                       float zf) {
    const float yScale = 1.0f / std::tan(fovY / 2.0f);
    const float xScale = yScale / aspect;
    *out = D3DXMATRIX{};
    out->m[0][0] = xScale;
    out->m[1][1] = yScale;
    out->m[2][2] = zf / (zf - zn);
    out->m[2][3] = 1.0f;
    out->m[3][2] = -zn * zf / (zf - zn);
    return out;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b) {
    MultiplyMatrices(out, *a, *b);
    return out;
}

D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
    const float x = v->x * m->m[0][0] + v->y * m->m[1][0] + v->z * m->m[2][0] + m->m[3][0];
    const float y = v->x * m->m[0][1] + v->y * m->m[1][1] + v->z * m->m[2][1] + m->m[3][1];
    const float z = v->x * m->m[0][2] + v->y * m->m[1][2] + v->z * m->m[2][2] + m->m[3][2];
    const float w = v->x * m->m[0][3] + v->y * m->m[1][3] + v->z * m->m[2][3] + m->m[3][3];
    *out = {x / w, y / w, z / w};
    return out;
}

D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v) {
    const float length = std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z);
    if (length == 0.0f) {
        *out = {0.0f, 0.0f, 0.0f};
    } else {
        *out = {v->x / length, v->y / length, v->z / length};
    }
    return out;
}

D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
    *out = {a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x};
    return out;
}
