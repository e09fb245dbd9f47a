// Construction of the controller core's tables, the motion key tables, and the public operations
// that both paths share.
#include "character/core/PmxControllerCore.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>

#include "character/core/PmxKeyInterpolation.h"
#include "character/core/PmxSdef.h"
#include "character/core/PmxSkinStream.h"
#include "formats/TextDecoding.h"
#include "math/Errors.h"

namespace {

// The motion name field as bytes: up to the first NUL, all of it when there is none.
std::span<const uint8_t> RawName(const char (&AField)[15]) {
  const auto* Bytes = reinterpret_cast<const uint8_t*>(AField);
  size_t Length = 0;
  while (Length < 15 && Bytes[Length] != 0) ++Length;
  return {Bytes, Length};
}

// Ordered by frame number as unsigned values: a signed difference would not be a consistent
// ordering for frames more than 2^31 apart. Keys on the same frame keep their file order.
template <class TKey>
void SortByFrame(std::vector<const TKey*>& AList) {
  std::stable_sort(AList.begin(), AList.end(), [](const TKey* L, const TKey* R) {
    uint32_t LF, RF;
    std::memcpy(&LF, &L->FrameNum, sizeof LF);
    std::memcpy(&RF, &R->FrameNum, sizeof RF);
    return LF < RF;
  });
}

uint32_t FrameOf(const TVmdMotion* AKey) {
  uint32_t F;
  std::memcpy(&F, &AKey->FrameNum, sizeof F);
  return F;
}
uint32_t FrameOf(const TVmdSkinMotion* AKey) {
  uint32_t F;
  std::memcpy(&F, &AKey->FrameNum, sizeof F);
  return F;
}

// Motion names hold at most 15 bytes of code page 932, so a longer model name arrives cut, maybe
// inside a character. When the exact name matches nothing and the key's name fills the field, the
// first name whose code page 932 form starts with those bytes matches. The model's names are
// encoded only when a cut name is first looked up.
class TNameMatcher {
 public:
  TNameMatcher(std::function<const std::string&(int)> AName, int ACount)
      : FName(std::move(AName)), FCount(ACount) {}
  int Find(int AExact, std::span<const uint8_t> ARaw) {
    if (AExact != -1 || ARaw.size() < 15) return AExact;
    if (FEncoded.empty())
      for (int I = 0; I < FCount; ++I) FEncoded.push_back(Utf8ToCp932(FName(I)));
    const std::string_view Prefix(reinterpret_cast<const char*>(ARaw.data()), ARaw.size());
    for (int I = 0; I < FCount; ++I)
      if (FEncoded[I].starts_with(Prefix)) return I;
    return -1;
  }

 private:
  std::function<const std::string&(int)> FName;
  int FCount;
  std::vector<std::string> FEncoded;
};

}  // namespace

TBoneKeyCurves BoneKeyCurves(const TVmdMotion& AKey) {
  TBoneKeyCurves Result;
  Result.Linear = true;
  for (int C = 0; C < 4; ++C) {
    Result.C[C] = VmdBoneCurve(AKey, static_cast<TVmdBoneChannel>(C));
    Result.Linear = Result.Linear && IsLinearBezier(Result.C[C]);
  }
  return Result;
}

// ---- construction -------------------------------------------------------------------------------

TPmxControllerCore::TPmxControllerCore(const TPmx& APmx) : FPmx(APmx) {
  const int BoneCount = FPmx.BoneCount();
  const int VertexCount = FPmx.VertexCount();
  FMorphRates.assign(static_cast<size_t>(FPmx.MorphCount()), 0.0f);

  FSkinVertices.resize(static_cast<size_t>(VertexCount));
  FBoneInvertMatrix.resize(static_cast<size_t>(BoneCount));
  FBoneGlobalMatrix.assign(static_cast<size_t>(BoneCount), TMatrix4f{});
  FSkinMatrix.assign(static_cast<size_t>(BoneCount), TMatrix4f{});
  FBoneRotations.assign(static_cast<size_t>(BoneCount), IdentityQuaternion);
  FBoneTranslations.assign(static_cast<size_t>(BoneCount), TVector3f{{0, 0, 0}});
  for (int I = 0; I < BoneCount; ++I)
    FBoneInvertMatrix[I] = InvertedMatrix4f(TranslationMatrix4f(FPmx.GetBone(I)->Position));

  FRestPositions.resize(static_cast<size_t>(VertexCount));
  FRestNormals.resize(static_cast<size_t>(VertexCount));
  for (int V = 0; V < VertexCount; ++V) {
    const TPmxVertex& Vertex = *FPmx.GetVertex(V);
    FRestPositions[V] = TVec3f(Vertex.Position);
    FRestNormals[V] = Vertex.Normal;
    FSkinVertices[V] = FRestPositions[V];
  }

  BuildBoneTables();
  BuildIKTables();
  BuildSkinStream();
  BuildMorphTables();
  BuildMorphKindTables();

  FMabatakiMorphIndex = FPmx.IndexOfMorph("まばたき");
  FNeckBone = FPmx.IndexOfBone("首");
  FHeadBone = FPmx.IndexOfBone("頭");
  FHasTereMorph = FPmx.IndexOfMorph("照れ") != -1;
  BuildPhysics();
}

TPmxControllerCore::~TPmxControllerCore() = default;

// Parents, the preorder of the bone forest, rest offsets and the append list. A parent index that
// is out of range, or a parent chain that never reaches a root, is not followed: such a bone is
// posed as a root, so that no pose computation can loop.
void TPmxControllerCore::BuildBoneTables() {
  const int BoneCount = FPmx.BoneCount();
  FParent.assign(static_cast<size_t>(BoneCount), -1);
  for (int I = 0; I < BoneCount; ++I) {
    const int P = FPmx.GetBone(I)->ParentIndex;
    FParent[I] = (P >= 0 && P < BoneCount) ? P : -1;
  }
  // 0 unknown, 1 on the current walk, 2 reaches a root.
  std::vector<uint8_t> State(static_cast<size_t>(BoneCount), 0);
  std::vector<int> Walk;
  for (int I = 0; I < BoneCount; ++I) {
    if (State[I] != 0) continue;
    Walk.clear();
    int J = I;
    while (J >= 0 && State[J] == 0) {
      State[J] = 1;
      Walk.push_back(J);
      J = FParent[J];
    }
    if (J >= 0 && State[J] == 1) {
      // The walk closed a loop at J: cut every bone of the loop loose from its parent.
      int K = J;
      do {
        const int Next = FParent[K];
        FParent[K] = -1;
        K = Next;
      } while (K != J && K >= 0);
    }
    for (int W : Walk) State[W] = 2;
  }

  std::vector<std::vector<int>> Children(static_cast<size_t>(BoneCount));
  for (int I = 0; I < BoneCount; ++I)
    if (FParent[I] >= 0) Children[FParent[I]].push_back(I);
  FPreorder.clear();
  FPreorder.reserve(static_cast<size_t>(BoneCount));
  FPreIndex.assign(static_cast<size_t>(BoneCount), 0);
  FSubtreeEnd.assign(static_cast<size_t>(BoneCount), 0);
  std::vector<std::pair<int, size_t>> Stack;
  for (int Root = 0; Root < BoneCount; ++Root) {
    if (FParent[Root] >= 0) continue;
    Stack.push_back({Root, 0});
    FPreIndex[Root] = static_cast<int>(FPreorder.size());
    FPreorder.push_back(Root);
    while (!Stack.empty()) {
      auto& [Bone, Next] = Stack.back();
      if (Next < Children[Bone].size()) {
        const int Child = Children[Bone][Next++];
        FPreIndex[Child] = static_cast<int>(FPreorder.size());
        FPreorder.push_back(Child);
        Stack.push_back({Child, 0});
      } else {
        FSubtreeEnd[Bone] = static_cast<int>(FPreorder.size());
        Stack.pop_back();
      }
    }
  }
  FGlobalValid.assign(static_cast<size_t>(BoneCount), 0);
  FChainScratch.assign(static_cast<size_t>(BoneCount), 0);
  FWalkScratch.assign(static_cast<size_t>(BoneCount), 0);

  FRestOffset.resize(static_cast<size_t>(BoneCount));
  for (int I = 0; I < BoneCount; ++I) {
    const TVector3f& Position = FPmx.GetBone(I)->Position;
    FRestOffset[I] =
        FParent[I] >= 0 ? Sub3f(Position, FPmx.GetBone(FParent[I])->Position) : Position;
  }

  FAppends.clear();
  for (int I = 0; I < BoneCount; ++I) {
    const TPmxBone& Bone = *FPmx.GetBone(I);
    const bool Rotation = HasFlag(Bone.Flags, bfAddRotation);
    const bool Translation = HasFlag(Bone.Flags, bfAddTranslation);
    const int P = Bone.AddParentBoneIndex;
    if ((Rotation || Translation) && P >= 0 && P < BoneCount)
      FAppends.push_back({I, P, Rotation, Translation, Bone.AddPower});
  }
}

// IK chains with a target and links inside the bone table; links the solver skips anyway (fixed
// axes) are kept so that the visiting order stays the model's.
void TPmxControllerCore::BuildIKTables() {
  const int BoneCount = FPmx.BoneCount();
  FIKChains.clear();
  FIKLinks.clear();
  for (int I = 0; I < BoneCount; ++I) {
    const TPmxBone& Bone = *FPmx.GetBone(I);
    if (!HasFlag(Bone.Flags, bfIK)) continue;
    if (Bone.IKTargetBoneIndex < 0 || Bone.IKTargetBoneIndex >= BoneCount) continue;
    TIKChain Chain{I,
                   Bone.IKTargetBoneIndex,
                   Bone.IKLoopCount,
                   Bone.IKLoopLimitAngle,
                   static_cast<uint32_t>(FIKLinks.size()),
                   0};
    for (const TPmxIKLink& Link : Bone.IKLinks) {
      if (Link.LinkBoneIndex < 0 || Link.LinkBoneIndex >= BoneCount) continue;
      FIKLinks.push_back({Link.LinkBoneIndex, Link});
      ++Chain.LinkCount;
    }
    FIKChains.push_back(Chain);
  }
}

// ---- motion tables ------------------------------------------------------------------------------

void TPmxControllerCore::LoadMotion(const TVmd& AVmd,
                                    const TUnmatchedMorphHandler& AOnUnmatchedMorph) {
  FVmd = &AVmd;
  FFrameCount = AVmd.FrameCount();
  FMotionList = std::make_unique<TPmxMotionTable>();
  FSkinMotionList = std::make_unique<TPmxSkinMotionTable>();

  // Many keys share a name: decode and look each distinct name up once.
  std::unordered_map<std::string, int> BoneOfName, MorphOfName;
  TNameMatcher BoneNames([this](int I) -> const std::string& { return FPmx.GetBone(I)->NameJp; },
                         FPmx.BoneCount());
  TNameMatcher MorphNames([this](int I) -> const std::string& { return FPmx.GetMorph(I)->NameJp; },
                          FPmx.MorphCount());
  for (int K = 0; K < AVmd.MotionCount(); ++K) {
    const TVmdMotion* Key = AVmd.GetMotion(K);
    const auto Raw = RawName(Key->BoneName);
    std::string RawKey(reinterpret_cast<const char*>(Raw.data()), Raw.size());
    auto Found = BoneOfName.find(RawKey);
    if (Found == BoneOfName.end())
      Found = BoneOfName.emplace(RawKey, BoneNames.Find(FPmx.IndexOfBone(DecodeVmdName(Raw)), Raw))
                  .first;
    if (Found->second == -1) continue;
    (*FMotionList)[Found->second].push_back(Key);
  }
  for (auto& [Bone, List] : *FMotionList) SortByFrame(List);

  for (int K = 0; K < AVmd.SkinMotionCount(); ++K) {
    const TVmdSkinMotion* Key = AVmd.GetSkinMotion(K);
    const auto Raw = RawName(Key->MorphName);
    std::string RawKey(reinterpret_cast<const char*>(Raw.data()), Raw.size());
    auto Found = MorphOfName.find(RawKey);
    if (Found == MorphOfName.end())
      Found =
          MorphOfName.emplace(RawKey, MorphNames.Find(FPmx.IndexOfMorph(DecodeVmdName(Raw)), Raw))
              .first;
    if (Found->second == -1) {
      if (AOnUnmatchedMorph) AOnUnmatchedMorph(Raw);
      continue;
    }
    (*FSkinMotionList)[Found->second].push_back(Key);
  }
  for (auto& [Morph, List] : *FSkinMotionList) SortByFrame(List);

  BuildFlatMotionTables();
  BuildShowIKTables();
}

// Show/IK keys become events in frame order (keys on one frame keep their file order, so the
// file's last word on a frame wins). An entry that names no IK bone of the model is dropped.
void TPmxControllerCore::BuildShowIKTables() {
  FShowEvents.clear();
  FIKEvents.clear();
  FIKOff.assign(FParent.size(), 0);
  FVisible = true;
  std::vector<const TVmdShowIKMotion*> Keys;
  for (const TVmdShowIKMotion& Key : FVmd->ShowIKMotions()) Keys.push_back(&Key);
  std::stable_sort(Keys.begin(), Keys.end(),
                   [](const auto* L, const auto* R) { return L->FrameNum < R->FrameNum; });
  std::unordered_map<std::string, int> ChainOfName;  // raw name -> index into FIKEvents, or -1
  for (const TVmdShowIKMotion* Key : Keys) {
    const double Frame = static_cast<double>(Key->FrameNum);
    FShowEvents.push_back({Frame, Key->Show});
    for (const TVmdIKState& State : Key->IK) {
      const auto* Bytes = reinterpret_cast<const uint8_t*>(State.Name);
      size_t Length = 0;
      while (Length < sizeof(State.Name) && Bytes[Length] != 0) ++Length;
      const std::string Raw(State.Name, Length);
      auto Found = ChainOfName.find(Raw);
      if (Found == ChainOfName.end()) {
        const int Bone = FPmx.IndexOfBone(DecodeVmdName({Bytes, Length}));
        int Slot = -1;
        if (Bone >= 0 && HasFlag(FPmx.GetBone(Bone)->Flags, bfIK)) {
          for (size_t I = 0; I < FIKEvents.size(); ++I)
            if (FIKEvents[I].first == Bone) Slot = static_cast<int>(I);
          if (Slot == -1) {
            Slot = static_cast<int>(FIKEvents.size());
            FIKEvents.push_back({Bone, {}});
          }
        }
        Found = ChainOfName.emplace(Raw, Slot).first;
      }
      if (Found->second >= 0) FIKEvents[Found->second].second.push_back({Frame, State.Enabled});
    }
  }
}

void TPmxControllerCore::SampleShowIK(double AFrame) {
  // The last event at or before AFrame; before the first one the model shows and IK runs.
  auto StateAt = [AFrame](const std::vector<TSwitchEvent>& AEvents) {
    const auto After =
        std::partition_point(AEvents.begin(), AEvents.end(),
                             [AFrame](const TSwitchEvent& E) { return E.Frame <= AFrame; });
    return After == AEvents.begin() ? true : std::prev(After)->On;
  };
  FVisible = StateAt(FShowEvents);
  for (const auto& [Bone, Events] : FIKEvents) FIKOff[Bone] = StateAt(Events) ? 0 : 1;
}

// The fast path's copy of the key tables: frames, positions and rotations in flat arrays, one run
// per track, in the sorted order of the pointer lists.
void TPmxControllerCore::BuildFlatMotionTables() {
  FBoneTracks.clear();
  FMorphTracks.clear();
  FBoneKeyFrame.clear();
  FBoneKeyPosition.clear();
  FBoneKeyRotation.clear();
  FBoneKeyCurves.clear();
  FMorphKeyFrame.clear();
  FMorphKeyWeight.clear();
  for (const auto& [Bone, List] : *FMotionList) {
    FBoneTracks.push_back(
        {Bone, static_cast<uint32_t>(FBoneKeyFrame.size()), static_cast<uint32_t>(List.size())});
    for (const TVmdMotion* Key : List) {
      FBoneKeyFrame.push_back(static_cast<double>(FrameOf(Key)));
      TVector3f Position;
      std::memcpy(&Position, &Key->Position, sizeof Position);
      FBoneKeyPosition.push_back(Position);
      TVmdMotion Copy;
      std::memcpy(&Copy, Key, sizeof Copy);
      FBoneKeyRotation.push_back(KeyRotation(Copy));
      FBoneKeyCurves.push_back(BoneKeyCurves(Copy));
    }
  }
  for (const auto& [Morph, List] : *FSkinMotionList) {
    FMorphTracks.push_back(
        {Morph, static_cast<uint32_t>(FMorphKeyFrame.size()), static_cast<uint32_t>(List.size())});
    for (const TVmdSkinMotion* Key : List) {
      FMorphKeyFrame.push_back(static_cast<double>(FrameOf(Key)));
      float Weight;
      std::memcpy(&Weight, &Key->Weight, sizeof Weight);
      FMorphKeyWeight.push_back(Weight);
    }
  }
}

// ---- motion sampling ----------------------------------------------------------------------------

void TPmxControllerCore::ApplyMotionByTime(double ATime) {
  // 100/3 ms per frame, taken at extended precision.
  ApplyMotionByFrame(static_cast<double>(static_cast<long double>(ATime) / (100.0L / 3.0L)));
}

void TPmxControllerCore::ApplyMotionByFrame(double AFrameNum) {
  if (FFrameCount == 0) return PhysicsWithoutMotion(AFrameNum);
  const double N = static_cast<double>(FFrameCount);
  const double Frame = AFrameNum - N * std::trunc(AFrameNum / N);
  PhysicsClock(Frame);
  SampleShowIK(Frame);
  SampleMotion(Frame);
  if (FInFrame) {
    FMorphPending = FPosePending = true;
    return;
  }
  ApplyMorph();
  UpdateBoneMatrix();
}

void TPmxControllerCore::NextFrame() {
  ++FFrameIndex;
  if (FFrameIndex >= FFrameCount) FFrameIndex = 0;
  ApplyMotionByFrame(FFrameIndex);
}

void TPmxControllerCore::PrevFrame() {
  if (FFrameIndex >= FFrameCount)
    FFrameIndex = 0;
  else if (FFrameIndex == 0)
    FFrameIndex = FFrameCount - 1;
  else
    --FFrameIndex;
  ApplyMotionByFrame(FFrameIndex);
}

// ---- one skinning per frame --------------------------------------------------------------------

void TPmxControllerCore::BeginFrame() {
  FInFrame = true;
}

void TPmxControllerCore::EndFrame() {
  FInFrame = false;
  if (FMorphPending) ApplyMorph();
  if (FMorphPending || FPosePending) UpdateBoneMatrix();
  FMorphPending = FPosePending = false;
}

void TPmxControllerCore::LendSkinTarget() {
  if (!FTarget || FTarget == &FLent || !(FMorphPending || FPosePending)) return;
  // Mapped as one skinning pass maps them: positions, then normals.
  FLent.Positions = FTarget->MapPositions();
  try {
    FLent.Normals = FTarget->MapNormals();
  } catch (...) {
    if (FLent.Positions) FTarget->UnmapPositions();
    throw;
  }
  FLent.Owner = FTarget;
  FLent.Posed = false;
  FTarget = &FLent;
}

void TPmxControllerCore::ReturnSkinTarget() {
  if (FTarget != &FLent) return;
  IPmxSkinTarget& Owner = *FLent.Owner;
  FTarget = &Owner;
  // Unmapped whatever BonesPosed does, as a skinning pass unmaps.
  struct TUnmap {
    IPmxSkinTarget& Owner;
    bool Positions, Normals;
    ~TUnmap() {
      if (Positions) Owner.UnmapPositions();
      if (Normals) Owner.UnmapNormals();
    }
  } Unmap{Owner, FLent.Positions != nullptr, FLent.Normals != nullptr};
  if (FLent.Posed) Owner.BonesPosed(*this);
}

void TPmxControllerCore::PoseChanged() {
  if (FInFrame)
    FPosePending = true;
  else
    UpdateBoneMatrix();
}

bool TPmxControllerCore::IKEnabled(int AChainBone) const {
  return AChainBone < 0 || static_cast<size_t>(AChainBone) >= FIKOff.size() || !FIKOff[AChainBone];
}

// ---- pose ---------------------------------------------------------------------------------------

void TPmxControllerCore::UpdateBoneMatrix() {
  UpdatePose();
  if (FTarget) {
    PhysicsAndSkin(*FTarget);
  } else {
    ApplyPhysics();
    // Nothing to write into; the skinning matrices still end as the rotation-only ones.
    for (TMatrix4f& M : FSkinMatrix) {
      M.V[3] = M.V[7] = M.V[11] = 0.0f;
      M.W = TVector4f{{0.0f, 0.0f, 0.0f, 1.0f}};
    }
  }
}

// Built root first: the bone's local matrix times its parent's model-space matrix, the same
// product the recursive definition forms.
TMatrix4f TPmxControllerCore::GetBoneMatrix(int AIndex) const {
  int Depth = 0;
  for (int J = AIndex; J >= 0; J = FParent[J]) FWalkScratch[Depth++] = J;
  TMatrix4f G = LocalMatrix(FWalkScratch[Depth - 1]);
  for (int K = Depth - 2; K >= 0; --K) G = MulMatrix4f(LocalMatrix(FWalkScratch[K]), G);
  return G;
}

// ---- morphs and behaviours ----------------------------------------------------------------------

float TPmxControllerCore::GetMorphRate(int AIndex) const {
  if (AIndex < 0 || AIndex >= MorphCount()) throw ERangeError(SMorphIndexOutOfRange);
  return FMorphRates[AIndex];
}

void TPmxControllerCore::SetMorphRate(int AIndex, float AValue) {
  if (AIndex < 0 || AIndex >= MorphCount()) throw ERangeError(SMorphIndexOutOfRange);
  if (AValue < 0.0f || std::isnan(AValue)) AValue = 0.0f;
  if (AValue > 1.0f) AValue = 1.0f;
  if (AValue != FMorphRates[AIndex]) {
    FMorphRates[AIndex] = AValue;
    if (FInFrame) {
      FMorphPending = FPosePending = true;
      return;
    }
    ApplyMorph();
    UpdateBoneMatrix();
  }
}

void TPmxControllerCore::Mabataki(float ARate) {
  if (FMabatakiMorphIndex == -1) return;
  SetMorphRate(FMabatakiMorphIndex, ARate);
}

void TPmxControllerCore::CockHead(float AValue) {
  if (FNeckBone == -1) return;
  const TQuaternion Q = QuaternionFromAxisAngleDeg(NewVector3f(0, 1, 0), AValue);
  FBoneRotations[FNeckBone] = MulQuaternion(FBoneRotations[FNeckBone], Q);
  PoseChanged();
}

void TPmxControllerCore::FaceTurn(const TVec3f& AEye) {
  if (FHeadBone == -1) return;
  const TMatrix4f M = GetBoneMatrix(FHeadBone);
  const TVec3f Head(M.W.X, M.W.Y, M.W.Z);
  const TVec3f Dir = (AEye - Head).Normalize();
  const TQuaternion Q = QuaternionFromTo(TVec3f(0.0f, 0.0f, 1.0f), Dir);
  const float D = TVec3f(0.0f, 0.0f, -1.0f).Dot((Head - AEye).Normalize());
  // In front: within about 72.5 degrees (acos 0.3) of +Z seen from the head; NaN is not.
  if (!(D >= 0.3)) return;
  if (FHasTereMorph) FBoneRotations[FHeadBone] = Q;
  PoseChanged();
}
