#include "platform/xfile/skin.h"

#include "platform/xfile/xscene.h"

#include <algorithm>
#include <cmath>

ID3DXSkinInfo::ID3DXSkinInfo(DWORD numVertices, const std::vector<xfile::Bone>& bones)
    : numVertices_(numVertices), start_(size_t(numVertices) + 1, 0) {
    // Regroup bone-major weights vertex-major, so skinning writes each vertex once: count each
    // vertex's influences, then place them.
    for (const xfile::Bone& b : bones) {
        names_.push_back(b.name);
        offsets_.push_back(b.offset);
        const size_t n = std::min(b.vertices.size(), b.weights.size());
        for (size_t i = 0; i < n; ++i)
            if (b.vertices[i] < numVertices) ++start_[b.vertices[i] + 1];
    }
    for (DWORD v = 0; v < numVertices; ++v) start_[v + 1] += start_[v];
    influences_.resize(start_[numVertices]);
    std::vector<uint32_t> fill(start_.begin(), start_.end() - 1);
    for (uint32_t bone = 0; bone < bones.size(); ++bone) {
        const xfile::Bone& b = bones[bone];
        const size_t n = std::min(b.vertices.size(), b.weights.size());
        for (size_t i = 0; i < n; ++i)
            if (b.vertices[i] < numVertices)
                influences_[fill[b.vertices[i]]++] = {bone, b.weights[i]};
    }
}

const char* ID3DXSkinInfo::GetBoneName(DWORD bone) const {
    return bone < names_.size() ? names_[bone].c_str() : nullptr;
}

const D3DXMATRIX* ID3DXSkinInfo::GetBoneOffsetMatrix(DWORD bone) const {
    return bone < offsets_.size() ? &offsets_[bone] : nullptr;
}

HRESULT ID3DXSkinInfo::UpdateSkinnedMesh(const D3DXMATRIX* boneTransforms,
                                         const D3DXMATRIX* boneInvTransposeTransforms,
                                         const MeshVertex* source, MeshVertex* destination) const {
    if (!source || !destination || (!boneTransforms && !names_.empty())) return E_FAIL;
    const D3DXMATRIX* normalTransforms =
        boneInvTransposeTransforms ? boneInvTransposeTransforms : boneTransforms;
    for (DWORD v = 0; v < numVertices_; ++v) {
        const MeshVertex& s = source[v];
        MeshVertex& d = destination[v];
        d = s;
        const uint32_t first = start_[v], last = start_[v + 1];
        if (first == last) continue;
        float p[3] = {0, 0, 0}, n[3] = {0, 0, 0};
        for (uint32_t i = first; i < last; ++i) {
            const float w = influences_[i].weight;
            const auto& m = boneTransforms[influences_[i].bone].m;
            const auto& nm = normalTransforms[influences_[i].bone].m;
            for (int c = 0; c < 3; ++c) {
                p[c] += w * (s.position[0] * m[0][c] + s.position[1] * m[1][c] +
                             s.position[2] * m[2][c] + m[3][c]);
                n[c] +=
                    w * (s.normal[0] * nm[0][c] + s.normal[1] * nm[1][c] + s.normal[2] * nm[2][c]);
            }
        }
        const float len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        const float inv = len > 0 ? 1.0f / len : 0.0f;
        for (int c = 0; c < 3; ++c) {
            d.position[c] = p[c];
            d.normal[c] = n[c] * inv;
        }
    }
    return S_OK;
}
