// A generated character for the controller's equivalence tests and benchmark: a humanoid skeleton
// (spine, neck, head, eyes, arms with twist bones and fingers, legs with knee-limited leg IK and
// toe IK) filled up with hair and skirt chains, vertices with mixed weight methods around the
// bones (SDEF on a share of them, centred on the joint), morphs of every kind that changes the
// pose or the look (vertex morphs including "まばたき" and "照れ", nested group morphs, bone,
// material and UV morphs), and a long motion with keys for most bones, the IK bones and every
// morph, stored out of order. Deterministic for a given seed.
// Header-only; depends on the PMX/VMD writer (formats/PmxWriter.h).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/PmxWriter.h"
#include "math/VectorGeometry.h"

struct TGeneratedCharacterOptions {
  int VertexCount = 100000;
  int BoneCount = 300;  // at least the humanoid's 62; chains fill up the rest
  // Runs of 48 vertices share a weight method; this percentage of the runs is SDEF, spread
  // evenly, the rest BDEF1, BDEF2, BDEF4 and QDEF drawn at random.
  int SdefPercent = 20;
  // Morphs by kind; the defaults make 50. Morph indices: vertex morphs first, then group, bone,
  // material and UV morphs. Every morph gets keys.
  int VertexMorphCount = 25;
  int OffsetsPerMorph = 1500;
  int GroupMorphCount = 10;    // members: vertex morphs, and the first group inside the others
  int BoneMorphCount = 5;      // three bones each
  int MaterialMorphCount = 5;  // one material or all of them (-1), multiply or add
  int UVMorphCount = 5;        // OffsetsPerMorph / 5 vertices each
  int BoneKeyCount = 20000;
  int MorphKeyCount = 3000;
  int FrameSpan = 3000;
  int IKLoopCount = 40;
  // IK chains beyond the four leg and toe chains, on hair and skirt chains, with limits that need
  // the other Euler orders and a fixed link (for the equivalence tests).
  int ExtraIKChains = 0;
  // Scale of the IK bones' key translations; well above 1 puts the goals out of reach, so every
  // chain runs all its iterations.
  float IKGoalScale = 1.0f;
  // Every bone key eased: each channel gets its own non-linear curve.
  bool CurvedKeys = true;
  // Show/IK keys that switch the left leg's chains off and on again and hide the model once.
  bool ShowIKKeys = true;
  // Camera keys spread over the frame span, eased, with a cut (keys one frame apart).
  int CameraKeyCount = 100;
  uint64_t Seed = 12345;
};

// splitmix64: the same numbers on every platform.
class TGeneratorRandom {
 public:
  explicit TGeneratorRandom(uint64_t ASeed) : FState(ASeed) {}
  uint64_t Next() {
    uint64_t Z = (FState += 0x9E3779B97F4A7C15ull);
    Z = (Z ^ (Z >> 30)) * 0xBF58476D1CE4E5B9ull;
    Z = (Z ^ (Z >> 27)) * 0x94D049BB133111EBull;
    return Z ^ (Z >> 31);
  }
  // [0, 1)
  float Unit() { return static_cast<float>(Next() >> 40) / 16777216.0f; }
  float Range(float ALo, float AHi) { return ALo + (AHi - ALo) * Unit(); }
  int Below(int AN) { return static_cast<int>(Next() % static_cast<uint64_t>(AN)); }

 private:
  uint64_t FState;
};

struct TGeneratedCharacter {
  TPmxBuilder Model;
  TVmdBuilder Motion;
  int IKChainCount = 0;
};

inline TGeneratedCharacter GenerateCharacter(const TGeneratedCharacterOptions& AOptions) {
  TGeneratedCharacter Out;
  TPmxBuilder& B = Out.Model;
  TGeneratorRandom Rnd(AOptions.Seed);
  B.ModelNameJp = "生成キャラクター";
  auto V3 = [](float X, float Y, float Z) { return NewVector3f(X, Y, Z); };

  // ---- skeleton ----
  std::vector<bool> IsIK;
  auto Bone = [&](const std::string& AName, TVector3f APos, int AParent) {
    const int I = B.AddBone(AName, APos, AParent);
    B.Bones[I].PositionOffset = V3(0, 0.05f, 0);
    IsIK.push_back(false);
    return I;
  };
  // A chain of bones each connected to the next (the last one points by offset).
  auto Connect = [&](int AFrom, int ATo) {
    B.Bones[AFrom].Flags |= FlagBit(bfConnection);
    B.Bones[AFrom].ConnectionBoneIndex = ATo;
  };
  const int Root = Bone("全ての親", V3(0, 0, 0), -1);
  const int Center = Bone("センター", V3(0, 0.8f, 0), Root);
  const int Lower = Bone("下半身", V3(0, 0.95f, 0), Center);
  const int Upper = Bone("上半身", V3(0, 1.0f, 0.01f), Center);
  const int Upper2 = Bone("上半身2", V3(0, 1.15f, 0.01f), Upper);
  Connect(Upper, Upper2);
  const int Neck = Bone("首", V3(0, 1.35f, 0.0f), Upper2);
  Connect(Upper2, Neck);
  const int Head = Bone("頭", V3(0, 1.45f, 0.0f), Neck);
  Connect(Neck, Head);
  const int EyeL = Bone("左目", V3(0.03f, 1.5f, 0.05f), Head);
  const int EyeR = Bone("右目", V3(-0.03f, 1.5f, 0.05f), Head);
  const int Eyes = Bone("両目", V3(0, 1.55f, 0.05f), Head);
  for (int Eye : {EyeL, EyeR}) {
    // Appended from a bone with a higher index: read before its own append step.
    B.Bones[Eye].Flags |= FlagBit(bfAddRotation);
    B.Bones[Eye].AddParentBoneIndex = Eyes;
    B.Bones[Eye].AddPower = 1.0f;
  }
  std::vector<int> LegIKs;
  for (int Side = 0; Side < 2; ++Side) {
    const std::string S = Side == 0 ? "左" : "右";
    const float X = Side == 0 ? 0.09f : -0.09f;
    const int Leg = Bone(S + "足", V3(X, 0.9f, 0), Lower);
    const int Knee = Bone(S + "ひざ", V3(X, 0.5f, -0.01f), Leg);
    const int Ankle = Bone(S + "足首", V3(X, 0.1f, 0.0f), Knee);
    const int Toe = Bone(S + "つま先", V3(X, 0.0f, 0.1f), Ankle);
    Connect(Leg, Knee);
    Connect(Knee, Ankle);
    Connect(Ankle, Toe);
    const int LegIK = Bone(S + "足ＩＫ", V3(X, 0.1f, 0.0f), Root);
    const int ToeIK = Bone(S + "つま先ＩＫ", V3(X, 0.0f, 0.1f), LegIK);
    IsIK[LegIK] = IsIK[ToeIK] = true;
    B.MakeIK(LegIK, Ankle, AOptions.IKLoopCount, 2.0f);
    // Knee: bends about X only.
    B.AddIKLink(LegIK, Knee, V3(-3.1415927f, 0, 0), V3(-0.008726646f, 0, 0));
    B.AddIKLink(LegIK, Leg);
    B.MakeIK(ToeIK, Toe, AOptions.IKLoopCount, 4.0f);
    B.AddIKLink(ToeIK, Ankle);
    LegIKs.push_back(LegIK);
    Out.IKChainCount += 2;
  }
  for (int Side = 0; Side < 2; ++Side) {
    const std::string S = Side == 0 ? "左" : "右";
    const float X = Side == 0 ? 1.0f : -1.0f;
    const int Shoulder = Bone(S + "肩", V3(0.05f * X, 1.33f, 0), Upper2);
    const int Arm = Bone(S + "腕", V3(0.15f * X, 1.3f, 0), Shoulder);
    const int Twist = Bone(S + "腕捩", V3(0.25f * X, 1.2f, 0), Arm);
    const int Elbow = Bone(S + "ひじ", V3(0.35f * X, 1.1f, 0), Arm);
    const int Wrist = Bone(S + "手首", V3(0.55f * X, 0.95f, 0), Elbow);
    Connect(Shoulder, Arm);
    Connect(Arm, Elbow);
    Connect(Elbow, Wrist);
    B.Bones[Twist].Flags |= FlagBit(bfAddRotation);
    B.Bones[Twist].AddParentBoneIndex = Arm;
    B.Bones[Twist].AddPower = 0.5f;
    for (int F = 0; F < 5; ++F) {
      int Parent = Wrist;
      for (int J = 0; J < 3; ++J) {
        const int Joint =
            Bone(S + "指" + std::to_string(F) + "_" + std::to_string(J),
                 V3((0.6f + 0.03f * J) * X, 0.93f - 0.01f * F, 0.02f * F - 0.04f), Parent);
        if (J > 0) Connect(Parent, Joint);
        Parent = Joint;
      }
    }
  }
  // Hair from the head and skirt from the lower body, 8 bones per chain.
  int Chain = 0;
  while (static_cast<int>(B.Bones.size()) < AOptions.BoneCount) {
    const bool Hair = Chain % 2 == 0;
    const float A = 0.7f * static_cast<float>(Chain);
    int Parent = Hair ? Head : Lower;
    const int ChainStart = static_cast<int>(B.Bones.size());
    for (int J = 0; J < 8 && static_cast<int>(B.Bones.size()) < AOptions.BoneCount; ++J) {
      const float R = Hair ? 0.08f : 0.12f + 0.01f * J;
      const float Y = Hair ? 1.5f - 0.06f * J : 0.9f - 0.05f * J;
      const int Link =
          Bone((Hair ? "髪" : "スカート") + std::to_string(Chain) + "_" + std::to_string(J),
               V3(R * std::cos(A), Y, R * std::sin(A)), Parent);
      if (J > 0) Connect(Parent, Link);
      Parent = Link;
    }
    // Skirt roots follow the centre's translation by half.
    if (!Hair && ChainStart < static_cast<int>(B.Bones.size())) {
      B.Bones[ChainStart].Flags |= FlagBit(bfAddTranslation);
      B.Bones[ChainStart].AddParentBoneIndex = Center;
      B.Bones[ChainStart].AddPower = 0.5f;
    }
    ++Chain;
  }
  // Extra chains: the IK bone hangs from the chain's root; its target is the chain's fourth bone.
  for (int C = 0; C < AOptions.ExtraIKChains; ++C) {
    const std::string Name = "髪ＩＫ" + std::to_string(C);
    int ChainRoot = -1;
    for (int I = 0; I < static_cast<int>(B.Bones.size()); ++I)
      if (B.Bones[I].NameJp == (C % 2 == 0 ? "髪" : "スカート") + std::to_string(C) + "_0")
        ChainRoot = I;
    if (ChainRoot < 0 || ChainRoot + 3 >= static_cast<int>(B.Bones.size())) break;
    const int IK = Bone(Name, B.Bones[ChainRoot + 3].Position, ChainRoot);
    IsIK[IK] = true;
    B.MakeIK(IK, ChainRoot + 3, AOptions.IKLoopCount, 0.7f);
    switch (C % 3) {
      case 0:  // X inside (-90, 90) degrees: ZXY order
        B.AddIKLink(IK, ChainRoot + 2, V3(-1.0f, -0.5f, -0.3f), V3(1.0f, 0.5f, 0.3f));
        break;
      case 1:  // X wide, Y inside: XYZ order
        B.AddIKLink(IK, ChainRoot + 2, V3(-2.0f, -0.5f, -2.0f), V3(2.0f, 0.5f, 2.0f));
        break;
      default:  // X and Y wide: YZX order
        B.AddIKLink(IK, ChainRoot + 2, V3(-2.0f, -2.0f, -0.4f), V3(2.0f, 2.0f, 0.4f));
        break;
    }
    B.AddIKLink(IK, ChainRoot + 1, V3(0, 0, 0), V3(0, 0, 0));  // fixed: never turned
    B.AddIKLink(IK, ChainRoot);
    ++Out.IKChainCount;
  }
  const int BoneCount = static_cast<int>(B.Bones.size());

  // ---- vertices: runs of one weight method, around a home bone ----
  std::vector<int> Skinnable;
  for (int I = 0; I < BoneCount; ++I)
    if (!IsIK[I] && I != Root) Skinnable.push_back(I);
  auto ParentOr = [&](int ABone) {
    return B.Bones[ABone].ParentIndex >= 0 ? B.Bones[ABone].ParentIndex : ABone;
  };
  B.Vertices.reserve(static_cast<size_t>(AOptions.VertexCount));
  uint8_t Method = bwBDEF1;
  for (int V = 0; V < AOptions.VertexCount; ++V) {
    if (V % 48 == 0) {
      const int Run = V / 48;
      const int R = Rnd.Below(95);
      Method = (Run * AOptions.SdefPercent) % 100 < AOptions.SdefPercent ? bwSDEF
               : R < 30                                                  ? bwBDEF1
               : R < 60                                                  ? bwBDEF2
               : R < 90                                                  ? bwBDEF4
                                                                         : bwQDEF;
    }
    const int Home = Skinnable[static_cast<size_t>(Rnd.Below(static_cast<int>(Skinnable.size())))];
    const TVector3f& HP = B.Bones[Home].Position;
    TVector3f N = V3(Rnd.Range(-1, 1), Rnd.Range(-1, 1), Rnd.Range(-1, 1));
    N = Normalized3f(N);
    const int I = B.AddVertex(V3(HP.X + Rnd.Range(-0.05f, 0.05f), HP.Y + Rnd.Range(-0.05f, 0.05f),
                                 HP.Z + Rnd.Range(-0.05f, 0.05f)),
                              N, PmxFloat2{Rnd.Unit(), Rnd.Unit()}, Home);
    TPmxVertex& Vx = B.Vertices[I];
    Vx.BoneWeightMethod = Method;
    const int P = ParentOr(Home), G = ParentOr(P);
    switch (Method) {
      case bwBDEF2:
      case bwSDEF: {
        Vx.BoneWeight.SDEF.Bone1Index = Home;
        Vx.BoneWeight.SDEF.Bone2Index = P;
        Vx.BoneWeight.SDEF.Bone1Weight = Rnd.Unit();
        // The joint between the parent and the home bone; R0 a quarter of the way into the home
        // bone's side, R1 as far back into the parent's.
        const TVector3f Along = Sub3f(HP, B.Bones[P].Position);
        Vx.BoneWeight.SDEF.SDEF_C = HP;
        Vx.BoneWeight.SDEF.SDEF_R0 = Add3f(HP, Scaled3f(Along, 0.25f));
        Vx.BoneWeight.SDEF.SDEF_R1 = Sub3f(HP, Scaled3f(Along, 0.25f));
        break;
      }
      case bwBDEF4:
      case bwQDEF: {
        float W[4] = {Rnd.Unit() + 0.1f, Rnd.Unit(), Rnd.Unit(), Rnd.Unit()};
        const float Sum = W[0] + W[1] + W[2] + W[3];
        TPmxBoneWeightBDEF4& Bw = Vx.BoneWeight.BDEF4;
        Bw.Bone1Index = Home;
        Bw.Bone2Index = P;
        Bw.Bone3Index = G;
        Bw.Bone4Index =
            Skinnable[static_cast<size_t>(Rnd.Below(static_cast<int>(Skinnable.size())))];
        Bw.Bone1Weight = W[0] / Sum;
        Bw.Bone2Weight = W[1] / Sum;
        Bw.Bone3Weight = W[2] / Sum;
        Bw.Bone4Weight = W[3] / Sum;
        // Unused slots as authoring tools write them: bone -1, weight 0.
        if (Rnd.Below(10) == 0) {
          Bw.Bone4Index = -1;
          Bw.Bone4Weight = 0.0f;
        }
        break;
      }
      default:
        break;
    }
  }
  // Faces over consecutive vertices, four materials.
  const int Triangles = AOptions.VertexCount / 3;
  for (int T = 0; T < Triangles; ++T) B.AddTriangle(3 * T, 3 * T + 1, 3 * T + 2);
  const int PerMaterial = Triangles / 4;
  for (int M = 0; M < 4; ++M) {
    const int Count = M < 3 ? PerMaterial : Triangles - 3 * PerMaterial;
    B.AddMaterial("材質" + std::to_string(M), 3 * Count);
  }

  // ---- morphs ----
  for (int M = 0; M < AOptions.VertexMorphCount; ++M) {
    const std::string Name = M == 0 ? "まばたき" : M == 1 ? "照れ" : "モーフ" + std::to_string(M);
    const int Morph = B.AddMorph(Name, mkVertex);
    const int Start = Rnd.Below(std::max(1, AOptions.VertexCount));
    for (int K = 0; K < AOptions.OffsetsPerMorph && AOptions.VertexCount > 0; ++K)
      B.AddVertexMorphOffset(
          Morph, (Start + K * 7 + Rnd.Below(5)) % AOptions.VertexCount,
          V3(Rnd.Range(-0.01f, 0.01f), Rnd.Range(-0.01f, 0.01f), Rnd.Range(-0.01f, 0.01f)));
  }
  const int FirstGroup = static_cast<int>(B.Morphs.size());
  for (int M = 0; M < AOptions.GroupMorphCount; ++M) {
    const int Morph = B.AddMorph("グループ" + std::to_string(M), mkGroup);
    for (int K = 0; K < 3 && AOptions.VertexMorphCount > 0; ++K) {
      TPmxMorphData D{};
      D.Group.MorphIndex = Rnd.Below(AOptions.VertexMorphCount);
      D.Group.MorphRate = Rnd.Range(0.2f, 1.0f);
      B.Morphs[Morph].Data.push_back(D);
    }
    if (M > 0) {  // groups nest: each holds the first one
      TPmxMorphData D{};
      D.Group.MorphIndex = FirstGroup;
      D.Group.MorphRate = 0.5f;
      B.Morphs[Morph].Data.push_back(D);
    }
  }
  for (int M = 0; M < AOptions.BoneMorphCount; ++M) {
    const int Morph = B.AddMorph("骨モーフ" + std::to_string(M), mkBone);
    for (int K = 0; K < 3; ++K) {
      TPmxMorphData D{};
      D.Bone.BoneIndex =
          Skinnable[static_cast<size_t>(Rnd.Below(static_cast<int>(Skinnable.size())))];
      D.Bone.TranslateValue = TVector3f{{Rnd.Range(-0.02f, 0.02f), Rnd.Range(-0.02f, 0.02f), 0.0f}};
      const TVector3f Axis =
          Normalized3f(TVector3f{{Rnd.Range(-1, 1), Rnd.Range(-1, 1), Rnd.Range(-1, 1)}});
      const float Half = Rnd.Range(-0.3f, 0.3f);
      D.Bone.RotateValue = TVector4f{{Axis.X * std::sin(Half), Axis.Y * std::sin(Half),
                                      Axis.Z * std::sin(Half), std::cos(Half)}};
      B.Morphs[Morph].Data.push_back(D);
    }
  }
  for (int M = 0; M < AOptions.MaterialMorphCount; ++M) {
    const int Morph = B.AddMorph("材質モーフ" + std::to_string(M), mkMaterial);
    TPmxMorphData D{};
    TPmxMorphMaterial& Mm = D.Material;
    Mm.MaterialIndex = M % 3 == 2 ? -1 : Rnd.Below(4);
    Mm.OffsetType = static_cast<uint8_t>(M % 2);
    const float Base = Mm.OffsetType == 0 ? 1.0f : 0.0f;  // multiply: around 1; add: around 0
    auto Value = [&] { return Base + Rnd.Range(-0.3f, 0.3f); };
    auto Four = [&] { return TVector4f{{Value(), Value(), Value(), Value()}}; };
    Mm.Diffuse = Four();
    Mm.Specular = TVector3f{{Value(), Value(), Value()}};
    Mm.Shininess = Value();
    Mm.Ambient = TVector3f{{Value(), Value(), Value()}};
    Mm.EdgeColor = Four();
    Mm.EdgeSize = Value();
    Mm.TextureFactor = Four();
    Mm.SphereTextureFactor = Four();
    Mm.ToonTextureFactor = Four();
    B.Morphs[Morph].Data.push_back(D);
  }
  for (int M = 0; M < AOptions.UVMorphCount && AOptions.VertexCount > 0; ++M) {
    const int Morph = B.AddMorph("UVモーフ" + std::to_string(M), mkUV);
    const int Start = Rnd.Below(AOptions.VertexCount);
    for (int K = 0; K < AOptions.OffsetsPerMorph / 5; ++K) {
      TPmxMorphData D{};
      D.UV.VertexIndex = (Start + K * 3) % AOptions.VertexCount;
      D.UV.UVOffset = TVector4f{{Rnd.Range(-0.1f, 0.1f), Rnd.Range(-0.1f, 0.1f), 0.0f, 0.0f}};
      B.Morphs[Morph].Data.push_back(D);
    }
  }

  // ---- motion: keys for most bones, the IK bones moving the feet, and the morphs ----
  TVmdBuilder& Mo = Out.Motion;
  std::vector<int> Keyed;
  for (int I = 0; I < BoneCount; ++I)
    if (I != Root && Rnd.Below(10) < 8) Keyed.push_back(I);
  for (int LegIK : LegIKs)
    if (std::find(Keyed.begin(), Keyed.end(), LegIK) == Keyed.end()) Keyed.push_back(LegIK);
  for (int K = 0; K < AOptions.BoneKeyCount && !Keyed.empty(); ++K) {
    const int I = Keyed[static_cast<size_t>(K % static_cast<int>(Keyed.size()))];
    const uint32_t Frame = static_cast<uint32_t>(Rnd.Below(AOptions.FrameSpan + 1));
    TVector3f Axis = Normalized3f(V3(Rnd.Range(-1, 1), Rnd.Range(-1, 1), Rnd.Range(-1, 1)));
    const float Angle = Rnd.Range(-0.8f, 0.8f);
    const float S = std::sin(Angle / 2);
    TVector4f Rot{{Axis.X * S, Axis.Y * S, Axis.Z * S, std::cos(Angle / 2)}};
    TVector3f Pos = V3(0, 0, 0);
    if (IsIK[I])
      Pos = Scaled3f(V3(Rnd.Range(-0.1f, 0.1f), Rnd.Range(0.0f, 0.35f), Rnd.Range(-0.15f, 0.15f)),
                     AOptions.IKGoalScale);
    else if (I == Center)
      Pos = V3(Rnd.Range(-0.05f, 0.05f), Rnd.Range(-0.2f, 0.05f), Rnd.Range(-0.05f, 0.05f));
    const int Key = Mo.AddBoneKey(B.Bones[I].NameJp, Frame, Pos, Rot);
    if (AOptions.CurvedKeys)
      for (int C = 0; C < 4; ++C) {
        // x1 != y1 keeps the curve off the diagonal.
        const uint8_t X1 = static_cast<uint8_t>(Rnd.Below(128));
        const uint8_t Y1 = static_cast<uint8_t>((X1 + 1 + Rnd.Below(127)) % 128);
        SetVmdBoneCurve(Mo.Motions[Key], static_cast<TVmdBoneChannel>(C), X1, Y1,
                        static_cast<uint8_t>(Rnd.Below(128)), static_cast<uint8_t>(Rnd.Below(128)));
      }
  }
  if (AOptions.ShowIKKeys && !LegIKs.empty()) {
    const uint32_t Span = static_cast<uint32_t>(AOptions.FrameSpan);
    const std::string LegIK = B.Bones[LegIKs[0]].NameJp;
    const std::string ToeIK = B.Bones[LegIKs[0] + 1].NameJp;
    Mo.AddShowIKKey(Span / 3, true, {{LegIK, false}, {ToeIK, false}});
    Mo.AddShowIKKey(Span / 2, false, {{LegIK, true}});
    Mo.AddShowIKKey(Span / 2 + 10, true, {{ToeIK, true}, {"存在しないＩＫ", false}});
  }
  for (int K = 0; K < AOptions.CameraKeyCount; ++K) {
    auto FrameOf = [&](int AK) {
      return static_cast<uint32_t>(static_cast<int64_t>(AK) * AOptions.FrameSpan /
                                   std::max(1, AOptions.CameraKeyCount));
    };
    // Key 5 sits one frame before key 6: a cut.
    const uint32_t Frame = K == 5 ? std::max(FrameOf(6), 1u) - 1 : FrameOf(K);
    const int Key = Mo.AddCameraKey(Frame, V3(0, 1.0f, 0), Rnd.Range(2.5f, 4.5f),
                                    V3(Rnd.Range(-0.3f, 0.3f), Rnd.Range(-3.0f, 3.0f), 0.0f),
                                    static_cast<uint32_t>(20 + Rnd.Below(25)));
    for (int C = 0; C < 6; ++C)
      SetVmdCameraCurve(Mo.CameraMotions[Key], static_cast<TVmdCameraChannel>(C),
                        static_cast<uint8_t>(Rnd.Below(128)), static_cast<uint8_t>(Rnd.Below(128)),
                        static_cast<uint8_t>(Rnd.Below(128)), static_cast<uint8_t>(Rnd.Below(128)));
  }
  const int MorphCount = static_cast<int>(B.Morphs.size());
  for (int K = 0; K < AOptions.MorphKeyCount && MorphCount > 0; ++K) {
    const int M = K % MorphCount;
    float W = Rnd.Unit();
    if (K % 97 == 0) W = 1.25f;  // beyond 1: stored as sampled
    Mo.AddMorphKey(B.Morphs[M].NameJp, static_cast<uint32_t>(Rnd.Below(AOptions.FrameSpan + 1)), W);
  }
  Mo.AddMorphKey("存在しない表情", 5, 1.0f);
  Mo.AddBoneKey("存在しない骨", 5);
  return Out;
}
