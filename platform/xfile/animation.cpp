#include "platform/xfile/animation.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using xfile::Key;

// The keys around a time: a and b with b's share f; a == b outside the keyed range.
template <int N> struct Bracket {
    const Key<N>* a = nullptr;
    const Key<N>* b = nullptr;
    float f = 0;
};

template <int N> Bracket<N> Find(const std::vector<Key<N>>& keys, double ticks) {
    Bracket<N> r;
    if (keys.empty()) return r;
    auto next = std::upper_bound(keys.begin(), keys.end(), ticks,
                                 [](double t, const Key<N>& k) { return t < double(k.time); });
    if (next == keys.begin()) {
        r.a = r.b = &keys.front();
    } else if (next == keys.end()) {
        r.a = r.b = &keys.back();
    } else {
        r.a = &*(next - 1);
        r.b = &*next;
        r.f = float((ticks - double(r.a->time)) / double(r.b->time - r.a->time));
    }
    return r;
}

template <int N> void Lerp(const Bracket<N>& k, float* out) {
    for (int i = 0; i < N; ++i) out[i] = k.a->value[i] + (k.b->value[i] - k.a->value[i]) * k.f;
}

// Spherical interpolation along the shorter arc of two quaternions (any component order).
void Slerp(const float* a, const float* b, float f, float* out) {
    float dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
    float sign = 1;
    if (dot < 0) {
        dot = -dot;
        sign = -1;
    }
    float wa = 1 - f, wb = f;
    if (dot < 0.9995f) {
        const float angle = std::acos(std::min(dot, 1.0f));
        const float s = std::sin(angle);
        wa = std::sin((1 - f) * angle) / s;
        wb = std::sin(f * angle) / s;
    }
    float len = 0;
    for (int i = 0; i < 4; ++i) {
        out[i] = wa * a[i] + sign * wb * b[i];
        len += out[i] * out[i];
    }
    len = std::sqrt(len);
    for (int i = 0; i < 4; ++i) out[i] = len > 0 ? out[i] / len : (i == 0 ? 1.0f : 0.0f);
}

// .x rotation keys are stored w, x, y, z, and as the conjugate of the quaternion that
// D3DXMatrixRotationQuaternion turns into the frame's rotation (checked against exported
// files whose bind pose repeats each frame's own matrix).
D3DXQUATERNION FromFileQuaternion(const float wxyz[4]) {
    return {-wxyz[1], -wxyz[2], -wxyz[3], wxyz[0]};
}

// D3DXMatrixRotationQuaternion: row-vector convention.
D3DXMATRIX RotationMatrix(const D3DXQUATERNION& q) {
    const float x = q.x, y = q.y, z = q.z, w = q.w;
    return D3DXMATRIX{{{1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w), 0},
                       {2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w), 0},
                       {2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y), 0},
                       {0, 0, 0, 1}}};
}

} // namespace

ID3DXAnimationSet::ID3DXAnimationSet(xfile::AnimationSet data, double ticksPerSecond)
    : data_(std::move(data)), ticksPerSecond_(ticksPerSecond > 0 ? ticksPerSecond : 4800) {
    uint32_t last = 0;
    for (const xfile::Animation& a : data_.animations) {
        if (!a.rotations.empty()) last = std::max(last, a.rotations.back().time);
        if (!a.scales.empty()) last = std::max(last, a.scales.back().time);
        if (!a.positions.empty()) last = std::max(last, a.positions.back().time);
        if (!a.matrices.empty()) last = std::max(last, a.matrices.back().time);
    }
    period_ = double(last) / ticksPerSecond_;
}

double ID3DXAnimationSet::GetPeriodicPosition(double position) const {
    if (!(period_ > 0) || !std::isfinite(position)) return 0;
    double p = std::fmod(position, period_);
    if (p < 0) p += period_;
    return p;
}

HRESULT ID3DXAnimationSet::GetAnimationNameByIndex(UINT animation, const char** name) const {
    if (animation >= data_.animations.size() || !name) return E_FAIL;
    *name = data_.animations[animation].frameName.c_str();
    return S_OK;
}

void ID3DXAnimationSet::GetSRT(double periodicPosition, const xfile::Animation& a,
                               D3DXVECTOR3& scale, D3DXQUATERNION& rotation,
                               D3DXVECTOR3& translation) const {
    const double ticks = periodicPosition * ticksPerSecond_;
    float s[3] = {1, 1, 1};
    if (auto k = Find(a.scales, ticks); k.a) Lerp(k, s);
    scale = {s[0], s[1], s[2]};
    float q[4] = {1, 0, 0, 0};
    if (auto k = Find(a.rotations, ticks); k.a) Slerp(k.a->value, k.b->value, k.f, q);
    rotation = FromFileQuaternion(q);
    float t[3] = {0, 0, 0};
    if (auto k = Find(a.positions, ticks); k.a) Lerp(k, t);
    translation = {t[0], t[1], t[2]};
}

HRESULT ID3DXAnimationSet::GetTransform(double periodicPosition, UINT animation,
                                        D3DXMATRIX* out) const {
    if (animation >= data_.animations.size() || !out) return E_FAIL;
    const xfile::Animation& a = data_.animations[animation];
    if (!a.matrices.empty()) {
        Lerp(Find(a.matrices, periodicPosition * ticksPerSecond_), &out->m[0][0]);
        return S_OK;
    }
    D3DXVECTOR3 s, t;
    D3DXQUATERNION q;
    GetSRT(periodicPosition, a, s, q, t);
    // S x R x T: scale, then rotate, then move.
    D3DXMATRIX m = RotationMatrix(q);
    for (int c = 0; c < 3; ++c) {
        m.m[0][c] *= s.x;
        m.m[1][c] *= s.y;
        m.m[2][c] *= s.z;
    }
    m.m[3][0] = t.x;
    m.m[3][1] = t.y;
    m.m[3][2] = t.z;
    *out = m;
    return S_OK;
}

ID3DXAnimationController::ID3DXAnimationController(
    std::vector<AnimSetPtr> sets, const std::function<D3DXMATRIX*(const std::string&)>& bind)
    : sets_(std::move(sets)) {
    for (const AnimSetPtr& set : sets_) {
        auto& out = outputs_.emplace_back();
        for (UINT i = 0; i < set->GetNumAnimations(); ++i) {
            const char* name = nullptr;
            set->GetAnimationNameByIndex(i, &name);
            out.push_back(name && *name ? bind(name) : nullptr);
        }
    }
    if (!sets_.empty()) {
        tracks_[0].set = 0;
        tracks_[0].enabled = true;
    }
}

HRESULT ID3DXAnimationController::GetAnimationSet(UINT index, AnimSetPtr* set) const {
    if (index >= sets_.size() || !set) return E_FAIL;
    *set = sets_[index];
    return S_OK;
}

HRESULT ID3DXAnimationController::SetTrackAnimationSet(UINT track, const AnimSetPtr& set) {
    if (track >= kMaxTracks) return E_FAIL;
    if (!set) {
        tracks_[track].set = -1;
        return S_OK;
    }
    auto it = std::find(sets_.begin(), sets_.end(), set);
    if (it == sets_.end()) return E_FAIL;
    tracks_[track].set = int(it - sets_.begin());
    return S_OK;
}

HRESULT ID3DXAnimationController::SetTrackEnable(UINT track, bool enable) {
    if (track >= kMaxTracks) return E_FAIL;
    tracks_[track].enabled = enable;
    return S_OK;
}

HRESULT ID3DXAnimationController::SetTrackPosition(UINT track, double position) {
    if (track >= kMaxTracks) return E_FAIL;
    tracks_[track].position = position;
    return S_OK;
}

HRESULT ID3DXAnimationController::AdvanceTime(double seconds, void*) {
    for (Track& t : tracks_) {
        if (!t.enabled || t.set < 0) continue;
        t.position += seconds;
        const ID3DXAnimationSet& set = *sets_[t.set];
        const double at = set.GetPeriodicPosition(t.position);
        const std::vector<D3DXMATRIX*>& out = outputs_[t.set];
        for (UINT i = 0; i < out.size(); ++i)
            if (out[i]) set.GetTransform(at, i, out[i]);
    }
    return S_OK;
}
