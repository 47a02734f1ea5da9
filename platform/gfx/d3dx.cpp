// The D3DX entry points over the device factories. They call no GL themselves and work with
// any device: the device handed in does the work (GL objects for the OpenGL device, records
// for the recording one).
#include "platform/gfx/device.h"

HRESULT D3DXCreateFontA(IDirect3DDevice9* device, int height, unsigned, unsigned, unsigned, bool,
                        DWORD, DWORD, DWORD, DWORD, const char* faceName, FontPtr* font) {
    if (!font) return E_FAIL;
    *font = device && faceName ? device->CreateFontObject(height, faceName) : nullptr;
    return *font ? S_OK : E_FAIL;
}

HRESULT D3DXCreateEffectFromFileA(IDirect3DDevice9* device, const char* fileName, const void*,
                                  void*, DWORD, void*, EffectPtr* effect, void*) {
    if (!effect) return E_FAIL;
    *effect = device && fileName ? device->CreateEffectFromFile(fileName) : nullptr;
    return *effect ? S_OK : E_FAIL;
}
