// Motion, computer control, cameras and matrix helpers, with the exact values they must give.
#include "core/matrix.h"
#include "core/settings.h"
#include "models/model.h"
#include "platform/win/input.h"
#include "render/camera.h"
#include "scene/scene.h"
#include "support/gl_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <tuple>

namespace {

using Xyz = std::array<float, 3>;
const auto Of = [](const D3DXVECTOR3& v) { return Xyz{v.x, v.y, v.z}; };

class Motion : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetSettings();
        ResetScene();
        SetTickCountForTests(5000);
        g_ModelSlots[1].Period = 0.0;
        std::srand(7);
    }
    void TearDown() override { SetTickCountForTests(std::nullopt); }
    SceneObject& Object() { return g_SceneObjects[1]; }
    void Stand(float x, float z, float yaw) {
        PlaceObject(1, 1, x, 0, z, 1, 1, 1, 0, yaw, 0);
        Object().moved = false;
    }
};

TEST_F(Motion, HeadingAndYawFromDirectionUseThreePointOneFourOverOneEighty) {
    // pi/180 would give (nearly) zero z at 90 degrees.
    const float cases[][3] = {
        {0, 0, 1}, {90, 0.99999970f, 0.00079627f}, {180, 0.00159255f, -0.99999875f}};
    for (auto [yaw, x, z] : cases) {
        const D3DXVECTOR3 d = DirectionFromYaw(yaw);
        EXPECT_LT(std::fabs(d.x - x) + std::fabs(d.y) + std::fabs(d.z - z), 2e-7) << yaw;
    }

    // y plays no part; +z is not 0 and -z not -180, because 1.57 and 3.14 are not pi/2 and pi;
    // behind and to the right comes out below -180, not near +135.
    const float directions[][5] = {{1, 0, 0, 90, 0},
                                   {-1, 0, 0, -90, 0},
                                   {1, 7, 0, 90, 0},
                                   {0, 0, 1, -0.0456f, 1e-4f},
                                   {0, 0, -1, -180.0457f, 1e-3f},
                                   {0.7071f, 0, 0.7071f, 44.977f, 1e-3f},
                                   {0.7071f, 0, -0.7071f, -225.07f, 1e-2f}};
    for (auto [x, y, z, yaw, tolerance] : directions)
        EXPECT_NEAR(YawFromDirection(x, y, z), yaw, tolerance) << x << ", " << y << ", " << z;
}

TEST_F(Motion, MoveStrafeLiftTurnAndPlace) {
    Stand(0, 0, 0);
    MoveObject(1, -1.0f);
    EXPECT_EQ(std::tuple(Of(Object().position), Object().moved), std::tuple(Xyz{0, 0, -1}, true));
    Stand(0, 0, 0);
    StrafeObject(1, 1.0f);
    EXPECT_EQ(Of(Object().position), (Xyz{1, 0, 0}));
    Stand(0, 0, 90);
    StrafeObject(1, 1.0f);
    EXPECT_NEAR(std::hypot(Object().position.x - 0.0008f, Object().position.z + 1.0f), 0, 1e-4);
    Object().moved = false;
    TurnObject(1, 400.0f);
    EXPECT_EQ(std::tuple(Object().yaw, Object().moved), std::tuple(490.0f, false)); // not wrapped
    LiftObject(1, 2.5f);
    EXPECT_EQ(std::tuple(Object().position.y, Object().moved), std::tuple(2.5f, true));

    // Placing leaves the object standing at its target, its animation clock kept.
    g_SceneObjects[2].animTick = 1234, g_SceneObjects[2].animating = true;
    PlaceObject(2, 2, 0, 0, -40, 1, 1, 1, 0, 30, 0);
    const SceneObject& o = g_SceneObjects[2];
    EXPECT_EQ(std::tuple(o.target.z, o.targetYaw, o.moved, o.animating, o.animTick),
              std::tuple(-40.0f, 30.0f, true, false, 1234u));
}

TEST_F(Motion, ASlotOutsideTheTableBreaksAnInvariantInTestBuilds) {
    if (!kInvariantsChecked) GTEST_SKIP() << "invariant checks are compiled out of this build";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(MoveObject(3, 1.0f), "invariant broken: slot >= 0 && slot < kSceneObjectCount");
    EXPECT_DEATH(TurnObject(-1, 1.0f), "invariant broken");
}

TEST_F(Motion, AnimationClockStepsAtMostOncePerFortyMillisecondsAndCamerasSitAhead) {
    SceneObject& o = g_SceneObjects[1];
    SetTickCountForTests(1000);
    StepAnimation(1); // not animating: nothing, not even the tick
    EXPECT_EQ(o.animTick, 0u);
    o.animating = true, o.animEnd = 0.1f, o.animTick = 1000;
    // The same tick twice steps once; a long gap still steps once; the end stops it.
    const std::pair<DWORD, float> steps[] = {
        {1039, 0}, {1040, 0.04f}, {1040, 0.04f}, {5000, 0.08f}, {5040, 0.1f}};
    for (auto [tick, time] : steps) {
        SetTickCountForTests(tick);
        StepAnimation(1);
        EXPECT_FLOAT_EQ(o.animTime, time) << tick;
    }
    EXPECT_FALSE(o.animating);

    PlaceStartScene();
    EXPECT_EQ(std::tuple(Of(g_vEye1), g_fEyeYaw1), std::tuple(Xyz{0, 25, -34}, 0.0f)); // 6 ahead
    // Twelve ahead of the first character.
    EXPECT_NEAR(std::hypot(g_vEye2.x + 8.0000038f, g_vEye2.z - 40.009556f), 0.0f, 1e-5);
    EXPECT_EQ(std::pair(g_vEye2.y, g_fEyeYaw2), std::pair(25.0f, 90.0f));
}

TEST_F(Motion, ProjectionAndViewMatrices) {
    BuildViewMatrices();
    const float rows[4][4] = {
        {1.81066f, 0, 0, 0}, {0, 2.41421f, 0, 0}, {0, 0, 1.002004f, 1}, {0, 0, -2.004008f, 0}};
    for (int r = 0; r < 16; ++r)
        EXPECT_NEAR(g_matProj.m[r / 4][r % 4], rows[r / 4][r % 4], 1e-5) << r;

    // A point straight ahead of an eye lands on the view's +z axis, for any heading.
    for (float yaw : {0.0f, 37.0f, 90.0f, -90.0f, 450.0f}) {
        g_vEye1 = {3.0f, 25.0f, -7.0f}, g_fEyeYaw1 = yaw;
        BuildViewMatrices();
        const float a = yaw * 3.14159265f / 180.0f;
        D3DXVECTOR3 ahead = {3.0f + 10 * std::sin(a), 25.0f, -7.0f + 10 * std::cos(a)}, v;
        D3DXVec3TransformCoord(&v, &ahead, &g_matView1);
        EXPECT_NEAR(std::hypot(v.x, v.y, v.z - 10.0f), 0.0f, 1e-4) << yaw;
        D3DXVECTOR3 right = {3.0f + 5 * std::cos(a), 25.0f, -7.0f - 5 * std::sin(a)}; // onto +x
        D3DXVec3TransformCoord(&v, &right, &g_matView1);
        EXPECT_NEAR(v.x, 5.0f, 1e-4) << yaw;
    }

    g_nScreenWidth = g_nScreenHeight = 500;
    BuildViewMatrices();
    EXPECT_EQ(g_matProj.m[0][0], g_matProj.m[1][1]);
}

TEST(Matrices, RotationsFollowTheLeftHandedRows) {
    // The product's order is caught by the view matrices above (a translation and a turn).
    D3DXMATRIX rx, ry, rz;
    D3DXMatrixRotationX(&rx, 0.5f), D3DXMatrixRotationY(&ry, 0.5f), D3DXMatrixRotationZ(&rz, 0.5f);
    const float s = std::sin(0.5f);
    EXPECT_EQ((std::array{rx.m[1][2], rx.m[2][1], ry.m[2][0], ry.m[0][2], rz.m[0][1], rz.m[1][0]}),
              (std::array{s, -s, s, -s, s, -s}));
}

TEST_F(Motion, AtItsTargetItStandsAndOneStepAwayItWalksOntoItWithoutANewHeading) {
    Stand(3, 4, 30);
    ComputerControl(1);
    const SceneObject& o = Object();
    EXPECT_EQ(std::tuple(o.yaw, o.targetYaw, Of(o.position), Of(o.velocity), o.moved, o.animating),
              std::tuple(30.0f, 30.0f, Xyz{3, 0, 4}, Xyz{0, 0, 0}, true, false));

    Stand(0, 0, 0);
    Object().target = {0.0f, 0.0f, 0.05f}; // one wander step
    Object().targetYaw = 123.0f;
    ComputerControl(1);
    // The yaw, not YawFromDirection's -0.0456; no arrival: the target stays.
    EXPECT_EQ(std::tuple(o.targetYaw, o.yaw, o.velocity.z, o.position.z, o.target.z),
              std::tuple(0.0f, 0.0f, 0.05f, 0.05f, 0.05f));
}

TEST_F(Motion, TurnsTwoDegreesPerStepAndTheNegativeWayAtExactlyHalfARound) {
    // A target whose wanted heading is exactly -170 from the origin: the x of the direction
    // alone decides it, so search the floats around the one that gives it.
    D3DXVECTOR3 behind = {};
    for (float x = -0.1750f; x < -0.1735f && behind.z == 0.0f; x = std::nextafter(x, 0.0f)) {
        D3DXVECTOR3 v = {x * 1000.0f, 0.0f, -1000.0f * std::sqrt(1.0f - x * x)}, dir;
        D3DXVec3Normalize(&dir, &v);
        if (YawFromDirection(dir.x, dir.y, dir.z) == -170.0f) behind = v;
    }
    ASSERT_NE(behind.z, 0.0f);

    // Start, target, wanted heading, turn per step, steps (the last reaches it exactly).
    const std::tuple<float, D3DXVECTOR3, float, float, int> cases[] = {{0, {100, 0, 0}, 90, 2, 46},
                                                                       {10, behind, -170, -2, 90}};
    for (auto [start, target, wanted, turn, steps] : cases) {
        Stand(0, 0, start);
        Object().target = target;
        for (int step = 1; step <= steps; ++step) {
            Object().position = {0.0f, 0.0f, 0.0f}; // keep the target's direction
            ComputerControl(1);
            const float turned = start + turn * float(step);
            ASSERT_EQ(
                std::pair(Object().targetYaw, Object().yaw),
                std::pair(wanted, turn > 0 ? std::min(turned, wanted) : std::max(turned, wanted)))
                << wanted << " step " << step;
        }
    }
}

TEST_F(Motion, WalksAlongItsHeadingStartsTheWalkAndStopsOnArrival) {
    g_ModelSlots[1].Period = 1.25;
    Stand(0, 0, 0);
    Object().target = {0.0f, 0.0f, 1.0f};
    ComputerControl(1);
    const SceneObject& o = Object();
    EXPECT_EQ(std::tuple(o.moved, o.animating, o.animEnd, o.animTime, o.animTick),
              std::tuple(true, true, 1.25f, 0.0f, 5000u));
    // The heading starts turning toward -0.0456.
    EXPECT_NEAR(std::hypot(o.position.x, o.position.z - 0.05f), 0.0f, 1e-4);

    int steps = 1;
    for (; Object().velocity.z != 0.0f && steps < 100; ++steps) ComputerControl(1);
    EXPECT_TRUE(steps >= 20 && steps <= 22) << steps;
    EXPECT_LT(std::fabs(o.position.z - 1.0f), 0.05f);
    // Standing: the target is where it stands.
    EXPECT_EQ(std::tuple(Of(o.target), o.targetYaw), std::tuple(Of(o.position), o.yaw));
}

TEST_F(Motion, NewTargetsLieOnTheGridNotCloserThanFiveAfterAboutAThousandSteps) {
    // Range 5: in a square of half-width 5 most grid points lie within 5 of the centre, so the
    // draw must be repeated until one does not.
    g_ModelSlots[1].Period = 1.0;
    for (const float range : {150.0f, 5.0f}) {
        g_fWanderRange = range;
        std::srand(range > 100 ? 12345 : 99);
        const float grid = range / 50.0f;
        long steps = 0;
        for (int picked = 0; picked < 100; ++picked) {
            const float x = range > 100 ? float(std::rand() % 100) * grid - range : 0.0f;
            Stand(x, 0.0f, 0.0f);
            // Waits out pauses until the standing object picks its next target.
            for (int i = 0; i < 100000 && Object().target.x == x && Object().target.z == 0;
                 ++i, ++steps)
                ComputerControl(1);
            const D3DXVECTOR3 t = Object().target;
            ASSERT_TRUE(t.x != x || t.z != 0.0f) << range;
            EXPECT_GE(std::hypot(t.x - x, t.z), 5.0f) << t.x << ", " << t.z;
            for (float c : {t.x, t.z})
                EXPECT_TRUE(c >= -range && c <= range - grid + 1e-5f &&
                            std::fabs(std::remainder(c, grid)) < 1e-3f)
                    << range << ": " << c;
            ComputerControl(1); // set out: the walk starts at once
            EXPECT_TRUE(Object().animating && Of(Object().velocity) != (Xyz{0, 0, 0}));
        }
        // One chance in a thousand per step.
        EXPECT_TRUE(steps / 100 > 500 && steps / 100 < 2000) << range << ": " << steps;
    }
}

} // namespace
