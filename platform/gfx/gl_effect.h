// The effect file: its parsed form and the parser (gl_effect_parse.cpp). The format is
// described there and at the top of data/Duoscope.fx.
#pragma once

#include "platform/types.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct FxStage {
    std::string name;
    bool vertex = true; // vertex or fragment stage
    int line = 0;       // file line of the first line of its code
    std::string code;
};

struct FxPass {
    int line = 0;
    std::string vertex, fragment;
    // States a pass leaves out stay as the device has them.
    std::optional<bool> depthTest, depthWrite;
    std::optional<DWORD> colorMask; // D3DRS_COLORWRITEENABLE bits: 1 R, 2 G, 4 B, 8 A
    std::optional<bool> blend;
    DWORD srcBlend = 0, destBlend = 0; // when blend is on
    bool clearDepth = false;           // clear the depth buffer as the pass begins
};

struct FxTechnique {
    std::string name;
    int line = 0;
    std::vector<FxPass> passes;
};

struct FxFile {
    std::string shared;
    int sharedLine = 0;
    std::vector<FxStage> stages;
    std::vector<FxTechnique> techniques;

    const FxStage* FindStage(std::string_view name, bool vertex) const;
};

// Parses an effect file's text. On failure returns false with "file:line: reason" in *error.
bool ParseEffectFile(std::string_view text, const std::string& fileName, FxFile* out,
                     std::string* error);
