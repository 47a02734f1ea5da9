// Start to exit on a real X display: whole processes that open a window, draw the scene once
// and write it to a 640x480 PNG, on a private Xvfb (640x480). Contestants: the viewer as shipped
// (full-screen build), the windowed build, the floor of this machine (startup_floor: a bare SDL
// + OpenGL window, one clear, one read-back, the PNG) and f3d opening the same room and two
// characters, converted to OBJ here with our own .x reader. They run interleaved, the order
// turning each round; the figures are medians of the per-round ratios. The viewer runs with
// DUOSCOPE_STARTUP_TRACE=1, and the median time of each of its phases says where its start-up
// goes under X.
#include "bench_spawn.h"
#include "core/matrix.h"
#include "platform/xfile/xscene.h"
#include "support/xserver.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kRounds = 21;
const char* const kPhases[] = {"window", "device",  "shown",   "fonts",   "effect",
                               "models", "frame-1", "frame-2", "shutdown"};

// Writes the frames' meshes of one .x file to the OBJ stream, placed by their frames, with one
// material per .x material; vertex numbers continue from `base`. Returns the faces written.
size_t AppendObj(const std::string& dataDir, const char* file, std::ofstream& obj,
                 std::ofstream& mtl, size_t& base, int& materialCount) {
    xfile::Scene scene;
    if (!xfile::LoadSceneFile((dataDir + "/" + file).c_str(), scene)) return 0;
    size_t faces = 0;
    // Depth first over the frames, each with its world transform (row vectors: local * parent).
    std::vector<std::pair<uint32_t, D3DXMATRIX>> stack;
    for (uint32_t root : scene.roots) stack.push_back({root, IdentityMatrix()});
    while (!stack.empty()) {
        auto [index, parent] = stack.back();
        stack.pop_back();
        D3DXMATRIX world;
        D3DXMatrixMultiply(&world, &scene.frames[index].transform, &parent);
        for (const xfile::FrameItem& item : scene.frames[index].items) {
            if (!item.isMesh) {
                stack.push_back({item.index, world});
                continue;
            }
            const xfile::MeshData& mesh = scene.meshes[item.index];
            for (const MeshVertex& v : mesh.vertices) {
                float p[3], n[3];
                for (int c = 0; c < 3; ++c) {
                    p[c] = v.position[0] * world.m[0][c] + v.position[1] * world.m[1][c] +
                           v.position[2] * world.m[2][c] + world.m[3][c];
                    n[c] = v.normal[0] * world.m[0][c] + v.normal[1] * world.m[1][c] +
                           v.normal[2] * world.m[2][c];
                }
                const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
                const float s = length > 0 ? 1 / length : 0;
                obj << "v " << p[0] << ' ' << p[1] << ' ' << p[2] << "\nvn " << n[0] * s << ' '
                    << n[1] * s << ' ' << n[2] * s << "\nvt " << v.texcoord[0] << ' '
                    << 1 - v.texcoord[1] << '\n';
            }
            const int firstMaterial = materialCount;
            for (const xfile::Material& m : mesh.materials) {
                mtl << "newmtl m" << materialCount++ << "\nKd " << m.faceColor[0] << ' '
                    << m.faceColor[1] << ' ' << m.faceColor[2] << '\n';
                if (m.hasTexture) mtl << "map_Kd " << dataDir << '/' << m.texture << '\n';
            }
            uint32_t current = UINT32_MAX;
            for (size_t f = 0; f < mesh.indices.size() / 3; ++f) {
                const uint32_t material = f < mesh.attributes.size() ? mesh.attributes[f] : 0;
                if (material != current && material < mesh.materials.size())
                    obj << "usemtl m" << firstMaterial + int(material) << '\n';
                current = material;
                obj << 'f';
                for (int k = 0; k < 3; ++k) {
                    const size_t i = base + mesh.indices[f * 3 + k] + 1;
                    obj << ' ' << i << '/' << i << '/' << i;
                }
                obj << '\n';
                ++faces;
            }
            base += mesh.vertices.size();
        }
    }
    return faces;
}

// The room and both characters as dir/scene.obj (with scene.mtl); the number of faces.
size_t WriteSceneObj(const std::string& dataDir, const std::string& dir) {
    std::ofstream obj(dir + "/scene.obj"), mtl(dir + "/scene.mtl");
    obj << "mtllib scene.mtl\n";
    size_t base = 0, faces = 0;
    int materials = 0;
    for (const char* file : {"room.x", "seaman.x", "fatman.x"})
        faces += AppendObj(dataDir, file, obj, mtl, base, materials);
    return obj && mtl ? faces : 0;
}

struct Contestant {
    const char* name;
    std::vector<std::string> argv;
    std::string png;
    std::vector<double> ms;
    std::vector<std::vector<double>> phases; // per phase, for the viewers
};

} // namespace

int main() {
    const std::string data = DUO_SOURCE_DIR "/data";
    const std::string dir = DUO_BINARY_DIR "/bench/startup_x";
    std::filesystem::create_directories(dir);
    XvfbServer x;
    if (!x.Start(640, 480)) {
        std::printf("Start-up under X: skipped, Xvfb could not start\n");
        return 0;
    }
    const std::map<std::string, std::string> env = {
        {"DISPLAY", x.display},        {"SDL_VIDEODRIVER", "x11"}, {"DUOSCOPE_FRAMES", "1"},
        {"DUOSCOPE_FIXED_STEP", "20"}, {"DUOSCOPE_SEED", "1"},     {"DUOSCOPE_STARTUP_TRACE", "1"}};
    // Each writes its PNG into dir; the viewers' phases are kept (and one more: the process).
    auto contestant = [&](const char* name, std::vector<std::string> argv, const char* png,
                          bool viewer) {
        return Contestant{name,
                          std::move(argv),
                          dir + "/" + png,
                          {},
                          std::vector<std::vector<double>>(viewer ? std::size(kPhases) + 1 : 0)};
    };
    std::vector<Contestant> all = {
        contestant("full-screen viewer", {DUO_BINARY_DIR "/duoscope", "rx", "640", "ry", "480"},
                   "full.png", true),
        contestant("windowed viewer",
                   {DUO_BINARY_DIR "/duoscope-windowed", "rx", "640", "ry", "480"}, "windowed.png",
                   true),
        contestant("floor", {DUO_BINARY_DIR "/bench/startup_floor", dir + "/floor.png"},
                   "floor.png", false)};
    const size_t faces = WriteSceneObj(data, dir);
    const bool haveF3d = std::system("f3d --version >/dev/null 2>&1") == 0;
    if (haveF3d && faces > 0)
        all.push_back(
            contestant("f3d",
                       {"/usr/bin/env", "f3d", "--dry-run", "--quiet",
                        "--output=" + dir + "/f3d.png", "--resolution=640,480", dir + "/scene.obj"},
                       "f3d.png", false));
    for (int round = 0; round < kRounds; ++round) {
        for (size_t k = 0; k < all.size(); ++k) {
            Contestant& c = all[(k + size_t(round)) % all.size()];
            std::filesystem::remove(c.png);
            auto contestantEnv = env;
            contestantEnv["DUOSCOPE_SCREENSHOT"] = c.png;
            const SpawnResult r = Spawn(c.argv, contestantEnv, data);
            if (r.exitCode != 0 || !std::filesystem::exists(c.png)) {
                std::fprintf(stderr, "bench_startup_x: %s failed (exit %d):\n%s\n", c.name,
                             r.exitCode, r.output.c_str());
                return 1;
            }
            c.ms.push_back(r.ms);
            double previous = 0;
            for (size_t i = 0; i < c.phases.size(); ++i) {
                // The last one: exec, libraries, static set-up and exit, outside main.
                const double t = i < std::size(kPhases) ? PhaseTime(r.output, kPhases[i]) : r.ms;
                c.phases[i].push_back(t - previous);
                previous = t;
            }
        }
    }
    std::printf(
        "Start to exit under X (private Xvfb 640x480), a 640x480 PNG each, %d rounds (medians)\n",
        kRounds);
    for (const Contestant& c : all) std::printf("  %-20s %7.1f ms\n", c.name, Median(c.ms));
    if (!haveF3d)
        std::printf("  f3d: skipped, not installed (scripts/bench.sh installs it)\n");
    else if (faces == 0)
        std::printf("  f3d: skipped, the scene could not be written as OBJ\n");
    else
        std::printf("  (f3d reads the room and both characters as OBJ: %zu faces)\n", faces);
    auto ratio = [&](size_t a, size_t b) {
        std::vector<double> r;
        for (int i = 0; i < kRounds; ++i) r.push_back(all[a].ms[i] / all[b].ms[i]);
        return Median(r);
    };
    std::printf("Ratios (median of per-round ratios; goals: at most 2 against the floor, at most "
                "0.8 against f3d):\n");
    for (size_t v = 0; v < 2; ++v) {
        std::printf("  %-20s / floor %.2f", all[v].name, ratio(v, 2));
        if (all.size() > 3) std::printf("   / f3d %.2f", ratio(v, 3));
        std::printf("\n");
    }
    std::printf("Where the viewers' start-up goes under X (median per phase, ms):\n  %-9s", "");
    for (size_t v = 0; v < 2; ++v) std::printf(" %11s", v ? "windowed" : "full-screen");
    std::printf("\n");
    for (size_t i = 0; i <= std::size(kPhases); ++i) {
        std::printf("  %-9s", i < std::size(kPhases) ? kPhases[i] : "process");
        for (size_t v = 0; v < 2; ++v) std::printf(" %11.1f", Median(all[v].phases[i]));
        std::printf("\n");
    }
    return 0;
}
