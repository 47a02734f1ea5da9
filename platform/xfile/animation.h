// Animation sets and the animation controller (the D3DX stand-ins): key sampling with linear
// interpolation (positions and scales lerp, rotations slerp, matrix keys lerp element-wise),
// looping over the set's period, written into the frames' TransformationMatrix.
#pragma once

#include "platform/types.h"
#include "platform/xfile/xscene.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

using UINT = uint32_t;

class ID3DXAnimationSet {
  public:
    ID3DXAnimationSet(xfile::AnimationSet data, double ticksPerSecond);

    const char* GetName() const { return data_.name.c_str(); }
    // Seconds: the last key time of the set over the ticks per second.
    double GetPeriod() const { return period_; }
    // position (seconds) wrapped into [0, period): sets loop.
    double GetPeriodicPosition(double position) const;
    UINT GetNumAnimations() const { return UINT(data_.animations.size()); }
    // The name of the frame the animation drives.
    HRESULT GetAnimationNameByIndex(UINT animation, const char** name) const;
    // The frame transform: the matrix keys when the animation has them, else S x R x T.
    HRESULT GetTransform(double periodicPosition, UINT animation, D3DXMATRIX* out) const;

  private:
    // Scale, rotation (as D3DXMatrixRotationQuaternion takes it) and translation at a periodic
    // position. Missing key kinds give scale 1, no rotation, no translation.
    void GetSRT(double periodicPosition, const xfile::Animation& a, D3DXVECTOR3& scale,
                D3DXQUATERNION& rotation, D3DXVECTOR3& translation) const;

    xfile::AnimationSet data_;
    double ticksPerSecond_;
    double period_;
};
using AnimSetPtr = std::shared_ptr<ID3DXAnimationSet>;

class ID3DXAnimationController {
  public:
    static constexpr UINT kMaxTracks = 2;

    // bind maps a frame name to the matrix its animation writes (null: the animation is
    // skipped). Track 0 starts with set 0, enabled.
    ID3DXAnimationController(std::vector<AnimSetPtr> sets,
                             const std::function<D3DXMATRIX*(const std::string&)>& bind);

    UINT GetNumAnimationSets() const { return UINT(sets_.size()); }
    HRESULT GetAnimationSet(UINT index, AnimSetPtr* set) const;
    // set must be one of this controller's sets.
    HRESULT SetTrackAnimationSet(UINT track, const AnimSetPtr& set);
    HRESULT SetTrackEnable(UINT track, bool enable);
    HRESULT SetTrackPosition(UINT track, double position);
    // Moves every enabled track by seconds, then writes
    // each enabled track's pose at its position into the bound frames; a later track overrides
    // an earlier one on the frames both drive. The callback handler is not used.
    HRESULT AdvanceTime(double seconds, void* callbackHandler);

  private:
    struct Track {
        int set = -1;
        bool enabled = false;
        double position = 0;
    };
    std::vector<AnimSetPtr> sets_;
    std::vector<std::vector<D3DXMATRIX*>> outputs_; // per set, per animation
    Track tracks_[kMaxTracks];
};
using AnimControllerPtr = std::shared_ptr<ID3DXAnimationController>;
