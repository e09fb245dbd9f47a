// The literal algorithm of the controller core, kept as the yardstick of the fast path.
#include "tools/testbed/PmxReferenceCore.h"

#include <cstring>

#include "character/core/PmxIKMath.h"
#include "character/core/PmxKeyInterpolation.h"
#include "character/core/PmxMorphKinds.h"
#include "character/core/PmxSdef.h"
#include "math/Errors.h"

// ---- motion sampling ----------------------------------------------------------------------------

void TPmxReferenceCore::SampleMotion(double AFrame) {
  for (const auto& [Bone, List] : *FMotionList) InterpolateMotion(List, AFrame, Bone);
  for (const auto& [Morph, List] : *FSkinMotionList) InterpolateSkinMotion(List, AFrame, Morph);
}

void TPmxReferenceCore::InterpolateMotion(const std::vector<const TVmdMotion*>& AList,
                                          double AFrame, int ABone) {
  if (AList.empty()) throw Exception(SMotionListEmpty);
  const TVmdMotion K0 = *AList[0];
  if (K0.FrameNum >= AFrame) {
    const float T = FirstKeyRamp(AFrame, K0.FrameNum);
    // The packed key's fields are copied out first: a reference to one would be misaligned.
    const TVector3f Position = K0.Position;
    FBoneTranslations[ABone] = InterpolateVector(TVector3f{{0, 0, 0}}, Position, T);
    FBoneRotations[ABone] = InterpolateQuaternion(IdentityQuaternion, KeyRotation(K0), T);
    return;
  }
  for (size_t J = 1; J < AList.size(); ++J) {
    const TVmdMotion Kj = *AList[J];
    if (Kj.FrameNum >= AFrame) {
      const TVmdMotion P = *AList[J - 1];
      const float T = SegmentRatio(AFrame, P.FrameNum, Kj.FrameNum);
      const TVector3f From = P.Position, To = Kj.Position;
      // The curves stored on the later key shape the way to it, one per channel.
      auto Fraction = [&](TVmdBoneChannel AChannel) {
        return BezierFraction(VmdBoneCurve(Kj, AChannel), T);
      };
      FBoneTranslations[ABone] =
          InterpolateVector(From, To, Fraction(bcX), Fraction(bcY), Fraction(bcZ));
      FBoneRotations[ABone] =
          InterpolateQuaternion(KeyRotation(P), KeyRotation(Kj), Fraction(bcRotation));
      return;
    }
  }
  const TVmdMotion Last = *AList.back();
  FBoneTranslations[ABone] = Last.Position;
  FBoneRotations[ABone] = KeyRotation(Last);
}

void TPmxReferenceCore::InterpolateSkinMotion(const std::vector<const TVmdSkinMotion*>& AList,
                                              double AFrame, int AMorph) {
  if (AList.empty()) throw Exception(SMotionListEmpty);
  const TVmdSkinMotion K0 = *AList[0];
  if (K0.FrameNum >= AFrame) {
    FMorphRates[AMorph] = FirstKeyWeight(K0.Weight, AFrame, K0.FrameNum);
    return;
  }
  for (size_t J = 1; J < AList.size(); ++J) {
    const TVmdSkinMotion Kj = *AList[J];
    if (Kj.FrameNum >= AFrame) {
      const TVmdSkinMotion P = *AList[J - 1];
      FMorphRates[AMorph] =
          LerpSingle(P.Weight, Kj.Weight, SegmentRatio(AFrame, P.FrameNum, Kj.FrameNum));
      return;
    }
  }
  FMorphRates[AMorph] = AList.back()->Weight;
}

// ---- morphs -------------------------------------------------------------------------------------

void TPmxReferenceCore::ApplyMorph() {
  ApplyGroupMorphs();
  for (int V = 0; V < FPmx.VertexCount(); ++V)
    FSkinVertices[V] = TVec3f(FPmx.GetVertex(V)->Position);
  for (int M = 0; M < FPmx.MorphCount(); ++M) {
    const float W = FEffectiveRates[M];
    const TPmxMorph& Morph = *FPmx.GetMorph(M);
    if (W == 0.0f || Morph.Kind != mkVertex) continue;
    for (const TPmxMorphData& D : Morph.Data) {
      if (D.Vertex.VertexIndex < 0 || D.Vertex.VertexIndex >= FPmx.VertexCount()) continue;
      TVec3f& S = FSkinVertices[D.Vertex.VertexIndex];
      S = S + TVec3f(D.Vertex.PositionOffset) * W;
    }
  }
  ApplyMaterialMorphs();
  ApplyUVMorphs();
}

// Every group, in index order, walks its members depth first and passes its weight times each
// member's ratio on to it, into nested groups too, never into a group already on the path. Groups
// whose own weight is 0 walk without passing anything on, so that the walks look at the same
// entries (at most GroupMorphWalkBudget) whatever the weights are.
void TPmxReferenceCore::ApplyGroupMorphs() {
  const int Count = FPmx.MorphCount();
  FEffectiveRates = FMorphRates;
  struct TFrame {
    int Morph;
    float Carried;
    size_t Next;
  };
  std::vector<TFrame> Path;
  std::vector<bool> OnPath(static_cast<size_t>(Count), false);
  int Budget = GroupMorphWalkBudget;
  for (int G = 0; G < Count && Budget > 0; ++G) {
    if (FPmx.GetMorph(G)->Kind != mkGroup) continue;
    const bool Live = FMorphRates[G] != 0.0f;
    Path.push_back({G, FMorphRates[G], 0});
    OnPath[G] = true;
    while (!Path.empty()) {
      TFrame& Top = Path.back();
      const TPmxMorph& Group = *FPmx.GetMorph(Top.Morph);
      if (Top.Next >= Group.Data.size() || Budget == 0) {
        OnPath[Top.Morph] = false;
        Path.pop_back();
        continue;
      }
      const TPmxMorphGroup Member = Group.Data[Top.Next++].Group;
      --Budget;
      if (Member.MorphIndex < 0 || Member.MorphIndex >= Count) continue;
      const bool IsGroup = FPmx.GetMorph(Member.MorphIndex)->Kind == mkGroup;
      if (IsGroup && OnPath[Member.MorphIndex]) continue;
      const float Share = Top.Carried * Member.MorphRate;
      if (Live) FEffectiveRates[Member.MorphIndex] = FEffectiveRates[Member.MorphIndex] + Share;
      if (IsGroup) {
        OnPath[Member.MorphIndex] = true;
        Path.push_back({Member.MorphIndex, Share, 0});
      }
    }
  }
}

void TPmxReferenceCore::ApplyMaterialMorphs() {
  for (int I = 0; I < FPmx.MaterialCount(); ++I) {
    TMaterialMorphState Mul = MaterialMulIdentity(), Add = MaterialAddIdentity();
    bool Touched = false;
    for (int M = 0; M < FPmx.MorphCount(); ++M) {
      const TPmxMorph& Morph = *FPmx.GetMorph(M);
      const float W = FEffectiveRates[M];
      if (W == 0.0f || Morph.Kind != mkMaterial) continue;
      for (const TPmxMorphData& D : Morph.Data)
        if (D.Material.MaterialIndex == I || D.Material.MaterialIndex == -1)
          Touched = AccumulateMaterialMorph(Mul, Add, D.Material, W) || Touched;
    }
    const TMaterialMorphState Base = MaterialBaseState(*FPmx.GetMaterial(I));
    FMaterialStates[I] = Touched ? CombineMaterialMorphs(Base, Mul, Add) : Base;
  }
}

// Every UV rebuilt from the vertex records each time; flagged changed when the weight of some UV
// morph differs from the one the UVs were last built with.
void TPmxReferenceCore::ApplyUVMorphs() {
  if (FUVBuiltRates.empty()) FUVBuiltRates.assign(static_cast<size_t>(FPmx.MorphCount()), 0.0f);
  for (int C = 0; C < 5; ++C)
    for (int V = 0; V < FPmx.VertexCount(); ++V) FMorphedUVs[C][V] = RestUV(C, V);
  for (int M = 0; M < FPmx.MorphCount(); ++M) {
    const TPmxMorph& Morph = *FPmx.GetMorph(M);
    const int Channel = UVMorphChannel(Morph.Kind);
    if (Channel < 0) continue;
    const float W = FEffectiveRates[M];
    if (W != FUVBuiltRates[M]) {
      FUVBuiltRates[M] = W;
      FUVsChanged = true;
    }
    if (W == 0.0f) continue;
    for (const TPmxMorphData& D : Morph.Data) {
      if (D.UV.VertexIndex < 0 || D.UV.VertexIndex >= FPmx.VertexCount()) continue;
      TVector4f& U = FMorphedUVs[Channel][D.UV.VertexIndex];
      U.X = U.X + D.UV.UVOffset.X * W;
      U.Y = U.Y + D.UV.UVOffset.Y * W;
      if (Channel > 0) {
        U.Z = U.Z + D.UV.UVOffset.Z * W;
        U.W = U.W + D.UV.UVOffset.W * W;
      }
    }
  }
}

// ---- pose ---------------------------------------------------------------------------------------

TMatrix4f TPmxReferenceCore::ChainMatrix(int AIndex) const {
  const int P = FParent[AIndex];
  TVector3f V = FPmx.GetBone(AIndex)->Position;
  if (P != -1) V = Sub3f(FPmx.GetBone(AIndex)->Position, FPmx.GetBone(P)->Position);
  V = Add3f(FBoneTranslations[AIndex], V);
  const TMatrix4f L =
      MulMatrix4f(QuaternionToMatrix4f(FBoneRotations[AIndex]), TranslationMatrix4f(V));
  if (P == -1) return L;
  return MulMatrix4f(L, ChainMatrix(P));
}

TVector3f TPmxReferenceCore::PositionOf(int AIndex) const {
  return XYZ3f(ChainMatrix(AIndex).W);
}

void TPmxReferenceCore::ApplyIK() {
  for (int B = 0; B < FPmx.BoneCount(); ++B) {
    const TPmxBone& Bone = *FPmx.GetBone(B);
    if (!HasFlag(Bone.Flags, bfIK) || !IKEnabled(B)) continue;
    const TVector3f G = PositionOf(B);
    const TVector3f E = PositionOf(Bone.IKTargetBoneIndex);
    if (DistanceSquared3f(G, E) >= 1e-8f) SolveIK(Bone, G);
  }
}

void TPmxReferenceCore::SolveIK(const TPmxBone& AIKBone, const TVector3f& AGoal) {
  if (AIKBone.IKLoopCount <= 0) return;
  int Chains = 0;
  for (int B = 0; B < FPmx.BoneCount(); ++B) Chains += HasFlag(FPmx.GetBone(B)->Flags, bfIK);
  const int Loops = IKIterationLimit(AIKBone.IKLoopCount, Chains, AIKBone.IKLinks.size());
  for (int It = 0; It < Loops; ++It) {
    for (const TPmxIKLink& Link : AIKBone.IKLinks) {
      if (Link.AxisType == atFixed) continue;
      const int K = Link.LinkBoneIndex;
      const TVector3f E = PositionOf(AIKBone.IKTargetBoneIndex);
      TQuaternion Q;
      if (!IKLinkTurn(ChainMatrix(K), E, AGoal, AIKBone.IKLoopLimitAngle, Q)) continue;
      if (Link.AngleLimit == 0) {
        FBoneRotations[K] = MulQuaternion(FBoneRotations[K], Q);
        continue;
      }
      const TQuaternion C = MulQuaternion(FBoneRotations[K], Q);
      TQuaternion Limited;
      if (LimitedLinkRotation(C, Link, It < AIKBone.IKLoopCount / 2, Limited))
        FBoneRotations[K] = Limited;
    }
    if (DistanceSquared3f(AGoal, PositionOf(AIKBone.IKTargetBoneIndex)) < 1e-8f) break;
  }
}

void TPmxReferenceCore::UpdatePose() {
  // Bone morphs on top of the motion's values for this pose only (see RestoreBoneMorphs of the
  // fast path): the values from before come back afterwards wherever the pose left them alone.
  const std::vector<TQuaternion> Rotations = FBoneRotations;
  const std::vector<TVector3f> Translations = FBoneTranslations;
  std::vector<bool> Moved(static_cast<size_t>(FPmx.BoneCount()), false);
  for (int M = 0; M < FPmx.MorphCount(); ++M) {
    const TPmxMorph& Morph = *FPmx.GetMorph(M);
    const float W = FEffectiveRates[M];
    if (W == 0.0f || Morph.Kind != mkBone) continue;
    for (const TPmxMorphData& D : Morph.Data) {
      const int B = D.Bone.BoneIndex;
      if (B < 0 || B >= FPmx.BoneCount()) continue;
      FBoneTranslations[B] = Add3f(FBoneTranslations[B], Scaled3f(D.Bone.TranslateValue, W));
      FBoneRotations[B] = MulQuaternion(
          FBoneRotations[B], SlerpQuaternion(IdentityQuaternion, BoneMorphRotation(D.Bone), W));
      Moved[B] = true;
    }
  }
  const std::vector<TQuaternion> MorphedRotations = FBoneRotations;
  const std::vector<TVector3f> MorphedTranslations = FBoneTranslations;
  PoseBones();
  for (int B = 0; B < FPmx.BoneCount(); ++B) {
    if (!Moved[B]) continue;
    if (std::memcmp(&FBoneRotations[B], &MorphedRotations[B], sizeof(TQuaternion)) == 0)
      FBoneRotations[B] = Rotations[B];
    if (std::memcmp(&FBoneTranslations[B], &MorphedTranslations[B], sizeof(TVector3f)) == 0)
      FBoneTranslations[B] = Translations[B];
  }
}

void TPmxReferenceCore::PoseBones() {
  ApplyIK();
  for (int I = 0; I < FPmx.BoneCount(); ++I) {
    const TPmxBone& Bone = *FPmx.GetBone(I);
    const int P = Bone.AddParentBoneIndex;
    if (HasFlag(Bone.Flags, bfAddRotation) && P != -1)
      FBoneRotations[I] = SlerpQuaternion(IdentityQuaternion, FBoneRotations[P], Bone.AddPower);
    if (HasFlag(Bone.Flags, bfAddTranslation) && P != -1)
      FBoneTranslations[I] = Lerp3f(TVector3f{{0, 0, 0}}, FBoneTranslations[P], Bone.AddPower);
  }
  for (int I = 0; I < FPmx.BoneCount(); ++I) FBoneGlobalMatrix[I] = ChainMatrix(I);
  for (int I = 0; I < FPmx.BoneCount(); ++I)
    FSkinMatrix[I] = MulMatrix4f(FBoneInvertMatrix[I], FBoneGlobalMatrix[I]);
}

// ---- skinning -----------------------------------------------------------------------------------

TVec3f TPmxReferenceCore::SkinPoint(const TPmxVertex& AVertex, const TVec3f& AInput,
                                    const std::vector<TMatrix4f>& AMatrices, bool ANormal,
                                    bool& AWritten) const {
  // A slot without a bone (-1) contributes nothing.
  auto Term = [&](int ABone, float AWeight) {
    if (ABone == -1) return TVec3f(0.0f, 0.0f, 0.0f);
    return TVec3f(Scaled3f(ToVector3f(TransformPoint3f(AInput, AMatrices[ABone])), AWeight));
  };
  auto Bdef2 = [&](const TPmxBoneWeightBDEF2& W) {
    return TVec3f(Add3f(ToVector3f(Term(W.Bone1Index, W.Bone1Weight)),
                        ToVector3f(Term(W.Bone2Index, 1.0f - W.Bone1Weight))));
  };
  AWritten = true;
  switch (AVertex.BoneWeightMethod) {
    case bwBDEF1: {
      const int B = AVertex.BoneWeight.BDEF1.BoneIndex;
      if (B == -1) return TVec3f(0.0f, 0.0f, 0.0f);
      return TransformPoint3f(AInput, AMatrices[B]);
    }
    case bwSDEF: {
      // Turned about C by the blend of the two bones' rotations; without both bones, as BDEF2.
      const TPmxBoneWeightSDEF& W = AVertex.BoneWeight.SDEF;
      if (W.Bone1Index == -1 || W.Bone2Index == -1) return Bdef2(AVertex.BoneWeight.BDEF2);
      const float W0 = W.Bone1Weight, W1 = 1.0f - W.Bone1Weight;
      const TMatrix4f &M0 = AMatrices[W.Bone1Index], &M1 = AMatrices[W.Bone2Index];
      // The slerp of the bones' rotations at w1, as a rotation matrix.
      const TMatrix4f R =
          RotationArcMatrix(RotationArc(SkinMatrixRotation(M0), SkinMatrixRotation(M1)), W1);
      if (ANormal) return TVec3f(RotateVector(ToVector3f(AInput), R));
      const TSdefPoints Points = SdefPoints(W);
      const TVector3f Turned = RotateVector(Sub3f(ToVector3f(AInput), Points.C), R);
      return TVec3f(Add3f(Add3f(Turned, Scaled3f(TransformPoint3f(Points.Cr0, M0), W0)),
                          Scaled3f(TransformPoint3f(Points.Cr1, M1), W1)));
    }
    case bwBDEF2:
      return Bdef2(AVertex.BoneWeight.BDEF2);
    case bwBDEF4:
    case bwQDEF: {
      const TPmxBoneWeightBDEF4& W = AVertex.BoneWeight.BDEF4;
      TVector3f Sum = ToVector3f(Term(W.Bone1Index, W.Bone1Weight));
      Sum = Add3f(Sum, ToVector3f(Term(W.Bone2Index, W.Bone2Weight)));
      Sum = Add3f(Sum, ToVector3f(Term(W.Bone3Index, W.Bone3Weight)));
      Sum = Add3f(Sum, ToVector3f(Term(W.Bone4Index, W.Bone4Weight)));
      return TVec3f(Sum);
    }
    default:
      AWritten = false;
      return AInput;
  }
}

void TPmxReferenceCore::PhysicsAndSkin(IPmxSkinTarget& ATarget) {
  ApplyPhysics();
  ATarget.BonesPosed(*this);
  Skin(ATarget);
}

void TPmxReferenceCore::Skin(IPmxSkinTarget& ATarget) {
  if (float* Positions = ATarget.MapPositions()) {
    for (int V = 0; V < FPmx.VertexCount(); ++V) {
      bool Written;
      const TVec3f P = SkinPoint(*FPmx.GetVertex(V), FSkinVertices[V], FSkinMatrix, false, Written);
      // An unknown weight method is not skinned: the slot holds the (morphed) rest position.
      const TVec3f Out = Written ? P : FSkinVertices[V];
      Positions[3 * V] = Out.X;
      Positions[3 * V + 1] = Out.Y;
      Positions[3 * V + 2] = Out.Z;
    }
    ATarget.UnmapPositions();
  }
  for (TMatrix4f& M : FSkinMatrix) {
    M.V[3] = M.V[7] = M.V[11] = 0.0f;
    M.W = TVector4f{{0.0f, 0.0f, 0.0f, 1.0f}};
  }
  if (float* Normals = ATarget.MapNormals()) {
    for (int V = 0; V < FPmx.VertexCount(); ++V) {
      const TPmxVertex& Vertex = *FPmx.GetVertex(V);
      const TVec3f Rest(Vertex.Normal);
      bool Written;
      const TVec3f N = SkinPoint(Vertex, Rest, FSkinMatrix, true, Written);
      const TVec3f Out = Written ? N : Rest;
      Normals[3 * V] = Out.X;
      Normals[3 * V + 1] = Out.Y;
      Normals[3 * V + 2] = Out.Z;
    }
    ATarget.UnmapNormals();
  }
}
