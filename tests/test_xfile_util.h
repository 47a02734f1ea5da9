// Helpers shared by the .x reader tests: the shared files, a writer for binary and compressed
// .x images, a recording hierarchy allocator, a loaded hierarchy and an error-line collector.
#pragma once

#include "support/copying_allocator.h"

#include "platform/xfile/d3dx_hierarchy.h"
#include "platform/xfile/xscene.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace xtest {

inline std::string SharedFile(const char* name) {
    return std::string(DUO_SHARED_DIR) + "/xfiles/" + name;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

inline std::string Text(const std::string& body) {
    return "xof 0303txt 0032\n" + body;
}

// Reads a text or binary image; on failure the error is returned through *error.
inline bool Read(const std::vector<uint8_t>& bytes, xfile::Scene& scene,
                 std::string* error = nullptr) {
    std::string e;
    const bool ok = xfile::ReadScene(bytes, scene, e);
    if (error) *error = e;
    return ok;
}

// Collects refusal lines instead of printing them, for the life of the object.
struct ErrorLines {
    std::vector<std::string> lines;
    ErrorLines() {
        xfile::SetErrorSink([this](const std::string& l) { lines.push_back(l); });
    }
    ~ErrorLines() { xfile::SetErrorSink(nullptr); }
};

// Writes the binary token stream of an .x file (little-endian).
struct BinaryWriter {
    std::vector<uint8_t> out;
    int floatBytes;
    explicit BinaryWriter(int floatBytes = 4) : floatBytes(floatBytes) {
        out = Bytes(floatBytes == 8 ? "xof 0303bin 0064" : "xof 0303bin 0032");
    }
    void Raw(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) out.push_back(uint8_t(v >> 8 * i));
    }
    void U16(uint16_t v) { Raw(v, 2); }
    void U32(uint32_t v) { Raw(v, 4); }
    void Name(const std::string& s) {
        U16(1);
        U32(uint32_t(s.size()));
        out.insert(out.end(), s.begin(), s.end());
    }
    void Ints(const std::vector<uint32_t>& v) {
        U16(6);
        U32(uint32_t(v.size()));
        for (uint32_t x : v) U32(x);
    }
    void Floats(const std::vector<double>& v) {
        U16(7);
        U32(uint32_t(v.size()));
        for (double d : v) {
            const float f = float(d);
            uint64_t bits = 0;
            std::memcpy(&bits, floatBytes == 8 ? static_cast<const void*>(&d) : &f, floatBytes);
            Raw(bits, floatBytes);
        }
    }
    void Open(const std::string& type, const std::string& name = "") {
        Name(type);
        if (!name.empty()) Name(name);
        U16(10);
    }
    void Close() { U16(11); }
};

// Packs the body of an .x image (everything after its 16-byte header) into the compressed
// format: each block deflated with the previous output as its dictionary.
inline std::vector<uint8_t> Compress(const std::vector<uint8_t>& image, size_t blockSize = 32768) {
    std::vector<uint8_t> out(image.begin(), image.begin() + 16);
    std::memcpy(out.data() + 8, image[8] == 'b' ? "bzip" : "tzip", 4);
    const uint32_t total = uint32_t(image.size());
    out.insert(out.end(),
               {uint8_t(total), uint8_t(total >> 8), uint8_t(total >> 16), uint8_t(total >> 24)});
    for (size_t pos = 16; pos < image.size(); pos += blockSize) {
        const size_t n = std::min(blockSize, image.size() - pos);
        z_stream zs{};
        deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        const size_t dict = std::min<size_t>(pos - 16, 32768);
        if (dict) deflateSetDictionary(&zs, image.data() + pos - dict, uInt(dict));
        std::vector<uint8_t> packed(deflateBound(&zs, uLong(n)) + 16);
        zs.next_in = const_cast<Bytef*>(image.data() + pos);
        zs.avail_in = uInt(n);
        zs.next_out = packed.data();
        zs.avail_out = uInt(packed.size());
        deflate(&zs, Z_FINISH);
        packed.resize(zs.total_out);
        deflateEnd(&zs);
        const uint16_t plain = uint16_t(n), size = uint16_t(packed.size() + 2);
        out.insert(out.end(), {uint8_t(plain), uint8_t(plain >> 8), uint8_t(size),
                               uint8_t(size >> 8), 'C', 'K'});
        out.insert(out.end(), packed.begin(), packed.end());
    }
    return out;
}

// An allocator that records its calls, keeps copies of what it is given, and can be told to
// fail its n-th call. Records are value-initialised: links start null.
class TestAllocator : public CopyingAllocator {
  public:
    std::vector<std::string> calls; // "F name" / "M name", null names as "<null>"
    int failAt = 0;                 // 1-based create call that fails; 0: none
    int liveFrames = 0, liveContainers = 0;

    HRESULT CreateFrame(const char* name, D3DXFRAME** out) override {
        if (!Record("F ", name)) return E_FAIL;
        ++liveFrames;
        return CopyingAllocator::CreateFrame(name, out);
    }
    HRESULT CreateMeshContainer(const char* name, const D3DXMESHDATA* data,
                                const D3DXMATERIAL* materials, const D3DXEFFECTINSTANCE* effects,
                                DWORD numMaterials, const DWORD* adjacency, const SkinInfoPtr& skin,
                                D3DXMESHCONTAINER** out) override {
        if (!Record("M ", name)) return E_FAIL;
        ++liveContainers;
        return CopyingAllocator::CreateMeshContainer(name, data, materials, effects, numMaterials,
                                                     adjacency, skin, out);
    }
    HRESULT DestroyFrame(D3DXFRAME* f) override {
        liveFrames -= f != nullptr;
        return CopyingAllocator::DestroyFrame(f);
    }
    HRESULT DestroyMeshContainer(D3DXMESHCONTAINER* c) override {
        liveContainers -= c != nullptr;
        return CopyingAllocator::DestroyMeshContainer(c);
    }

  private:
    bool Record(const char* kind, const char* name) {
        calls.push_back(kind + std::string(name ? name : "<null>"));
        return int(calls.size()) != failAt;
    }
};

// A hierarchy loaded through TestAllocator; on leaving scope it is destroyed and must leave no
// frame or container behind.
struct Loaded {
    TestAllocator allocator;
    D3DXFRAME* root = nullptr;
    AnimControllerPtr controller;

    HRESULT File(const std::string& path, bool animations = true) {
        return D3DXLoadMeshHierarchyFromXA(path.c_str(), 0, nullptr, &allocator, nullptr, &root,
                                           animations ? &controller : nullptr);
    }
    HRESULT Memory(const std::string& text) {
        return D3DXLoadMeshHierarchyFromXInMemory(text.data(), DWORD(text.size()), 0, nullptr,
                                                  &allocator, nullptr, &root, &controller);
    }
    ~Loaded() {
        controller.reset();
        EXPECT_EQ(D3DXFrameDestroy(root, &allocator), S_OK);
        EXPECT_EQ(allocator.liveFrames, 0);
        EXPECT_EQ(allocator.liveContainers, 0);
    }
};

inline const CopyingContainer* Container(const D3DXFRAME* f) {
    return static_cast<const CopyingContainer*>(f->pMeshContainer);
}

// Frames of a tree in pre-order (frame, children, then siblings).
inline std::vector<const D3DXFRAME*> Frames(const D3DXFRAME* root) {
    std::vector<const D3DXFRAME*> out, stack;
    if (root) stack.push_back(root);
    while (!stack.empty()) {
        const D3DXFRAME* f = stack.back();
        stack.pop_back();
        out.push_back(f);
        if (f->pFrameSibling) stack.push_back(f->pFrameSibling);
        if (f->pFrameFirstChild) stack.push_back(f->pFrameFirstChild);
    }
    return out;
}

inline float MaxDifference(const D3DXMATRIX& a, const D3DXMATRIX& b) {
    float d = 0;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) d = std::max(d, std::fabs(a.m[r][c] - b.m[r][c]));
    return d;
}

} // namespace xtest
