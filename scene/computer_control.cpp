// Computer control: a character walks toward a target on the floor, turning a little per step,
// stops on arrival and after a random pause picks a new target.
#include "core/settings.h"
#include "platform/win/input.h"
#include "core/matrix.h"
#include "models/model.h"
#include "scene/scene.h"

#include <cmath>
#include <cstdlib>

float YawFromDirection(float x, float, float z) {
    // 1.57 and 3.14 stand for pi/2 and pi, and 57.32484 is 180 / 3.14: a heading of +z comes
    // out as about -0.0456 degrees, not 0.
    const float halfPi = 1.57f;
    const float pi = 3.14f;
    const float toDegrees = 57.32484f;
    if (z == 0.0f) return x > 0.0f ? halfPi * toDegrees : -halfPi * toDegrees;
    if (z > 0.0f) return (halfPi - std::acos(x)) * toDegrees;
    return (halfPi - (std::acos(-x) + pi)) * toDegrees;
}

// Turns yaw by at most step toward target, the shorter way round; on reaching it the yaw
// becomes the target itself (not target + 360).
static void TurnToward(float& yaw, float target, float step) {
    if (yaw == target) return;
    const float wanted = target < yaw ? target + 360.0f : target;
    if (wanted - yaw < 180.0f) {
        yaw += step;
        if (yaw >= wanted) yaw = target;
    } else {
        yaw -= step;
        if (yaw <= wanted - 360.0f) yaw = target;
    }
}

// A grid coordinate from -range to just below range, step range / 50.
static float RandomCoordinate(float range) {
    return float(double(std::rand() % 100) * 0.01 * range * 2 - range);
}

void ComputerControl(int slot) {
    SceneObject& o = ObjectAt(slot);
    const float s = g_fWanderStep;

    const float dx = o.target.x - o.position.x;
    const float dz = o.target.z - o.position.z;
    const float d = std::sqrt(dz * dz + dx * dx);

    if (d > s) {
        D3DXVECTOR3 toTarget = {dx, 0.0f, dz};
        D3DXVec3Normalize(&toTarget, &toTarget);
        o.targetYaw = YawFromDirection(toTarget.x, toTarget.y, toTarget.z);
    } else {
        o.targetYaw = o.yaw;
    }

    TurnToward(o.yaw, o.targetYaw, g_fWanderTurn);

    // The character walks along its current heading while it turns: its path is a curve.
    if (d > 0.0f) {
        const D3DXVECTOR3 h = DirectionFromYaw(o.yaw);
        o.velocity.x = s * h.x;
        o.velocity.z = s * h.z;
    }

    if (d < s) {
        o.velocity.x = 0.0f;
        o.velocity.z = 0.0f;
        o.targetYaw = o.yaw;
        o.target.x = o.position.x;
        o.target.z = o.position.z;
        // One chance in a thousand per step to set out again, to a target at least 100 steps
        // away.
        if (std::rand() % 1000 == 0) {
            const float range = g_fWanderRange;
            float gap;
            do {
                o.target.x = RandomCoordinate(range);
                o.target.z = RandomCoordinate(range);
                const float tx = o.target.x - o.position.x;
                const float tz = o.target.z - o.position.z;
                gap = std::sqrt(tx * tx + tz * tz);
            } while (gap < 100.0f * s);
        }
    }

    const bool walking = o.velocity.x != 0.0f || o.velocity.y != 0.0f || o.velocity.z != 0.0f;
    if (walking && !o.animating) {
        o.animating = true;
        o.animEnd = float(ModelSlotAt(o.modelSlot).Period);
        o.animTime = 0.0f;
        o.animTick = GetTickCount();
    }

    o.moved = true; // in every step, even standing still
    o.position.x += o.velocity.x;
    o.position.y += o.velocity.y;
    o.position.z += o.velocity.z;
}
