// The effect: programs built from a parsed effect file, parameters set by name and uploaded at
// BeginPass and CommitChanges, pass states applied through the device's render states.
#include "platform/gfx/gl_device.h"
#include "platform/gfx/gl_effect.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace {

// Rewrites "0:LINE(COL): message" lines of a GLSL log as "file:LINE: message"; the sources
// carry #line directives, so LINE is already a file line.
std::string FileLog(const std::string& log, const std::string& fileName, int fallbackLine) {
    std::string out;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        int source = 0, number = 0, column = 0, consumed = 0;
        if (std::sscanf(line.c_str(), "%d:%d(%d): %n", &source, &number, &column, &consumed) == 3 &&
            consumed > 0)
            out += fileName + ":" + std::to_string(number) + ": " + line.substr(consumed) + "\n";
        else
            out += fileName + ":" + std::to_string(fallbackLine) + ": " + line + "\n";
    }
    return out;
}

// The render states a pass may change; Begin saves them and End puts them back.
constexpr D3DRENDERSTATETYPE kPassStates[] = {D3DRS_ZENABLE,          D3DRS_ZWRITEENABLE,
                                              D3DRS_COLORWRITEENABLE, D3DRS_ALPHABLENDENABLE,
                                              D3DRS_SRCBLEND,         D3DRS_DESTBLEND};

class GlEffect final : public ID3DXEffect {
  public:
    GlEffect(GlDevice* device, FxFile file) : device_(device), context_(device->Context()) {
        file_ = std::move(file);
    }
    ~GlEffect() override;

    // Compiles and links every pass's program and gathers the parameters; false with the
    // messages on stderr.
    bool Build(const std::string& fileName);

    HRESULT SetTechnique(const char* name) override;
    HRESULT Begin(unsigned* passes, DWORD flags) override;
    HRESULT BeginPass(unsigned pass) override;
    HRESULT EndPass() override;
    HRESULT End() override;
    HRESULT SetMatrix(const char* name, const D3DXMATRIX* matrix) override;
    HRESULT SetInt(const char* name, int value) override;
    HRESULT SetTexture(const char* name, IDirect3DTexture9* texture) override;
    HRESULT CommitChanges() override;

  private:
    enum class Kind { Matrix, Int, Texture };
    struct Parameter {
        std::string name;
        Kind kind;
        D3DXMATRIX matrix = IdentityMatrix();
        int value = 0;
        IDirect3DTexture9* texture = nullptr;
        GLint unit = 0;
    };
    struct Program {
        GlProgram gl;
        std::vector<std::pair<size_t, GLint>> uniforms; // parameter index, location
    };

    bool Alive() const { return !context_.expired() && device_->MakeCurrent(); }
    Parameter* Find(const char* name, Kind kind);
    void GatherParameters(Program& program);
    void Upload(const Program& program);

    GlDevice* device_;
    std::weak_ptr<GlContext> context_;
    FxFile file_;
    std::vector<Parameter> parameters_;
    std::map<std::pair<std::string, std::string>, Program> programs_; // by (vertex, fragment)
    std::vector<std::vector<const Program*>> passPrograms_;           // per technique, per pass
    size_t technique_ = 0;
    bool begun_ = false;
    const Program* activePass_ = nullptr;
    std::array<DWORD, std::size(kPassStates)> saved_{};
};

GlEffect::~GlEffect() {
    if (!Alive()) return; // the device and its context went first
    device_->SetPassProgram(nullptr);
    for (auto& [key, program] : programs_) glDeleteProgram(program.gl.id);
}

bool GlEffect::Build(const std::string& fileName) {
    auto stageSource = [&](const FxStage& stage) {
        return GlslPrelude(stage.vertex) + "#line " + std::to_string(file_.sharedLine) + "\n" +
               file_.shared + "#line " + std::to_string(stage.line) + "\n" + stage.code;
    };
    std::map<std::pair<std::string, bool>, GLuint> shaders;
    bool ok = true;
    for (const FxStage& stage : file_.stages) {
        std::string log;
        GLuint shader = CompileGlShader(stage.vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER,
                                        stageSource(stage), &log);
        if (!shader) {
            std::fprintf(stderr, "%s:%d: %s stage '%s' does not compile\n%s", fileName.c_str(),
                         stage.line - 1, stage.vertex ? "vertex" : "fragment", stage.name.c_str(),
                         FileLog(log, fileName, stage.line - 1).c_str());
            ok = false;
        }
        shaders[{stage.name, stage.vertex}] = shader;
    }
    for (const FxTechnique& technique : file_.techniques) {
        passPrograms_.emplace_back();
        for (const FxPass& pass : technique.passes) {
            auto key = std::make_pair(pass.vertex, pass.fragment);
            auto found = programs_.find(key);
            if (found == programs_.end() && ok) {
                std::string log;
                Program program;
                program.gl.id = LinkGlProgram(shaders[{pass.vertex, true}],
                                              shaders[{pass.fragment, false}], &log);
                if (!program.gl.id) {
                    std::fprintf(stderr, "%s:%d: stages '%s' and '%s' do not link\n%s",
                                 fileName.c_str(), pass.line, pass.vertex.c_str(),
                                 pass.fragment.c_str(), FileLog(log, fileName, pass.line).c_str());
                    ok = false;
                    continue;
                }
                LookUpReservedUniforms(program.gl);
                found = programs_.emplace(key, std::move(program)).first;
                GatherParameters(found->second);
            }
            if (found != programs_.end()) passPrograms_.back().push_back(&found->second);
        }
    }
    for (auto& [key, shader] : shaders) glDeleteShader(shader);
    return ok;
}

// The parameters are the uniforms the programs use, less the reserved duo_ ones.
void GlEffect::GatherParameters(Program& program) {
    GLint count = 0;
    glGetProgramiv(program.gl.id, GL_ACTIVE_UNIFORMS, &count);
    for (GLint i = 0; i < count; ++i) {
        char name[256];
        GLsizei length = 0;
        GLint size = 0;
        GLenum type = 0;
        glGetActiveUniform(program.gl.id, static_cast<GLuint>(i), sizeof name, &length, &size,
                           &type, name);
        std::string uniform(name, static_cast<size_t>(length));
        if (uniform.starts_with("duo_") || uniform.starts_with("gl_")) continue;
        Kind kind;
        if (type == GL_FLOAT_MAT4)
            kind = Kind::Matrix;
        else if (type == GL_INT || type == GL_BOOL)
            kind = Kind::Int;
        else if (type == GL_SAMPLER_2D)
            kind = Kind::Texture;
        else
            continue; // a type the viewer never sets
        size_t index = 0;
        while (index < parameters_.size() && parameters_[index].name != uniform) ++index;
        if (index == parameters_.size()) {
            Parameter p{uniform, kind};
            if (kind == Kind::Texture) {
                GLint units = 0;
                for (const Parameter& q : parameters_) units += q.kind == Kind::Texture;
                p.unit = kFirstEffectTextureUnit + units;
            }
            parameters_.push_back(p);
        }
        if (parameters_[index].kind != kind) continue; // same name, other type: not settable
        program.uniforms.emplace_back(index, glGetUniformLocation(program.gl.id, name));
    }
}

GlEffect::Parameter* GlEffect::Find(const char* name, Kind kind) {
    if (!name) return nullptr;
    for (Parameter& p : parameters_)
        if (p.kind == kind && p.name == name) return &p;
    return nullptr;
}

void GlEffect::Upload(const Program& program) {
    for (auto [index, location] : program.uniforms) {
        const Parameter& p = parameters_[index];
        switch (p.kind) {
        case Kind::Matrix:
            UploadMatrix(location, p.matrix);
            break;
        case Kind::Int:
            glUniform1i(location, p.value);
            break;
        case Kind::Texture: {
            GLuint texture = device_->TextureObject(p.texture);
            glActiveTexture(GL_TEXTURE0 + p.unit);
            glBindTexture(GL_TEXTURE_2D, texture);
            glUniform1i(location, p.unit);
            glActiveTexture(GL_TEXTURE0);
            break;
        }
        }
    }
}

HRESULT GlEffect::SetTechnique(const char* name) {
    if (!name) return E_FAIL;
    for (size_t i = 0; i < file_.techniques.size(); ++i) {
        if (file_.techniques[i].name == name) {
            technique_ = i;
            return S_OK;
        }
    }
    return E_FAIL;
}

HRESULT GlEffect::Begin(unsigned* passes, DWORD) {
    if (!Alive()) return E_FAIL;
    for (size_t i = 0; i < std::size(kPassStates); ++i)
        saved_[i] = device_->GetRenderState(kPassStates[i]);
    begun_ = true;
    if (passes) *passes = static_cast<unsigned>(passPrograms_[technique_].size());
    return S_OK;
}

HRESULT GlEffect::BeginPass(unsigned index) {
    if (!begun_ || index >= passPrograms_[technique_].size() || !Alive()) return E_FAIL;
    const FxPass& pass = file_.techniques[technique_].passes[index];
    if (pass.depthTest) device_->SetRenderState(D3DRS_ZENABLE, *pass.depthTest ? 1 : 0);
    if (pass.depthWrite) device_->SetRenderState(D3DRS_ZWRITEENABLE, *pass.depthWrite);
    if (pass.colorMask) device_->SetRenderState(D3DRS_COLORWRITEENABLE, *pass.colorMask);
    if (pass.blend) {
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, *pass.blend);
        if (*pass.blend) {
            device_->SetRenderState(D3DRS_SRCBLEND, pass.srcBlend);
            device_->SetRenderState(D3DRS_DESTBLEND, pass.destBlend);
        }
    }
    if (pass.clearDepth) device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    activePass_ = passPrograms_[technique_][index];
    device_->SetPassProgram(&activePass_->gl);
    glUseProgram(activePass_->gl.id);
    Upload(*activePass_);
    return S_OK;
}

HRESULT GlEffect::EndPass() {
    if (!activePass_) return E_FAIL;
    activePass_ = nullptr;
    if (Alive()) device_->SetPassProgram(nullptr);
    return S_OK;
}

HRESULT GlEffect::End() {
    if (!begun_) return E_FAIL;
    begun_ = false;
    activePass_ = nullptr;
    if (!Alive()) return E_FAIL;
    device_->SetPassProgram(nullptr);
    for (size_t i = 0; i < std::size(kPassStates); ++i)
        device_->SetRenderState(kPassStates[i], saved_[i]);
    return S_OK;
}

HRESULT GlEffect::SetMatrix(const char* name, const D3DXMATRIX* matrix) {
    Parameter* p = Find(name, Kind::Matrix);
    if (!p || !matrix) return E_FAIL;
    p->matrix = *matrix;
    return S_OK;
}

HRESULT GlEffect::SetInt(const char* name, int value) {
    Parameter* p = Find(name, Kind::Int);
    if (!p) return E_FAIL;
    p->value = value;
    return S_OK;
}

HRESULT GlEffect::SetTexture(const char* name, IDirect3DTexture9* texture) {
    Parameter* p = Find(name, Kind::Texture);
    if (!p) return E_FAIL;
    p->texture = texture;
    return S_OK;
}

HRESULT GlEffect::CommitChanges() {
    if (!activePass_ || !Alive()) return E_FAIL;
    glUseProgram(activePass_->gl.id);
    Upload(*activePass_);
    return S_OK;
}

} // namespace

std::shared_ptr<ID3DXEffect> GlDevice::CreateEffectFromFile(const char* fileName) {
    if (!fileName || !MakeCurrent()) return nullptr;
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot open the effect file\n", fileName);
        return nullptr;
    }
    std::stringstream text;
    text << in.rdbuf();
    FxFile file;
    std::string error;
    if (!ParseEffectFile(text.str(), fileName, &file, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return nullptr;
    }
    auto effect = std::make_shared<GlEffect>(this, std::move(file));
    if (!effect->Build(fileName)) return nullptr;
    return effect;
}
