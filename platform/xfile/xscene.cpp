// Frames, animation sets and the top level of a .x file; meshes are in xmesh.cpp.
#include "platform/xfile/xscene.h"

#include "platform/file_read.h"

#include "platform/xfile/xd3dx.h"
#include "platform/xfile/xread.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace xfile {

namespace {

// The templates the reader uses; every other data object is skipped whole while parsing.
bool KnownType(std::string_view type) {
    static constexpr std::string_view kKnown[] = {
        "Frame",
        "FrameTransformMatrix",
        "Mesh",
        "MeshNormals",
        "MeshTextureCoords",
        "MeshVertexColors",
        "MeshMaterialList",
        "Material",
        "TextureFilename",
        "SkinWeights",
        "DeclData",
        "AnimTicksPerSecond",
        "AnimationSet",
        "Animation",
        "AnimationKey",
    };
    for (std::string_view k : kKnown)
        if (EqualsNoCase(k, type)) return true;
    return false;
}

// Names fold by ASCII only (what the "C" locale does), without a library call per byte.
char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
}

std::string Lower(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = LowerAscii(c);
    return r;
}

bool ReadMatrix(Reader& r, D3DXMATRIX& m) {
    return r.Floats(&m.m[0][0], 16);
}

struct SceneBuilder {
    BuildContext& ctx;
    Scene& scene;
    // A mesh referenced twice is read once.
    std::unordered_map<const DataObject*, uint32_t> meshIndex;

    // Every placement of a mesh is charged: each becomes a mesh of its own when loaded.
    bool AddMesh(const DataObject& o, uint32_t& index) {
        if (auto it = meshIndex.find(&o); it == meshIndex.end()) {
            MeshData mesh;
            if (!BuildMesh(ctx, o, mesh)) return false;
            index = uint32_t(scene.meshes.size());
            scene.meshes.push_back(std::move(mesh));
            meshIndex.emplace(&o, index);
        } else {
            index = it->second;
        }
        const MeshData& m = scene.meshes[index];
        uint64_t bytes = sizeof(MeshData) + m.vertices.size() * (sizeof(MeshVertex) + 4) +
                         m.indices.size() * 4 + m.attributes.size() * 12 +
                         m.materials.size() * sizeof(Material);
        for (const Bone& b : m.bones)
            bytes += b.vertices.size() * kSkinEntryBytes + b.name.size() + sizeof(Bone);
        return ctx.Charge(o, bytes);
    }

    // Nesting is bounded by the parser, so the recursion is too.
    bool AddFrame(const DataObject& o, uint32_t& index) {
        index = uint32_t(scene.frames.size());
        scene.frames.emplace_back();
        scene.frames[index].name = o.name;
        scene.frames[index].named = !o.name.empty();
        bool haveMatrix = false;
        for (uint32_t c : o.children) {
            const DataObject& child = ctx.doc.objects[c];
            if (!child.isReference && TypeIs(child, "FrameTransformMatrix")) {
                if (haveMatrix) continue;
                Reader r(ctx, child);
                if (!ReadMatrix(r, scene.frames[index].transform)) return false;
                haveMatrix = true;
            } else if (!child.isReference && TypeIs(child, "Frame")) {
                uint32_t sub;
                if (!AddFrame(child, sub)) return false;
                scene.frames[index].items.push_back({false, sub});
            } else if (const DataObject* mesh = ctx.ChildOfType(child, "Mesh")) {
                uint32_t m;
                if (!AddMesh(*mesh, m)) return false;
                scene.frames[index].items.push_back({true, m});
            }
        }
        return true;
    }

    bool ReadKeys(const DataObject& o, Animation& anim) {
        Reader r(ctx, o);
        uint32_t type, count;
        if (!r.U32(type)) return false;
        uint32_t size;
        switch (type) {
        case 0:
            size = 4;
            break;
        case 1:
        case 2:
            size = 3;
            break;
        case 3: // some writers give matrix keys as type 3
        case 4:
            size = 16;
            break;
        default:
            return ctx.Fail(o, "unknown key type " + std::to_string(type));
        }
        if (!r.Count(count, 2 + size, "key count")) return false;
        if (!ctx.Charge(o, uint64_t(count) * (4 + 4 * size))) return false;
        for (uint32_t k = 0; k < count; ++k) {
            uint32_t time, n;
            if (!r.U32(time) || !r.U32(n)) return false;
            if (n != size)
                return ctx.Fail(o, "key " + std::to_string(k) + " holds " + std::to_string(n) +
                                       " values, key type " + std::to_string(type) + " needs " +
                                       std::to_string(size));
            bool ok = true;
            switch (size) {
            case 4:
                ok = r.Floats(anim.rotations.emplace_back(xfile::Key<4>{time, {}}).value, 4);
                break;
            case 3: {
                auto& keys = type == 1 ? anim.scales : anim.positions;
                ok = r.Floats(keys.emplace_back(xfile::Key<3>{time, {}}).value, 3);
                break;
            }
            default:
                ok = r.Floats(anim.matrices.emplace_back(xfile::Key<16>{time, {}}).value, 16);
                break;
            }
            if (!ok) return false;
        }
        return true;
    }

    bool Anim(const DataObject& o, Animation& anim) {
        for (uint32_t c : o.children) {
            const DataObject& child = ctx.doc.objects[c];
            if (child.isReference) {
                if (anim.frameName.empty()) anim.frameName = child.name;
            } else if (TypeIs(child, "AnimationKey")) {
                if (!ReadKeys(child, anim)) return false;
            }
        }
        // Keys are sampled by binary search; writers do not always sort them.
        auto byTime = [](const auto& a, const auto& b) { return a.time < b.time; };
        std::stable_sort(anim.rotations.begin(), anim.rotations.end(), byTime);
        std::stable_sort(anim.scales.begin(), anim.scales.end(), byTime);
        std::stable_sort(anim.positions.begin(), anim.positions.end(), byTime);
        std::stable_sort(anim.matrices.begin(), anim.matrices.end(), byTime);
        return true;
    }

    bool Set(const DataObject& o) {
        AnimationSet set;
        set.name = o.name;
        for (uint32_t c : o.children) {
            if (const DataObject* a = ctx.ChildOfType(ctx.doc.objects[c], "Animation")) {
                if (!ctx.Charge(*a, sizeof(Animation)) || !Anim(*a, set.animations.emplace_back()))
                    return false;
            }
        }
        scene.sets.push_back(std::move(set));
        return true;
    }

    bool Run() {
        // Meshes that frames reference are placed there, not given a frame of their own.
        std::set<const DataObject*> referenced;
        for (const DataObject& o : ctx.doc.objects)
            if (!o.isReference && TypeIs(o, "Frame"))
                for (uint32_t c : o.children)
                    if (ctx.doc.objects[c].isReference)
                        if (const DataObject* m = ctx.Resolve(ctx.doc.objects[c], "Mesh"))
                            referenced.insert(m);

        for (uint32_t t : ctx.doc.top) {
            const DataObject& o = ctx.doc.objects[t];
            if (TypeIs(o, "Frame")) {
                uint32_t f;
                if (!AddFrame(o, f)) return false;
                scene.roots.push_back(f);
            } else if (TypeIs(o, "Mesh") && !referenced.count(&o)) {
                uint32_t m;
                if (!AddMesh(o, m)) return false;
                const uint32_t f = uint32_t(scene.frames.size());
                scene.frames.emplace_back().items.push_back({true, m});
                scene.roots.push_back(f);
            } else if (TypeIs(o, "AnimTicksPerSecond")) {
                Reader r(ctx, o);
                uint32_t tps;
                if (!r.U32(tps)) return false;
                if (tps > 0) scene.ticksPerSecond = tps; // 0 would divide by zero: keep 4800
            } else if (TypeIs(o, "AnimationSet")) {
                if (!Set(o)) return false;
            }
        }
        return true;
    }
};

constexpr uint64_t kMaxFileBytes = uint64_t(256) << 20;

ErrorSink& Sink() {
    static ErrorSink sink;
    return sink;
}

} // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

bool TypeIs(const DataObject& o, std::string_view type) {
    return EqualsNoCase(o.type, type);
}

BuildContext::BuildContext(const Document& d, std::string& e) : doc(d), error(e) {
    for (uint32_t i = 0; i < doc.objects.size(); ++i) {
        const DataObject& o = doc.objects[i];
        if (!o.isReference && !o.name.empty()) named.try_emplace(Lower(o.type) + '\n' + o.name, i);
    }
}

bool BuildContext::Charge(const DataObject& o, uint64_t bytes) {
    charged += bytes;
    return Fits(o, 0);
}

bool BuildContext::Fits(const DataObject& o, uint64_t bytes) {
    if (charged + bytes <= kMaxSceneBytes) return true;
    return Fail(o, "the model needs more than " + std::to_string(kMaxSceneBytes >> 20) + " MiB");
}

bool BuildContext::Fail(const DataObject& o, const std::string& reason) {
    error = doc.Where(o.where) + ": " + Describe(o) + ": " + reason;
    return false;
}

std::string BuildContext::Describe(const DataObject& o) {
    if (o.isReference) return "reference '" + o.name + "'";
    return o.name.empty() ? o.type : o.type + " '" + o.name + "'";
}

const DataObject* BuildContext::Resolve(const DataObject& ref, std::string_view type) const {
    auto it = named.find(Lower(type) + '\n' + ref.name);
    return it == named.end() ? nullptr : &doc.objects[it->second];
}

const DataObject* BuildContext::ChildOfType(const DataObject& child, std::string_view type) const {
    if (child.isReference) return Resolve(child, type);
    return TypeIs(child, type) ? &child : nullptr;
}

bool Reader::Short() {
    return ctx_.Fail(o_, "ends early (" + std::to_string(o_.values.size()) + " values)");
}

bool Reader::U32Other(uint32_t& out) {
    if (pos_ >= o_.values.size()) return Short();
    const Value& v = o_.values[pos_];
    if (v.kind == Value::UInt) {
        out = v.u;
    } else if (v.kind == Value::Float && v.f >= 0 && v.f <= 4294967040.0f &&
               float(uint32_t(v.f)) == v.f) {
        out = uint32_t(v.f); // "3.000000" where an integer belongs
    } else {
        return ctx_.Fail(o_, "value " + std::to_string(pos_) + " is not an unsigned integer");
    }
    ++pos_;
    return true;
}

bool Reader::F32Other(float& out) {
    if (pos_ >= o_.values.size()) return Short();
    const Value& v = o_.values[pos_];
    if (v.kind == Value::String)
        return ctx_.Fail(o_, "value " + std::to_string(pos_) + " is a string, not a number");
    out = v.kind == Value::Float ? v.f : float(v.u);
    ++pos_;
    return true;
}

bool Reader::Floats(float* out, size_t n) {
    // With n values left, one check covers them all; a string among them is refused by F32.
    if (n <= Remaining()) {
        const Value* v = o_.values.data() + pos_;
        for (size_t i = 0; i < n; ++i) {
            if (v[i].kind == Value::Float) {
                out[i] = v[i].f;
            } else if (v[i].kind == Value::UInt) {
                out[i] = float(v[i].u);
            } else {
                pos_ += i;
                return F32Other(out[i]);
            }
        }
        pos_ += n;
        return true;
    }
    for (size_t i = 0; i < n; ++i)
        if (!F32(out[i])) return false;
    return true;
}

bool Reader::Str(std::string& out) {
    if (pos_ >= o_.values.size()) return Short();
    const Value& v = o_.values[pos_];
    if (v.kind != Value::String)
        return ctx_.Fail(o_, "value " + std::to_string(pos_) + " is not a string");
    out = o_.strings[v.str];
    ++pos_;
    return true;
}

bool Reader::TooMany(uint32_t n, const char* what) {
    return ctx_.Fail(o_, std::string(what) + " " + std::to_string(n) + " exceeds the " +
                             std::to_string(Remaining()) + " values that follow");
}

bool BuildScene(const Document& doc, Scene& scene, std::string& error) {
    scene = Scene{};
    BuildContext ctx(doc, error);
    SceneBuilder builder{ctx, scene, {}};
    return builder.Run();
}

bool ReadScene(std::span<const uint8_t> file, Scene& scene, std::string& error) {
    Document doc;
    if (!ParseDocument(file, KnownType, doc, error)) return false;
    return BuildScene(doc, scene, error);
}

bool LoadSceneFile(const char* fileName, Scene& scene) {
    const std::string name = fileName ? fileName : "(null)";
    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadRegularFile(fileName, kMaxFileBytes, bytes, error) ||
        !ReadScene(bytes, scene, error)) {
        ReportError(name + ": " + error);
        return false;
    }
    return true;
}

bool LoadScene(const char* fileName, const void* data, DWORD size, Scene& scene) {
    if (!data) return LoadSceneFile(fileName, scene);
    std::string error;
    if (!ReadScene({static_cast<const uint8_t*>(data), size}, scene, error)) {
        ReportError(std::string(fileName ? fileName : "(memory)") + ": " + error);
        return false;
    }
    return true;
}

void SetErrorSink(ErrorSink sink) {
    Sink() = std::move(sink);
}

void ReportError(const std::string& line) {
    if (Sink())
        Sink()(line);
    else
        std::fprintf(stderr, "%s\n", line.c_str());
}

} // namespace xfile
