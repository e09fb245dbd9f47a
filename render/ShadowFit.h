// TShadowFit: the light's frustum fitted to what casts the shadows worth seeing (the dancers), so
// that the shadow map's texels go to them, with its depth range reaching every surface that
// receives their shadow (the stage or the ground). Gathered as spheres in world space; no
// allocation. Depends on shading/UShader (TLightFrustum) and the vector math.
#pragma once

#include "math/VectorTypes.h"
#include "shading/UShader.h"

class TShadowFit {
 public:
  // ALightView: world space -> the light's view space (TLight::ViewMatrix).
  explicit TShadowFit(const TMatrix4f& ALightView) : FLightView(ALightView) {}

  // A caster: the sides, the near and the far depth take in the sphere about AWorldCentre.
  void AddCaster(const TVector3f& AWorldCentre, float ARadius);
  // A receiver: only the far depth reaches it (its shadow lies within the casters' sides).
  void AddReceiver(const TVector3f& AWorldCentre, float ARadius);

  bool HasCasters() const { return FCasters > 0; }
  // The frustum holding every caster with a small margin, its far depth beyond every receiver;
  // false (AOut untouched) without casters or when one reaches within kMinNear of the light or
  // behind it, where no frustum from the light's position can hold it.
  bool Fit(TLightFrustum& AOut) const;

  // The nearest depth a fitted frustum may start at.
  static constexpr float kMinNear = 0.05f;

 private:
  TMatrix4f FLightView;
  int FCasters = 0;
  bool FBehind = false;
  float FLeft = 0, FRight = 0, FBottom = 0, FTop = 0;
  float FNear = 0, FFar = 0;
};
