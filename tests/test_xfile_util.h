// Helpers of the .x reader tests: where the files are, reading them, a loaded hierarchy.
#pragma once

#include "support/copying_allocator.h"

#include "platform/xfile/xscene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace xtest {

// Our own fixtures (tests/fuzz/corpus/xfile/, they seed the fuzzer too).
inline std::string Corpus(const std::string& name) {
    return DUO_SOURCE_DIR "/tests/fuzz/corpus/xfile/" + name;
}
// Third-party files: an extra stage, skipped when the folder is absent.
inline std::string ThirdParty(const std::string& name) {
    return DUO_XFILES_DIR "/" + name;
}
#define SKIP_WITHOUT_THIRD_PARTY()                                                                 \
    if (!std::filesystem::is_directory(DUO_XFILES_DIR))                                            \
    GTEST_SKIP() << "third-party .x files not found in " DUO_XFILES_DIR

// The bytes of a file; a missing or empty file fails the test.
inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_FALSE(bytes.empty()) << "cannot read " << path;
    return bytes;
}

inline std::string Text(const std::string& body) {
    return "xof 0303txt 0032\n" + body;
}
inline std::vector<uint8_t> TextBytes(const std::string& body) {
    const std::string s = Text(body);
    return {s.begin(), s.end()};
}

// Reads an image that must be accepted.
inline xfile::Scene MustRead(const std::vector<uint8_t>& bytes) {
    xfile::Scene s;
    std::string error;
    EXPECT_TRUE(xfile::ReadScene(bytes, s, error)) << error;
    return s;
}

// A hierarchy loaded through a CopyingAllocator; on leaving scope it is destroyed and must leave no
// frame or container behind.
struct Loaded {
    CopyingAllocator allocator;
    D3DXFRAME* root = nullptr;
    AnimControllerPtr controller;

    HRESULT File(const std::string& path) {
        return D3DXLoadMeshHierarchyFromXA(path.c_str(), 0, nullptr, &allocator, nullptr, &root,
                                           &controller);
    }
    HRESULT Memory(const std::string& text) {
        return D3DXLoadMeshHierarchyFromXInMemory(text.data(), DWORD(text.size()), 0, nullptr,
                                                  &allocator, nullptr, &root, &controller);
    }
    ~Loaded() {
        controller.reset();
        EXPECT_EQ(D3DXFrameDestroy(root, &allocator), S_OK);
        EXPECT_EQ(allocator.live, 0);
    }
};

inline float MaxDifference(const D3DXMATRIX& a, const D3DXMATRIX& b) {
    float d = 0;
    for (int i = 0; i < 16; ++i) d = std::max(d, std::fabs((&a.m[0][0])[i] - (&b.m[0][0])[i]));
    return d;
}

} // namespace xtest
