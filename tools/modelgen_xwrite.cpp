// Text .x writer ("xof 0303txt 0032"), no template declarations, one space of indent per
// level. The exact syntax written, with N vertices, F faces, M materials:
//
//   AnimTicksPerSecond {            (only for animated models)
//    4800;
//   }
//   Frame Name {                    (frames nest; the room has none)
//    FrameTransformMatrix {
//     m11,m12,...,m44;;             (16 floats, row by row, translation in m41..m43)
//    }
//    Mesh Name {
//     N;  x;y;z;,  ...  x;y;z;;     (one vertex per line)
//     F;  3;a,b,c;,  ...  3;a,b,c;; (triangles, front side clockwise)
//     MeshNormals { N; nx;ny;nz;, ... ;; F; 3;a,b,c;, ... ;; }   (one normal per vertex)
//     MeshTextureCoords { N; u;v;, ... u;v;; }                  (v = 0 is the top row)
//     MeshMaterialList { M; F; i, ... i; Material Name { r;g;b;a;; power; sr;sg;sb;;
//                        er;eg;eb;; TextureFilename { "file.png"; } } ... }
//     XSkinMeshHeader { maxPerVertex; maxPerFace; bones; }
//     SkinWeights { "Frame"; n; i, ... i; w, ... w; offset m11,...,m44;; }   (one per bone)
//    }
//   }
//   AnimationSet Name {
//    Animation {
//     {Frame}
//     AnimationOptions { 1; 0; }
//     AnimationKey { 4; K; tick;16;m11,...,m44;;, ... tick;16;m11,...,m44;;; }
//    }
//   }
//
// Floats are written with "%.6f"; values that round to zero are written as 0.000000 so that no
// "-0.000000" appears.
#include "modelgen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>

namespace modelgen {

namespace {

std::string Num(double v) {
    if (std::fabs(v) < 5e-7) v = 0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6f", v);
    return buf;
}

std::string Ind(int depth) {
    return std::string(size_t(depth), ' ');
}

// 16 floats, comma separated, no terminator.
std::string MatrixText(const Mat4& m) {
    std::string s;
    for (int i = 0; i < 16; ++i) s += (i ? "," : "") + Num(m.m[i]);
    return s;
}

// List element separator: ',' between elements, ';' after the last.
const char* Sep(size_t i, size_t n) {
    return i + 1 < n ? "," : ";";
}

void WriteFaces(std::string& out, const Mesh& mesh, int d) {
    const size_t n = mesh.faces.size();
    out += Ind(d) + std::to_string(n) + ";\n";
    for (size_t i = 0; i < n; ++i) {
        const auto& f = mesh.faces[i];
        out += Ind(d) + "3;" + std::to_string(f[0]) + "," + std::to_string(f[1]) + "," +
               std::to_string(f[2]) + ";" + Sep(i, n) + "\n";
    }
}

void WriteVectors(std::string& out, const std::vector<Vec3>& v, int d) {
    out += Ind(d) + std::to_string(v.size()) + ";\n";
    for (size_t i = 0; i < v.size(); ++i)
        out += Ind(d) + Num(v[i].x) + ";" + Num(v[i].y) + ";" + Num(v[i].z) + ";" +
               Sep(i, v.size()) + "\n";
}

void WriteMaterial(std::string& out, const Material& m, int d) {
    out += Ind(d) + "Material " + m.name + " {\n";
    out += Ind(d + 1) + Num(m.r) + ";" + Num(m.g) + ";" + Num(m.b) + ";" + Num(m.a) + ";;\n";
    out += Ind(d + 1) + Num(m.power) + ";\n";
    out +=
        Ind(d + 1) + Num(m.specular.x) + ";" + Num(m.specular.y) + ";" + Num(m.specular.z) + ";;\n";
    out +=
        Ind(d + 1) + Num(m.emissive.x) + ";" + Num(m.emissive.y) + ";" + Num(m.emissive.z) + ";;\n";
    if (!m.texture.empty())
        out += Ind(d + 1) + "TextureFilename {\n" + Ind(d + 2) + "\"" + m.texture + "\";\n" +
               Ind(d + 1) + "}\n";
    out += Ind(d) + "}\n";
}

void WriteSkin(std::string& out, const Model& model, int d) {
    const Mesh& mesh = model.mesh;
    size_t perVertex = 0, perFace = 0;
    for (const auto& w : mesh.weights) perVertex = std::max(perVertex, w.size());
    for (const auto& f : mesh.faces) {
        std::set<int> bones;
        for (uint32_t v : f)
            for (const Influence& in : mesh.weights[v]) bones.insert(in.bone);
        perFace = std::max(perFace, bones.size());
    }
    out += "\n" + Ind(d) + "XSkinMeshHeader {\n";
    out += Ind(d + 1) + std::to_string(perVertex) + ";\n";
    out += Ind(d + 1) + std::to_string(perFace) + ";\n";
    out += Ind(d + 1) + std::to_string(model.bones.size()) + ";\n";
    out += Ind(d) + "}\n";

    for (size_t b = 0; b < model.bones.size(); ++b) {
        std::vector<uint32_t> index;
        std::vector<double> weight;
        for (size_t v = 0; v < mesh.weights.size(); ++v)
            for (const Influence& in : mesh.weights[v])
                if (in.bone == int(b)) {
                    index.push_back(uint32_t(v));
                    weight.push_back(in.weight);
                }
        out += "\n" + Ind(d) + "SkinWeights {\n";
        out += Ind(d + 1) + "\"" + model.bones[b] + "\";\n";
        out += Ind(d + 1) + std::to_string(index.size()) + ";\n";
        for (size_t i = 0; i < index.size(); ++i)
            out += Ind(d + 1) + std::to_string(index[i]) + Sep(i, index.size()) + "\n";
        for (size_t i = 0; i < weight.size(); ++i)
            out += Ind(d + 1) + Num(weight[i]) + Sep(i, weight.size()) + "\n";
        out += Ind(d + 1) + MatrixText(model.boneOffsets[b]) + ";;\n";
        out += Ind(d) + "}\n";
    }
}

void WriteMesh(std::string& out, const Model& model, int d) {
    const Mesh& mesh = model.mesh;
    out += Ind(d) + "Mesh " + mesh.name + " {\n";
    WriteVectors(out, mesh.positions, d + 1);
    WriteFaces(out, mesh, d + 1);

    out += "\n" + Ind(d + 1) + "MeshNormals {\n";
    WriteVectors(out, mesh.normals, d + 2);
    WriteFaces(out, mesh, d + 2);
    out += Ind(d + 1) + "}\n";

    out += "\n" + Ind(d + 1) + "MeshTextureCoords {\n";
    out += Ind(d + 2) + std::to_string(mesh.uvs.size()) + ";\n";
    for (size_t i = 0; i < mesh.uvs.size(); ++i)
        out += Ind(d + 2) + Num(mesh.uvs[i].u) + ";" + Num(mesh.uvs[i].v) + ";" +
               Sep(i, mesh.uvs.size()) + "\n";
    out += Ind(d + 1) + "}\n";

    out += "\n" + Ind(d + 1) + "MeshMaterialList {\n";
    out += Ind(d + 2) + std::to_string(mesh.materials.size()) + ";\n";
    out += Ind(d + 2) + std::to_string(mesh.faceMaterial.size()) + ";\n";
    for (size_t i = 0; i < mesh.faceMaterial.size(); ++i)
        out += Ind(d + 2) + std::to_string(mesh.faceMaterial[i]) +
               Sep(i, mesh.faceMaterial.size()) + "\n";
    for (const Material& m : mesh.materials) WriteMaterial(out, m, d + 2);
    out += Ind(d + 1) + "}\n";

    if (!model.bones.empty()) WriteSkin(out, model, d + 1);
    out += Ind(d) + "}\n";
}

void WriteFrame(std::string& out, const Model& model, size_t index, int d) {
    const Frame& f = model.frames[index];
    out += Ind(d) + "Frame " + f.name + " {\n";
    out += Ind(d + 1) + "FrameTransformMatrix {\n";
    out += Ind(d + 2) + MatrixText(f.local) + ";;\n";
    out += Ind(d + 1) + "}\n";
    if (model.meshFrame == int(index)) {
        out += "\n";
        WriteMesh(out, model, d + 1);
    }
    for (size_t c = 0; c < model.frames.size(); ++c)
        if (model.frames[c].parent == int(index)) {
            out += "\n";
            WriteFrame(out, model, c, d + 1);
        }
    out += Ind(d) + "}\n";
}

void WriteAnimationSet(std::string& out, const AnimationSet& set) {
    out += "AnimationSet " + set.name + " {\n";
    for (size_t a = 0; a < set.animations.size(); ++a) {
        const Animation& anim = set.animations[a];
        out += (a ? "\n" : "") + Ind(1) + "Animation {\n";
        out += Ind(2) + "{" + anim.frame + "}\n";
        out += Ind(2) + "AnimationOptions {\n" + Ind(3) + "1;\n" + Ind(3) + "0;\n" + Ind(2) + "}\n";
        out += Ind(2) + "AnimationKey {\n";
        out += Ind(3) + "4;\n";
        out += Ind(3) + std::to_string(anim.keys.size()) + ";\n";
        for (size_t k = 0; k < anim.keys.size(); ++k)
            out += Ind(3) + std::to_string(anim.keys[k].tick) + ";16;" +
                   MatrixText(anim.keys[k].matrix) + ";;" + Sep(k, anim.keys.size()) + "\n";
        out += Ind(2) + "}\n";
        out += Ind(1) + "}\n";
    }
    out += "}\n";
}

bool WriteFile(const std::string& path, const void* data, size_t size) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(static_cast<const char*>(data), std::streamsize(size));
    f.close();
    if (!f) std::fprintf(stderr, "duoscope-modelgen: cannot write %s\n", path.c_str());
    return bool(f);
}

} // namespace

std::string WriteXText(const Model& model) {
    std::string out = "xof 0303txt 0032\n";
    if (!model.sets.empty())
        out +=
            "\nAnimTicksPerSecond {\n" + Ind(1) + std::to_string(model.ticksPerSecond) + ";\n}\n";
    if (model.frames.empty()) {
        out += "\n";
        WriteMesh(out, model, 0);
    }
    for (size_t i = 0; i < model.frames.size(); ++i)
        if (model.frames[i].parent < 0) {
            out += "\n";
            WriteFrame(out, model, i, 0);
        }
    for (const AnimationSet& set : model.sets) {
        out += "\n";
        WriteAnimationSet(out, set);
    }
    return out;
}

std::vector<std::string> WriteAll(const std::string& dir) {
    std::vector<std::string> written;
    const std::pair<const char*, Model> models[] = {
        {"room.x", BuildRoom()}, {"seaman.x", BuildSeaman()}, {"fatman.x", BuildFatman()}};
    const std::vector<Image> images = BuildTextures();
    const std::string fault =
        CheckModels(models[0].second, models[1].second, models[2].second, images);
    if (!fault.empty()) {
        std::fprintf(stderr, "duoscope-modelgen: refused to write: %s\n", fault.c_str());
        return {};
    }
    for (const auto& [name, model] : models) {
        std::string text = WriteXText(model);
        if (!WriteFile(dir + "/" + name, text.data(), text.size())) return {};
        written.push_back(name);
    }
    for (const Image& image : images) {
        std::vector<uint8_t> png = EncodePng(image);
        if (png.empty() || !WriteFile(dir + "/" + image.name, png.data(), png.size())) return {};
        written.push_back(image.name);
    }
    return written;
}

} // namespace modelgen
