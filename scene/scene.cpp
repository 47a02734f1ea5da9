#include "scene/scene.h"

#include "core/settings.h"
#include "platform/win/input.h"
#include "core/matrix.h"

#include <cstring>

SceneObject g_SceneObjects[kSceneObjectCount];

void ResetScene() {
    std::memset(g_SceneObjects, 0, sizeof g_SceneObjects);
}

void PlaceObject(int slot, int32_t modelSlot, float x, float y, float z, float scaleX, float scaleY,
                 float scaleZ, float pitch, float yaw, float roll) {
    SceneObject& o = ObjectAt(slot);
    o.modelSlot = modelSlot;
    o.position = {x, y, z};
    o.scale = {scaleX, scaleY, scaleZ};
    o.pitch = pitch;
    o.yaw = yaw;
    o.roll = roll;
    o.velocity = {0.0f, 0.0f, 0.0f};
    o.target = {x, y, z};
    o.targetYaw = yaw;
    o.moved = true;
    o.animating = false;
    o.animTime = 0.0f;
    o.animEnd = 0.0f;
    // animTick keeps its value.
}

void PlaceCharactersAtStart() {
    PlaceObject(g_nCharacters[0], 1, -20, 0, 40, 1, 1, 1, 0, 90, 0);
    PlaceObject(g_nCharacters[1], 2, 0, 0, -40, 1, 1, 1, 0, 0, 0);
}

D3DXVECTOR3 DirectionFromYaw(float yaw) {
    // 3.14 / 180, not pi / 180: headings turn by this factor, the camera views by pi / 180.
    const float angle = yaw * float(3.14 / 180.0);
    D3DXMATRIX rotation;
    D3DXMatrixRotationY(&rotation, angle);
    const D3DXVECTOR3 ahead = {0.0f, 0.0f, 1.0f};
    D3DXVECTOR3 d;
    D3DXVec3TransformCoord(&d, &ahead, &rotation);
    D3DXVec3Normalize(&d, &d);
    return d;
}

void TurnObject(int slot, float angle) {
    ObjectAt(slot).yaw += angle;
}

// Moves an object by distance along a unit direction and flags it for the position send.
static void Displace(SceneObject& o, const D3DXVECTOR3& direction, float distance) {
    o.moved = true;
    o.position.x += direction.x * distance;
    o.position.y += direction.y * distance;
    o.position.z += direction.z * distance;
}

void MoveObject(int slot, float distance) {
    SceneObject& o = ObjectAt(slot);
    Displace(o, DirectionFromYaw(o.yaw), distance);
}

void StrafeObject(int slot, float distance) {
    SceneObject& o = ObjectAt(slot);
    const D3DXVECTOR3 d = DirectionFromYaw(o.yaw);
    const D3DXVECTOR3 up = {0.0f, 1.0f, 0.0f};
    D3DXVECTOR3 right;
    D3DXVec3Cross(&right, &up, &d);
    D3DXVec3Normalize(&right, &right);
    Displace(o, right, distance);
}

void LiftObject(int slot, float distance) {
    SceneObject& o = ObjectAt(slot);
    o.moved = true;
    o.position.y += distance;
}

void StepAnimation(int slot) {
    SceneObject& o = ObjectAt(slot);
    if (!o.animating) return;
    const uint32_t now = GetTickCount();
    if (now - o.animTick < 40) return;
    o.animTime += 0.04f;
    if (o.animTime >= o.animEnd) {
        o.animTime = o.animEnd;
        o.animating = false;
    }
    o.animTick = now;
}
