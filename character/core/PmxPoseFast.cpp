// The fast path of the controller core: keys found by binary search, model-space matrices cached
// per bone and recomputed only below a bone that turned, morphs rebuilt only for the vertices they
// move (the skinning pass is in PmxSkinFast.cpp). Every float is formed by the same operations in
// the same order as the literal algorithm (PmxReferenceCore), so the results are identical to the
// bit.
#include <algorithm>
#include <cstddef>

#include "character/core/ParallelChunks.h"
#include "character/core/PmxControllerCore.h"
#include "character/core/PmxIKMath.h"
#include "character/core/PmxKeyInterpolation.h"
#include "character/core/PmxLanes.h"
#include "character/core/PmxMorphKinds.h"

using namespace pmx_lanes;

// ---- motion sampling ----------------------------------------------------------------------------

void TPmxControllerCore::SampleMotion(double AFrame) {
  // The first key at or after AFrame among keys 1.., given that key 0 is before it; a NaN frame
  // finds none, as a linear search would. The track's last find and the one after it are tried
  // first (a bracket that holds is the answer: the frames are sorted), then a binary search.
  auto FirstAtOrAfter = [AFrame](const double* AFrames, TTrack& ATrack) {
    const uint32_t Count = ATrack.Count;
    auto Brackets = [&](uint32_t J) {
      return J >= 1 && J <= Count && !(AFrames[J - 1] >= AFrame) &&
             (J == Count || AFrames[J] >= AFrame);
    };
    uint32_t J = ATrack.Hint;
    if (!Brackets(J) && !Brackets(++J))
      J = static_cast<uint32_t>(
          std::partition_point(AFrames + 1, AFrames + Count,
                               [AFrame](double F) { return !(F >= AFrame); }) -
          AFrames);
    ATrack.Hint = J;
    return static_cast<size_t>(J);
  };
  // The keys the next tracks will read, fetched ahead: after the skinning has streamed through
  // the caches, every key table read would otherwise wait for memory.
  constexpr size_t Ahead = 4;
  auto Prefetch = [this](const TTrack& ATrack) {
    // Keys K and K + 1 (K + 1 at most one past the end: only an address to fetch).
    const size_t K = ATrack.First + std::min(ATrack.Hint, ATrack.Count) - 1;
    __builtin_prefetch(FBoneKeyFrame.data() + K);
    __builtin_prefetch(FBoneKeyPosition.data() + K);
    __builtin_prefetch(FBoneKeyRotation.data() + K);
    __builtin_prefetch(FBoneKeyRotation.data() + K + 1);
    __builtin_prefetch(FBoneKeyCurves.data() + K + 1);
    __builtin_prefetch(reinterpret_cast<const char*>(FBoneKeyCurves.data() + K + 1) + 64);
  };
  for (size_t I = 0; I < std::min(Ahead, FBoneTracks.size()); ++I) Prefetch(FBoneTracks[I]);
  for (size_t I = 0; I < FBoneTracks.size(); ++I) {
    if (I + Ahead < FBoneTracks.size()) Prefetch(FBoneTracks[I + Ahead]);
    TTrack& Track = FBoneTracks[I];
    const double* Frames = FBoneKeyFrame.data() + Track.First;
    const TVector3f* Positions = FBoneKeyPosition.data() + Track.First;
    const TQuaternion* Rotations = FBoneKeyRotation.data() + Track.First;
    TVector3f& Translation = FBoneTranslations[Track.Index];
    TQuaternion& Rotation = FBoneRotations[Track.Index];
    if (Frames[0] >= AFrame) {
      const float T = FirstKeyRamp(AFrame, Frames[0]);
      Translation = InterpolateVector(TVector3f{{0.0f, 0.0f, 0.0f}}, Positions[0], T);
      Rotation = InterpolateQuaternion(IdentityQuaternion, Rotations[0], T);
      continue;
    }
    const size_t J = FirstAtOrAfter(Frames, Track);
    if (J == Track.Count) {
      Translation = Positions[J - 1];
      Rotation = Rotations[J - 1];
      continue;
    }
    const float T = SegmentRatio(AFrame, Frames[J - 1], Frames[J]);
    // The later key's curves shape the way to it.
    const TBoneKeyCurves& Curves = FBoneKeyCurves[Track.First + J];
    if (Curves.Linear) {
      Translation = InterpolateVector(Positions[J - 1], Positions[J], T);
      Rotation = InterpolateQuaternion(Rotations[J - 1], Rotations[J], T);
      continue;
    }
    Translation =
        InterpolateVector(Positions[J - 1], Positions[J], BezierFraction(Curves.C[bcX], T),
                          BezierFraction(Curves.C[bcY], T), BezierFraction(Curves.C[bcZ], T));
    Rotation = InterpolateQuaternion(Rotations[J - 1], Rotations[J],
                                     BezierFraction(Curves.C[bcRotation], T));
  }
  for (TTrack& Track : FMorphTracks) {
    const double* Frames = FMorphKeyFrame.data() + Track.First;
    const float* Weights = FMorphKeyWeight.data() + Track.First;
    float& Rate = FMorphRates[Track.Index];
    if (Frames[0] >= AFrame) {
      Rate = FirstKeyWeight(Weights[0], AFrame, Frames[0]);
      continue;
    }
    const size_t J = FirstAtOrAfter(Frames, Track);
    if (J == Track.Count) {
      Rate = Weights[J - 1];
      continue;
    }
    Rate = LerpSingle(Weights[J - 1], Weights[J], SegmentRatio(AFrame, Frames[J - 1], Frames[J]));
  }
}

// ---- morphs -------------------------------------------------------------------------------------

// Only vertices that some vertex morph moves can differ from their rest positions; each is
// rebuilt from its rest position with its offsets added in the literal order (a zero weight adds
// nothing). Vertices come in runs of equal offset counts, so no loop length is guessed wrong.
void TPmxControllerCore::ApplyMorph() {
  ApplyGroupMorphs();
  ApplyMaterialMorphs();
  ApplyUVMorphs();
  // Pieces of MorphChunkVertices moved vertices, on the skinning's threads: every vertex is
  // written by one piece only.
  constexpr uint32_t MorphChunkVertices = 4096;
  const uint32_t Moved = static_cast<uint32_t>(FMorphRunVertex.size());
  RunChunks((Moved + MorphChunkVertices - 1) / MorphChunkVertices,
            [](void* ACore, size_t AIndex) {
              TPmxControllerCore& C = *static_cast<TPmxControllerCore*>(ACore);
              const uint32_t First = static_cast<uint32_t>(AIndex) * MorphChunkVertices;
              const uint32_t End = std::min<uint32_t>(
                  First + MorphChunkVertices, static_cast<uint32_t>(C.FMorphRunVertex.size()));
              C.MoveMorphedVertices(First, End);
            },
            this);
}

// The moved vertices [AFirst, AEnd) of the runs, each from its rest position.
void TPmxControllerCore::MoveMorphedVertices(uint32_t AFirst, uint32_t AEnd) {
  const float* Rates = FEffectiveRates.data();
  const TVec3f* Rest = FRestPositions.data();
  TVec3f* Out = FSkinVertices.data();
  const int32_t* Morph = FMorphEntryMorph.data();
  const TVec3f* Offset = FMorphEntryOffset.data();
  // The run holding AFirst: the last one starting at or before it.
  auto Run = std::upper_bound(FMorphRuns.begin(), FMorphRuns.end(), AFirst,
                              [](uint32_t AVertex, const TMorphRun& ARun) {
                                return AVertex < ARun.FirstVertex;
                              }) -
             1;
  for (; Run != FMorphRuns.end() && Run->FirstVertex < AEnd; ++Run) {
    const uint32_t From = std::max(AFirst, Run->FirstVertex);
    const uint32_t To = std::min(AEnd, Run->FirstVertex + Run->VertexCount);
    uint32_t K = Run->FirstEntry + (From - Run->FirstVertex) * Run->OffsetCount;
    for (uint32_t I = From; I < To; ++I) {
      const int32_t V = FMorphRunVertex[I];
      TLanes S = Load3(Rest[V].V);
      for (uint32_t J = 0; J < Run->OffsetCount; ++J, ++K) {
        const float W = Rates[Morph[K]];
        const TLanes WL{W, W, W, W};
        const TLanes Moved = S + Load3(Offset[K].V) * WL;
        S = (WL != TLanes{0.0f, 0.0f, 0.0f, 0.0f}) ? Moved : S;
      }
      Store3(Out[V].V, S);
    }
  }
}

// The stored weights, then every group's unrolled steps in walk order: a group whose own weight is
// 0 passes nothing on (a member reached through another group gets its share from that one).
void TPmxControllerCore::ApplyGroupMorphs() {
  std::copy(FMorphRates.begin(), FMorphRates.end(), FEffectiveRates.begin());
  float* Eff = FEffectiveRates.data();
  float* Carry = FGroupCarry.data();
  for (const TGroupRoot& Root : FGroupRoots) {
    const float W = FMorphRates[Root.Group];
    if (W == 0.0f) continue;
    for (uint32_t S = Root.FirstStep; S < Root.EndStep; ++S) {
      const TGroupStep& Step = FGroupSteps[S];
      const float C = (Step.Parent < 0 ? W : Carry[Step.Parent]) * Step.Ratio;
      Carry[S] = C;
      Eff[Step.Member] = Eff[Step.Member] + C;
    }
  }
}

// Nothing to do while no material morph is active and the states are the model's values.
void TPmxControllerCore::ApplyMaterialMorphs() {
  const float* Eff = FEffectiveRates.data();
  bool Active = false;
  for (const TMaterialMorphEntry& E : FMaterialMorphEntries)
    Active = Active || Eff[E.Morph] != 0.0f;
  if (!Active && !FMaterialsMorphed) return;
  std::fill(FMaterialMul.begin(), FMaterialMul.end(), MaterialMulIdentity());
  std::fill(FMaterialAdd.begin(), FMaterialAdd.end(), MaterialAddIdentity());
  std::fill(FMaterialTouched.begin(), FMaterialTouched.end(), uint8_t{0});
  for (const TMaterialMorphEntry& E : FMaterialMorphEntries) {
    const float W = Eff[E.Morph];
    if (W == 0.0f) continue;
    const size_t First = E.Material < 0 ? 0 : static_cast<size_t>(E.Material);
    const size_t End = E.Material < 0 ? FMaterialBase.size() : First + 1;
    for (size_t I = First; I < End; ++I)
      if (AccumulateMaterialMorph(FMaterialMul[I], FMaterialAdd[I], *E.Data, W))
        FMaterialTouched[I] = 1;
  }
  FMaterialsMorphed = false;
  for (size_t I = 0; I < FMaterialBase.size(); ++I) {
    FMaterialStates[I] =
        FMaterialTouched[I]
            ? CombineMaterialMorphs(FMaterialBase[I], FMaterialMul[I], FMaterialAdd[I])
            : FMaterialBase[I];
    FMaterialsMorphed = FMaterialsMorphed || FMaterialTouched[I];
  }
}

// UVs are rebuilt, and flagged, only when the effective weight of some UV morph changed: each UV
// that some UV morph moves restarts from the vertex record and gets its offsets in morph order.
void TPmxControllerCore::ApplyUVMorphs() {
  const float* Eff = FEffectiveRates.data();
  bool Changed = false;
  for (size_t K = 0; K < FUVMorphs.size(); ++K)
    if (Eff[FUVMorphs[K]] != FUVMorphRates[K]) {
      FUVMorphRates[K] = Eff[FUVMorphs[K]];
      Changed = true;
    }
  if (!Changed) return;
  const uint32_t VertexCount = static_cast<uint32_t>(FSkinVertices.size());
  for (uint32_t Slot : FUVSlots)
    FMorphedUVs[Slot / VertexCount][Slot % VertexCount] =
        RestUV(static_cast<int>(Slot / VertexCount), static_cast<int>(Slot % VertexCount));
  for (const TUVMorphEntry& E : FUVMorphEntries) {
    const float W = Eff[E.Morph];
    if (W == 0.0f) continue;
    TVector4f& U = FMorphedUVs[E.Slot / VertexCount][E.Slot % VertexCount];
    U.X = U.X + E.Offset.X * W;
    U.Y = U.Y + E.Offset.Y * W;
    if (E.FourComponents) {
      U.Z = U.Z + E.Offset.Z * W;
      U.W = U.W + E.Offset.W * W;
    }
  }
  FUVsChanged = true;
}

// ---- pose ---------------------------------------------------------------------------------------

// Bone morphs at their effective weights on top of the motion's values, for this pose only: each
// bone they move keeps its values from before, to get them back in RestoreBoneMorphs.
void TPmxControllerCore::ApplyBoneMorphs() {
  FBoneMorphActive.clear();
  for (const TBoneMorphEntry& E : FBoneMorphEntries) {
    const float W = FEffectiveRates[E.Morph];
    if (W == 0.0f) continue;
    TQuaternion& R = FBoneRotations[E.Bone];
    TVector3f& T = FBoneTranslations[E.Bone];
    TBoneMorphSave& Save = FBoneMorphSaved[E.Slot];
    if (!Save.Active) {
      Save.Active = true;
      Save.Rotation = R;
      Save.Translation = T;
      FBoneMorphActive.push_back(E.Slot);
    }
    T = Add3f(T, Scaled3f(E.Translation, W));
    R = MulQuaternion(R, SlerpQuaternion(IdentityQuaternion, E.Rotation, W));
  }
  for (int32_t Slot : FBoneMorphActive) {
    TBoneMorphSave& Save = FBoneMorphSaved[Slot];
    Save.MorphedRotation = FBoneRotations[FBoneMorphSlotBone[Slot]];
    Save.MorphedTranslation = FBoneTranslations[FBoneMorphSlotBone[Slot]];
  }
}

// The values from before the bone morphs come back where the pose left the morphed ones as they
// were; a rotation or translation that IK or an append transform rewrote stays as they left it.
void TPmxControllerCore::RestoreBoneMorphs() {
  for (int32_t Slot : FBoneMorphActive) {
    TBoneMorphSave& Save = FBoneMorphSaved[Slot];
    const int B = FBoneMorphSlotBone[Slot];
    if (std::memcmp(&FBoneRotations[B], &Save.MorphedRotation, sizeof(TQuaternion)) == 0)
      FBoneRotations[B] = Save.Rotation;
    if (std::memcmp(&FBoneTranslations[B], &Save.MorphedTranslation, sizeof(TVector3f)) == 0)
      FBoneTranslations[B] = Save.Translation;
    Save.Active = false;
  }
  FBoneMorphActive.clear();
}

const TMatrix4f& TPmxControllerCore::CachedGlobal(int AIndex) {
  if (FGlobalValid[FPreIndex[AIndex]]) return FBoneGlobalMatrix[AIndex];
  // A valid bone has valid ancestors: climb to the first valid one, then come back down.
  int Depth = 0;
  for (int J = AIndex; J >= 0 && !FGlobalValid[FPreIndex[J]]; J = FParent[J])
    FChainScratch[Depth++] = J;
  while (Depth > 0) {
    const int K = FChainScratch[--Depth];
    const int P = FParent[K];
    FBoneGlobalMatrix[K] =
        P < 0 ? LocalMatrix(K) : MulMatrix4f(LocalMatrix(K), FBoneGlobalMatrix[P]);
    FGlobalValid[FPreIndex[K]] = 1;
  }
  return FBoneGlobalMatrix[AIndex];
}

void TPmxControllerCore::InvalidateSubtree(int AIndex) {
  std::fill(FGlobalValid.begin() + FPreIndex[AIndex], FGlobalValid.begin() + FSubtreeEnd[AIndex],
            uint8_t{0});
}

void TPmxControllerCore::SolveIKFast() {
  auto PositionOf = [this](int ABone) { return XYZ3f(CachedGlobal(ABone).W); };
  for (const TIKChain& Chain : FIKChains) {
    if (!IKEnabled(Chain.Bone)) continue;
    const TVector3f Goal = PositionOf(Chain.Bone);
    if (!(DistanceSquared3f(Goal, PositionOf(Chain.Target)) >= 1e-8f)) continue;
    if (Chain.LoopCount <= 0) continue;
    const int Half = Chain.LoopCount / 2;
    const int Loops = IKIterationLimit(Chain.LoopCount, FIKChains.size(), Chain.LinkCount);
    for (int It = 0; It < Loops; ++It) {
      for (uint32_t L = Chain.FirstLink; L < Chain.FirstLink + Chain.LinkCount; ++L) {
        const TIKLinkInfo& Info = FIKLinks[L];
        if (Info.Link.AxisType == atFixed) continue;
        const TVector3f Effector = PositionOf(Chain.Target);
        TQuaternion Turn;
        if (!IKLinkTurn(CachedGlobal(Info.Bone), Effector, Goal, Chain.LimitAngle, Turn)) continue;
        TQuaternion& R = FBoneRotations[Info.Bone];
        if (Info.Link.AngleLimit == 0) {
          R = MulQuaternion(R, Turn);
        } else {
          TQuaternion Limited;
          if (!LimitedLinkRotation(MulQuaternion(R, Turn), Info.Link, It < Half, Limited)) continue;
          R = Limited;
        }
        InvalidateSubtree(Info.Bone);
      }
      if (DistanceSquared3f(Goal, PositionOf(Chain.Target)) < 1e-8f) break;
    }
  }
}

void TPmxControllerCore::UpdatePose() {
  ApplyBoneMorphs();
  std::fill(FGlobalValid.begin(), FGlobalValid.end(), uint8_t{0});
  SolveIKFast();
  for (const TAppendInfo& A : FAppends) {
    if (A.Rotation)
      FBoneRotations[A.Bone] =
          SlerpQuaternion(IdentityQuaternion, FBoneRotations[A.Parent], A.Power);
    if (A.Translation)
      FBoneTranslations[A.Bone] =
          Lerp3f(TVector3f{{0.0f, 0.0f, 0.0f}}, FBoneTranslations[A.Parent], A.Power);
    InvalidateSubtree(A.Bone);
  }
  for (size_t P = 0; P < FPreorder.size(); ++P) {
    if (FGlobalValid[P]) continue;
    const int K = FPreorder[P];
    const int Parent = FParent[K];
    FBoneGlobalMatrix[K] =
        Parent < 0 ? LocalMatrix(K) : MulMatrix4f(LocalMatrix(K), FBoneGlobalMatrix[Parent]);
    FGlobalValid[P] = 1;
  }
  for (size_t I = 0; I < FSkinMatrix.size(); ++I)
    FSkinMatrix[I] = MulMatrix4f(FBoneInvertMatrix[I], FBoneGlobalMatrix[I]);
  RestoreBoneMorphs();
}
