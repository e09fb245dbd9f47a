// DemoShapes: the parametric shapes the default character is built from (tubes along paths and
// deformed ellipsoids), the bone weights of their vertices, and the joining of parts into the
// model, all in the viewer's own frame. Header-only: the character's layout (DemoModel.cpp) is
// its one user.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "tools/demo/DemoCharacter.h"

namespace demoshape {

constexpr float kPi = 3.14159265358979f;

struct V3 {
  float X = 0, Y = 0, Z = 0;
};
inline V3 operator+(V3 A, V3 B) {
  return {A.X + B.X, A.Y + B.Y, A.Z + B.Z};
}
inline V3 operator-(V3 A, V3 B) {
  return {A.X - B.X, A.Y - B.Y, A.Z - B.Z};
}
inline V3 operator*(V3 A, float S) {
  return {A.X * S, A.Y * S, A.Z * S};
}
inline float Dot(V3 A, V3 B) {
  return A.X * B.X + A.Y * B.Y + A.Z * B.Z;
}
inline V3 Cross(V3 A, V3 B) {
  return {A.Y * B.Z - A.Z * B.Y, A.Z * B.X - A.X * B.Z, A.X * B.Y - A.Y * B.X};
}
inline float Length(V3 A) {
  return std::sqrt(Dot(A, A));
}
inline V3 Normalized(V3 A) {
  const float L = Length(A);
  return L > 0 ? A * (1.0f / L) : A;
}
inline TVector3f ToVector(V3 A) {
  return TVector3f{{A.X, A.Y, A.Z}};
}
inline float Clamp01(float X) {
  return std::clamp(X, 0.0f, 1.0f);
}
inline float SmoothStep(float E0, float E1, float X) {
  const float T = Clamp01((X - E0) / (E1 - E0));
  return T * T * (3 - 2 * T);
}

// Up to four bone influences; one becomes BDEF1, two BDEF2 (or SDEF when Sdef is set), more
// BDEF4. C, R0 and R1 are the SDEF points, relative to where she stands like every position here.
struct TWeights {
  int Bone[4] = {0, 0, 0, 0};
  float W[4] = {0, 0, 0, 0};
  int N = 0;
  bool Sdef = false;
  V3 C, R0, R1;
};
inline TWeights One(int ABone) {
  TWeights R;
  R.Bone[0] = ABone, R.W[0] = 1, R.N = 1;
  return R;
}
// ABone1 with AWeight1, ABone2 with the rest; collapses to one bone at the ends.
inline TWeights Two(int ABone1, int ABone2, float AWeight1) {
  AWeight1 = Clamp01(AWeight1);
  if (AWeight1 >= 0.999f || ABone1 == ABone2) return One(ABone1);
  if (AWeight1 <= 0.001f) return One(ABone2);
  TWeights R;
  R.Bone[0] = ABone1, R.Bone[1] = ABone2, R.W[0] = AWeight1, R.W[1] = 1 - AWeight1, R.N = 2;
  return R;
}

// A joint's blend as SDEF: the bend turns about AC, the joint's centre, instead of pinching.
// AR0 and AR1 are where the blend starts on each bone's side. One bone stays BDEF1.
inline TWeights Sdef(TWeights AW, V3 AC, V3 AR0, V3 AR1) {
  if (AW.N != 2) return AW;
  AW.Sdef = true, AW.C = AC, AW.R0 = AR0, AW.R1 = AR1;
  return AW;
}

// One shape before it joins the model: its own vertices and triangles (front faces
// counter-clockwise seen from outside, the viewer's front-face rule).
struct TPart {
  std::vector<V3> P;
  std::vector<PmxFloat2> UV;
  std::vector<TWeights> W;
  std::vector<std::array<int, 3>> T;
  int Add(V3 APos, float AU, float AV, const TWeights& AW) {
    P.push_back(APos);
    UV.push_back(PmxFloat2{AU, AV});
    W.push_back(AW);
    return static_cast<int>(P.size() - 1);
  }
};

// A ring of a tube: centre, direction of travel, a reference direction for the ring's second
// axis, the two radii (across and along the reference) and the ring's texture row.
struct TStation {
  V3 C;
  V3 Axis;
  float RT, RS;
  float V;
  TWeights W;
};

using TWeightFn = std::function<TWeights(V3 APos, int AStation)>;
using TRadiusFn = std::function<float(float ATheta)>;

// Rings along the stations, quads between neighbours; optional caps at both ends. A vertex's
// weights come from AWeightFn when given, else from its station. AURepeat tiles u around.
inline void Tube(TPart& APart, const std::vector<TStation>& AStations, int ASegments, V3 ARef,
                 bool ACapStart, bool ACapEnd, const TWeightFn& AWeightFn = nullptr,
                 const TRadiusFn& ARadiusFn = nullptr, float AURepeat = 1.0f) {
  const int Base = static_cast<int>(APart.P.size());
  const int Stride = ASegments + 1;
  for (std::size_t I = 0; I < AStations.size(); ++I) {
    const TStation& S = AStations[I];
    const V3 A = Normalized(S.Axis);
    const V3 Side = Normalized(ARef - A * Dot(ARef, A));
    const V3 Across = Cross(A, Side);
    for (int J = 0; J <= ASegments; ++J) {
      const float Theta =
          2 * kPi * static_cast<float>(J % ASegments) / static_cast<float>(ASegments);
      const float F = ARadiusFn ? ARadiusFn(Theta) : 1.0f;
      const V3 P =
          S.C + Across * (std::cos(Theta) * S.RT * F) + Side * (std::sin(Theta) * S.RS * F);
      APart.Add(P, AURepeat * static_cast<float>(J) / static_cast<float>(ASegments), S.V,
                AWeightFn ? AWeightFn(P, static_cast<int>(I)) : S.W);
    }
  }
  for (std::size_t I = 0; I + 1 < AStations.size(); ++I)
    for (int J = 0; J < ASegments; ++J) {
      const int A = Base + static_cast<int>(I) * Stride + J, B = A + 1;
      const int C = A + Stride, D = C + 1;
      APart.T.push_back({A, C, B});
      APart.T.push_back({B, C, D});
    }
  auto Cap = [&](std::size_t AStation, bool AStart) {
    const TStation& S = AStations[AStation];
    const int Centre =
        APart.Add(S.C, 0.5f, S.V, AWeightFn ? AWeightFn(S.C, static_cast<int>(AStation)) : S.W);
    const int Ring = Base + static_cast<int>(AStation) * Stride;
    for (int J = 0; J < ASegments; ++J) {
      if (AStart)
        APart.T.push_back({Centre, Ring + J, Ring + J + 1});
      else
        APart.T.push_back({Centre, Ring + J + 1, Ring + J});
    }
  };
  if (ACapStart) Cap(0, true);
  if (ACapEnd) Cap(AStations.size() - 1, false);
}

// An ellipsoid with radii along the orthonormal basis (AX, AY, AZ), rings from the -AY pole to
// the +AY pole. ADeform may move each point; AKeep may drop triangles by their centroid's unit
// direction in the ellipsoid's own frame. APlanarUV maps u, v from the AX, AY position.
struct TEllipsoid {
  V3 C;
  V3 AX{1, 0, 0}, AY{0, 1, 0}, AZ{0, 0, 1};
  float RX = 1, RY = 1, RZ = 1;
  int Segments = 24, Rings = 16;
  bool PlanarUV = false;
  std::function<V3(V3)> Deform;
  std::function<bool(V3)> Keep;
  std::function<TWeights(V3)> Weights;
  TWeights W;
};

// Local unit-sphere direction of a point of the ellipsoid.
inline V3 LocalDirection(const TEllipsoid& E, V3 P) {
  const V3 D = P - E.C;
  return Normalized(V3{Dot(D, E.AX) / E.RX, Dot(D, E.AY) / E.RY, Dot(D, E.AZ) / E.RZ});
}

inline std::vector<int> Ellipsoid(TPart& APart, const TEllipsoid& E) {
  std::vector<int> Ids;
  auto Point = [&](float Phi, float Theta) {
    V3 P = E.C + E.AY * (std::sin(Phi) * E.RY) + E.AX * (std::cos(Phi) * std::sin(Theta) * E.RX) +
           E.AZ * (std::cos(Phi) * std::cos(Theta) * E.RZ);
    return E.Deform ? E.Deform(P) : P;
  };
  auto UVOf = [&](V3 P, float U, float V) {
    if (!E.PlanarUV) return PmxFloat2{U, V};
    const V3 D = P - E.C;
    return PmxFloat2{0.5f + Dot(D, E.AX) / (2 * E.RX), 0.5f - Dot(D, E.AY) / (2 * E.RY)};
  };
  auto Add = [&](V3 P, float U, float V) {
    const PmxFloat2 UV = UVOf(P, U, V);
    const int Id = APart.Add(P, UV.X, UV.Y, E.Weights ? E.Weights(P) : E.W);
    Ids.push_back(Id);
    return Id;
  };
  const int Bottom = Add(Point(-kPi / 2, 0), 0.5f, 1.0f);
  std::vector<int> Rows;
  const int Stride = E.Segments + 1;
  const int First = static_cast<int>(APart.P.size());
  for (int I = 1; I < E.Rings; ++I) {
    const float Phi = -kPi / 2 + kPi * static_cast<float>(I) / static_cast<float>(E.Rings);
    for (int J = 0; J <= E.Segments; ++J) {
      // Theta 0 faces +AZ; u runs around from the back seam.
      const float Theta =
          2 * kPi * static_cast<float>(J % E.Segments) / static_cast<float>(E.Segments) - kPi;
      Add(Point(Phi, Theta), static_cast<float>(J) / static_cast<float>(E.Segments),
          1.0f - static_cast<float>(I) / static_cast<float>(E.Rings));
    }
  }
  const int Top = Add(Point(kPi / 2, 0), 0.5f, 0.0f);
  auto Tri = [&](int A, int B, int C) {
    if (E.Keep) {
      const V3 Centroid = (APart.P[A] + APart.P[B] + APart.P[C]) * (1.0f / 3.0f);
      if (!E.Keep(LocalDirection(E, Centroid))) return;
    }
    APart.T.push_back({A, B, C});
  };
  // Theta runs from +AX towards... the ring's order decides the winding: check one triangle
  // against the outward direction and flip the whole shape when needed.
  std::vector<std::array<int, 3>> Local;
  for (int I = 0; I + 1 < E.Rings - 1; ++I)
    for (int J = 0; J < E.Segments; ++J) {
      const int A = First + I * Stride + J, B = A + 1, C = A + Stride, D = C + 1;
      Local.push_back({A, C, B});
      Local.push_back({B, C, D});
    }
  const int LastRow = First + (E.Rings - 2) * Stride;
  for (int J = 0; J < E.Segments; ++J) {
    Local.push_back({Bottom, First + J, First + J + 1});
    Local.push_back({Top, LastRow + J + 1, LastRow + J});
  }
  // Orientation test on a side triangle of the middle ring.
  const std::array<int, 3>& Probe =
      Local[static_cast<std::size_t>((E.Rings / 2 - 1) * E.Segments * 2)];
  const V3 N = Cross(APart.P[Probe[1]] - APart.P[Probe[0]], APart.P[Probe[2]] - APart.P[Probe[0]]);
  const V3 Out = (APart.P[Probe[0]] + APart.P[Probe[1]] + APart.P[Probe[2]]) * (1.0f / 3.0f) - E.C;
  const bool Flip = Dot(N, Out) < 0;
  for (auto T : Local) {
    if (Flip) std::swap(T[1], T[2]);
    Tri(T[0], T[1], T[2]);
  }
  return Ids;
}

// A frame whose Z looks along ANormal with Y as close to AUp as possible.
inline void FrameFacing(V3 ANormal, V3 AUp, V3& AX, V3& AY, V3& AZ) {
  AZ = Normalized(ANormal);
  AX = Normalized(Cross(AUp, AZ));
  AY = Cross(AZ, AX);
}

class TCharacter {
 public:
  TPmxBuilder B;

  TCharacter() {
    B.Settings.Version = 2.0f;
    B.Settings.Encoding = 0;  // UTF-16LE, as most authoring tools write
    B.ModelNameJp = "クエンロールちゃん";
    B.ModelNameEn = "Quenlor-chan";
    B.CommentJp = "Quenlor の既定キャラクター（コードで生成）";
    B.CommentEn = "The default character of Quenlor, generated in code.";
  }

  // Bones -------------------------------------------------------------------------------------
  int Bone(const char* AName, const char* AEnglish, V3 APos, int AParent, bool ATranslate = false) {
    TPmxBoneFlags Flags = FlagBit(bfCanRotate) | FlagBit(bfDisplay) | FlagBit(bfCanOperate);
    if (ATranslate) Flags |= FlagBit(bfCanTranslate);
    const int I = B.AddBone(AName, ToVector(APos + V3{0, 0, kDemoStandZ}), AParent, Flags);
    B.Bones[I].NameEn = AEnglish;
    return I;
  }
  void TailTo(int ABone, int ATarget) {
    B.Bones[ABone].Flags |= FlagBit(bfConnection);
    B.Bones[ABone].ConnectionBoneIndex = ATarget;
  }
  void TailOffset(int ABone, V3 AOffset) { B.Bones[ABone].PositionOffset = ToVector(AOffset); }
  V3 BonePos(int ABone) const {
    const TVector3f& P = B.Bones[ABone].Position;
    return V3{P.X, P.Y, P.Z - kDemoStandZ};
  }

  // Geometry ----------------------------------------------------------------------------------
  // Adds the part's vertices (with normals smoothed over coincident positions) and its triangles
  // to material AMaterial; returns the model index of the part's first vertex.
  int Emit(const TPart& APart, int AMaterial) {
    std::vector<V3> Normals(APart.P.size());
    std::map<std::tuple<long, long, long>, V3> Shared;
    auto Key = [&](V3 P) {
      return std::make_tuple(std::lround(P.X * 1e5f), std::lround(P.Y * 1e5f),
                             std::lround(P.Z * 1e5f));
    };
    for (const auto& T : APart.T) {
      const V3 N = Cross(APart.P[T[1]] - APart.P[T[0]], APart.P[T[2]] - APart.P[T[0]]);
      for (int K = 0; K < 3; ++K) {
        V3& S = Shared[Key(APart.P[T[K]])];
        S = S + N;
      }
    }
    const int Base = static_cast<int>(B.Vertices.size());
    for (std::size_t I = 0; I < APart.P.size(); ++I) {
      V3 N = Normalized(Shared[Key(APart.P[I])]);
      if (Length(N) == 0) N = V3{0, 1, 0};
      TPmxVertex Vtx{};
      Vtx.Position = ToVector(APart.P[I] + V3{0, 0, kDemoStandZ});
      Vtx.Normal = ToVector(N);
      Vtx.UV = APart.UV[I];
      const TWeights& W = APart.W[I];
      if (W.N <= 1) {
        Vtx.BoneWeightMethod = bwBDEF1;
        Vtx.BoneWeight.BDEF1.BoneIndex = W.Bone[0];
      } else if (W.N == 2 && W.Sdef) {
        // The SDEF points in the same frame as the position: the writer stores both in file units.
        Vtx.BoneWeightMethod = bwSDEF;
        TPmxBoneWeightSDEF& S = Vtx.BoneWeight.SDEF;
        S.Bone1Index = W.Bone[0], S.Bone2Index = W.Bone[1], S.Bone1Weight = W.W[0];
        S.SDEF_C = ToVector(W.C + V3{0, 0, kDemoStandZ});
        S.SDEF_R0 = ToVector(W.R0 + V3{0, 0, kDemoStandZ});
        S.SDEF_R1 = ToVector(W.R1 + V3{0, 0, kDemoStandZ});
      } else if (W.N == 2) {
        Vtx.BoneWeightMethod = bwBDEF2;
        Vtx.BoneWeight.BDEF2 = TPmxBoneWeightBDEF2{W.Bone[0], W.Bone[1], W.W[0]};
      } else {
        Vtx.BoneWeightMethod = bwBDEF4;
        Vtx.BoneWeight.BDEF4 = TPmxBoneWeightBDEF4{W.Bone[0], W.Bone[1], W.Bone[2], W.Bone[3],
                                                   W.W[0],    W.W[1],    W.W[2],    W.W[3]};
      }
      Vtx.MagnificationOfEdge = 1.0f;
      B.Vertices.push_back(Vtx);
    }
    if (static_cast<int>(FMaterialFaces.size()) <= AMaterial) FMaterialFaces.resize(AMaterial + 1);
    for (const auto& T : APart.T)
      for (int K = 0; K < 3; ++K) FMaterialFaces[AMaterial].push_back(Base + T[K]);
    return Base;
  }

  // Concatenates the per-material triangle runs in material order.
  void FinishFaces() {
    FMaterialFaces.resize(B.Materials.size());
    for (std::size_t M = 0; M < B.Materials.size(); ++M) {
      B.Materials[M].NumberOfVertex = static_cast<int32_t>(FMaterialFaces[M].size());
      B.Faces.insert(B.Faces.end(), FMaterialFaces[M].begin(), FMaterialFaces[M].end());
    }
  }

 private:
  std::vector<std::vector<int32_t>> FMaterialFaces;
};

// A material whose lit colour is AColor: diffuse and ambient share it 60 / 40, so that the
// shader's clamp(diffuse + ambient) gives the colour and the toon ramp the shade. It casts and
// receives shadows; outlines are set per material with Outline.
inline int Material(TPmxBuilder& B, const char* AName, const char* AEnglish, V3 AColor,
                    float AAlpha, int ATexture, int ASharedToon, bool ATwoSide = false) {
  const int M = B.AddMaterial(AName, 0, ATexture);
  TPmxMaterial& Mat = B.Materials[M];
  Mat.NameEn = AEnglish;
  Mat.Diffuse = TVector4f{{AColor.X * 0.6f, AColor.Y * 0.6f, AColor.Z * 0.6f, AAlpha}};
  Mat.Ambient = TVector3f{{AColor.X * 0.4f, AColor.Y * 0.4f, AColor.Z * 0.4f}};
  Mat.Specular = TVector3f{{0.1f, 0.1f, 0.1f}};
  Mat.Shininess = 8.0f;
  if (ATwoSide) Mat.RenderFlags |= FlagBit(rfTwoSide);
  Mat.RenderFlags |= FlagBit(rfGroundShadow) | FlagBit(rfShadowMapping) | FlagBit(rfSelfShadow);
  Mat.SharedToonFlag = 1;
  Mat.ToonTexture.ToonTextureIndex = 0;
  Mat.ToonTexture.SharedToonTextureIndex = static_cast<uint8_t>(ASharedToon);
  return M;
}

// An outline of AColor, ASize about that many pixels thick at 1080 lines.
inline void Outline(TPmxBuilder& B, int AMaterial, V3 AColor, float ASize) {
  TPmxMaterial& M = B.Materials[AMaterial];
  M.RenderFlags |= FlagBit(rfEdge);
  M.EdgeColor = TVector4f{{AColor.X, AColor.Y, AColor.Z, 1.0f}};
  M.EdgeSize = ASize;
}
// Small or see-through face parts: drawn over the face, they cast no shadow of their own.
inline void NoShadowCast(TPmxBuilder& B, int AMaterial) {
  B.Materials[AMaterial].RenderFlags &=
      static_cast<TPmxRenderFlags>(~(FlagBit(rfGroundShadow) | FlagBit(rfShadowMapping)));
}

// Stations along a polyline of (point, radius across, radius along the reference, weights).
struct TPathPoint {
  V3 P;
  float RT, RS;
  TWeights W;
};
inline std::vector<TStation> StationsAlong(const std::vector<TPathPoint>& APoints) {
  std::vector<TStation> Result;
  float Total = 0;
  std::vector<float> Along{0};
  for (std::size_t I = 1; I < APoints.size(); ++I) {
    Total += Length(APoints[I].P - APoints[I - 1].P);
    Along.push_back(Total);
  }
  for (std::size_t I = 0; I < APoints.size(); ++I) {
    const V3 Prev = APoints[I > 0 ? I - 1 : 0].P;
    const V3 Next = APoints[I + 1 < APoints.size() ? I + 1 : I].P;
    Result.push_back(TStation{APoints[I].P, Normalized(Next - Prev), APoints[I].RT, APoints[I].RS,
                              Total > 0 ? Along[I] / Total : 0.0f, APoints[I].W});
  }
  return Result;
}

}  // namespace demoshape
