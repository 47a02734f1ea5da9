// Computer control: the wanted heading, the turn toward it, walking, arrival and new targets,
// with the exact float values the wander step must give.
#include "core/settings.h"
#include "models/model.h"
#include "platform/win/input.h"
#include "core/matrix.h"
#include "scene/scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace {

using Xyz = std::array<float, 3>;
const auto Of = [](const D3DXVECTOR3& v) { return Xyz{v.x, v.y, v.z}; };

class ComputerControlTest : public ::testing::Test {
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

TEST_F(ComputerControlTest, YawFromDirectionKeepsThePointOneFourConstants) {
    // y plays no part; +z is not 0 and -z not -180, because 1.57 and 3.14 are not pi/2 and pi;
    // behind and to the right comes out below -180, not near +135.
    struct Case {
        float x, y, z, yaw, tolerance;
    };
    for (const Case& c :
         {Case{1, 0, 0, 90, 0}, Case{-1, 0, 0, -90, 0}, Case{1, 7, 0, 90, 0},
          Case{0, 0, 1, -0.0456f, 1e-4f}, Case{0, 0, -1, -180.0457f, 1e-3f},
          Case{0.7071f, 0, 0.7071f, 44.977f, 1e-3f}, Case{0.7071f, 0, -0.7071f, -225.07f, 1e-2f}})
        EXPECT_NEAR(YawFromDirection(c.x, c.y, c.z), c.yaw, c.tolerance)
            << c.x << ", " << c.y << ", " << c.z;
}

TEST_F(ComputerControlTest, AtItsTargetItNeitherTurnsNorMovesButSetsMoved) {
    Stand(3, 4, 30);
    ComputerControl(1);
    EXPECT_EQ(Object().yaw, 30.0f);
    EXPECT_EQ(Object().targetYaw, 30.0f);
    EXPECT_EQ(Of(Object().position), (Xyz{3, 0, 4}));
    EXPECT_EQ(Of(Object().velocity), (Xyz{0, 0, 0}));
    EXPECT_TRUE(Object().moved);
    EXPECT_FALSE(Object().animating);
}

TEST_F(ComputerControlTest, TargetExactlyOneStepAwayIsWalkedOntoWithoutRecomputingTheHeading) {
    Stand(0, 0, 0);
    Object().target = {0.0f, 0.0f, g_fWanderStep};
    Object().targetYaw = 123.0f;
    ComputerControl(1);
    EXPECT_EQ(Object().targetYaw, 0.0f); // the yaw, not YawFromDirection's -0.0456
    EXPECT_EQ(Object().yaw, 0.0f);
    EXPECT_EQ(Object().velocity.z, g_fWanderStep);
    EXPECT_EQ(Object().position.z, g_fWanderStep);
    EXPECT_EQ(Object().target.z, g_fWanderStep); // no arrival: the target stays
}

TEST_F(ComputerControlTest, TurnsTwoDegreesPerStepAndTheNegativeWayAtExactlyHalfARound) {
    // A target whose wanted heading is exactly -170 from the origin: the x of the direction
    // alone decides it, so search the floats around the one that gives it.
    D3DXVECTOR3 behind = {};
    for (float x = -0.1750f; x < -0.1735f && behind.z == 0.0f; x = std::nextafter(x, 0.0f)) {
        D3DXVECTOR3 v = {x * 1000.0f, 0.0f, -1000.0f * std::sqrt(1.0f - x * x)}, dir;
        D3DXVec3Normalize(&dir, &v);
        if (YawFromDirection(dir.x, dir.y, dir.z) == -170.0f) behind = v;
    }
    ASSERT_NE(behind.z, 0.0f);

    struct Case {
        float start;
        D3DXVECTOR3 target;
        float wanted, turn;
        int steps; // the last one reaches the wanted heading exactly
    };
    for (const Case& c : {Case{0, {100, 0, 0}, 90, 2, 46}, Case{10, behind, -170, -2, 90}}) {
        Stand(0, 0, c.start);
        Object().target = c.target;
        for (int step = 1; step <= c.steps; ++step) {
            Object().position = {0.0f, 0.0f, 0.0f}; // keep the target's direction
            ComputerControl(1);
            ASSERT_EQ(Object().targetYaw, c.wanted) << c.wanted;
            const float turned = c.start + c.turn * float(step);
            ASSERT_EQ(Object().yaw,
                      c.turn > 0 ? std::min(turned, c.wanted) : std::max(turned, c.wanted))
                << c.wanted << " step " << step;
        }
    }
}

TEST_F(ComputerControlTest, WalksAlongItsHeadingStartsTheWalkAndStopsOnArrival) {
    g_ModelSlots[1].Period = 1.25;
    Stand(0, 0, 0);
    Object().target = {0.0f, 0.0f, 1.0f};
    ComputerControl(1);
    EXPECT_TRUE(Object().moved);
    EXPECT_TRUE(Object().animating);
    EXPECT_EQ(Object().animEnd, 1.25f);
    EXPECT_EQ(Object().animTime, 0.0f);
    EXPECT_EQ(Object().animTick, 5000u);
    EXPECT_NEAR(Object().position.z, 0.05f, 1e-7);
    EXPECT_NEAR(Object().position.x, 0.0f, 1e-4); // the heading starts turning toward -0.0456

    int steps = 1;
    for (; Object().velocity.z != 0.0f && steps < 100; ++steps) ComputerControl(1);
    EXPECT_GE(steps, 20);
    EXPECT_LE(steps, 22);
    EXPECT_LT(std::fabs(Object().position.z - 1.0f), g_fWanderStep);
    // Standing: the target is where it stands.
    EXPECT_EQ(Object().target.x, Object().position.x);
    EXPECT_EQ(Object().target.z, Object().position.z);
    EXPECT_EQ(Object().targetYaw, Object().yaw);
}

TEST_F(ComputerControlTest, NewTargetsLieOnTheGridNotCloserThanFiveAfterAboutAThousandSteps) {
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
            for (float c : {t.x, t.z}) {
                EXPECT_GE(c, -range) << range;
                EXPECT_LE(c, range - grid + 1e-5f) << range;
                EXPECT_NEAR(std::remainder(c, grid), 0.0f, 1e-3) << c;
            }
            ComputerControl(1); // set out: the walk starts at once
            EXPECT_NE(Of(Object().velocity), (Xyz{0, 0, 0}));
            EXPECT_TRUE(Object().animating);
        }
        // One chance in a thousand per step.
        EXPECT_GT(steps / 100, 500) << range;
        EXPECT_LT(steps / 100, 2000) << range;
    }
}

} // namespace
