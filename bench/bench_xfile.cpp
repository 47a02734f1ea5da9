// The .x reader: parse + hierarchy load of each shared file against Assimp's aiImportFile on the
// same file in the same run, the reader alone from memory, and software skinning throughput.
#include "platform/xfile/d3dx_hierarchy.h"
#include "platform/xfile/xscene.h"
#include "tests/support/copying_allocator.h"

#include <assimp/cimport.h>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

// Our own models and the third-party files.
const std::string kFiles[] = {
    DUO_SOURCE_DIR "/data/room.x",
    DUO_SOURCE_DIR "/data/seaman.x",
    DUO_SOURCE_DIR "/data/fatman.x",
    DUO_SHARED_DIR "/xfiles/test_cube_text.x",
    DUO_SHARED_DIR "/xfiles/test_cube_binary.x",
    DUO_SHARED_DIR "/xfiles/test_cube_compressed.x",
    DUO_SHARED_DIR "/xfiles/kwxport_test_cubewithvcolors.x",
    DUO_SHARED_DIR "/xfiles/Testwuson.X",
};

std::string BaseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

void OurHierarchyLoad(benchmark::State& state, std::string path) {
    CopyingAllocator allocator;
    for (auto _ : state) {
        D3DXFRAME* root = nullptr;
        AnimControllerPtr controller;
        if (D3DXLoadMeshHierarchyFromXA(path.c_str(), 0, nullptr, &allocator, nullptr, &root,
                                        &controller) != S_OK)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(root);
        controller.reset();
        D3DXFrameDestroy(root, &allocator);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(ReadBytes(path).size()));
}

void AssimpImport(benchmark::State& state, std::string path) {
    for (auto _ : state) {
        const aiScene* scene = aiImportFile(path.c_str(), 0);
        if (!scene) state.SkipWithError("assimp failed");
        benchmark::DoNotOptimize(scene);
        aiReleaseImport(scene);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(ReadBytes(path).size()));
}

void OurReaderFromMemory(benchmark::State& state, std::string path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    for (auto _ : state) {
        xfile::Scene scene;
        std::string error;
        if (!xfile::ReadScene(bytes, scene, error)) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(scene.meshes.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

const D3DXMESHCONTAINER* FindSkinned(const D3DXFRAME* f) {
    if (!f) return nullptr;
    if (f->pMeshContainer && f->pMeshContainer->pSkinInfo) return f->pMeshContainer;
    if (const D3DXMESHCONTAINER* c = FindSkinned(f->pFrameFirstChild)) return c;
    return FindSkinned(f->pFrameSibling);
}

// Skinning the first skinned mesh of a file (Wuson: 3205 vertices, 37 bones) in a pose of its
// first animation set.
void Skinning(benchmark::State& state, const std::string& path) {
    CopyingAllocator allocator;
    D3DXFRAME* root = nullptr;
    AnimControllerPtr controller;
    D3DXLoadMeshHierarchyFromXA(path.c_str(), 0, nullptr, &allocator, nullptr, &root, &controller);
    AnimSetPtr set;
    controller->GetAnimationSet(0, &set);
    controller->SetTrackAnimationSet(0, set);
    controller->SetTrackPosition(0, 0.3);
    controller->AdvanceTime(0, nullptr);
    const D3DXMESHCONTAINER* c = FindSkinned(root);
    if (!c) {
        state.SkipWithError("no skinned mesh");
        return;
    }
    const ID3DXSkinInfo& skin = *c->pSkinInfo;
    std::vector<D3DXMATRIX> bones(skin.GetNumBones());
    // The bones' own matrices stand in for their combined ones: the cost does not depend on
    // the values.
    for (DWORD b = 0; b < bones.size(); ++b) {
        const D3DXFRAME* f = D3DXFrameFind(root, skin.GetBoneName(b));
        MultiplyMatrices(&bones[b], *skin.GetBoneOffsetMatrix(b),
                         f ? f->TransformationMatrix : IdentityMatrix());
    }
    const auto source = c->MeshData.pMesh->Vertices();
    std::vector<MeshVertex> out(source.size());
    for (auto _ : state) {
        skin.UpdateSkinnedMesh(bones.data(), nullptr, source.data(), out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(source.size()));
    state.SetLabel("items = vertices");
    controller.reset();
    D3DXFrameDestroy(root, &allocator);
}

} // namespace

int main(int argc, char** argv) {
    for (const std::string& f : kFiles) {
        const std::string name = BaseName(f);
        benchmark::RegisterBenchmark(("HierarchyLoad/ours/" + name).c_str(), OurHierarchyLoad, f)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("HierarchyLoad/assimp/" + name).c_str(), AssimpImport, f)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("ReaderOnly/" + name).c_str(), OurReaderFromMemory, f)
            ->Unit(benchmark::kMicrosecond);
    }
    for (const std::string& f : {kFiles[1], kFiles[2], kFiles[7]})
        benchmark::RegisterBenchmark(("Skinning/" + BaseName(f)).c_str(), Skinning, f)
            ->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
