// Parser of our effect file format.
//
// The file is plain text in sections. A section starts at a line whose first non-blank
// character is '@' and runs to the next such line:
//
//   @shared                 GLSL 330 put in front of every stage (uniforms, helper functions)
//   @vertex NAME            a vertex stage: GLSL with its main()
//   @fragment NAME          a fragment stage: GLSL with its main()
//   @technique NAME         then one line per pass, in order:
//       pass vertex=NAME fragment=NAME [depthtest=on|off] [depthwrite=on|off]
//            [colormask=rgba|r|gb|...|none] [blend=off|SRC,DEST] [cleardepth]
//
// Blend factors: zero one srccolor invsrccolor srcalpha invsrcalpha destalpha invdestalpha
// destcolor invdestcolor. A state a pass leaves out stays as the device has it. Before the
// first section and inside techniques, blank lines and lines starting with // are ignored.
// GLSL sections keep their text as is; the device puts its prelude (version, vertex inputs,
// reserved uniforms) before them and #line directives so compiler messages name file lines.
#include "platform/gfx/gl_effect.h"

#include <cctype>

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> Words(std::string_view s) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        size_t start = i;
        while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        if (i > start) words.push_back(s.substr(start, i - start));
    }
    return words;
}

bool IsIdentifier(std::string_view s) {
    if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) return false;
    for (char c : s)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    return true;
}

std::optional<bool> OnOff(std::string_view v) {
    if (v == "on" || v == "true" || v == "1") return true;
    if (v == "off" || v == "false" || v == "0") return false;
    return std::nullopt;
}

std::optional<DWORD> BlendFactorNamed(std::string_view v) {
    static const std::pair<const char*, DWORD> kFactors[] = {
        {"zero", D3DBLEND_ZERO},           {"one", D3DBLEND_ONE},
        {"srccolor", D3DBLEND_SRCCOLOR},   {"invsrccolor", D3DBLEND_INVSRCCOLOR},
        {"srcalpha", D3DBLEND_SRCALPHA},   {"invsrcalpha", D3DBLEND_INVSRCALPHA},
        {"destalpha", D3DBLEND_DESTALPHA}, {"invdestalpha", D3DBLEND_INVDESTALPHA},
        {"destcolor", D3DBLEND_DESTCOLOR}, {"invdestcolor", D3DBLEND_INVDESTCOLOR}};
    for (auto& [name, value] : kFactors)
        if (v == name) return value;
    return std::nullopt;
}

std::optional<DWORD> ColorMaskNamed(std::string_view v) {
    if (v == "none") return 0;
    DWORD mask = 0;
    for (char c : v) {
        DWORD bit = c == 'r' ? 1 : c == 'g' ? 2 : c == 'b' ? 4 : c == 'a' ? 8 : 0;
        if (bit == 0 || (mask & bit)) return std::nullopt;
        mask |= bit;
    }
    if (mask == 0) return std::nullopt;
    return mask;
}

// One "pass ..." line; false with the reason in *why.
bool ParsePass(std::string_view line, FxPass* pass, std::string* why) {
    std::vector<std::string_view> words = Words(line);
    for (size_t i = 1; i < words.size(); ++i) {
        std::string_view w = words[i];
        if (w == "cleardepth") {
            pass->clearDepth = true;
            continue;
        }
        size_t eq = w.find('=');
        if (eq == std::string_view::npos) {
            *why = "expected key=value, got '" + std::string(w) + "'";
            return false;
        }
        std::string_view key = w.substr(0, eq), value = w.substr(eq + 1);
        bool ok = true;
        if (key == "vertex" && IsIdentifier(value)) {
            pass->vertex = value;
        } else if (key == "fragment" && IsIdentifier(value)) {
            pass->fragment = value;
        } else if (key == "depthtest") {
            ok = (pass->depthTest = OnOff(value)).has_value();
        } else if (key == "depthwrite") {
            ok = (pass->depthWrite = OnOff(value)).has_value();
        } else if (key == "cleardepth") {
            std::optional<bool> on = OnOff(value);
            ok = on.has_value();
            pass->clearDepth = on.value_or(false);
        } else if (key == "colormask") {
            ok = (pass->colorMask = ColorMaskNamed(value)).has_value();
        } else if (key == "blend") {
            if (value == "off") {
                pass->blend = false;
            } else {
                size_t comma = value.find(',');
                auto src = BlendFactorNamed(value.substr(0, comma));
                auto dst = comma == std::string_view::npos
                               ? std::nullopt
                               : BlendFactorNamed(value.substr(comma + 1));
                ok = src && dst;
                if (ok) {
                    pass->blend = true;
                    pass->srcBlend = *src;
                    pass->destBlend = *dst;
                }
            }
        } else {
            *why = "unknown pass setting '" + std::string(w) + "'";
            return false;
        }
        if (!ok) {
            *why = "bad value in '" + std::string(w) + "'";
            return false;
        }
    }
    if (pass->vertex.empty() || pass->fragment.empty()) {
        *why = "a pass needs vertex=NAME and fragment=NAME";
        return false;
    }
    return true;
}

} // namespace

const FxStage* FxFile::FindStage(std::string_view name, bool vertex) const {
    for (const FxStage& s : stages)
        if (s.name == name && s.vertex == vertex) return &s;
    return nullptr;
}

bool ParseEffectFile(std::string_view text, const std::string& fileName, FxFile* out,
                     std::string* error) {
    *out = FxFile{};
    enum class Section { None, Shared, Stage, Technique } section = Section::None;
    std::string* code = nullptr; // where GLSL lines go
    bool sawShared = false;
    int lineNumber = 0;
    auto fail = [&](int line, const std::string& why) {
        *error = fileName + ":" + std::to_string(line) + ": " + why;
        return false;
    };

    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view raw = text.substr(pos, end - pos);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        pos = end + 1;
        ++lineNumber;
        std::string_view line = Trim(raw);

        if (!line.empty() && line.front() == '@') {
            std::vector<std::string_view> words = Words(line);
            std::string_view directive = words[0];
            code = nullptr;
            if (directive == "@shared") {
                if (words.size() != 1) return fail(lineNumber, "@shared takes no name");
                if (sawShared) return fail(lineNumber, "a second @shared section");
                sawShared = true;
                section = Section::Shared;
                out->sharedLine = lineNumber + 1;
                code = &out->shared;
            } else if (directive == "@vertex" || directive == "@fragment") {
                if (words.size() != 2 || !IsIdentifier(words[1]))
                    return fail(lineNumber, std::string(directive) + " needs one name");
                bool vertex = directive == "@vertex";
                if (out->FindStage(words[1], vertex))
                    return fail(lineNumber, "stage '" + std::string(words[1]) + "' defined twice");
                section = Section::Stage;
                out->stages.push_back({std::string(words[1]), vertex, lineNumber + 1, {}});
                code = &out->stages.back().code;
            } else if (directive == "@technique") {
                if (words.size() != 2 || !IsIdentifier(words[1]))
                    return fail(lineNumber, "@technique needs one name");
                for (const FxTechnique& t : out->techniques)
                    if (t.name == words[1])
                        return fail(lineNumber,
                                    "technique '" + std::string(words[1]) + "' defined twice");
                section = Section::Technique;
                out->techniques.push_back({std::string(words[1]), lineNumber, {}});
            } else {
                return fail(lineNumber, "unknown directive '" + std::string(directive) + "'");
            }
            continue;
        }

        switch (section) {
        case Section::Shared:
        case Section::Stage:
            code->append(raw);
            code->push_back('\n');
            break;
        case Section::None:
        case Section::Technique:
            if (line.empty() || line.starts_with("//")) break;
            if (section == Section::None) return fail(lineNumber, "text before the first section");
            if (Words(line)[0] != "pass") return fail(lineNumber, "expected 'pass' in a technique");
            FxPass pass;
            pass.line = lineNumber;
            std::string why;
            if (!ParsePass(line, &pass, &why)) return fail(lineNumber, why);
            out->techniques.back().passes.push_back(std::move(pass));
            break;
        }
        if (end == text.size()) break;
    }

    // Every pass names stages that exist; every technique has a pass.
    for (const FxTechnique& t : out->techniques) {
        if (t.passes.empty()) return fail(t.line, "technique '" + t.name + "' has no pass");
        for (const FxPass& p : t.passes) {
            if (!out->FindStage(p.vertex, true))
                return fail(p.line, "no vertex stage '" + p.vertex + "'");
            if (!out->FindStage(p.fragment, false))
                return fail(p.line, "no fragment stage '" + p.fragment + "'");
        }
    }
    if (out->techniques.empty()) return fail(lineNumber, "no technique");
    return true;
}
