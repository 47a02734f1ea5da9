// Reading a whole input file (model, texture) into memory. Only regular files are read: a FIFO
// or a device named in a file's place would block or never end, a directory has no bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// False with reason "cannot open the file", "not a regular file", "larger than the N MiB
// accepted" or "cannot read the file".
bool ReadRegularFile(const char* path, uint64_t maxBytes, std::vector<uint8_t>& bytes,
                     std::string& reason);
