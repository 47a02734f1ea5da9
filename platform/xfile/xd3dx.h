// Shared by the two D3DX loaders. Internal to platform/xfile.
#pragma once

#include "platform/types.h"
#include "platform/xfile/xscene.h"

#include <cstdint>

namespace xfile {

// A .x material as D3DX hands it over: diffuse from the face colour, ambient black,
// specular and emissive opaque.
inline D3DMATERIAL9 ToD3DMaterial(const Material& m) {
    D3DMATERIAL9 d{};
    d.Diffuse = {m.faceColor[0], m.faceColor[1], m.faceColor[2], m.faceColor[3]};
    d.Ambient = {0, 0, 0, 0};
    d.Specular = {m.specular[0], m.specular[1], m.specular[2], 1};
    d.Emissive = {m.emissive[0], m.emissive[1], m.emissive[2], 1};
    d.Power = m.power;
    return d;
}

// Reads a file from disk or memory (data non-null); on failure reports one line.
bool LoadScene(const char* fileName, const void* data, DWORD size, Scene& scene);

} // namespace xfile
