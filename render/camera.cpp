#include "render/camera.h"

#include "core/settings.h"
#include "core/matrix.h"
#include "scene/scene.h"

D3DXMATRIX g_matProj;
D3DXMATRIX g_matView1;
D3DXMATRIX g_matView2;

void UpdateCamera(int objectSlot, D3DXVECTOR3& eyePosition, float& eyeYaw) {
    const SceneObject& o = ObjectAt(objectSlot);
    const D3DXVECTOR3 p = o.position;
    const float yaw = o.yaw;
    const D3DXVECTOR3 f = DirectionFromYaw(yaw);
    // The first character's camera sits twice as far ahead, whichever camera rides on it.
    float d = g_fEyeForward;
    if (objectSlot == g_nCharacters[0]) d = g_fEyeForward + g_fEyeForward;
    eyePosition = {p.x + f.x * d, p.y + g_fEyeHeight, p.z + f.z * d};
    eyeYaw = yaw;
}

D3DXMATRIX BuildProjection() {
    const float aspect = float(g_nScreenWidth) / float(g_nScreenHeight);
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, 0.78539819f, aspect, 2.0f, 1000.0f);
    return projection;
}

D3DXMATRIX BuildCameraView(const D3DXVECTOR3& eye, float eyeYaw) {
    D3DXMATRIX rotation, translation, view;
    D3DXMatrixRotationY(&rotation, (eyeYaw * -1.0f) * 0.017453292f);
    D3DXMatrixTranslation(&translation, -eye.x, -eye.y, -eye.z);
    D3DXMatrixMultiply(&view, &translation, &rotation);
    return view;
}

void BuildViewMatrices() {
    g_matProj = BuildProjection();
    g_matView1 = BuildCameraView(g_vEye1, g_fEyeYaw1);
    g_matView2 = BuildCameraView(g_vEye2, g_fEyeYaw2);
}
