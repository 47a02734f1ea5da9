// libFuzzer target: arbitrary bytes through the effect file parser (no GL context needed).
// A refusal must come with a "file:line: reason" message; a success must hold techniques
// whose passes name stages that exist. Anything else, or a sanitizer report, is a bug.
#include "platform/gfx/gl_effect.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    FxFile file;
    std::string error;
    if (!ParseEffectFile(text, "fuzz.fx", &file, &error)) {
        if (!error.starts_with("fuzz.fx:")) std::abort();
        return 0;
    }
    if (file.techniques.empty()) std::abort();
    for (const FxTechnique& t : file.techniques) {
        if (t.passes.empty()) std::abort();
        for (const FxPass& p : t.passes)
            if (!file.FindStage(p.vertex, true) || !file.FindStage(p.fragment, false)) std::abort();
    }
    return 0;
}
