// Computer control: the wanted heading, the turn toward it, walking, arrival and new targets,
// with the exact float values the wander step must give.
#include "app/settings.h"
#include "models/model.h"
#include "platform/win/input.h"
#include "render/matrix.h"
#include "scene/scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

class ComputerControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetSettings();
        ResetScene();
        SetTickCountForTests(5000);
        std::srand(7);
    }
    void TearDown() override {
        SetTickCountForTests(std::nullopt);
        g_ModelSlots[1].Period = 0.0;
        g_fWanderRange = 150.0f;
    }
    SceneObject& Object() { return g_SceneObjects[1]; }
    void Stand(float x, float z, float yaw) {
        PlaceObject(1, 1, x, 0, z, 1, 1, 1, 0, yaw, 0);
        Object().moved = false;
    }
};

TEST_F(ComputerControlTest, YawFromDirectionKeepsThePointOneFourConstants) {
    EXPECT_EQ(YawFromDirection(1, 0, 0), 90.0f);
    EXPECT_EQ(YawFromDirection(-1, 0, 0), -90.0f);
    EXPECT_EQ(YawFromDirection(1, 7, 0), 90.0f); // y plays no part
    // +z is not 0 and -z not -180, because 1.57 and 3.14 are not pi/2 and pi.
    EXPECT_NEAR(YawFromDirection(0, 0, 1), -0.0456f, 1e-4);
    EXPECT_NE(YawFromDirection(0, 0, 1), 0.0f);
    EXPECT_NEAR(YawFromDirection(0, 0, -1), -180.0457f, 1e-3);
    EXPECT_NEAR(YawFromDirection(0.7071f, 0, 0.7071f), 44.977f, 1e-3);
    // Behind and to the right comes out below -180, not near +135.
    EXPECT_NEAR(YawFromDirection(0.7071f, 0, -0.7071f), -225.07f, 1e-2);
}

TEST_F(ComputerControlTest, AtItsTargetItNeitherTurnsNorMovesButSetsMoved) {
    Stand(3, 4, 30);
    ComputerControl(1);
    EXPECT_EQ(Object().yaw, 30.0f);
    EXPECT_EQ(Object().position.x, 3.0f);
    EXPECT_EQ(Object().position.z, 4.0f);
    EXPECT_EQ(Object().velocity.x, 0.0f);
    EXPECT_EQ(Object().velocity.z, 0.0f);
    EXPECT_EQ(Object().targetYaw, 30.0f);
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

TEST_F(ComputerControlTest, TurnsTwoDegreesPerStepToNinetyInFortyFiveSteps) {
    Stand(0, 0, 0);
    Object().target = {100.0f, 0.0f, 0.0f};
    for (int step = 1; step <= 45; ++step) {
        Object().position = {0.0f, 0.0f, 0.0f}; // keep the target straight along +x
        ComputerControl(1);
        EXPECT_EQ(Object().targetYaw, 90.0f);
        ASSERT_EQ(Object().yaw, float(2 * step)) << "step " << step;
    }
    Object().position = {0.0f, 0.0f, 0.0f};
    ComputerControl(1);
    EXPECT_EQ(Object().yaw, 90.0f);
}

TEST_F(ComputerControlTest, TurnsTheNegativeWayWhenTheOtherWayIsExactlyHalfARound) {
    // A target whose wanted heading is exactly -170 from the origin: the x of the direction
    // alone decides it, so search the floats around the one that gives it.
    D3DXVECTOR3 dir = {};
    bool found = false;
    for (float x = -0.1750f; x < -0.1735f && !found; x = std::nextafter(x, 0.0f)) {
        D3DXVECTOR3 v = {x * 1000.0f, 0.0f, -1000.0f * std::sqrt(1.0f - x * x)};
        D3DXVec3Normalize(&dir, &v);
        if (YawFromDirection(dir.x, dir.y, dir.z) == -170.0f) {
            dir = v;
            found = true;
        }
    }
    ASSERT_TRUE(found);

    Stand(0, 0, 10);
    Object().target = {dir.x, 0.0f, dir.z};
    float expected = 10.0f;
    for (int step = 1; step < 90; ++step) {
        Object().position = {0.0f, 0.0f, 0.0f};
        ComputerControl(1);
        ASSERT_EQ(Object().targetYaw, -170.0f);
        expected -= 2.0f;
        ASSERT_EQ(Object().yaw, expected) << "step " << step;
    }
    EXPECT_EQ(Object().yaw, -168.0f);
    Object().position = {0.0f, 0.0f, 0.0f};
    ComputerControl(1);
    EXPECT_EQ(Object().yaw, -170.0f); // reached: set to the target itself
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
    while (Object().velocity.z != 0.0f && steps < 100) {
        ComputerControl(1);
        ++steps;
    }
    EXPECT_GE(steps, 20);
    EXPECT_LE(steps, 22);
    EXPECT_LT(std::fabs(Object().position.z - 1.0f), g_fWanderStep);
    // Standing: the target is where it stands.
    EXPECT_EQ(Object().target.x, Object().position.x);
    EXPECT_EQ(Object().target.z, Object().position.z);
    EXPECT_EQ(Object().targetYaw, Object().yaw);
}

// Waits out pauses until the standing object picks its next target; false after too long.
bool PickNext(SceneObject& o, long* steps) {
    const D3DXVECTOR3 at = o.position;
    for (int i = 0; i < 100000; ++i) {
        ComputerControl(1);
        ++*steps;
        if (o.target.x != at.x || o.target.z != at.z) return true;
    }
    return false;
}

TEST_F(ComputerControlTest, NewTargetsLieOnTheGridAfterAboutAThousandStepsOfPause) {
    g_ModelSlots[1].Period = 1.0;
    std::srand(12345);
    long steps = 0;
    for (int picked = 0; picked < 100; ++picked) {
        const float gx = float(std::rand() % 100) * 3.0f - 150.0f;
        Stand(gx, 0.0f, 0.0f);
        ASSERT_TRUE(PickNext(Object(), &steps));
        const D3DXVECTOR3 t = Object().target;
        EXPECT_GE(std::hypot(t.x - gx, t.z), 5.0f);
        for (float c : {t.x, t.z}) {
            EXPECT_GE(c, -150.0f);
            EXPECT_LE(c, 147.0f);
            EXPECT_NEAR(std::remainder(c, 3.0f), 0.0f, 1e-3) << c;
        }
        // Set out: the walk starts at once.
        ComputerControl(1);
        EXPECT_NE(Object().velocity.x * Object().velocity.x +
                      Object().velocity.z * Object().velocity.z,
                  0.0f);
        EXPECT_TRUE(Object().animating);
    }
    // One chance in a thousand per step.
    EXPECT_GT(steps / 100, 500);
    EXPECT_LT(steps / 100, 2000);
}

TEST_F(ComputerControlTest, NoNewTargetIsCloserThanFive) {
    // In a square of half-width 5 most grid points lie within 5 of the centre: the draw must
    // be repeated until one does not.
    g_fWanderRange = 5.0f;
    std::srand(99);
    long steps = 0;
    for (int picked = 0; picked < 100; ++picked) {
        Stand(0.0f, 0.0f, 0.0f);
        ASSERT_TRUE(PickNext(Object(), &steps));
        const D3DXVECTOR3 t = Object().target;
        EXPECT_GE(std::hypot(t.x, t.z), 5.0f) << t.x << ", " << t.z;
        EXPECT_GE(std::min(t.x, t.z), -5.0f);
        EXPECT_LE(std::max(t.x, t.z), 4.9f + 1e-5f);
    }
}

} // namespace
