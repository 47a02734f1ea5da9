// The two cameras: camera 1 rides on the controlled character, camera 2 on the other one.
// Both share one projection.
#pragma once

#include "platform/types.h"

extern D3DXMATRIX g_matProj;
extern D3DXMATRIX g_matView1;
extern D3DXMATRIX g_matView2;

// Puts an eye g_fEyeHeight above the object and ahead of it along its heading (twice as far
// for the first character), and copies the object's yaw.
void UpdateCamera(int objectSlot, D3DXVECTOR3& eyePosition, float& eyeYaw);
// Projection from the window size and the two views from the camera eyes.
void BuildViewMatrices();
// One camera's view: move the eye to the origin, then turn by minus its heading.
D3DXMATRIX BuildCameraView(const D3DXVECTOR3& eye, float eyeYaw);
// The shared projection for the current window size.
D3DXMATRIX BuildProjection();
