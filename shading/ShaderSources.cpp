// The GLSL sources of the main and the bone programs. The programs look their names up by these
// exact strings.
#include "shading/UShader.h"

// Both passes share one program; the subroutine "RenderPass" selects depth-only or lit drawing.
// Position and normal stay in model space (the shadow coordinates come from untranslated vertices).
const char* const MainVertexShaderSource = R"GLSL(#version 430

uniform mat4 MVPMatrix;
uniform mat4 ShadowMatrix;

in vec3 VertexPosition;
in vec2 VertexTexCoord;
in vec3 VertexNormal;

out vec3 vPosition;
out vec2 TexCoord;
out vec3 Normal;
out vec4 ShadowCoord;

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
}

subroutine(RenderPassType)
void recordDepth()
{
  gl_Position = MVPMatrix * vec4(VertexPosition, 1.0);
}

void main()
{
  RenderPass();
}
)GLSL";

// Lit pass: material colour times light, shadowed by four offset comparison lookups (each already
// a 2x2 linear blend), clamped with the ambient term, then texture and toon ramp. The toon ramp is
// read along its left column; a surface facing the light reads its top.
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

in vec3 Position;
in vec3 vPosition;
in vec2 TexCoord;
in vec3 Normal;
in vec4 ShadowCoord;

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
    color = color * texture(Texture2D, TexCoord);
  }
  if (HasToonTexture) {
    float toonVal = clamp(dot(Normal, lightDirection) * 0.5 + 0.5, 0.0, 1.0);
    color.rgb = color.rgb * texture(ToonTexture2D, vec2(0.0, toonVal)).rgb;
  }
  FragColor = color;
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
