// UShader: the scene's light with its shadow matrices, the main toon/shadow program (one GLSL
// 4.30 program for the depth pass and the lit pass, chosen by subroutine) and the flat-colour bone
// overlay program. Depends on gl/UCommon2 (TProgram, TOpenGL, buffers) and the vector math.
#pragma once

#include <memory>

#include "gl/UCommon2.h"
#include "math/VectorTypes.h"

// The window of the light's view that the shadow map covers: the slopes x / depth and y / depth
// of its sides in the light's view space (depth = -z, the distance along the light's line of
// sight), and the depth range, all ahead of the light.
struct TLightFrustum {
  float Left = -1.0f, Right = 1.0f, Bottom = -1.0f, Top = 1.0f;
  float Near = 1.0f, Far = 250.0f;
  // The share of the shadow map's width and height (from its corner) the frustum is drawn into:
  // a smaller share costs fewer texels to draw.
  float MapWidth = 1.0f, MapHeight = 1.0f;
  bool operator==(const TLightFrustum&) const = default;
};

// The single light: where it stands, what it looks at, its colour, and the matrices derived
// from them (view-projection for the depth pass, world space -> shadow-map texture space). Its
// frustum is a 45-degree square from 1 to 250 units unless a fitted one is set.
class TLight {
 public:
  TLight();

  const TVector3f& Center() const { return FCenter; }
  void SetCenter(const TVector3f& AValue);
  const TVector3f& Position() const { return FPosition; }
  void SetPosition(const TVector3f& AValue);
  // Plain field: the matrices do not depend on the colour.
  const TVector4f& Color() const { return FColor; }
  void SetColor(const TVector4f& AValue) { FColor = AValue; }
  // The shadow map covers AFrustum (its sides and depths must be ordered, Near > 0) with the
  // same line of sight; ResetFrustum goes back to the 45-degree square.
  void SetFrustum(const TLightFrustum& AFrustum);
  void ResetFrustum();
  // The fitted frustum, or nothing while the default one is used.
  const TLightFrustum* Frustum() const { return FFitted ? &FFrustum : nullptr; }
  // World space -> the light's view space (it looks along -Z from its position).
  const TMatrix4f& ViewMatrix() const { return FViewMatrix; }
  const TMatrix4f& MVPMatrix() const { return FMVPMatrix; }
  const TMatrix4f& ShadowMatrix() const { return FShadowMatrix; }

 private:
  void UpdateMatrices();

  TLightFrustum FFrustum;
  bool FFitted = false;
  TVector3f FCenter{{0, 0, 0}};
  TVector3f FPosition{{0, 10, 10}};
  TVector4f FColor{{1, 1, 1, 1}};
  TMatrix4f FViewMatrix;
  TMatrix4f FMVPMatrix;
  TMatrix4f FShadowMatrix;
};

// Maps clip coordinates in [-1, 1] to [0, 1] under the row-vector rule.
inline constexpr TMatrix4f ShadowBiasMatrix{
    {{{0.5f, 0, 0, 0}}, {{0, 0.5f, 0, 0}}, {{0, 0, 0.5f, 0}}, {{0.5f, 0.5f, 0.5f, 1}}}};

// The GLSL sources of the two programs.
extern const char* const MainVertexShaderSource;
extern const char* const MainFragmentShaderSource;
extern const char* const BoneVertexShaderSource;
extern const char* const BoneFragmentShaderSource;

// Sphere map modes of a material (TPmxMaterial::SphereMode); other values draw no sphere map.
enum TSphereMode : int { smNone = 0, smMultiply = 1, smAdd = 2, smSubTexture = 3 };

// The toon/shadow program. Texture units: 0 material texture, 1 toon ramp, 2 shadow map, 3 sphere
// map (or the sub-texture).
class TMainProgram : public TProgram {
 public:
  explicit TMainProgram(TOpenGL* AOwner);
  ~TMainProgram() override;

  TLight& Light() { return *FLight; }
  const TLight& Light() const { return *FLight; }

  // Makes the program current (when it is not), then uploads the light's position, colour and
  // shadow matrix on every call, for an unplaced model (see SetPlacement).
  void Activate() override;
  // The next items are drawn placed by APlacement (model-to-world, rigid: a turn and a move;
  // program current): the light's position taken into the model's frame, the shadow matrix and
  // the view matrix of the last SetViewTransform made to start from the model's frame, so that the
  // item is lit, shadowed and sphere-mapped as if its vertices had been moved. The caller draws
  // with APlacement * its view-projection.
  void SetPlacement(const TMatrix4f& APlacement);
  // Depth pass: subroutine "recordDepth" in both stages.
  void ActivateRenderPass1();
  // Lit pass: subroutine "shadeWithShadow" in both stages.
  void ActivateRenderPass2();
  // Outline: subroutine "drawEdge" in both stages; a mesh selects it for its second draw and goes
  // back to the lit pass afterwards.
  void ActivateEdgePass();
  // The pass last selected: 1 depth, 2 lit, 3 outline (0 before any selection).
  int RenderPass() const { return FRenderPass; }

  // The camera of the coming lit pass (program current): the view matrix that turns normals for
  // the sphere map (kept for SetPlacement), the projection's vertical scale (row Y, column Y) and
  // the viewport's size in pixels for the outline. An edge size of 1 is two pixels wide at 1080
  // lines, in proportion to the height on other viewports, at least one pixel.
  void SetViewTransform(const TMatrix4f& AView, float AProjectionScaleY, int AViewportWidth,
                        int AViewportHeight);
  // Outline width in pixels per unit of edge size.
  static float EdgePixelsPerUnit(int AViewportHeight);
  // Model-space length of that width per unit of edge size and of clip-space w (sets the
  // outline's depth).
  static float EdgeWidthScale(float AProjectionScaleY, int AViewportHeight);

  // Vertex attributes: the attribute reads from ABuffer (which is bound for it) with the vertex
  // array that is bound at the moment; 3, 2 and 3 floats per vertex.
  void SetPosition(const std::shared_ptr<IBufferObject>& ABuffer);
  void SetTexCoord(const std::shared_ptr<IBufferObject>& ABuffer);
  void SetNormal(const std::shared_ptr<IBufferObject>& ABuffer);
  // The outline's per-vertex scale (1 float) and additional UV 1 (2 floats, xy).
  void SetEdgeScale(const std::shared_ptr<IBufferObject>& ABuffer);
  void SetUV1(const std::shared_ptr<IBufferObject>& ABuffer);
  // Material uniforms; the program must be current.
  void SetDiffuse(const TVector4f& AValue);
  void SetSpecular(const TVector3f& AValue);
  void SetShininess(float AValue);
  void SetAmbient(const TVector3f& AValue);
  void SetHasTexture(bool AValue);
  void SetHasToonTexture(bool AValue);
  void SetSelfShadow(bool AValue);
  // Sphere map (unit 3) mode, see TSphereMode.
  void SetSphereMode(int AValue);
  // Tints of the sampled texture, sphere map and toon ramp colours: colour * Mul + Add.
  void SetTextureTint(const TVector4f& AMul, const TVector4f& AAdd);
  void SetSphereTint(const TVector4f& AMul, const TVector4f& AAdd);
  void SetToonTint(const TVector4f& AMul, const TVector4f& AAdd);
  void SetEdgeColor(const TVector4f& AValue);
  void SetEdgeSize(float AValue);

  GLint PositionLocation() const { return FPositionLocation; }
  GLint TexCoordLocation() const { return FTexCoordLocation; }
  GLint NormalLocation() const { return FNormalLocation; }
  GLint EdgeScaleLocation() const { return FEdgeScaleLocation; }
  GLint UV1Location() const { return FUV1Location; }

 private:
  std::unique_ptr<TLight> FLight;
  TMatrix4f FViewMatrix = IdentityMatrix4f;
  GLint FPositionLocation = -1;
  GLint FTexCoordLocation = -1;
  GLint FNormalLocation = -1;
  GLint FLightPositionLocation = -1;
  GLint FLightColorLocation = -1;
  GLint FShadowMatrixLocation = -1;
  GLint FDiffuseLocation = -1;
  GLint FSpecularLocation = -1;
  GLint FShininessLocation = -1;
  GLint FAmbientLocation = -1;
  GLint FHasTextureLocation = -1;
  GLint FHasToonTextureLocation = -1;
  GLint FSelfShadowLocation = -1;
  GLint FEdgeScaleLocation = -1;
  GLint FUV1Location = -1;
  GLint FViewMatrixLocation = -1;
  GLint FEdgeWidthScaleLocation = -1;
  GLint FEdgePixelsLocation = -1;
  GLint FViewportSizeLocation = -1;
  GLint FSphereModeLocation = -1;
  GLint FTextureMulLocation = -1, FTextureAddLocation = -1;
  GLint FSphereMulLocation = -1, FSphereAddLocation = -1;
  GLint FToonMulLocation = -1, FToonAddLocation = -1;
  GLint FEdgeColorLocation = -1;
  GLint FEdgeSizeLocation = -1;
  GLuint FVertexRenderPass1Index = 0;
  GLuint FVertexRenderPass2Index = 0;
  GLuint FFragmentRenderPass1Index = 0;
  GLuint FFragmentRenderPass2Index = 0;
  GLuint FVertexEdgePassIndex = 0;
  GLuint FFragmentEdgePassIndex = 0;
  int FRenderPass = 0;
};

// The flat-colour program of the bone overlay.
class TBoneProgram : public TProgram {
 public:
  explicit TBoneProgram(TOpenGL* AOwner);

  // The attribute "VertexPosition" reads 3 floats per vertex from ABuffer (bound for it).
  void SetPosition(const std::shared_ptr<IBufferObject>& ABuffer);
  // "VertexColor"; the program must be current.
  void SetVertexColor(const TVector4f& AValue);

  GLint PositionLocation() const { return FPositionLocation; }

 private:
  GLint FPositionLocation = -1;
  GLint FVertexColorLocation = -1;
};
