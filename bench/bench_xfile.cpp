// The .x reader against Assimp, side by side in one run: for each file, rounds in which our
// hierarchy load (file to frames, meshes, skin, adjacency, controller), our parse alone (bytes
// to scene) and Assimp's aiImportFile run one after the other, in an order that rotates; each
// round gives a ratio, and the median ratio is reported (timings on a shared machine drift,
// ratios measured side by side much less). Files: our models, a large binary model written
// here, and the third-party files when present. Then software skinning throughput.
//
// bench_xfile [ROUNDS] [KEEP]: KEEP names a file to keep the large model in.
#include "bench/bench_spawn.h"
#include "platform/xfile/d3dx_hierarchy.h"
#include "platform/xfile/xscene.h"
#include "tests/support/copying_allocator.h"

#include <assimp/cimport.h>
#include <assimp/scene.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A binary .x file (32-bit floats) of one frame holding an n x n grid mesh with normals,
// texture coordinates and two materials: the shape of a large exported model.
std::vector<uint8_t> LargeBinaryModel(uint32_t n) {
    std::vector<uint8_t> out;
    auto raw = [&](const void* p, size_t size) {
        out.insert(out.end(), static_cast<const uint8_t*>(p),
                   static_cast<const uint8_t*>(p) + size);
    };
    auto u16 = [&](uint16_t v) { raw(&v, 2); };
    auto u32 = [&](uint32_t v) { raw(&v, 4); };
    auto name = [&](const char* s) {
        u16(1);
        u32(uint32_t(std::strlen(s)));
        raw(s, std::strlen(s));
    };
    auto open = [&](const char* type, const char* n = nullptr) {
        name(type);
        if (n) name(n);
        u16(10);
    };
    auto close = [&] { u16(11); };
    auto ints = [&](const std::vector<uint32_t>& v) {
        u16(6);
        u32(uint32_t(v.size()));
        raw(v.data(), v.size() * 4);
    };
    auto floats = [&](const std::vector<float>& v) {
        u16(7);
        u32(uint32_t(v.size()));
        raw(v.data(), v.size() * 4);
    };
    raw("xof 0303bin 0032", 16);
    open("Frame", "Grid");
    open("FrameTransformMatrix");
    floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    close();
    open("Mesh", "grid");
    std::vector<float> positions, normals, uvs;
    for (uint32_t y = 0; y < n; ++y)
        for (uint32_t x = 0; x < n; ++x) {
            positions.insert(positions.end(), {float(x), float((x * y) % 7) * 0.1f, float(y)});
            normals.insert(normals.end(), {0, 1, 0});
            uvs.insert(uvs.end(), {float(x) / float(n), float(y) / float(n)});
        }
    std::vector<uint32_t> faces{2 * (n - 1) * (n - 1)}, materials{2, faces[0]};
    for (uint32_t y = 0; y + 1 < n; ++y)
        for (uint32_t x = 0; x + 1 < n; ++x) {
            const uint32_t a = y * n + x, m = x < n / 2 ? 0u : 1u;
            faces.insert(faces.end(), {3, a, a + n, a + 1, 3, a + 1, a + n, a + n + 1});
            materials.insert(materials.end(), {m, m});
        }
    ints({n * n});
    floats(positions);
    ints(faces);
    open("MeshNormals");
    ints({n * n});
    floats(normals);
    ints(faces);
    close();
    open("MeshTextureCoords");
    ints({n * n});
    floats(uvs);
    close();
    open("MeshMaterialList");
    ints(materials);
    for (float grey : {0.5f, 0.8f}) {
        open("Material");
        floats({grey, grey, grey, 1, 8, 0, 0, 0, 0, 0, 0});
        close();
    }
    close(); // material list
    close(); // mesh
    close(); // frame
    return out;
}

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

std::string BaseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

bool OurLoad(const std::string& path) {
    CopyingAllocator allocator;
    D3DXFRAME* root = nullptr;
    AnimControllerPtr controller;
    const bool ok = D3DXLoadMeshHierarchyFromXA(path.c_str(), 0, nullptr, &allocator, nullptr,
                                                &root, &controller) == S_OK;
    controller.reset();
    D3DXFrameDestroy(root, &allocator);
    return ok;
}

bool OurParse(const std::vector<uint8_t>& bytes) {
    xfile::Scene scene;
    std::string error;
    return xfile::ReadScene(bytes, scene, error);
}

bool AssimpLoad(const std::string& path) {
    const aiScene* scene = aiImportFile(path.c_str(), 0);
    aiReleaseImport(scene);
    return scene != nullptr;
}

// Median times and ratios of `rounds` interleaved rounds.
void Compare(const std::string& path, int rounds) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    std::vector<double> ours, parse, theirs, load, parseRatio;
    for (int r = 0; r < rounds; ++r) {
        double t[3] = {};
        for (int k = 0; k < 3; ++k) {
            const int which = (k + r) % 3; // rotate the order each round
            const auto start = Clock::now();
            const bool ok = which == 0   ? OurLoad(path)
                            : which == 1 ? OurParse(bytes)
                                         : AssimpLoad(path);
            t[which] = Seconds(start);
            if (!ok) {
                std::printf("%-32s failed (%s)\n", BaseName(path).c_str(),
                            which == 2 ? "Assimp" : "ours");
                return;
            }
        }
        ours.push_back(t[0]);
        parse.push_back(t[1]);
        theirs.push_back(t[2]);
        load.push_back(t[2] / t[0]);
        parseRatio.push_back(t[2] / t[1]);
    }
    std::printf("%-32s %9zu %9.2f %9.2f %9.2f %8.2fx %8.2fx\n", BaseName(path).c_str(),
                bytes.size(), Median(ours) * 1e3, Median(parse) * 1e3, Median(theirs) * 1e3,
                Median(load), Median(parseRatio));
}

// Software skinning of the first skinned mesh of a file, in a pose of its first set.
void Skinning(const std::string& path) {
    CopyingAllocator allocator;
    D3DXFRAME* root = nullptr;
    AnimControllerPtr controller;
    if (D3DXLoadMeshHierarchyFromXA(path.c_str(), 0, nullptr, &allocator, nullptr, &root,
                                    &controller) != S_OK)
        return;
    const D3DXMESHCONTAINER* c = nullptr;
    std::vector<const D3DXFRAME*> stack{root};
    while (!stack.empty() && !c) {
        const D3DXFRAME* f = stack.back();
        stack.pop_back();
        if (f->pMeshContainer && f->pMeshContainer->pSkinInfo) c = f->pMeshContainer;
        for (const D3DXFRAME* g : {f->pFrameSibling, f->pFrameFirstChild})
            if (g) stack.push_back(g);
    }
    if (c) {
        const ID3DXSkinInfo& skin = *c->pSkinInfo;
        std::vector<D3DXMATRIX> bones(skin.GetNumBones());
        for (DWORD b = 0; b < bones.size(); ++b) {
            const D3DXFRAME* f = D3DXFrameFind(root, skin.GetBoneName(b));
            MultiplyMatrices(&bones[b], *skin.GetBoneOffsetMatrix(b),
                             f ? f->TransformationMatrix : IdentityMatrix());
        }
        const auto source = c->MeshData.pMesh->Vertices();
        std::vector<MeshVertex> out(source.size());
        std::vector<double> rates;
        for (int r = 0; r < 15; ++r) {
            const auto start = Clock::now();
            for (int i = 0; i < 50; ++i)
                skin.UpdateSkinnedMesh(bones.data(), nullptr, source.data(), out.data());
            rates.push_back(50.0 * double(source.size()) / Seconds(start));
        }
        std::printf("skinning %-23s %6zu vertices %3zu bones: %7.1f M vertices/s\n",
                    BaseName(path).c_str(), source.size(), bones.size(), Median(rates) / 1e6);
    }
    controller.reset();
    D3DXFrameDestroy(root, &allocator);
}

// Hostile shapes, each loaded or refused through the hierarchy loader: the median time of five
// runs, and the outcome. The reader refuses the first and the last before building much.
void Hostile() {
    std::string refs = "xof 0303txt 0032\nFrame F {\n", siblings = "xof 0303txt 0032\n";
    for (int i = 0; i < (16 << 20) / 3; ++i) refs += "{a}";
    refs += "}\n";
    for (int i = 0; i < 300000; ++i) siblings += "Frame{}";
    // One position split 6000 ways by its normals, with 6000 weights on it.
    std::string skin = "xof 0303txt 0032\nFrame F { Mesh m {\n1; 0;0;0;;\n6000;\n", normals, faces,
                ids, weights;
    for (int i = 0; i < 6000; ++i) {
        const std::string n = std::to_string(i), sep = i < 5999 ? "," : ";";
        skin += "3;0,0,0;" + sep;
        normals += std::to_string(i + 1) + ";0;0;" + sep;
        faces += "3;" + n + "," + n + "," + n + ";" + sep;
        ids += "0" + sep;
        weights += "1" + sep;
    }
    skin += "\nMeshNormals { 6000;\n" + normals + "\n6000;\n" + faces +
            "}\nSkinWeights { \"F\"; 6000;\n" + ids + weights +
            "1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; } } }\n";
    const std::pair<const char*, const std::string*> cases[] = {
        {"16 MiB of {a} references", &refs},
        {"300 000 sibling frames", &siblings},
        {"one position split 6000 ways", &skin}};
    std::printf("hostile .x files, medians of 5 (ms)\n");
    xfile::SetErrorSink([](const std::string&) {}); // the outcome is printed instead
    for (const auto& [what, text] : cases) {
        std::vector<double> t;
        HRESULT hr = S_OK;
        for (int r = 0; r < 5; ++r) {
            CopyingAllocator allocator;
            D3DXFRAME* root = nullptr;
            const auto start = Clock::now();
            hr = D3DXLoadMeshHierarchyFromXInMemory(text->data(), DWORD(text->size()), 0, nullptr,
                                                    &allocator, nullptr, &root, nullptr);
            D3DXFrameDestroy(root, &allocator);
            t.push_back(Seconds(start));
        }
        std::printf("%-32s %9.1f %s\n", what, Median(t) * 1e3, hr == S_OK ? "loaded" : "refused");
    }
    xfile::SetErrorSink(nullptr);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const std::string large = argc > 2 ? argv[2]
                                       : (std::filesystem::temp_directory_path() /
                                          ("duoscope_large_" + std::to_string(getpid()) + ".x"))
                                             .string();
    const std::vector<uint8_t> model = LargeBinaryModel(300);
    std::ofstream(large, std::ios::binary)
        .write(reinterpret_cast<const char*>(model.data()), std::streamsize(model.size()));
    std::vector<std::string> files = {DUO_SOURCE_DIR "/data/room.x",
                                      DUO_SOURCE_DIR "/data/seaman.x",
                                      DUO_SOURCE_DIR "/data/fatman.x", large};
    const std::string third = DUO_XFILES_DIR;
    if (std::filesystem::is_directory(third)) {
        for (const char* f : {"test_cube_text.x", "test_cube_binary.x", "test_cube_compressed.x",
                              "kwxport_test_cubewithvcolors.x", "Testwuson.X"})
            files.push_back(third + "/" + f);
    } else {
        std::printf("third-party .x files not found in %s: only ours are measured\n",
                    third.c_str());
    }
    std::printf(".x loading, %d interleaved rounds, medians (ms; ratio = Assimp time / ours)\n",
                rounds);
    std::printf("%-32s %9s %9s %9s %9s %9s %9s\n", "file", "bytes", "load", "parse", "Assimp",
                "load", "parse");
    for (const std::string& f : files) Compare(f, rounds);
    for (const std::string& f : {files[1], files[2], third + "/Testwuson.X"})
        if (std::filesystem::exists(f)) Skinning(f);
    Hostile();
    if (argc <= 2) std::filesystem::remove(large);
    return 0;
}
