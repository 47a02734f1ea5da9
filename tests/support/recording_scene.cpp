#include "support/recording_scene.h"

#include "core/settings.h"
#include "models/model.h"
#include "scene/scene.h"

std::shared_ptr<RecordingDevice> UseRecordingDevice(bool withEffect) {
    ReleaseRecordingDevice();
    ResetSettings();
    ResetScene();
    auto device = std::make_shared<RecordingDevice>();
    device->techniquePasses = {{"StandardShading", 1}, {"DuoscopeWithZ", 2}, {"Duoscope", 2}};
    g_pDevice = device;
    g_pFont = device->CreateFontObject(18, "Times New Roman");
    g_pFontBold = device->CreateFontObject(18, "Times New Roman Bold");
    if (withEffect) g_pEffect = device->CreateEffectFromFile("Duoscope.fx");
    device->calls.clear();
    return device;
}

void ReleaseRecordingDevice() {
    for (int slot = 0; slot < kModelSlotCount; ++slot) {
        if (!IsModelSlotEmpty(slot)) FreeModel(slot);
        g_ModelSlots[slot] = ModelSlot{};
    }
    g_pEffect.reset();
    g_pFont.reset();
    g_pFontBold.reset();
    g_pDevice.reset();
}

MeshPtr MakeTriangleMesh(IDirect3DDevice9* device, int subsets) {
    std::vector<MeshVertex> vertices;
    std::vector<uint32_t> indices, attributes;
    for (int i = 0; i < subsets; ++i) {
        for (int c = 0; c < 3; ++c) {
            indices.push_back(uint32_t(vertices.size()));
            vertices.push_back({{float(c == 1), float(c == 2), float(i)}, {0, 0, -1}, {}, ~0u});
        }
        attributes.push_back(uint32_t(i));
    }
    return std::make_shared<ID3DXMesh>(device, MeshDeclaration{true, false, false},
                                       std::move(vertices), std::move(indices),
                                       std::move(attributes));
}

D3DMATERIAL9 MaterialWithAlpha(float alpha) {
    D3DMATERIAL9 m = {};
    m.Diffuse = {0.5f, 0.5f, 0.5f, alpha};
    return m;
}

void MakePlainSlot(int slot, const std::vector<float>& alphas,
                   const std::vector<TexturePtr>& textures) {
    if (!IsModelSlotEmpty(slot)) FreeModel(slot); // a test may fill a slot twice
    ModelSlot& m = g_ModelSlots[slot] = ModelSlot{};
    m.pMesh = MakeTriangleMesh(g_pDevice.get(), int(alphas.size()));
    m.NumMaterials = DWORD(alphas.size());
    if (alphas.empty()) return;
    m.pMaterials = new D3DMATERIAL9[alphas.size()];
    m.pTextures = new TexturePtr[alphas.size()];
    for (size_t i = 0; i < alphas.size(); ++i) {
        m.pMaterials[i] = MaterialWithAlpha(alphas[i]);
        if (i < textures.size()) m.pTextures[i] = textures[i];
    }
}
