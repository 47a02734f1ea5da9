// The scene object table: the room and the two characters, indexed by object slot (0 room,
// 1 and 2 characters), and every operation that places, turns, moves, strafes, lifts and
// animates an object.
#pragma once

#include "platform/invariant.h"
#include "platform/types.h"

#include <cstdint>

struct SceneObject {
    int32_t modelSlot;
    D3DXVECTOR3 position;
    D3DXVECTOR3 scale;
    float pitch;
    float yaw; // degrees, never wrapped
    float roll;
    D3DXVECTOR3 velocity;
    D3DXVECTOR3 target;
    float targetYaw;
    bool moved;
    bool animating;
    float animTime;
    float animEnd;
    uint32_t animTick;
};

constexpr int kSceneObjectCount = 3;
extern SceneObject g_SceneObjects[kSceneObjectCount];
// The record of an object slot, which must be one of the table's.
inline SceneObject& ObjectAt(int slot) {
    DUO_ASSERT(slot >= 0 && slot < kSceneObjectCount);
    return g_SceneObjects[slot];
}

void PlaceObject(int slot, int32_t modelSlot, float x, float y, float z, float scaleX, float scaleY,
                 float scaleZ, float pitch, float yaw, float roll);

// The characters' start places: the first at (-20, 0, 40) facing +x, the second at (0, 0, -40)
// facing +z, each with its own model slot.
void PlaceCharactersAtStart();

// Unit heading (sin a, 0, cos a) of a yaw in degrees, a = yaw * 3.14 / 180.
D3DXVECTOR3 DirectionFromYaw(float yaw);
void TurnObject(int slot, float angle);
void MoveObject(int slot, float distance);
void StrafeObject(int slot, float distance);
void LiftObject(int slot, float distance);
void StepAnimation(int slot);

// Computer control: one wander step, and the yaw of a heading.
void ComputerControl(int slot);
float YawFromDirection(float x, float y, float z);

// Zero-fills the table (tests run several starts in one process).
void ResetScene();
