// The combined-view render pass, the overlay and the status line.
#pragma once

#include "platform/types.h"

struct SceneObject;

// Technique and parameter names of Duoscope.fx.
inline constexpr const char kTechniqueStandard[] = "StandardShading";
inline constexpr const char kTechniqueDuoscopeWithZ[] = "DuoscopeWithZ";
inline constexpr const char kTechniqueDuoscope[] = "Duoscope";
inline constexpr const char kParamProjection1[] = "g_mProjection1";
inline constexpr const char kParamWorld[] = "g_mWorld";
inline constexpr const char kParamWorldView1[] = "g_mWorldView1";
inline constexpr const char kParamWorldViewProjection1[] = "g_mWorldViewProjection1";
inline constexpr const char kParamWorldView2[] = "g_mWorldView2";
inline constexpr const char kParamWorldViewProjection2[] = "g_mWorldViewProjection2";
inline constexpr const char kParamTexture[] = "g_txScene";
inline constexpr const char kParamHasTexture[] = "g_bHasTexture";

// Draws one Running frame: clear, views, every pass of the chosen technique drawing room,
// controlled and other character, the overlay, present.
HRESULT RenderScene();
void DrawSceneObject(int objectSlot);
// Scale, then pitch, yaw and roll (degrees times 3.14 / 180), then the position.
D3DXMATRIX BuildWorldMatrix(const SceneObject& object);

// The character selection screen: both characters turning under three directional lights on
// the fixed-function path, and the three texts. Returns the result of Present.
HRESULT RenderPickScreen();
void DrawPickObject(int objectSlot);

// The help column in the top-left corner.
void DrawOverlay();

// The status line: 256 characters, written by the network steps (from any thread) and drawn
// as the overlay's first line. Writers and the reader hand the text over under a lock, so no
// half-written text is ever drawn.
constexpr int kStatusLineSize = 256;
void SetStatusLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Copies the current text into out (kStatusLineSize characters).
void ReadStatusLine(char* out);
