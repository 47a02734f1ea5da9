// libFuzzer target: arbitrary bytes through the .x reader, both loaders, posing and skinning.
// Any crash, sanitizer report, hang or runaway allocation is a bug; refusals are expected.
#include "platform/xfile/d3dx_hierarchy.h"
#include "platform/xfile/xscene.h"
#include "tests/support/copying_allocator.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

void Skin(const D3DXFRAME* root, const D3DXFRAME* f) {
    for (; f; f = f->pFrameSibling) {
        for (const D3DXMESHCONTAINER* c = f->pMeshContainer; c; c = c->pNextMeshContainer) {
            if (!c->pSkinInfo) continue;
            std::vector<D3DXMATRIX> bones(c->pSkinInfo->GetNumBones());
            for (DWORD b = 0; b < bones.size(); ++b) {
                const D3DXFRAME* bone = D3DXFrameFind(root, c->pSkinInfo->GetBoneName(b));
                MultiplyMatrices(&bones[b], *c->pSkinInfo->GetBoneOffsetMatrix(b),
                                 bone ? bone->TransformationMatrix : IdentityMatrix());
            }
            const auto source = c->MeshData.pMesh->Vertices();
            std::vector<MeshVertex> out(source.size());
            c->pSkinInfo->UpdateSkinnedMesh(bones.data(), nullptr, source.data(), out.data());
        }
        Skin(root, f->pFrameFirstChild);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    [[maybe_unused]] static const bool quiet =
        (xfile::SetErrorSink([](const std::string&) {}), true);
    xfile::Scene scene;
    std::string error;
    if (!xfile::ReadScene({data, size}, scene, error)) return 0;

    CopyingAllocator allocator;
    D3DXFRAME* root = nullptr;
    AnimControllerPtr controller;
    if (D3DXLoadMeshHierarchyFromXInMemory(data, DWORD(size), 0, nullptr, &allocator, nullptr,
                                           &root, &controller) == S_OK) {
        AnimSetPtr set;
        for (UINT s = 0; controller && controller->GetAnimationSet(s, &set) == S_OK; ++s) {
            controller->SetTrackAnimationSet(0, set);
            controller->SetTrackEnable(0, true);
            for (double t : {0.0, 0.37, -1.5, set->GetPeriod(), 1e9}) {
                controller->SetTrackPosition(0, t);
                controller->AdvanceTime(0, nullptr);
            }
        }
        Skin(root, root);
        controller.reset();
        D3DXFrameDestroy(root, &allocator);
    }

    BufferPtr adjacency, materials, effects;
    DWORD count = 0;
    MeshPtr mesh;
    D3DXLoadMeshFromXInMemory(data, DWORD(size), 0, nullptr, &adjacency, &materials, &effects,
                              &count, &mesh);
    return 0;
}
