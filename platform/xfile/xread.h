// Reading the members of one data object, every count checked against what remains.
// Internal to platform/xfile.
#pragma once

#include "platform/xfile/xparse.h"
#include "platform/xfile/xscene.h"

#include <string>
#include <string_view>
#include <unordered_map>

namespace xfile {

constexpr uint64_t kMaxSceneBytes = uint64_t(512) << 20;
// A weight on one vertex copy: its place in the bone's lists, then twice in the skin the loader
// makes of them (per bone and regrouped per vertex).
constexpr uint64_t kSkinEntryBytes = 24;
constexpr size_t kMaxTextureName = 1024;

// Template names compare without case, as exporters vary ("TextureFileName").
bool EqualsNoCase(std::string_view a, std::string_view b);
bool TypeIs(const DataObject& o, std::string_view type);

struct BuildContext {
    explicit BuildContext(const Document& d, std::string& e);

    // error = "<place of o>: <reason>"; returns false.
    bool Fail(const DataObject& o, const std::string& reason);
    // The object a reference names, among the named objects of the given type; null if none.
    const DataObject* Resolve(const DataObject& ref, std::string_view type) const;
    // An inline child of the type, or a reference to one.
    const DataObject* ChildOfType(const DataObject& child, std::string_view type) const;
    // "Mesh 'Cube'" or "Mesh", for messages.
    static std::string Describe(const DataObject& o);
    // Counts memory the scene takes for o. References can repeat an object many times over
    // (a mesh in many frames, a material in many lists), so the total is capped.
    bool Charge(const DataObject& o, uint64_t bytes);
    // Whether bytes more would still fit, checked before building what Charge counts later.
    bool Fits(const DataObject& o, uint64_t bytes);

    const Document& doc;
    std::string& error;
    std::unordered_map<std::string, uint32_t> named; // "type\nname" -> first object so named
    uint64_t charged = 0;
};

class Reader {
  public:
    Reader(BuildContext& ctx, const DataObject& o) : ctx_(ctx), o_(o) {}

    // The common kinds are read inline; every other case (and every refusal) goes through the
    // out-of-line checks, which large meshes reach only for their few odd values.
    bool U32(uint32_t& out) {
        if (pos_ < o_.values.size() && o_.values[pos_].kind == Value::UInt) {
            out = o_.values[pos_++].u;
            return true;
        }
        return U32Other(out);
    }
    bool F32(float& out) {
        if (pos_ < o_.values.size() && o_.values[pos_].kind == Value::Float) {
            out = o_.values[pos_++].f;
            return true;
        }
        return F32Other(out);
    }
    bool Str(std::string& out);
    bool Floats(float* out, size_t n);
    // A count of items that take at least valuesEach values each: refused when the values left
    // cannot hold them, so no allocation follows an unchecked count.
    bool Count(uint32_t& n, size_t valuesEach, const char* what) {
        if (!U32(n)) return false;
        if (valuesEach > 0 && n > Remaining() / valuesEach) return TooMany(n, what);
        return true;
    }
    size_t Remaining() const { return o_.values.size() - pos_; }

  private:
    bool U32Other(uint32_t& out);
    bool F32Other(float& out);
    bool TooMany(uint32_t n, const char* what);
    bool Short();
    BuildContext& ctx_;
    const DataObject& o_;
    size_t pos_ = 0;
};

bool BuildMesh(BuildContext& ctx, const DataObject& o, MeshData& mesh);

} // namespace xfile
