// duoscope-modelgen DIR: writes room.x, seaman.x, fatman.x and their PNG textures into DIR.
#include "modelgen.h"

#include <cstdio>
#include <filesystem>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: duoscope-modelgen OUTPUT_DIR\n");
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(argv[1], ec);
    std::vector<std::string> files = modelgen::WriteAll(argv[1]);
    if (files.empty()) return 1;
    for (const std::string& f : files) std::printf("%s/%s\n", argv[1], f.c_str());
    return 0;
}
