// The GLSL sources of the main and the bone programs. The programs look their names up by these
// exact strings.
#include "shading/UShader.h"

// Both passes share one program; the subroutine "RenderPass" selects depth-only, lit or outline
// drawing. Position and normal stay in model space (the shadow coordinates come from untranslated
// vertices); the view matrix only turns the normal for the sphere map.
const char* const MainVertexShaderSource = R"GLSL(#version 430

uniform mat4 MVPMatrix;
uniform mat4 ShadowMatrix;
uniform mat4 ViewMatrix;
uniform float EdgeSize;
uniform float EdgeWidthScale;
uniform float EdgePixels;
uniform vec2 ViewportSize;

in vec3 VertexPosition;
in vec2 VertexTexCoord;
in vec3 VertexNormal;
in float VertexEdgeScale;
in vec2 VertexUV1;

out vec3 vPosition;
out vec2 TexCoord;
out vec3 Normal;
out vec4 ShadowCoord;
out vec3 ViewNormal;
out vec2 SubTexCoord;

subroutine void RenderPassType();
subroutine uniform RenderPassType RenderPass;

subroutine(RenderPassType)
void shadeWithShadow()
{
  gl_Position = MVPMatrix * vec4(VertexPosition, 1.0);
  vPosition = VertexPosition;
  TexCoord = VertexTexCoord;
  Normal = VertexNormal;
  ShadowCoord = ShadowMatrix * vec4(VertexPosition, 1.0);
  ViewNormal = mat3(ViewMatrix) * VertexNormal;
  SubTexCoord = VertexUV1;
}

subroutine(RenderPassType)
void recordDepth()
{
  gl_Position = MVPMatrix * vec4(VertexPosition, 1.0);
}

// The outline: the far side of the surface, each vertex moved on screen by a fixed number of
// pixels along the screen direction of its normal, so the line keeps its width whatever the
// distance and however much the normal leans toward or away from the eye. That direction is the
// derivative of the projected point along the normal, taken in pixels (the aspect counts). A
// normal along the line of sight has none: such a vertex lies inside the silhouette, behind the
// surface, and stays where it is. The depth is that of the vertex pushed out along its model-space
// normal, so a surface seen from behind stays in front of its own outline.
subroutine(RenderPassType)
void drawEdge()
{
  vec4 c = MVPMatrix * vec4(VertexPosition, 1.0);
  float len = length(VertexNormal);
  vec3 n = len > 0.0 ? VertexNormal / len : vec3(0.0);
  float width = EdgeSize * VertexEdgeScale;
  vec4 pushed = MVPMatrix * vec4(VertexPosition + n * (width * EdgeWidthScale * c.w), 1.0);
  float z = pushed.w > 0.0 ? pushed.z / pushed.w * c.w : c.z;

  vec4 dn = MVPMatrix * vec4(n, 0.0);
  vec2 dir = (dn.xy * c.w - c.xy * dn.w) * ViewportSize;
  float dirLen = length(dir);
  // Below this the direction is rounding noise of the two terms cancelling each other.
  float noise = 1e-5 * (length(dn.xy * c.w) + length(c.xy * dn.w)) *
                max(ViewportSize.x, ViewportSize.y);
  vec2 offset = vec2(0.0);
  if (dirLen > noise && dirLen > 0.0)
    offset = dir / dirLen * (2.0 * width * EdgePixels) / ViewportSize;
  gl_Position = vec4(c.xy + offset * c.w, z, c.w);
}

void main()
{
  RenderPass();
}
)GLSL";

// Lit pass: material colour times light, shadowed by four offset comparison lookups (each already
// a 2x2 linear blend), clamped with the ambient term, then texture, sphere map and toon ramp, each
// sampled colour tinted (* Mul + Add). The toon ramp is read along its left column; a surface
// facing the light reads its top. The sphere map is read at the view-space normal, an upward
// normal at the image's top row (textures are uploaded top row first). With tints (1, 1, 1, 1)
// and (0, 0, 0, 0) and sphere mode 0 the colour is exactly the untinted one.
const char* const MainFragmentShaderSource = R"GLSL(#version 430

uniform vec3 LightPosition;
uniform vec4 LightColor;
uniform vec4 DiffuseColor;
uniform vec3 SpecularColor;
uniform float Shininess;
uniform vec3 AmbientColor;
uniform sampler2D Texture2D;
uniform sampler2D ToonTexture2D;
uniform sampler2DShadow ShadowMap;
uniform bool HasTexture;
uniform bool HasToonTexture;
uniform bool SelfShadow;
uniform sampler2D SphereTexture2D;
uniform int SphereMode;  // 0 none, 1 multiply, 2 add, 3 sub-texture at additional UV 1
uniform vec4 TextureMulColor;
uniform vec4 TextureAddColor;
uniform vec4 SphereMulColor;
uniform vec4 SphereAddColor;
uniform vec4 ToonMulColor;
uniform vec4 ToonAddColor;
uniform vec4 EdgeColor;

in vec3 Position;
in vec3 vPosition;
in vec2 TexCoord;
in vec3 Normal;
in vec4 ShadowCoord;
in vec3 ViewNormal;
in vec2 SubTexCoord;

out vec4 FragColor;

subroutine void RenderPassType();
subroutine uniform RenderPassType RenderPass;

subroutine(RenderPassType)
void recordDepth()
{
}

subroutine(RenderPassType)
void shadeWithShadow()
{
  vec4 diffuse = DiffuseColor * LightColor;
  vec3 ambient = AmbientColor;
  vec3 lightDirection = -normalize(LightPosition - vPosition);

  float shadow = 1.0;
  if (SelfShadow) {
    shadow = 0.25 * (textureProjOffset(ShadowMap, ShadowCoord, ivec2(-1, -1)) +
                     textureProjOffset(ShadowMap, ShadowCoord, ivec2(-1, 1)) +
                     textureProjOffset(ShadowMap, ShadowCoord, ivec2(1, 1)) +
                     textureProjOffset(ShadowMap, ShadowCoord, ivec2(1, -1)));
  }

  vec4 color = vec4(clamp(diffuse.rgb * shadow + ambient, 0.0, 1.0), DiffuseColor.a);

  if (HasTexture) {
    color = color * clamp(texture(Texture2D, TexCoord) * TextureMulColor + TextureAddColor, 0.0, 1.0);
  }
  if (SphereMode == 1 || SphereMode == 2) {
    vec3 n = normalize(ViewNormal);
    vec2 sphereCoord = vec2(n.x * 0.5 + 0.5, 0.5 - n.y * 0.5);
    vec4 sphere = clamp(texture(SphereTexture2D, sphereCoord) * SphereMulColor + SphereAddColor,
                        0.0, 1.0);
    if (SphereMode == 1) {
      color.rgb = color.rgb * sphere.rgb;
    } else {
      color.rgb = color.rgb + sphere.rgb;
    }
  } else if (SphereMode == 3) {
    color = color * clamp(texture(SphereTexture2D, SubTexCoord) * SphereMulColor + SphereAddColor,
                          0.0, 1.0);
  }
  if (HasToonTexture) {
    float toonVal = clamp(dot(Normal, lightDirection) * 0.5 + 0.5, 0.0, 1.0);
    color.rgb = color.rgb * clamp(texture(ToonTexture2D, vec2(0.0, toonVal)).rgb * ToonMulColor.rgb +
                                  ToonAddColor.rgb, 0.0, 1.0);
  }
  FragColor = color;
}

subroutine(RenderPassType)
void drawEdge()
{
  FragColor = EdgeColor;
}

void main()
{
  RenderPass();
}
)GLSL";

const char* const BoneVertexShaderSource = R"GLSL(#version 430

uniform mat4 MVPMatrix;

in vec3 VertexPosition;

void main()
{
  gl_Position = MVPMatrix * vec4(VertexPosition, 1.0);
}
)GLSL";

const char* const BoneFragmentShaderSource = R"GLSL(#version 430

uniform vec4 VertexColor;

out vec4 FragColor;

void main()
{
  FragColor = VertexColor;
}
)GLSL";
