// The recording device: a graphics device that draws nothing and writes down every call, so
// tests can check the order of calls, the states set and the matrices handed to the effect.
// Effects and fonts it creates record into the same list.
#pragma once

#include "platform/gfx/device.h"

#include <map>
#include <string>
#include <vector>

struct RecordedCall {
    RecordedCall(std::string op_, std::string name_ = {}, DWORD a_ = 0, DWORD b_ = 0)
        : op(std::move(op_)), name(std::move(name_)), a(a_), b(b_) {}
    std::string op;      // "Clear", "SetRenderState", "Effect.SetMatrix", "Font.DrawText", ...
    std::string name;    // technique, parameter or font face; text drawn
    DWORD a = 0, b = 0;  // state and value, stage, attribute id, pass, ...
    D3DXMATRIX matrix{}; // SetTransform, Effect.SetMatrix
    RECT rect{};         // Font.DrawText
    std::string text;    // Font.DrawText: the characters handed over
    int count = 0;       // Font.DrawText: the count handed over
    const void* object = nullptr; // texture, mesh or material handed over
};

class RecordingDevice : public IDirect3DDevice9 {
  public:
    RecordingDevice(int width = 640, int height = 480);

    std::vector<RecordedCall> calls;
    // Pass count each technique reports from Begin; techniques not listed report 0. The test
    // that uses the device lists the techniques of the effect it stands in for.
    std::map<std::string, unsigned> techniquePasses;
    bool failEffectCreation = false;
    bool failFontCreation = false;

    // Calls whose op equals the given one, in order.
    std::vector<RecordedCall> Calls(const std::string& op) const;
    // The ops only, joined by a space: a compact picture of a sequence.
    std::string OpSequence() const;

    HRESULT Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD stencil) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Present(const RECT*, const RECT*, void*, void*) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    DWORD GetRenderState(D3DRENDERSTATETYPE state) const override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DXMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DXMATRIX* matrix) const override;
    HRESULT SetMaterial(const D3DMATERIAL9* material) override;
    HRESULT SetTexture(DWORD stage, IDirect3DTexture9* texture) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override;
    HRESULT LightEnable(DWORD index, bool enable) override;
    void DrawMeshSubset(const ID3DXMesh& mesh, DWORD attribId) override;
    std::shared_ptr<ID3DXEffect> CreateEffectFromFile(const char* fileName) override;
    std::shared_ptr<ID3DXFont> CreateFontObject(int height, const char* faceName) override;
    int BackBufferWidth() const override { return width_; }
    int BackBufferHeight() const override { return height_; }
    bool ReadBackBuffer(std::vector<uint8_t>& rgba) override;

    D3DMATERIAL9 material{};
    IDirect3DTexture9* texture0 = nullptr;
    D3DLIGHT9 lights[8]{};
    bool lightEnabled[8]{};

  private:
    int width_, height_;
    DWORD renderStates_[kRenderStateCount]{};
    D3DXMATRIX world_, view_, projection_;
};
