// The semantic layer of the .x reader: frames, meshes (with normals, texture coordinates,
// colours, materials and skin weights), animation sets and their keys, read from the parsed
// document into plain data. The D3DX stand-ins (d3dx_hierarchy.h, d3dx_mesh_load.h) build their
// objects from this.
#pragma once

#include "platform/gfx/mesh.h"
#include "platform/types.h"
#include "platform/xfile/xparse.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace xfile {

struct Material {
    std::string name;
    float faceColor[4] = {0, 0, 0, 1}; // RGBA, the diffuse colour
    float power = 0;
    float specular[3] = {0, 0, 0};
    float emissive[3] = {0, 0, 0};
    bool hasTexture = false;
    std::string texture; // as written in the file
};

// One element of a DeclData block (the D3DVERTEXELEMENT9 fields the file carries).
struct DeclElement {
    uint32_t type, method, usage, usageIndex;
};

// A bone of a skinned mesh. vertices index the mesh's output vertices (after splitting), so a
// file vertex that was split appears once per copy.
struct Bone {
    std::string name;
    std::vector<uint32_t> vertices;
    std::vector<float> weights;
    D3DXMATRIX offset;
};

struct MeshData {
    std::string name;
    bool named = false;
    MeshDeclaration declaration;
    std::vector<MeshVertex> vertices;     // file vertices first, split copies appended
    std::vector<uint32_t> sourcePosition; // file vertex index of each output vertex
    std::vector<uint32_t> indices;        // three per triangle (polygons are fans)
    std::vector<uint32_t> attributes;     // material index per triangle
    std::vector<Material> materials;
    std::vector<DeclElement> declElements;
    std::vector<Bone> bones;
    uint32_t fileVertices = 0;
    uint32_t fileFaces = 0;
};

// One item of a frame, in file order: a mesh or a child frame.
struct FrameItem {
    bool isMesh;
    uint32_t index; // into Scene::meshes or Scene::frames
};

struct Frame {
    std::string name;
    bool named = false;
    D3DXMATRIX transform = IdentityMatrix();
    std::vector<FrameItem> items;
};

template <int N> struct Key {
    uint32_t time;
    float value[N];
};

struct Animation {
    std::string frameName;         // empty when the animation names no frame
    std::vector<Key<4>> rotations; // w, x, y, z as in the file
    std::vector<Key<3>> scales;
    std::vector<Key<3>> positions;
    std::vector<Key<16>> matrices;
};

struct AnimationSet {
    std::string name;
    std::vector<Animation> animations;
};

struct Scene {
    std::vector<Frame> frames;
    std::vector<uint32_t> roots; // top-level frames (a top-level mesh gets an unnamed one)
    std::vector<MeshData> meshes;
    std::vector<AnimationSet> sets;
    double ticksPerSecond = 4800; // when the file gives no AnimTicksPerSecond
};

// Reads a parsed document. False with error "<place>: <reason>" when it is not a usable model.
bool BuildScene(const Document& doc, Scene& scene, std::string& error);
// Parses and reads a file image.
bool ReadScene(std::span<const uint8_t> file, Scene& scene, std::string& error);
// Reads a file from disk. On failure reports one line "<file>: <place>: <reason>".
bool LoadSceneFile(const char* fileName, Scene& scene);

// Where refusals go: standard error by default; tests and the fuzzer redirect it.
using ErrorSink = std::function<void(const std::string& line)>;
void SetErrorSink(ErrorSink sink);
void ReportError(const std::string& line);

} // namespace xfile
