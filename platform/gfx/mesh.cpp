#include "platform/gfx/mesh.h"

#include <meshoptimizer.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <numeric>

ID3DXMesh::ID3DXMesh(IDirect3DDevice9* device, MeshDeclaration declaration,
                     std::vector<MeshVertex> vertices, std::vector<uint32_t> indices,
                     std::vector<uint32_t> attributes)
    : device_(device), declaration_(declaration), vertices_(std::move(vertices)),
      indices_(std::move(indices)), attributes_(std::move(attributes)) {
    assert(indices_.size() == attributes_.size() * 3);
    // Faces that come already grouped by attribute get their table at once, as the loaders'
    // meshes do; otherwise it is built by OptimizeInplace with D3DXMESHOPT_ATTRSORT.
    if (std::is_sorted(attributes_.begin(), attributes_.end())) BuildAttributeTable();
}

HRESULT ID3DXMesh::CloneMesh(DWORD, const MeshDeclaration& declaration, IDirect3DDevice9* device,
                             MeshPtr* clone) const {
    if (!clone) return E_FAIL;
    std::vector<MeshVertex> vertices = vertices_;
    for (MeshVertex& v : vertices) {
        if (!declaration.hasNormal) std::memset(v.normal, 0, sizeof v.normal);
        if (!declaration.hasTexCoord) std::memset(v.texcoord, 0, sizeof v.texcoord);
        if (!declaration.hasColor) v.color = 0xFFFFFFFFu;
    }
    auto copy = std::make_shared<ID3DXMesh>(device, declaration, std::move(vertices), indices_,
                                            attributes_);
    copy->table_ = table_;
    *clone = std::move(copy);
    return S_OK;
}

void ID3DXMesh::BuildAttributeTable() {
    table_.clear();
    const uint32_t faces = GetNumFaces();
    for (uint32_t f = 0; f < faces;) {
        uint32_t end = f;
        uint32_t minVertex = UINT32_MAX, maxVertex = 0;
        while (end < faces && attributes_[end] == attributes_[f]) {
            for (int c = 0; c < 3; ++c) {
                minVertex = std::min(minVertex, indices_[end * 3 + c]);
                maxVertex = std::max(maxVertex, indices_[end * 3 + c]);
            }
            ++end;
        }
        table_.push_back({attributes_[f], f, end - f, minVertex, maxVertex - minVertex + 1});
        f = end;
    }
}

HRESULT ID3DXMesh::OptimizeInplace(DWORD flags, const uint32_t*, uint32_t* adjacencyOut,
                                   uint32_t* faceRemap, void*) {
    if (locked_) return E_FAIL;
    const uint32_t faces = GetNumFaces();
    std::vector<uint32_t> order(faces);
    std::iota(order.begin(), order.end(), 0u);
    if ((flags & (D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE)) &&
        !std::is_sorted(attributes_.begin(), attributes_.end())) {
        // Stable: a counting sort when the ids are no more than the faces (material indices
        // always are), a merge sort otherwise.
        const uint32_t top = *std::max_element(attributes_.begin(), attributes_.end());
        if (top < faces) {
            std::vector<uint32_t> start(size_t(top) + 2, 0);
            for (uint32_t a : attributes_) ++start[a + 1];
            for (size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
            for (uint32_t f = 0; f < faces; ++f) order[start[attributes_[f]]++] = f;
        } else {
            std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
                return attributes_[a] < attributes_[b];
            });
        }
        std::vector<uint32_t> indices(indices_.size()), attributes(faces);
        for (uint32_t f = 0; f < faces; ++f) {
            attributes[f] = attributes_[order[f]];
            std::copy_n(&indices_[order[f] * 3], 3, &indices[f * 3]);
        }
        indices_ = std::move(indices);
        attributes_ = std::move(attributes);
    }
    if (flags & D3DXMESHOPT_VERTEXCACHE) {
        // Reorder the triangles of each subset for the post-transform cache; the subsets stay
        // where they are, so the attribute ranges keep their face spans.
        BuildAttributeTable();
        for (const D3DXATTRIBUTERANGE& r : table_) {
            uint32_t* first = indices_.data() + r.FaceStart * 3;
            meshopt_optimizeVertexCache(first, first, r.FaceCount * 3, vertices_.size());
        }
    }
    if ((flags & D3DXMESHOPT_COMPACT) && !vertices_.empty()) {
        std::vector<uint32_t> remap(vertices_.size());
        size_t used = meshopt_optimizeVertexFetchRemap(remap.data(), indices_.data(),
                                                       indices_.size(), vertices_.size());
        meshopt_remapIndexBuffer(indices_.data(), indices_.data(), indices_.size(), remap.data());
        std::vector<MeshVertex> vertices(used);
        meshopt_remapVertexBuffer(vertices.data(), vertices_.data(), vertices_.size(),
                                  sizeof(MeshVertex), remap.data());
        vertices_ = std::move(vertices);
    }
    BuildAttributeTable();
    if (faceRemap) std::copy(order.begin(), order.end(), faceRemap);
    if (adjacencyOut) {
        std::vector<uint32_t> adjacency = GenerateAdjacency();
        std::copy(adjacency.begin(), adjacency.end(), adjacencyOut);
    }
    gpuDirty = true;
    gpu.reset();
    return S_OK;
}

HRESULT ID3DXMesh::GetAttributeTable(D3DXATTRIBUTERANGE* table, DWORD* count) const {
    if (!count) return E_FAIL;
    if (!table) {
        *count = static_cast<DWORD>(table_.size());
        return S_OK;
    }
    const DWORD n = std::min<DWORD>(*count, static_cast<DWORD>(table_.size()));
    std::copy_n(table_.begin(), n, table);
    *count = n;
    return S_OK;
}

std::vector<uint32_t> ID3DXMesh::GenerateAdjacency() const {
    // Two faces are adjacent when they share an edge by position index, in opposite or equal
    // direction. The first face with an edge owns it; each later face sharing it is linked to
    // the owner, and the owner back while its slot for that edge is free. Edges are bucketed by
    // their lower vertex (a counting sort, linear in the faces and cache-friendly), and each
    // bucket ordered by upper vertex and then face, so equal edges sit together in face order.
    const size_t corners = indices_.size();
    std::vector<uint32_t> adjacency(corners, kNoAdjacentFace);
    if (corners == 0) return adjacency;
    auto ends = [this](size_t c) {
        const uint32_t a = indices_[c], b = indices_[c - c % 3 + (c % 3 + 1) % 3];
        return std::pair(std::min(a, b), std::max(a, b));
    };
    const uint32_t top = *std::max_element(indices_.begin(), indices_.end());
    std::vector<uint32_t> start(size_t(top) + 2, 0);
    for (size_t c = 0; c < corners; ++c) ++start[ends(c).first + 1];
    for (size_t v = 1; v < start.size(); ++v) start[v] += start[v - 1];
    struct Edge {
        uint32_t upper, corner;
        bool operator<(const Edge& o) const {
            return upper != o.upper ? upper < o.upper : corner < o.corner;
        }
    };
    std::vector<Edge> edges(corners);
    std::vector<uint32_t> fill(start.begin(), start.end() - 1);
    for (size_t c = 0; c < corners; ++c) {
        const auto [lower, upper] = ends(c);
        edges[fill[lower]++] = {upper, uint32_t(c)};
    }
    for (size_t v = 0; v + 1 < start.size(); ++v) {
        Edge* first = edges.data() + start[v];
        Edge* last = edges.data() + start[v + 1];
        // Filled in face order already; only a vertex with many edges needs a full sort.
        if (last - first > 16)
            std::sort(first, last);
        else
            for (Edge* e = first + 1; e < last; ++e)
                for (Edge* p = e; p > first && *p < p[-1]; --p) std::swap(*p, p[-1]);
        for (const Edge* group = first; group < last;) {
            const Edge* end = group + 1;
            while (end < last && end->upper == group->upper) ++end;
            const uint32_t owner = group->corner / 3;
            for (const Edge* e = group + 1; e < end; ++e) {
                const uint32_t f = e->corner / 3;
                if (f == owner || adjacency[e->corner] != kNoAdjacentFace) continue;
                adjacency[e->corner] = owner;
                for (uint32_t oc = owner * 3; oc < owner * 3 + 3; ++oc) {
                    if (ends(oc) == ends(e->corner) && adjacency[oc] == kNoAdjacentFace) {
                        adjacency[oc] = f;
                        break;
                    }
                }
            }
            group = end;
        }
    }
    return adjacency;
}

HRESULT ID3DXMesh::LockVertexBuffer(DWORD flags, MeshVertex** data) {
    if (!data || locked_) return E_FAIL;
    locked_ = true;
    if (!(flags & D3DLOCK_READONLY)) gpuDirty = true;
    *data = vertices_.data();
    return S_OK;
}

HRESULT ID3DXMesh::UnlockVertexBuffer() {
    if (!locked_) return E_FAIL;
    locked_ = false;
    return S_OK;
}

HRESULT ID3DXMesh::DrawSubset(DWORD attribId) {
    if (!device_) return E_FAIL;
    device_->DrawMeshSubset(*this, attribId);
    return S_OK;
}
