// Plain value types and constants shared by the stand-in layer and the system. They carry the
// names and numeric values of the Windows/Direct3D 9 interfaces the viewer was designed against,
// without any Windows header: the system code reads like its design, the layer maps them onto
// SDL2 and OpenGL.
#pragma once

#include <cstdint>

using HRESULT = int;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = -2147467259; // 0x80004005
constexpr HRESULT E_OUTOFMEMORY = -2147024882;
inline bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
inline bool FAILED(HRESULT hr) {
    return hr < 0;
}

using DWORD = uint32_t;
using D3DCOLOR = uint32_t; // 0xAARRGGBB

struct RECT {
    int32_t left, top, right, bottom;
};

struct D3DXVECTOR3 {
    float x, y, z;
};

struct D3DXQUATERNION {
    float x, y, z, w;
};

// A 4x4 single-precision matrix in the row-vector convention: v' = v * M, rows stored one
// after the other (m[row][col]); A * B applies A first.
struct D3DXMATRIX {
    float m[4][4];
};

inline D3DXMATRIX IdentityMatrix() {
    return D3DXMATRIX{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
}

// out = a * b. Safe when out aliases a or b.
inline void MultiplyMatrices(D3DXMATRIX* out, const D3DXMATRIX& a, const D3DXMATRIX& b) {
    D3DXMATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                        a.m[i][3] * b.m[3][j];
    *out = r;
}

struct D3DCOLORVALUE {
    float r, g, b, a;
};

struct D3DMATERIAL9 {
    D3DCOLORVALUE Diffuse;
    D3DCOLORVALUE Ambient;
    D3DCOLORVALUE Specular;
    D3DCOLORVALUE Emissive;
    float Power;
};

// A material as the .x loaders hand it over: the colours plus the texture file name, which
// points into the loader's data and is valid only while the loader's callback runs.
struct D3DXMATERIAL {
    D3DMATERIAL9 MatD3D;
    const char* pTextureFilename;
};

// One run of faces sharing a material after attribute sorting.
struct D3DXATTRIBUTERANGE {
    uint32_t AttribId;
    uint32_t FaceStart;
    uint32_t FaceCount;
    uint32_t VertexStart;
    uint32_t VertexCount;
};

enum D3DLIGHTTYPE : uint32_t { D3DLIGHT_DIRECTIONAL = 3 };

struct D3DLIGHT9 {
    D3DLIGHTTYPE Type;
    D3DCOLORVALUE Diffuse;
    D3DCOLORVALUE Specular;
    D3DCOLORVALUE Ambient;
    D3DXVECTOR3 Position;
    D3DXVECTOR3 Direction;
    float Range;
    float Falloff;
    float Attenuation0;
    float Attenuation1;
    float Attenuation2;
    float Theta;
    float Phi;
};

// Render states the viewer sets (values as in Direct3D 9).
enum D3DRENDERSTATETYPE : uint32_t {
    D3DRS_ZENABLE = 7,
    D3DRS_ZWRITEENABLE = 14,
    D3DRS_SRCBLEND = 19,
    D3DRS_DESTBLEND = 20,
    D3DRS_CULLMODE = 22,
    D3DRS_ALPHABLENDENABLE = 27,
    D3DRS_LIGHTING = 137,
    D3DRS_COLORVERTEX = 141,
    D3DRS_NORMALIZENORMALS = 143,
    D3DRS_COLORWRITEENABLE = 168,
};
constexpr uint32_t kRenderStateCount = 256;

enum D3DCULL : uint32_t { D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3 };
enum D3DBLEND : uint32_t {
    D3DBLEND_ZERO = 1,
    D3DBLEND_ONE = 2,
    D3DBLEND_SRCCOLOR = 3,
    D3DBLEND_INVSRCCOLOR = 4,
    D3DBLEND_SRCALPHA = 5,
    D3DBLEND_INVSRCALPHA = 6,
    D3DBLEND_DESTALPHA = 7,
    D3DBLEND_INVDESTALPHA = 8,
    D3DBLEND_DESTCOLOR = 9,
    D3DBLEND_INVDESTCOLOR = 10,
};

enum D3DTRANSFORMSTATETYPE : uint32_t {
    D3DTS_VIEW = 2,
    D3DTS_PROJECTION = 3,
    D3DTS_WORLD = 256,
};

enum D3DTEXTURESTAGESTATETYPE : uint32_t { D3DTSS_COLOROP = 1, D3DTSS_ALPHAOP = 4 };
enum D3DTEXTUREOP : uint32_t { D3DTOP_MODULATE = 4 };

constexpr DWORD D3DCLEAR_TARGET = 1;
constexpr DWORD D3DCLEAR_ZBUFFER = 2;

constexpr int TRUE = 1;
constexpr int FALSE = 0;
