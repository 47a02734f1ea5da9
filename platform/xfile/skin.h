// Skin information (the D3DX skin stand-in): the bones of a skinned mesh with their names,
// offset matrices and per-vertex weights, and software skinning of positions and normals.
#pragma once

#include "platform/gfx/mesh.h"
#include "platform/types.h"

#include <memory>
#include <string>
#include <vector>

namespace xfile {
struct Bone;
}

class ID3DXSkinInfo {
  public:
    // bones index vertices of a mesh with numVertices vertices; out-of-range entries are dropped.
    ID3DXSkinInfo(DWORD numVertices, const std::vector<xfile::Bone>& bones);

    DWORD GetNumVertices() const { return numVertices_; }
    DWORD GetNumBones() const { return DWORD(names_.size()); }
    // Null when bone is out of range.
    const char* GetBoneName(DWORD bone) const;
    const D3DXMATRIX* GetBoneOffsetMatrix(DWORD bone) const;

    // For each vertex with weights: position = sum of weight * (position as a point through
    // boneTransforms[bone]), normal likewise as a direction (through the inverse-transpose
    // matrices when given) and then normalised. Vertices without weights, and every other part
    // of each vertex, are copied from source. Both arrays hold GetNumVertices() vertices and may
    // not overlap.
    HRESULT UpdateSkinnedMesh(const D3DXMATRIX* boneTransforms,
                              const D3DXMATRIX* boneInvTransposeTransforms,
                              const MeshVertex* source, MeshVertex* destination) const;

  private:
    struct Influence {
        uint32_t bone;
        float weight;
    };
    DWORD numVertices_;
    std::vector<std::string> names_;
    std::vector<D3DXMATRIX> offsets_;
    // Per vertex, its influences: vertex v owns influences_[start_[v] .. start_[v + 1]).
    std::vector<uint32_t> start_;
    std::vector<Influence> influences_;
};
using SkinInfoPtr = std::shared_ptr<ID3DXSkinInfo>;
