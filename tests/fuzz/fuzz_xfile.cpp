// libFuzzer target: arbitrary bytes through the .x reader and both loaders, and each loaded
// hierarchy through the viewer's own walks: bones linked, posed, skinned, drawn on the
// recording device.
// Any crash, sanitizer report, hang or runaway allocation is a bug; refusals are expected.
#include "core/matrix.h"
#include "core/settings.h"
#include "models/model.h"
#include "platform/gfx/recording_device.h"
#include "platform/xfile/xscene.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

// The viewer's allocator without the texture files: inputs name any path at all.
struct NoTextureFiles : HierarchyAllocator {
    HRESULT CreateMeshContainer(const char* name, const D3DXMESHDATA* data,
                                const D3DXMATERIAL* materials, const D3DXEFFECTINSTANCE* effects,
                                DWORD count, const DWORD* adjacency, const SkinInfoPtr& skin,
                                D3DXMESHCONTAINER** out) override {
        std::vector<D3DXMATERIAL> copies(materials, materials + (materials ? count : 0));
        for (D3DXMATERIAL& m : copies) m.pTextureFilename = nullptr;
        return HierarchyAllocator::CreateMeshContainer(
            name, data, materials ? copies.data() : nullptr, effects, count, adjacency, skin, out);
    }
} s_allocator;

// What the viewer does with a loaded model each frame: pose it, skin it, draw both sweeps.
void PoseAndDraw(ModelFrame* root) {
    const D3DXMATRIX identity = IdentityMatrix();
    UpdateFrameMatrices(root, &identity);
    UpdateSkins(root);
    DrawFrame(root, identity, Sweep::Opaque);
    DrawFrame(root, identity, Sweep::Translucent);
    static_cast<RecordingDevice*>(g_pDevice.get())->calls.clear();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    [[maybe_unused]] static const bool ready =
        (xfile::SetErrorSink([](const std::string&) {}),
         g_pDevice = std::make_shared<RecordingDevice>(), true);
    xfile::Scene scene;
    std::string error;
    if (!xfile::ReadScene({data, size}, scene, error)) return 0;

    D3DXFRAME* root = nullptr;
    AnimControllerPtr controller;
    if (D3DXLoadMeshHierarchyFromXInMemory(data, DWORD(size), 0, g_pDevice.get(), &s_allocator,
                                           nullptr, &root, &controller) == S_OK) {
        auto* model = static_cast<ModelFrame*>(root);
        LinkBones(model, model);
        PoseAndDraw(model);
        AnimSetPtr set;
        for (UINT s = 0; controller && controller->GetAnimationSet(s, &set) == S_OK; ++s) {
            controller->SetTrackAnimationSet(0, set);
            controller->SetTrackEnable(0, true);
            for (double t : {0.0, 0.37, -1.5, set->GetPeriod(), 1e9}) {
                controller->SetTrackPosition(0, t);
                controller->AdvanceTime(0, nullptr);
                PoseAndDraw(model);
            }
        }
        controller.reset();
        D3DXFrameDestroy(root, &s_allocator);
    }

    BufferPtr adjacency, materials, effects;
    DWORD count = 0;
    MeshPtr mesh;
    D3DXLoadMeshFromXInMemory(data, DWORD(size), 0, nullptr, &adjacency, &materials, &effects,
                              &count, &mesh);
    return 0;
}
