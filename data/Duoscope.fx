// Duoscope.fx: the viewer's effect, GLSL 330 in our own plain-text effect format.
//
// Format. Sections start at a line beginning with '@' and run to the next one:
//   @shared              GLSL put in front of every stage (parameters, helper functions)
//   @vertex NAME         a vertex stage (GLSL with main)
//   @fragment NAME       a fragment stage (GLSL with main)
//   @technique NAME      one line per pass, in order:
//     pass vertex=NAME fragment=NAME [depthtest=on|off] [depthwrite=on|off]
//          [colormask=r|gb|rgba|...|none] [blend=off|SRC,DEST] [cleardepth]
//   Blend factors: zero one srccolor invsrccolor srcalpha invsrcalpha destalpha invdestalpha
//   destcolor invdestcolor. A state a pass leaves out stays as the device has it; Begin saves
//   the states passes change and End restores them. cleardepth clears the depth buffer as the
//   pass begins. Outside GLSL sections, blank lines and // lines are ignored.
//
// Parameters are the uniforms the stages use; the viewer sets them by name (mat4 with
// SetMatrix, int with SetInt, sampler2D with SetTexture). Matrices are row-vector ones, as the
// viewer builds them: transform with `v * M`.
//
// The device puts this prelude in front of every stage:
//   in vec3 duo_Position; in vec3 duo_Normal; in vec2 duo_TexCoord; in vec4 duo_Color;
//                                                        (vertex stages only)
//   uniform mat4 duo_World, duo_View, duo_Projection;     the device transforms; duo_World is
//                                                        the frame of a hierarchy relative to
//                                                        the model root
//   uniform vec4 duo_MaterialDiffuse, duo_MaterialAmbient, duo_MaterialSpecular,
//                duo_MaterialEmissive;  uniform float duo_MaterialPower;   the device material
//   uniform sampler2D duo_Texture0; uniform int duo_HasTexture0;   the stage-0 texture
//   vec4 duo_ToGlClip(vec4 c);  clip z from [0, w] (our projections) to GL's [-w, w]

@shared
uniform mat4 g_mProjection1;
uniform mat4 g_mWorld;
uniform mat4 g_mWorldView1;
uniform mat4 g_mWorldViewProjection1;
uniform mat4 g_mWorldView2;
uniform mat4 g_mWorldViewProjection2;
uniform sampler2D g_txScene;
uniform int g_bHasTexture;

// The material lit by a head-light (in view space the camera looks along +z) over a base of
// ambient light, textured where the subset has a texture.
vec4 ShadeSurface(vec3 viewNormal, vec2 texCoord) {
    vec3 n = normalize(viewNormal);
    float light = 0.3 + 0.7 * max(-n.z, 0.0);
    vec4 color = vec4(duo_MaterialDiffuse.rgb * light + duo_MaterialEmissive.rgb,
                      duo_MaterialDiffuse.a);
    if (g_bHasTexture != 0) color *= texture(g_txScene, texCoord);
    return clamp(color, 0.0, 1.0);
}

@vertex Camera1
out vec3 v_Normal;
out vec2 v_TexCoord;
void main() {
    vec4 position = vec4(duo_Position, 1.0) * duo_World;
    gl_Position = duo_ToGlClip(position * g_mWorldViewProjection1);
    v_Normal = (vec4(duo_Normal, 0.0) * duo_World * g_mWorldView1).xyz;
    v_TexCoord = duo_TexCoord;
}

@vertex Camera2
out vec3 v_Normal;
out vec2 v_TexCoord;
void main() {
    vec4 position = vec4(duo_Position, 1.0) * duo_World;
    gl_Position = duo_ToGlClip(position * g_mWorldViewProjection2);
    v_Normal = (vec4(duo_Normal, 0.0) * duo_World * g_mWorldView2).xyz;
    v_TexCoord = duo_TexCoord;
}

@fragment Shaded
in vec3 v_Normal;
in vec2 v_TexCoord;
out vec4 fragColor;
void main() {
    fragColor = ShadeSurface(v_Normal, v_TexCoord);
}

// Each camera's view as brightness; the colour mask of the pass picks its channels.
@fragment Grey
in vec3 v_Normal;
in vec2 v_TexCoord;
out vec4 fragColor;
void main() {
    vec4 color = ShadeSurface(v_Normal, v_TexCoord);
    float grey = dot(color.rgb, vec3(0.299, 0.587, 0.114));
    fragColor = vec4(vec3(grey), color.a);
}

@technique StandardShading
pass vertex=Camera1 fragment=Shaded depthtest=on depthwrite=on colormask=rgba

// Camera 1 in red, camera 2 in green and blue, each with its own hidden-surface removal.
@technique DuoscopeWithZ
pass vertex=Camera1 fragment=Grey depthtest=on depthwrite=on colormask=r
pass vertex=Camera2 fragment=Grey cleardepth depthtest=on depthwrite=on colormask=gb

// The same two views, see-through: no depth test, no depth writes.
@technique Duoscope
pass vertex=Camera1 fragment=Grey depthtest=off depthwrite=off colormask=r
pass vertex=Camera2 fragment=Grey depthtest=off depthwrite=off colormask=gb
