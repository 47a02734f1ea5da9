// The system's globals on a recording device, with hand-made models, for tests of the drawing
// code.
#pragma once

#include "platform/gfx/mesh.h"
#include "platform/gfx/recording_device.h"

#include <memory>
#include <vector>

// A fresh recording device, its fonts and (optionally) its effect in g_pDevice, g_pFont,
// g_pFontBold and g_pEffect; settings, scene and model slots reset.
std::shared_ptr<RecordingDevice> UseRecordingDevice(bool withEffect = true);
// Releases the globals set above and empties the model slots.
void ReleaseRecordingDevice();
// A mesh of one triangle per attribute id, faces sorted so it has an attribute table.
MeshPtr MakeTriangleMesh(IDirect3DDevice9* device, int subsets);
D3DMATERIAL9 MaterialWithAlpha(float alpha);
// Fills a plain model slot with a mesh of one subset per alpha and the given textures.
void MakePlainSlot(int slot, const std::vector<float>& alphas,
                   const std::vector<TexturePtr>& textures = {});
