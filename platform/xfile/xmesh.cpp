// Reading a Mesh object with its children: normals (vertices split where a position carries
// different normals), texture coordinates, colours, DeclData, materials and skin weights.
#include "platform/xfile/xread.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

namespace xfile {

namespace {

// Vertex element types and usages of DeclData, as Direct3D 9 numbers them.
enum : uint32_t { kFloat2 = 1, kFloat3 = 2, kD3DColor = 4, kUnused = 17 };
enum : uint32_t { kUsageNormal = 3, kUsageTexCoord = 5, kUsageColor = 10 };

uint32_t ElementDwords(uint32_t type) {
    // FLOAT1..FLOAT4, D3DCOLOR, UBYTE4, SHORT2, SHORT4, UBYTE4N, SHORT2N, SHORT4N, USHORT2N,
    // USHORT4N, UDEC3, DEC3N, FLOAT16_2, FLOAT16_4, UNUSED
    static constexpr uint32_t kDwords[] = {1, 2, 3, 4, 1, 1, 1, 2, 1, 1, 2, 1, 2, 1, 1, 1, 2, 0};
    return kDwords[type];
}

float FloatBits(uint32_t u) {
    float f;
    std::memcpy(&f, &u, 4);
    return std::isfinite(f) ? f : 0.0f;
}

uint32_t ColorFromRGBA(const float c[4]) {
    auto byte = [](float v) { return uint32_t(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f); };
    return (byte(c[3]) << 24) | (byte(c[0]) << 16) | (byte(c[1]) << 8) | byte(c[2]);
}

// Polygons as a flat corner list: face f owns corners [start[f], start[f + 1]).
struct Faces {
    std::vector<uint32_t> start{0};
    std::vector<uint32_t> corners;
    uint32_t Count() const { return uint32_t(start.size() - 1); }
};

bool ReadFaces(BuildContext& ctx, const DataObject& o, Reader& r, uint32_t vertices, Faces& faces) {
    uint32_t n;
    if (!r.Count(n, 1, "face count")) return false;
    faces.start.reserve(size_t(n) + 1);
    // Each face takes its count and its corners from the values left: a bound on the corners
    // that is exact when nothing follows the faces, so the list grows at most once.
    faces.corners.reserve(r.Remaining() - n);
    for (uint32_t f = 0; f < n; ++f) {
        uint32_t k;
        if (!r.Count(k, 1, "corner count")) return false;
        for (uint32_t c = 0; c < k; ++c) {
            uint32_t index;
            if (!r.U32(index)) return false;
            if (index >= vertices)
                return ctx.Fail(o, "face " + std::to_string(f) + " names index " +
                                       std::to_string(index) + " of " + std::to_string(vertices));
            faces.corners.push_back(index);
        }
        faces.start.push_back(uint32_t(faces.corners.size()));
    }
    return true;
}

bool ReadMaterial(BuildContext& ctx, const DataObject& o, Material& m) {
    Reader r(ctx, o);
    m.name = o.name;
    if (!r.Floats(m.faceColor, 4) || !r.F32(m.power) || !r.Floats(m.specular, 3) ||
        !r.Floats(m.emissive, 3))
        return false;
    for (uint32_t c : o.children) {
        const DataObject* t = ctx.ChildOfType(ctx.doc.objects[c], "TextureFilename");
        if (!t || m.hasTexture) continue;
        Reader tr(ctx, *t);
        if (!tr.Str(m.texture)) return false;
        if (m.texture.size() > kMaxTextureName)
            return ctx.Fail(*t, "texture name longer than " + std::to_string(kMaxTextureName) +
                                    " bytes");
        m.hasTexture = true;
    }
    return ctx.Charge(o, sizeof(Material) + m.texture.size());
}

struct MeshParts {
    std::vector<float> positions;
    Faces faces;
    bool haveNormals = false;
    std::vector<float> normals;
    Faces normalFaces;
    bool normalsPerVertex = false; // no face list: normal i belongs to vertex i
    bool haveTexCoords = false;
    std::vector<uint32_t> colors;
    bool haveColors = false;
    std::vector<uint32_t> faceMaterial;
    bool haveMaterials = false;
    bool haveDecl = false;
    struct SkinSource {
        std::string name;
        std::vector<uint32_t> vertices;
        std::vector<float> weights;
        D3DXMATRIX offset;
    };
    std::vector<SkinSource> skins;
};

class MeshBuilder {
  public:
    MeshBuilder(BuildContext& ctx, const DataObject& o, MeshData& m) : ctx_(ctx), o_(o), m_(m) {}

    bool Run() {
        Reader r(ctx_, o_);
        uint32_t nv;
        if (!r.Count(nv, 3, "vertex count")) return false;
        p_.positions.resize(size_t(nv) * 3);
        if (!r.Floats(p_.positions.data(), size_t(nv) * 3)) return false;
        if (!ReadFaces(ctx_, o_, r, nv, p_.faces)) return false;
        m_.name = o_.name;
        m_.named = !o_.name.empty();
        m_.fileVertices = nv;
        m_.fileFaces = p_.faces.Count();
        // Per-vertex parts default to zero / white; DeclData and the child objects fill them.
        m_.vertices.assign(nv, MeshVertex{{0, 0, 0}, {0, 0, 0}, {0, 0}, 0xFFFFFFFFu});
        m_.sourcePosition.resize(nv);
        for (uint32_t v = 0; v < nv; ++v) {
            std::copy_n(&p_.positions[size_t(v) * 3], 3, m_.vertices[v].position);
            m_.sourcePosition[v] = v;
        }

        for (uint32_t c : o_.children) {
            const DataObject& child = ctx_.doc.objects[c];
            if (child.isReference) continue;
            bool ok = true;
            if (TypeIs(child, "MeshNormals") && !p_.haveNormals)
                ok = Normals(child);
            else if (TypeIs(child, "MeshTextureCoords") && !p_.haveTexCoords)
                ok = TexCoords(child);
            else if (TypeIs(child, "MeshVertexColors") && !p_.haveColors)
                ok = Colors(child);
            else if (TypeIs(child, "MeshMaterialList") && !p_.haveMaterials)
                ok = Materials(child);
            else if (TypeIs(child, "DeclData") && !p_.haveDecl)
                ok = Decl(child);
            else if (TypeIs(child, "SkinWeights"))
                ok = Skin(child);
            if (!ok) return false;
        }
        Split();
        Triangulate();
        return BindSkin();
    }

  private:
    bool Normals(const DataObject& o) {
        Reader r(ctx_, o);
        uint32_t n;
        if (!r.Count(n, 3, "normal count")) return false;
        p_.normals.resize(size_t(n) * 3);
        if (!r.Floats(p_.normals.data(), size_t(n) * 3)) return false;
        if (!ReadFaces(ctx_, o, r, n, p_.normalFaces)) return false;
        if (p_.normalFaces.Count() == 0 && n == m_.fileVertices) {
            p_.normalsPerVertex = true;
            // No face list: one normal per vertex.
        } else if (p_.normalFaces.Count() != p_.faces.Count()) {
            return ctx_.Fail(o, "gives " + std::to_string(p_.normalFaces.Count()) +
                                    " faces, the mesh has " + std::to_string(p_.faces.Count()));
        } else {
            for (uint32_t f = 0; f < p_.faces.Count(); ++f)
                if (p_.normalFaces.start[f + 1] - p_.normalFaces.start[f] !=
                    p_.faces.start[f + 1] - p_.faces.start[f])
                    return ctx_.Fail(o, "face " + std::to_string(f) +
                                            " has another corner count than the mesh face");
        }
        p_.haveNormals = true;
        m_.declaration.hasNormal = true;
        return true;
    }

    bool TexCoords(const DataObject& o) {
        Reader r(ctx_, o);
        uint32_t n;
        if (!r.Count(n, 2, "coordinate count")) return false;
        if (n != m_.fileVertices)
            return ctx_.Fail(o, "gives " + std::to_string(n) + " coordinates for " +
                                    std::to_string(m_.fileVertices) + " vertices");
        for (MeshVertex& v : m_.vertices)
            if (!r.Floats(v.texcoord, 2)) return false;
        p_.haveTexCoords = true;
        m_.declaration.hasTexCoord = true;
        return true;
    }

    bool Colors(const DataObject& o) {
        Reader r(ctx_, o);
        uint32_t n;
        if (!r.Count(n, 5, "colour count")) return false;
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t index;
            float rgba[4];
            if (!r.U32(index) || !r.Floats(rgba, 4)) return false;
            if (index >= m_.fileVertices)
                return ctx_.Fail(o, "colour " + std::to_string(i) + " names vertex " +
                                        std::to_string(index) + " of " +
                                        std::to_string(m_.fileVertices));
            m_.vertices[index].color = ColorFromRGBA(rgba);
        }
        p_.haveColors = true;
        m_.declaration.hasColor = true;
        return true;
    }

    bool Materials(const DataObject& o) {
        Reader r(ctx_, o);
        uint32_t count, n;
        if (!r.U32(count) || !r.Count(n, 1, "face index count")) return false;
        std::vector<uint32_t> index(n);
        for (uint32_t& i : index) {
            if (!r.U32(i)) return false;
            if (count > 0 && i >= count)
                return ctx_.Fail(o, "face material " + std::to_string(i) + " of " +
                                        std::to_string(count) + " materials");
        }
        for (uint32_t c : o.children) {
            const DataObject& child = ctx_.doc.objects[c];
            const DataObject* mat = ctx_.ChildOfType(child, "Material");
            if (!mat && child.isReference)
                return ctx_.Fail(child, "names no material defined in the file");
            if (mat && !ReadMaterial(ctx_, *mat, m_.materials.emplace_back())) return false;
        }
        if (m_.materials.size() != count)
            return ctx_.Fail(o, "declares " + std::to_string(count) + " materials and holds " +
                                    std::to_string(m_.materials.size()));
        // A list shorter than the faces repeats its last entry.
        p_.faceMaterial.assign(p_.faces.Count(), 0);
        if (count > 0 && n > 0)
            for (uint32_t f = 0; f < p_.faces.Count(); ++f)
                p_.faceMaterial[f] = index[std::min(f, n - 1)];
        p_.haveMaterials = true;
        return true;
    }

    bool Decl(const DataObject& o) {
        Reader r(ctx_, o);
        uint32_t ne, nd;
        if (!r.Count(ne, 4, "element count")) return false;
        uint64_t stride = 0;
        for (uint32_t e = 0; e < ne; ++e) {
            DeclElement& el = m_.declElements.emplace_back();
            if (!r.U32(el.type) || !r.U32(el.method) || !r.U32(el.usage) || !r.U32(el.usageIndex))
                return false;
            if (el.type > kUnused)
                return ctx_.Fail(o, "element " + std::to_string(e) + " has unknown type " +
                                        std::to_string(el.type));
            stride += ElementDwords(el.type);
        }
        if (!r.Count(nd, 1, "data count")) return false;
        if (uint64_t(nd) != stride * m_.fileVertices)
            return ctx_.Fail(o, "holds " + std::to_string(nd) + " words, its elements need " +
                                    std::to_string(stride * m_.fileVertices));
        std::vector<uint32_t> data(nd);
        for (uint32_t& d : data)
            if (!r.U32(d)) return false;
        // Normals, the first texture coordinates and the first colour carry over; other elements
        // (tangents, binormals, further coordinate sets) have no place in the mesh vertex.
        uint32_t offset = 0;
        for (const DeclElement& el : m_.declElements) {
            const bool normal = el.usage == kUsageNormal && el.type == kFloat3 && !p_.haveNormals;
            const bool tex = el.usage == kUsageTexCoord && el.usageIndex == 0 && el.type == kFloat2;
            const bool color =
                el.usage == kUsageColor && el.usageIndex == 0 && el.type == kD3DColor;
            for (uint32_t v = 0; v < m_.fileVertices && (normal || tex || color); ++v) {
                const uint32_t* w = &data[size_t(v) * stride + offset];
                MeshVertex& mv = m_.vertices[v];
                if (normal)
                    for (int i = 0; i < 3; ++i) mv.normal[i] = FloatBits(w[i]);
                if (tex)
                    for (int i = 0; i < 2; ++i) mv.texcoord[i] = FloatBits(w[i]);
                if (color) mv.color = w[0];
            }
            m_.declaration.hasNormal |= normal;
            m_.declaration.hasTexCoord |= tex;
            m_.declaration.hasColor |= color;
            offset += ElementDwords(el.type);
        }
        p_.haveDecl = true;
        return true;
    }

    bool Skin(const DataObject& o) {
        Reader r(ctx_, o);
        MeshParts::SkinSource s;
        uint32_t n;
        if (!r.Str(s.name) || !r.Count(n, 2, "weight count")) return false;
        s.vertices.resize(n);
        s.weights.resize(n);
        for (uint32_t& v : s.vertices) {
            if (!r.U32(v)) return false;
            if (v >= m_.fileVertices)
                return ctx_.Fail(o, "weights vertex " + std::to_string(v) + " of " +
                                        std::to_string(m_.fileVertices));
        }
        if (!r.Floats(s.weights.data(), n) || !r.Floats(&s.offset.m[0][0], 16)) return false;
        p_.skins.push_back(std::move(s));
        return true;
    }

    // Gives every corner its output vertex: a position keeps its index for the first normal it
    // carries; a different normal on the same position makes a copy at the end.
    void Split() {
        corner_ = std::move(p_.faces.corners); // the file's corners are not needed after this
        if (!p_.haveNormals) return;
        const std::vector<float>& nrm = p_.normals;
        if (p_.normalsPerVertex) {
            for (uint32_t v = 0; v < m_.fileVertices; ++v)
                std::copy_n(&nrm[size_t(v) * 3], 3, m_.vertices[v].normal);
            return;
        }
        std::vector<uint32_t> assigned(m_.fileVertices, UINT32_MAX);
        std::unordered_map<uint64_t, uint32_t> copies;
        for (size_t i = 0; i < corner_.size(); ++i) {
            const uint32_t p = corner_[i];
            const uint32_t n = p_.normalFaces.corners[i];
            if (assigned[p] == UINT32_MAX) {
                assigned[p] = n;
                std::copy_n(&nrm[size_t(n) * 3], 3, m_.vertices[p].normal);
                continue;
            }
            if (assigned[p] == n ||
                std::equal(&nrm[size_t(n) * 3], &nrm[size_t(n) * 3 + 3], m_.vertices[p].normal))
                continue;
            const uint64_t key = (uint64_t(p) << 32) | n;
            auto [it, fresh] = copies.try_emplace(key, uint32_t(m_.vertices.size()));
            if (fresh) {
                MeshVertex copy = m_.vertices[p];
                std::copy_n(&nrm[size_t(n) * 3], 3, copy.normal);
                m_.vertices.push_back(copy);
                m_.sourcePosition.push_back(p);
            }
            corner_[i] = it->second;
        }
    }

    void Triangulate() {
        const Faces& f = p_.faces;
        size_t triangles = 0;
        for (uint32_t face = 0; face < f.Count(); ++face)
            triangles += std::max<uint32_t>(f.start[face + 1] - f.start[face], 2) - 2;
        m_.indices.reserve(triangles * 3);
        m_.attributes.reserve(triangles);
        for (uint32_t face = 0; face < f.Count(); ++face) {
            const uint32_t s = f.start[face], e = f.start[face + 1];
            const uint32_t material = p_.faceMaterial.empty() ? 0 : p_.faceMaterial[face];
            for (uint32_t c = s + 1; c + 1 < e; ++c) {
                m_.indices.insert(m_.indices.end(), {corner_[s], corner_[c], corner_[c + 1]});
                m_.attributes.push_back(material);
            }
        }
    }

    // Skin weights name file vertices; each applies to every output copy of its vertex. A
    // position split many ways with many weights on it multiplies the two, so the product is
    // checked against the model's memory before anything is built.
    bool BindSkin() {
        if (p_.skins.empty()) return true;
        std::vector<uint32_t> start(m_.fileVertices + 1, 0), copies(m_.vertices.size());
        for (uint32_t v = 0; v < m_.vertices.size(); ++v) ++start[m_.sourcePosition[v] + 1];
        for (uint32_t v = 0; v < m_.fileVertices; ++v) start[v + 1] += start[v];
        std::vector<uint32_t> fill(start.begin(), start.end() - 1);
        for (uint32_t v = 0; v < m_.vertices.size(); ++v) copies[fill[m_.sourcePosition[v]]++] = v;
        uint64_t entries = 0;
        for (const MeshParts::SkinSource& s : p_.skins)
            for (uint32_t v : s.vertices) entries += start[v + 1] - start[v];
        if (!ctx_.Fits(o_, entries * kSkinEntryBytes)) return false;
        for (MeshParts::SkinSource& s : p_.skins) {
            Bone& b = m_.bones.emplace_back();
            b.name = std::move(s.name);
            b.offset = s.offset;
            for (size_t i = 0; i < s.vertices.size(); ++i)
                for (uint32_t k = start[s.vertices[i]]; k < start[s.vertices[i] + 1]; ++k) {
                    b.vertices.push_back(copies[k]);
                    b.weights.push_back(s.weights[i]);
                }
        }
        return true;
    }

    BuildContext& ctx_;
    const DataObject& o_;
    MeshData& m_;
    MeshParts p_;
    std::vector<uint32_t> corner_; // output vertex of each corner
};

} // namespace

bool BuildMesh(BuildContext& ctx, const DataObject& o, MeshData& mesh) {
    MeshBuilder builder(ctx, o, mesh);
    return builder.Run();
}

} // namespace xfile
