#include "platform/gfx/recording_device.h"

#include "platform/gfx/mesh.h"

#include <cstring>

namespace {

class RecordingEffect : public ID3DXEffect {
  public:
    explicit RecordingEffect(RecordingDevice* device) : device_(device) {}

    HRESULT SetTechnique(const char* name) override {
        technique_ = name ? name : "";
        Record("Effect.SetTechnique", technique_);
        return S_OK;
    }
    HRESULT Begin(unsigned* passes, DWORD flags) override {
        auto it = device_->techniquePasses.find(technique_);
        const unsigned n = it == device_->techniquePasses.end() ? 0 : it->second;
        if (passes) *passes = n;
        Record("Effect.Begin", technique_, n, flags);
        return S_OK;
    }
    HRESULT BeginPass(unsigned pass) override { return Record("Effect.BeginPass", "", pass); }
    HRESULT EndPass() override { return Record("Effect.EndPass"); }
    HRESULT End() override { return Record("Effect.End"); }
    HRESULT SetMatrix(const char* name, const D3DXMATRIX* m) override {
        RecordedCall c{"Effect.SetMatrix", name ? name : ""};
        if (m) c.matrix = *m;
        device_->calls.push_back(c);
        return S_OK;
    }
    HRESULT SetInt(const char* name, int value) override {
        return Record("Effect.SetInt", name ? name : "", DWORD(value));
    }
    HRESULT SetTexture(const char* name, IDirect3DTexture9* texture) override {
        RecordedCall c{"Effect.SetTexture", name ? name : ""};
        c.object = texture;
        device_->calls.push_back(c);
        return S_OK;
    }
    HRESULT CommitChanges() override { return Record("Effect.CommitChanges"); }

  private:
    HRESULT Record(const char* op, const std::string& name = "", DWORD a = 0, DWORD b = 0) {
        device_->calls.push_back({op, name, a, b});
        return S_OK;
    }
    RecordingDevice* device_;
    std::string technique_;
};

class RecordingFont : public ID3DXFont {
  public:
    RecordingFont(RecordingDevice* device, std::string face) : device_(device), face_(face) {}
    int DrawTextA(void*, const char* text, int count, RECT* rect, DWORD format,
                  D3DCOLOR color) override {
        RecordedCall c{"Font.DrawText", face_};
        c.a = format;
        c.b = color;
        if (rect) c.rect = *rect;
        c.count = count;
        // Keep the text itself: the caller's buffer may be reused.
        if (text) c.text.assign(text, count < 0 ? std::strlen(text) : size_t(count));
        device_->calls.push_back(c);
        return 18;
    }

  private:
    RecordingDevice* device_;
    std::string face_;
};

} // namespace

RecordingDevice::RecordingDevice(int width, int height)
    : width_(width), height_(height), world_(IdentityMatrix()), view_(IdentityMatrix()),
      projection_(IdentityMatrix()) {}

std::vector<RecordedCall> RecordingDevice::Calls(const std::string& op) const {
    std::vector<RecordedCall> out;
    for (const RecordedCall& c : calls)
        if (c.op == op) out.push_back(c);
    return out;
}

std::string RecordingDevice::OpSequence() const {
    std::string s;
    for (const RecordedCall& c : calls) {
        if (!s.empty()) s += ' ';
        s += c.op;
    }
    return s;
}

HRESULT RecordingDevice::Clear(DWORD, const RECT*, DWORD flags, D3DCOLOR color, float, DWORD) {
    calls.push_back({"Clear", "", flags, color});
    return S_OK;
}
HRESULT RecordingDevice::BeginScene() {
    calls.push_back({"BeginScene"});
    return S_OK;
}
HRESULT RecordingDevice::EndScene() {
    calls.push_back({"EndScene"});
    return S_OK;
}
HRESULT RecordingDevice::Present(const RECT*, const RECT*, void*, void*) {
    calls.push_back({"Present"});
    return S_OK;
}
HRESULT RecordingDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (state < kRenderStateCount) renderStates_[state] = value;
    calls.push_back({"SetRenderState", "", state, value});
    return S_OK;
}
DWORD RecordingDevice::GetRenderState(D3DRENDERSTATETYPE state) const {
    return state < kRenderStateCount ? renderStates_[state] : 0;
}
HRESULT RecordingDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DXMATRIX* m) {
    if (!m) return E_FAIL;
    if (state == D3DTS_WORLD)
        world_ = *m;
    else if (state == D3DTS_VIEW)
        view_ = *m;
    else if (state == D3DTS_PROJECTION)
        projection_ = *m;
    RecordedCall c{"SetTransform", "", state};
    c.matrix = *m;
    calls.push_back(c);
    return S_OK;
}
HRESULT RecordingDevice::GetTransform(D3DTRANSFORMSTATETYPE state, D3DXMATRIX* m) const {
    if (!m) return E_FAIL;
    *m = state == D3DTS_WORLD ? world_ : state == D3DTS_VIEW ? view_ : projection_;
    return S_OK;
}
HRESULT RecordingDevice::SetMaterial(const D3DMATERIAL9* m) {
    if (!m) return E_FAIL;
    material = *m;
    RecordedCall c{"SetMaterial"};
    c.object = m;
    calls.push_back(c);
    return S_OK;
}
HRESULT RecordingDevice::SetTexture(DWORD stage, IDirect3DTexture9* texture) {
    if (stage == 0) texture0 = texture;
    RecordedCall c{"SetTexture", "", stage};
    c.object = texture;
    calls.push_back(c);
    return S_OK;
}
HRESULT RecordingDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                              DWORD value) {
    calls.push_back({"SetTextureStageState", "", stage * 1000 + type, value});
    return S_OK;
}
HRESULT RecordingDevice::SetLight(DWORD index, const D3DLIGHT9* light) {
    if (index >= 8 || !light) return E_FAIL;
    lights[index] = *light;
    calls.push_back({"SetLight", "", index});
    return S_OK;
}
HRESULT RecordingDevice::LightEnable(DWORD index, bool enable) {
    if (index >= 8) return E_FAIL;
    lightEnabled[index] = enable;
    calls.push_back({"LightEnable", "", index, DWORD(enable)});
    return S_OK;
}
void RecordingDevice::DrawMeshSubset(const ID3DXMesh& mesh, DWORD attribId) {
    RecordedCall c{"DrawSubset", "", attribId};
    c.matrix = world_;
    c.object = &mesh;
    calls.push_back(c);
}
std::shared_ptr<ID3DXEffect> RecordingDevice::CreateEffectFromFile(const char* fileName) {
    calls.push_back({"CreateEffect", fileName ? fileName : ""});
    if (failEffectCreation) return nullptr;
    return std::make_shared<RecordingEffect>(this);
}
std::shared_ptr<ID3DXFont> RecordingDevice::CreateFontObject(int height, const char* faceName) {
    calls.push_back({"CreateFont", faceName ? faceName : "", DWORD(height)});
    if (failFontCreation) return nullptr;
    return std::make_shared<RecordingFont>(this, faceName ? faceName : "");
}
bool RecordingDevice::ReadBackBuffer(std::vector<uint8_t>& rgba) {
    rgba.assign(size_t(width_) * height_ * 4, 0);
    return true;
}
