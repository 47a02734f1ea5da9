// Motion operations, cameras and the matrix helpers, with the exact values they must give.
#include "core/settings.h"
#include "platform/win/input.h"
#include "render/camera.h"
#include "core/matrix.h"
#include "scene/scene.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

class Motion : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetSettings();
        ResetScene();
    }
    void TearDown() override { SetTickCountForTests(std::nullopt); }
};

TEST_F(Motion, HeadingUsesThreePointOneFourOverOneEighty) {
    D3DXVECTOR3 d = DirectionFromYaw(0);
    EXPECT_EQ(d.x, 0.0f);
    EXPECT_EQ(d.y, 0.0f);
    EXPECT_EQ(d.z, 1.0f);
    d = DirectionFromYaw(90);
    EXPECT_NEAR(d.x, 0.99999970f, 1e-7);
    EXPECT_NEAR(d.z, 0.00079627f, 1e-7);
    EXPECT_NE(d.z, 0.0f); // pi/180 would give (nearly) zero here
    d = DirectionFromYaw(180);
    EXPECT_NEAR(d.x, 0.00159255f, 1e-7);
    EXPECT_NEAR(d.z, -0.99999875f, 1e-7);
}

TEST_F(Motion, MoveStrafeLiftAndTurn) {
    PlaceObject(1, 1, 0, 0, 0, 1, 1, 1, 0, 0, 0);
    g_SceneObjects[1].moved = false;
    MoveObject(1, -1.0f);
    EXPECT_EQ(g_SceneObjects[1].position.z, -1.0f);
    EXPECT_EQ(g_SceneObjects[1].position.x, 0.0f);
    EXPECT_TRUE(g_SceneObjects[1].moved);

    PlaceObject(1, 1, 0, 0, 0, 1, 1, 1, 0, 0, 0);
    StrafeObject(1, 1.0f);
    EXPECT_EQ(g_SceneObjects[1].position.x, 1.0f);
    EXPECT_EQ(g_SceneObjects[1].position.z, 0.0f);

    PlaceObject(1, 1, 0, 0, 0, 1, 1, 1, 0, 90, 0);
    StrafeObject(1, 1.0f);
    EXPECT_NEAR(g_SceneObjects[1].position.x, 0.0008f, 1e-4);
    EXPECT_NEAR(g_SceneObjects[1].position.z, -1.0f, 1e-6);

    g_SceneObjects[1].moved = false;
    TurnObject(1, 400.0f);
    EXPECT_EQ(g_SceneObjects[1].yaw, 490.0f); // never wrapped
    EXPECT_FALSE(g_SceneObjects[1].moved);
    LiftObject(1, 2.5f);
    EXPECT_EQ(g_SceneObjects[1].position.y, 2.5f);
    EXPECT_TRUE(g_SceneObjects[1].moved);
}

TEST_F(Motion, PlaceObjectLeavesTheObjectStandingAtItsTarget) {
    g_SceneObjects[2].animTick = 1234;
    g_SceneObjects[2].animating = true;
    PlaceObject(2, 2, 0, 0, -40, 1, 1, 1, 0, 30, 0);
    const SceneObject& o = g_SceneObjects[2];
    EXPECT_EQ(o.target.z, -40.0f);
    EXPECT_EQ(o.targetYaw, 30.0f);
    EXPECT_TRUE(o.moved);
    EXPECT_FALSE(o.animating);
    EXPECT_EQ(o.animTick, 1234u);
}

TEST_F(Motion, AnimationClockStepsAtMostOncePerFortyMilliseconds) {
    SceneObject& o = g_SceneObjects[1];
    SetTickCountForTests(1000);
    StepAnimation(1); // not animating: nothing, not even the tick
    EXPECT_EQ(o.animTick, 0u);
    o.animating = true;
    o.animEnd = 0.1f;
    o.animTick = 1000;
    SetTickCountForTests(1039);
    StepAnimation(1);
    EXPECT_EQ(o.animTime, 0.0f);
    SetTickCountForTests(1040);
    StepAnimation(1);
    EXPECT_FLOAT_EQ(o.animTime, 0.04f);
    StepAnimation(1); // same tick: no second step
    EXPECT_FLOAT_EQ(o.animTime, 0.04f);
    SetTickCountForTests(5000); // a long gap still steps once
    StepAnimation(1);
    EXPECT_FLOAT_EQ(o.animTime, 0.08f);
    SetTickCountForTests(5040);
    StepAnimation(1);
    EXPECT_FLOAT_EQ(o.animTime, 0.1f);
    EXPECT_FALSE(o.animating);
}

TEST_F(Motion, FirstRunningFrameCameraEyes) {
    PlaceObject(1, 1, -20, 0, 40, 1, 1, 1, 0, 90, 0);
    PlaceObject(2, 2, 0, 0, -40, 1, 1, 1, 0, 0, 0);
    UpdateCamera(g_nControlled, g_vEye1, g_fEyeYaw1);
    UpdateCamera(g_nOther, g_vEye2, g_fEyeYaw2);
    EXPECT_EQ(g_vEye1.x, 0.0f);
    EXPECT_EQ(g_vEye1.y, 25.0f);
    EXPECT_EQ(g_vEye1.z, -34.0f); // six ahead
    EXPECT_EQ(g_fEyeYaw1, 0.0f);
    EXPECT_NEAR(g_vEye2.x, -8.0000038f, 1e-5); // twelve ahead: the first character
    EXPECT_EQ(g_vEye2.y, 25.0f);
    EXPECT_NEAR(g_vEye2.z, 40.009556f, 1e-5);
    EXPECT_EQ(g_fEyeYaw2, 90.0f);
}

TEST_F(Motion, ProjectionAndViewMatrices) {
    BuildViewMatrices();
    EXPECT_NEAR(g_matProj.m[0][0], 1.81066f, 1e-5);
    EXPECT_NEAR(g_matProj.m[1][1], 2.41421f, 1e-5);
    EXPECT_NEAR(g_matProj.m[2][2], 1.002004f, 1e-6);
    EXPECT_NEAR(g_matProj.m[3][2], -2.004008f, 1e-6);
    EXPECT_EQ(g_matProj.m[2][3], 1.0f);
    EXPECT_EQ(g_matProj.m[3][3], 0.0f);

    // A point straight ahead of an eye lands on the view's +z axis, for any heading.
    for (float yaw : {0.0f, 37.0f, 90.0f, -90.0f, 450.0f}) {
        g_vEye1 = {3.0f, 25.0f, -7.0f};
        g_fEyeYaw1 = yaw;
        BuildViewMatrices();
        const float a = yaw * 3.14159265f / 180.0f;
        D3DXVECTOR3 ahead = {3.0f + 10 * std::sin(a), 25.0f, -7.0f + 10 * std::cos(a)}, v;
        D3DXVec3TransformCoord(&v, &ahead, &g_matView1);
        EXPECT_NEAR(v.x, 0.0f, 1e-4) << yaw;
        EXPECT_NEAR(v.y, 0.0f, 1e-4) << yaw;
        EXPECT_NEAR(v.z, 10.0f, 1e-4) << yaw;
        // And a point to the right of the heading lands on +x.
        D3DXVECTOR3 right = {3.0f + 5 * std::cos(a), 25.0f, -7.0f - 5 * std::sin(a)};
        D3DXVec3TransformCoord(&v, &right, &g_matView1);
        EXPECT_NEAR(v.x, 5.0f, 1e-4) << yaw;
    }

    g_nScreenWidth = g_nScreenHeight = 500;
    BuildViewMatrices();
    EXPECT_EQ(g_matProj.m[0][0], g_matProj.m[1][1]);
}

TEST(Matrices, ProductAppliesTheLeftMatrixFirst) {
    D3DXMATRIX t, r, tr, rt;
    D3DXMatrixTranslation(&t, 10, 0, 0);
    D3DXMatrixRotationY(&r, 1.5707964f);
    D3DXMatrixMultiply(&tr, &t, &r);
    D3DXMatrixMultiply(&rt, &r, &t);
    const D3DXVECTOR3 origin = {0, 0, 0};
    D3DXVECTOR3 a, b;
    D3DXVec3TransformCoord(&a, &origin, &tr); // moved to +x, then turned onto -z
    D3DXVec3TransformCoord(&b, &origin, &rt); // turned (stays), then moved to +x
    EXPECT_NEAR(a.z, -10.0f, 1e-5);
    EXPECT_NEAR(a.x, 0.0f, 1e-5);
    EXPECT_NEAR(b.x, 10.0f, 1e-5);

    // Rotations about x, y and z follow the left-handed rows of the D3DX functions.
    D3DXMATRIX rx, rz;
    D3DXMatrixRotationX(&rx, 0.5f);
    D3DXMatrixRotationZ(&rz, 0.5f);
    EXPECT_FLOAT_EQ(rx.m[1][2], std::sin(0.5f));
    EXPECT_FLOAT_EQ(rx.m[2][1], -std::sin(0.5f));
    EXPECT_FLOAT_EQ(rz.m[0][1], std::sin(0.5f));
    EXPECT_FLOAT_EQ(rz.m[1][0], -std::sin(0.5f));
    EXPECT_FLOAT_EQ(r.m[0][2], -1.0f);
}

} // namespace
