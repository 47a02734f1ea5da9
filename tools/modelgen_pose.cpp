// Poses a generated model the way the viewer does (combined matrices, software skinning), so
// the generator's output can be checked in model space.
#include "modelgen.h"

namespace modelgen {

std::vector<Mat4> BindLocals(const Model& model) {
    std::vector<Mat4> locals;
    for (const Frame& f : model.frames) locals.push_back(f.local);
    return locals;
}

int FindFrame(const Model& model, const std::string& name) {
    for (size_t i = 0; i < model.frames.size(); ++i)
        if (model.frames[i].name == name) return int(i);
    return -1;
}

std::vector<Mat4> PoseLocals(const Model& model, size_t set, uint32_t tick) {
    std::vector<Mat4> locals = BindLocals(model);
    if (set >= model.sets.size()) return locals;
    for (const Animation& anim : model.sets[set].animations) {
        int frame = FindFrame(model, anim.frame);
        if (frame < 0 || anim.keys.empty()) continue;
        const std::vector<AnimKey>& keys = anim.keys;
        if (tick <= keys.front().tick) {
            locals[frame] = keys.front().matrix;
        } else if (tick >= keys.back().tick) {
            locals[frame] = keys.back().matrix;
        } else {
            size_t k = 0;
            while (keys[k + 1].tick <= tick) ++k;
            double t = double(tick - keys[k].tick) / double(keys[k + 1].tick - keys[k].tick);
            for (int e = 0; e < 16; ++e)
                locals[frame].m[e] = keys[k].matrix.m[e] * (1 - t) + keys[k + 1].matrix.m[e] * t;
        }
    }
    return locals;
}

// Frames are listed parents first, so one pass suffices.
std::vector<Mat4> CombinedMatrices(const Model& model, const std::vector<Mat4>& locals) {
    std::vector<Mat4> combined(model.frames.size());
    for (size_t i = 0; i < model.frames.size(); ++i) {
        int parent = model.frames[i].parent;
        combined[i] = parent < 0 ? locals[i] : Multiply(locals[i], combined[parent]);
    }
    return combined;
}

std::vector<Vec3> SkinPositions(const Model& model, const std::vector<Mat4>& combined) {
    const Mesh& mesh = model.mesh;
    if (mesh.weights.empty()) return mesh.positions;
    std::vector<Mat4> skin;
    for (size_t b = 0; b < model.bones.size(); ++b) {
        int frame = FindFrame(model, model.bones[b]);
        skin.push_back(Multiply(model.boneOffsets[b], frame < 0 ? Identity() : combined[frame]));
    }
    std::vector<Vec3> out;
    for (size_t v = 0; v < mesh.positions.size(); ++v) {
        Vec3 sum;
        for (const Influence& in : mesh.weights[v])
            sum = Add(sum, Scale(TransformPoint(mesh.positions[v], skin[in.bone]), in.weight));
        out.push_back(sum);
    }
    return out;
}

} // namespace modelgen
