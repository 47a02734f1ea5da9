// duoscope-modelgen: builds the viewer's own models (room, sailor, stout man) and their
// textures, and writes them as text .x files and PNG images. Everything is computed from
// fixed numbers, so two runs write the same bytes.
//
// Conventions: left-handed, +y up, characters face +z with +x on their right. Matrices are
// row-major for row vectors (v' = v * M, translation in the fourth row), as in the .x files.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace modelgen {

struct Vec2 {
    double u = 0, v = 0;
};

struct Vec3 {
    double x = 0, y = 0, z = 0;
};

struct Mat4 {
    std::array<double, 16> m{}; // m[row * 4 + col]
};

// --- math (modelgen_math.cpp) ---
Vec3 Add(Vec3 a, Vec3 b);
Vec3 Sub(Vec3 a, Vec3 b);
Vec3 Scale(Vec3 a, double s);
double Dot(Vec3 a, Vec3 b);
Vec3 Cross(Vec3 a, Vec3 b);
Vec3 Normalize(Vec3 a);
Mat4 Identity();
Mat4 Translation(Vec3 t);
Mat4 RotationX(double radians);
Mat4 RotationY(double radians);
Mat4 RotationZ(double radians);
Mat4 Multiply(const Mat4& a, const Mat4& b); // a applied first, then b
Mat4 Inverse(const Mat4& a);                 // general 4x4 inverse
Vec3 TransformPoint(Vec3 p, const Mat4& m);
Vec3 TransformDirection(Vec3 d, const Mat4& m);

// --- model description ---
struct Material {
    std::string name;
    double r = 1, g = 1, b = 1, a = 1; // diffuse colour and alpha
    double power = 8;                  // specular exponent
    Vec3 specular{0.1, 0.1, 0.1};
    Vec3 emissive{0, 0, 0};
    std::string texture; // PNG file name beside the .x file, empty for none
};

struct Influence {
    int bone = 0;
    double weight = 1;
};

struct Mesh {
    std::string name;
    std::vector<Vec3> positions;
    std::vector<Vec3> normals; // one per position
    std::vector<Vec2> uvs;     // one per position
    std::vector<std::array<uint32_t, 3>> faces;
    std::vector<uint32_t> faceMaterial; // one per face
    std::vector<Material> materials;
    std::vector<std::vector<Influence>> weights; // one list per position; empty when unskinned
};

struct Frame {
    std::string name;
    int parent = -1; // index into Model::frames; children are written in list order
    Mat4 local;      // bind-pose transform relative to the parent
};

struct AnimKey {
    uint32_t tick = 0;
    Mat4 matrix; // full local transform of the frame at that tick
};

struct Animation {
    std::string frame;
    std::vector<AnimKey> keys;
};

struct AnimationSet {
    std::string name;
    std::vector<Animation> animations;
};

struct Model {
    std::vector<Frame> frames; // empty: the mesh is written at top level
    int meshFrame = -1;        // frame holding the mesh
    Mesh mesh;
    std::vector<std::string> bones; // frame names; bone i is SkinWeights block i
    std::vector<Mat4> boneOffsets;  // inverse bind-pose combined matrix per bone
    uint32_t ticksPerSecond = 4800;
    std::vector<AnimationSet> sets;
};

// --- mesh building (modelgen_shapes.cpp) ---
using WeightFn = std::function<std::vector<Influence>(Vec3)>;

struct MeshBuilder {
    Mesh mesh;
    uint32_t material = 0;
    WeightFn weigh; // called for every new vertex when set
};

uint32_t AddVertex(MeshBuilder& b, Vec3 p, Vec3 n, Vec2 uv);
// Triangle whose front side is where Cross(p1 - p0, p2 - p0) points (clockwise seen from the
// front in a left-handed frame, as Direct3D culls).
void AddTriangle(MeshBuilder& b, uint32_t i0, uint32_t i1, uint32_t i2);
// Flat grid from corner `origin` spanning `du` and `dv`; front side along Cross(du, dv).
// Texture coordinates run from uv0 by uvSpan over the grid.
void AddGrid(MeshBuilder& b, Vec3 origin, Vec3 du, Vec3 dv, int nu, int nv, Vec2 uv0, Vec2 uvSpan);
// Box with outward faces; texture coordinates are world units times uvPerUnit.
void AddBox(MeshBuilder& b, Vec3 lo, Vec3 hi, double uvPerUnit);
// Panel visible from both sides (two back-to-back grids).
void AddTwoSidedPanel(MeshBuilder& b, Vec3 origin, Vec3 du, Vec3 dv);

struct Ring {
    double y, rx, rz;
};
// Vertical tube through (cx, cz) with elliptic rings listed bottom to top; u wraps around
// `uRepeat` times, v runs down `vPerUnit` per world unit. Optional flat caps.
void AddTube(MeshBuilder& b, double cx, double cz, const std::vector<Ring>& rings, int segments,
             bool capBottom, bool capTop, double uRepeat, double vPerUnit);
// Ellipsoid (or the band of it between two latitudes, radians, -pi/2 bottom to pi/2 top).
void AddEllipsoid(MeshBuilder& b, Vec3 centre, Vec3 radii, int segments, int rings, double latFrom,
                  double latTo);
// Strip hanging in front of a body: points top to bottom, facing +z.
void AddRibbon(MeshBuilder& b, const std::vector<Vec3>& spine, const std::vector<double>& widths);
// Sorts faces by material (stable) so every material is one contiguous range.
void GroupFacesByMaterial(Mesh& mesh);

// --- the models ---
Model BuildRoom();
Model BuildSeaman();
Model BuildFatman();

// --- posing, for checks (modelgen_pose.cpp) ---
std::vector<Mat4> BindLocals(const Model& model);
// Locals at `tick` of animation set `set`: keys sampled with linear blending of the matrices.
std::vector<Mat4> PoseLocals(const Model& model, size_t set, uint32_t tick);
std::vector<Mat4> CombinedMatrices(const Model& model, const std::vector<Mat4>& locals);
int FindFrame(const Model& model, const std::string& name);
// Skinned positions in model-root space: sum of w * (v * offset * combined) per vertex.
std::vector<Vec3> SkinPositions(const Model& model, const std::vector<Mat4>& combined);

// --- output (modelgen_xwrite.cpp, modelgen_textures.cpp) ---
std::string WriteXText(const Model& model);

struct Image {
    std::string name; // file name
    int width = 0, height = 0;
    std::vector<uint8_t> rgb; // rows top first, 3 bytes per pixel
};
std::vector<Image> BuildTextures();
std::vector<uint8_t> EncodePng(const Image& image);

// --- what the viewer relies on (modelgen_check.cpp); each returns "" or the first fault ---
// The room encloses the wander square, has a textured floor, a plain and a translucent
// material, faces wound as their normals and its shell facing in.
std::string CheckRoom(const Model& room);
// About 24 tall on the floor facing +z; complete, normalised weights whose offsets undo the
// bind pose; one looping Walk of rigid keys in which the feet take turns on the floor.
std::string CheckCharacter(const Model& character);
// All of the above, the two characters told apart, and every texture named made and sized.
std::string CheckModels(const Model& room, const Model& seaman, const Model& fatman,
                        const std::vector<Image>& images);

// Writes every model and texture into `dir` (which must exist) after CheckModels; returns the
// file names written, or an empty list after printing the failure.
std::vector<std::string> WriteAll(const std::string& dir);

} // namespace modelgen
