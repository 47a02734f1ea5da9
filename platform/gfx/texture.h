// Texture files: how a name written in a model finds its file.
#pragma once

#include "platform/gfx/device.h"

#include <string>

// The file a material's texture name means. Backslashes and slashes both separate folders, a
// drive ("C:") is dropped, and each part matches an entry that differs only in case when no
// entry matches exactly. The whole name is tried first, then ever shorter tails of it relative
// to the working directory, down to the bare file name. False when nothing matches.
bool ResolveTextureName(const char* name, std::string& path);
