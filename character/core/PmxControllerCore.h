// TPmxControllerCore: the CPU side of the character controller. It holds the pose state of one
// model (bone rotations and translations, morph weights, morphed rest positions), the keyframe
// tables of one motion, and turns them into bone matrices and skinned vertices written into
// caller-provided storage (IPmxSkinTarget). No GL, no files, no clocks: the renderer's
// TModelDrawing maps its GPU buffers and hands the pointers over; tests and fuzz targets hand
// plain arrays.
// Depends on formats/pmxlib.h and the vector math only (library quenlor_character_core). A target
// of plain arrays is in MemorySkinTarget.h; the other headers of character/core are the core's
// own internals.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "character/physics/PmxPhysics.h"
#include "formats/pmxlib.h"
#include "math/BezierCurve.h"
#include "math/VectorGeometry.h"
#include "math/VectorMath.h"
#include "math/VectorTypes.h"

class TPmxControllerCore;
// The fast path's skinning records (PmxSkinStream.h) and SDEF arcs (PmxSdef.h), held by the core
// but used only inside character/core.
struct TPmxSkinBonePair;
struct TRotationArc;

// Where UpdateBoneMatrix writes a pose: three floats per vertex for positions and for normals,
// in vertex order. A Map that yields nullptr skips that half of the write.
class IPmxSkinTarget {
 public:
  virtual ~IPmxSkinTarget() = default;
  // Called once per UpdateBoneMatrix, after the bone matrices are final and before skinning.
  virtual void BonesPosed(const TPmxControllerCore& ACore) { (void)ACore; }
  virtual float* MapPositions() = 0;
  virtual void UnmapPositions() = 0;
  virtual float* MapNormals() = 0;
  virtual void UnmapNormals() = 0;
};

// One material as drawn this frame: the model's values with every material morph applied
// (operation 0 multiplies by lerp(1, value, w), operation 1 adds value * w; all multiplies of a
// material combine into one factor, all adds into one sum: base * product + sum), and the three
// tints a sampled colour goes through (colour * Mul + Add) for the texture, the sphere map and the
// toon ramp. Without material morphs: the model's values, tints (1, 1, 1, 1) and (0, 0, 0, 0).
struct TMaterialMorphState {
  TVector4f Diffuse;
  TVector3f Specular;
  float Shininess;
  TVector3f Ambient;
  TVector4f EdgeColor;
  float EdgeSize;
  TVector4f TextureMul, TextureAdd, SphereMul, SphereAdd, ToonMul, ToonAdd;
};
// The model's values of one material, tints neutral.
TMaterialMorphState MaterialBaseState(const TPmxMaterial& AMaterial);

// The four curves of a bone key (X, Y, Z, rotation); all linear for keys without easing.
struct TBoneKeyCurves {
  TBezierCurve C[4];
  bool Linear;
};
TBoneKeyCurves BoneKeyCurves(const TVmdMotion& AKey);

// Message of a sampled key list without keys.
inline constexpr const char* SMotionListEmpty = "motion list has no items.";
// Message of a morph index outside [0, MorphCount).
inline constexpr const char* SMorphIndexOutOfRange = "モーフの範囲外インデックスを指定しました";

// Bone key table: bone index -> that bone's keys sorted by frame; the pointers point into the
// motion document. Morph key table likewise.
using TPmxMotionTable = std::map<int, std::vector<const TVmdMotion*>>;
using TPmxSkinMotionTable = std::map<int, std::vector<const TVmdSkinMotion*>>;

class TPmxControllerCore {
 public:
  // Raw name bytes (up to the first NUL, at most 15) of a motion morph key that matches no morph.
  using TUnmatchedMorphHandler = std::function<void(std::span<const uint8_t> ARawName)>;

  // Builds the per-bone and per-vertex tables of APmx and the rest state (identity rotations, zero
  // translations, zero weights, rest positions). APmx must outlive the core and stay unchanged.
  // Nothing is skinned yet: the owner calls ApplyMorph and UpdateBoneMatrix when its target is set.
  explicit TPmxControllerCore(const TPmx& APmx);
  virtual ~TPmxControllerCore();
  TPmxControllerCore(const TPmxControllerCore&) = delete;
  TPmxControllerCore& operator=(const TPmxControllerCore&) = delete;

  // Not owned; nullptr skins nothing (the bone matrices are still computed).
  void SetSkinTarget(IPmxSkinTarget* ATarget) { FTarget = ATarget; }

  // Groups the motion's keys per bone and per morph (names decoded from code page 932, matched
  // exactly against the model's Japanese names) and sorts each list by frame. Bone keys that match
  // no bone are dropped silently; morph keys that match no morph go to AOnUnmatchedMorph and are
  // dropped. AVmd must outlive the core. The motion is not applied.
  void LoadMotion(const TVmd& AVmd, const TUnmatchedMorphHandler& AOnUnmatchedMorph = {});
  bool HasMotion() const { return FMotionList != nullptr; }
  uint32_t FrameCount() const { return FFrameCount; }
  uint32_t FrameIndex() const { return FFrameIndex; }

  // ---- motion sampling ----
  // ATime in milliseconds since the motion started; 30 frames per second.
  void ApplyMotionByTime(double ATime);
  // Samples the motion at AFrameNum modulo the motion's length, then morphs and skins.
  void ApplyMotionByFrame(double AFrameNum);
  void NextFrame();
  void PrevFrame();

  // ---- one skinning per frame ----
  // Between BeginFrame and EndFrame every operation changes the pose without morphing or skinning;
  // EndFrame then morphs (when a weight changed) and poses and skins once (when anything changed).
  // Outside such a bracket every operation morphs and skins at once, as before.
  void BeginFrame();
  void EndFrame();
  // The frame's pose and skinning on another thread: a skin target may be tied to the thread that
  // set it (GL buffers). There, after the frame's changes, LendSkinTarget maps the target's buffers
  // when EndFrame will skin; EndFrame may then run on any thread and skins into them without
  // calling the target. ReturnSkinTarget, back on that thread after EndFrame (also after it threw),
  // tells the target the final pose and unmaps. Both do nothing when no pose is due. A map that
  // throws leaves nothing lent; a throwing BonesPosed still unmaps.
  void LendSkinTarget();
  void ReturnSkinTarget();

  // ---- show/IK state of the motion at the last sampled frame ----
  // False from a show/IK key that hides the model until one shows it again.
  bool Visible() const { return FVisible; }
  // Whether IK chain AChainBone (the IK bone's index) runs; chains of bones the motion's keys
  // never name always run.
  bool IKEnabled(int AChainBone) const;

  // ---- pose ----
  // IK, append transforms, bone and skinning matrices, then skinning into the target.
  void UpdateBoneMatrix();
  // Model-space matrix of one bone from the current rotations and translations.
  TMatrix4f GetBoneMatrix(int AIndex) const;

  // ---- morphs and behaviours ----
  // Applies the current weights of every morph kind: the effective weights (group morphs passed
  // on), the morphed rest positions, the material states and the morphed UVs. Bone morphs take
  // these effective weights at the next UpdateBoneMatrix. Flip and impulse morphs do nothing.
  virtual void ApplyMorph();
  int IndexOfMorph(std::string_view AName) const { return FPmx.IndexOfMorph(AName); }
  int MorphCount() const { return FPmx.MorphCount(); }
  float GetMorphRate(int AIndex) const;
  // Clamps to [0, 1] (NaN becomes 0); a changed weight re-morphs and re-skins.
  void SetMorphRate(int AIndex, float AValue);
  // Sets the weight of the blink morph "まばたき" when the model has one.
  void Mabataki(float ARate);
  // Turns the neck bone "首" by AValue degrees about its local Y axis (accumulating).
  void CockHead(float AValue);
  // Turns the head bone "頭" toward the eye point AEye (model space): its rotation is set (not
  // added to) to the turn from +Z to the direction from the head's place to AEye. It turns only
  // when the model has both the head bone and a morph "照れ", and the eye is in front: within
  // about 72.5 degrees of +Z seen from the head (that direction's Z at least 0.3; an eye at the
  // head's place is not). Otherwise the head keeps its rotation (without "照れ" the model is
  // still posed again, unchanged).
  void FaceTurn(const TVec3f& AEye);

  // ---- rigid-body physics (models with rigid bodies; see PmxCorePhysics.cpp) ----
  // On by default; off, the bones follow the motion only. Turning it on resets the bodies.
  void SetPhysicsEnabled(bool AValue);
  bool PhysicsEnabled() const { return FPhysicsEnabled; }
  // Every body back at its bone's pose with zero velocity (and settled) at the next pose.
  void ResetPhysics();
  // The world, or nullptr for a model without rigid bodies.
  const TPmxPhysics* Physics() const { return FPhysics.get(); }

  // ---- state (read by the GL controller and by tests; tests may also set rotations) ----
  const TPmx& Pmx() const { return FPmx; }
  int BoneCount() const { return static_cast<int>(FBoneRotations.size()); }
  int VertexCount() const { return static_cast<int>(FSkinVertices.size()); }
  // Parent actually followed: the model's parent, or -1 where the model's parent chain loops.
  int BoneParent(int AIndex) const { return FParent[AIndex]; }
  std::vector<TQuaternion>& BoneRotations() { return FBoneRotations; }
  std::vector<TVector3f>& BoneTranslations() { return FBoneTranslations; }
  const std::vector<TQuaternion>& BoneRotations() const { return FBoneRotations; }
  const std::vector<TVector3f>& BoneTranslations() const { return FBoneTranslations; }
  const std::vector<TMatrix4f>& BoneInvertMatrix() const { return FBoneInvertMatrix; }
  const std::vector<TMatrix4f>& BoneGlobalMatrix() const { return FBoneGlobalMatrix; }
  // Between calls these hold the rotation-only matrices the normals were skinned with.
  const std::vector<TMatrix4f>& SkinMatrix() const { return FSkinMatrix; }
  const std::vector<TVec3f>& SkinVertices() const { return FSkinVertices; }
  const std::vector<float>& MorphRates() const { return FMorphRates; }
  // Per morph its weight as the last ApplyMorph applied it: its own weight plus, for every group
  // morph that names it, the group's effective weight times the member's ratio. Equal to
  // MorphRates() bit for bit in a model without group morphs.
  const std::vector<float>& EffectiveMorphRates() const { return FEffectiveRates; }
  // Every morph kind beyond vertex morphs, as of the last ApplyMorph (see TMaterialMorphState):
  // one entry per material; the texture coordinates (xy) and additional UVs 1-4 of every vertex,
  // each UV morph's offset * weight added. UVsChanged is set by an ApplyMorph that changed a UV
  // and cleared by the consumer (the GL controller rewrites its UV buffers then).
  const std::vector<TMaterialMorphState>& MaterialStates() const { return FMaterialStates; }
  const std::vector<TVector4f>& MorphedUVs(int AChannel) const { return FMorphedUVs[AChannel]; }
  bool UVsChanged() const { return FUVsChanged; }
  void ClearUVsChanged() { FUVsChanged = false; }
  // Bytes of the per-vertex skinning stream the fast path reads beside the rest positions and
  // normals (a benchmark copies as much to compare the skinning with the memory's speed).
  size_t SkinStreamBytes() const {
    return FSkinStream.size() * sizeof(uint32_t) + FSdefArcOf.size() * sizeof(uint32_t) +
           FSdefT.size() * sizeof(float);
  }
  const TPmxMotionTable* MotionList() const { return FMotionList.get(); }
  const TPmxSkinMotionTable* SkinMotionList() const { return FSkinMotionList.get(); }
  int MabatakiMorphIndex() const { return FMabatakiMorphIndex; }

 protected:
  // The three steps that differ between the fast path here and the literal reference.
  virtual void SampleMotion(double AFrame);
  virtual void UpdatePose();
  virtual void Skin(IPmxSkinTarget& ATarget);
  // After the pose: the physics step, the target told the bones' final pose, the skinning pass.
  // The fast path skins the vertices no simulated bone can move while the step runs.
  virtual void PhysicsAndSkin(IPmxSkinTarget& ATarget);

  // Local matrix of bone i: its rotation about its own origin, then the move to its place
  // relative to its parent (plus the translation offset).
  TMatrix4f LocalMatrix(int AIndex) const {
    return MulMatrix4f(QuaternionToMatrix4f(FBoneRotations[AIndex]),
                       TranslationMatrix4f(Add3f(FBoneTranslations[AIndex], FRestOffset[AIndex])));
  }

  const TPmx& FPmx;
  const TVmd* FVmd = nullptr;
  IPmxSkinTarget* FTarget = nullptr;

  // Pose state.
  int FMabatakiMorphIndex = -1;
  std::vector<TMatrix4f> FBoneInvertMatrix;
  std::vector<TQuaternion> FBoneRotations;
  std::vector<TVector3f> FBoneTranslations;
  std::vector<TMatrix4f> FBoneGlobalMatrix;
  std::vector<TVec3f> FSkinVertices;
  std::vector<TMatrix4f> FSkinMatrix;
  std::unique_ptr<TPmxMotionTable> FMotionList;
  std::unique_ptr<TPmxSkinMotionTable> FSkinMotionList;
  uint32_t FFrameCount = 0;
  uint32_t FFrameIndex = 0;
  std::vector<float> FMorphRates;

  // Morph kinds beyond vertex morphs. FMorphedUVs[0] holds the UV (xy, zw 0), [1..4] the
  // additional UVs.
  std::vector<TMaterialMorphState> FMaterialStates;
  std::vector<TVector4f> FMorphedUVs[5];
  bool FUVsChanged = false;
  std::vector<float> FEffectiveRates;              // see EffectiveMorphRates
  std::vector<TMaterialMorphState> FMaterialBase;  // the model's values, no morph applied
  // The morphed UVs as the vertex records hold them (channel AChannel of vertex AVertex).
  TVector4f RestUV(int AChannel, int AVertex) const;

  // Show/IK state and the frame bracket.
  bool FVisible = true;
  std::vector<uint8_t> FIKOff;  // per bone: 1 while the motion switches its IK chain off
  bool FInFrame = false, FMorphPending = false, FPosePending = false;
  // The target while lent (LendSkinTarget): the buffers its owner mapped, and whether the bones
  // were posed since, for the owner to hear of on return.
  class TLentSkinTarget final : public IPmxSkinTarget {
   public:
    IPmxSkinTarget* Owner = nullptr;
    float* Positions = nullptr;
    float* Normals = nullptr;
    bool Posed = false;
    void BonesPosed(const TPmxControllerCore&) override { Posed = true; }
    float* MapPositions() override { return Positions; }
    void UnmapPositions() override {}
    float* MapNormals() override { return Normals; }
    void UnmapNormals() override {}
  };
  TLentSkinTarget FLent;

  // The pose changed: posed and skinned now, or at EndFrame inside a frame bracket.
  void PoseChanged();

  // Physics: the world, the frame the motion was last sampled at (NaN: none yet), the simulated
  // time owed to the next pose and whether the next pose resets the bodies.
  std::unique_ptr<TPmxPhysics> FPhysics;
  bool FPhysicsEnabled = true, FPhysicsResetDue = true;
  double FPhysicsFrame = std::numeric_limits<double>::quiet_NaN(), FPhysicsSeconds = 0.0;
  void BuildPhysics();
  // The motion clock moved to AFrame: time owed, or a reset after a jump (backwards, or forward by
  // more than PhysicsJumpFrames).
  void PhysicsClock(double AFrame);
  // A model without motion: its physics still runs on the clock.
  void PhysicsWithoutMotion(double AFrame);
  // After the pose: kinematic bodies to their bones, the step, simulated bodies back. Returns the
  // bones whose matrices it changed (their skinning matrices renewed).
  std::span<const int> ApplyPhysics();

  // Model tables shared by both paths.
  std::vector<int> FParent;            // loop-free parent (-1: root)
  std::vector<TVector3f> FRestOffset;  // rest position relative to the parent (root: absolute)
  int FNeckBone = -1, FHeadBone = -1;  // "首", "頭"
  bool FHasTereMorph = false;          // the model has a morph "照れ"

 private:
  void BuildBoneTables();
  void BuildIKTables();
  void BuildSkinStream();
  void BuildMorphTables();
  void BuildMorphKindTables();
  // The fast path's steps of ApplyMorph and UpdatePose for the kinds beyond vertex morphs.
  void ApplyGroupMorphs();
  void ApplyMaterialMorphs();
  void ApplyUVMorphs();
  void ApplyBoneMorphs();
  void RestoreBoneMorphs();
  void BuildFlatMotionTables();
  void BuildShowIKTables();
  // Show and IK switches at AFrame: the last key at or before it wins (no blending).
  void SampleShowIK(double AFrame);

  // Cached model-space matrices of the fast path: FBoneGlobalMatrix entries whose flag (indexed by
  // preorder position) is set are up to date with the current rotations and translations.
  const TMatrix4f& CachedGlobal(int AIndex);
  void InvalidateSubtree(int AIndex);
  void SolveIKFast();
  void SkinStream(float* APositions, float* ANormals) const;

  // Preorder of the bone forest: parents before children, every subtree one contiguous run.
  std::vector<int> FPreorder;
  std::vector<int> FPreIndex;
  std::vector<int> FSubtreeEnd;
  std::vector<uint8_t> FGlobalValid;
  std::vector<int> FChainScratch;
  mutable std::vector<int> FWalkScratch;

  struct TIKLinkInfo {
    int Bone;
    TPmxIKLink Link;
  };
  struct TIKChain {
    int Bone, Target, LoopCount;
    float LimitAngle;
    uint32_t FirstLink, LinkCount;
  };
  std::vector<TIKChain> FIKChains;
  std::vector<TIKLinkInfo> FIKLinks;

  struct TAppendInfo {
    int Bone, Parent;
    bool Rotation, Translation;
    float Power;
  };
  std::vector<TAppendInfo> FAppends;

  // Vertex stream: per vertex a header word (slot count, flags) and its slots.
  std::vector<uint32_t> FSkinStream;
  std::vector<TVec3f> FRestPositions;
  std::vector<TVector3f> FRestNormals;
  std::vector<TMatrix4f> FNormalMatrix;  // scratch: the full matrices after a swap
  std::vector<TPmxSkinBonePair> FBonePairs;
  // SDEF: the distinct (bone 1, bone 2) pairs of SDEF vertices, and per pair the arc between the
  // two bones' rotations, set up once per pose (a vertex's weight only picks its point on it).
  std::vector<std::pair<int, int>> FSdefPairs;
  std::vector<TRotationArc> FSdefArcs;
  // Per SDEF vertex in stream order: its pair's index and its weight w1 (the point on the arc).
  std::vector<uint32_t> FSdefArcOf;
  std::vector<float> FSdefT;
  void SetUpSdefArcs();
  // Where each run of SkinChunkVertices vertices starts in the stream, for skinning the runs on
  // several threads at once.
  struct TSkinChunk {
    uint32_t FirstVertex, FirstWord, FirstSdef;
  };
  static constexpr uint32_t SkinChunkVertices = 2048;
  std::vector<TSkinChunk> FSkinChunks;
  // The stream split in two for a pose with physics: the vertices no simulated bone can move,
  // skinned while the step runs, and the others, skinned after it. Each part keeps the stream's
  // records with the vertex each writes, its own SDEF tables, its chunks (FirstVertex counts its
  // records) and the SDEF pairs its vertices use. Empty without physics.
  struct TSkinPart {
    std::vector<uint32_t> Stream, VertexOf, SdefArcOf, SdefPairs;
    std::vector<float> SdefT;
    std::vector<TSkinChunk> Chunks;
  };
  TSkinPart FSkinBesideStep, FSkinAfterStep;
  void BuildSkinParts(const std::vector<uint8_t>& AMovedBones);
  // The mapped buffers skinned in one pass (the wide loop when both are there and AVX is).
  void SkinMapped(float* APositions, float* ANormals);
  // A bone's full and rotation-only rows for the wide loop; its skinning matrix becomes the
  // rotation-only one.
  void SplitBoneRows(size_t ABone);

  // Vertex-morph offsets grouped per vertex: every vertex that some vertex morph moves, with its
  // offsets in the order the additions happen (morph order, then the morph's own order). Vertices
  // with the same number of offsets form one run, so that the loops over them have a fixed length.
  struct TMorphRun {
    uint32_t OffsetCount, FirstVertex, VertexCount, FirstEntry;
  };
  std::vector<TMorphRun> FMorphRuns;
  void MoveMorphedVertices(uint32_t AFirst, uint32_t AEnd);
  std::vector<int32_t> FMorphRunVertex;
  std::vector<int32_t> FMorphEntryMorph;
  std::vector<TVec3f> FMorphEntryOffset;

  // Group morphs unrolled (see BuildMorphKindTables): per group its run of steps; a step passes its
  // parent step's weight (or the group's own) times Ratio on to Member. FGroupCarry: scratch.
  struct TGroupRoot {
    int32_t Group;
    uint32_t FirstStep, EndStep;
  };
  struct TGroupStep {
    int32_t Parent, Member;
    float Ratio;
  };
  std::vector<TGroupRoot> FGroupRoots;
  std::vector<TGroupStep> FGroupSteps;
  std::vector<float> FGroupCarry;

  // Bone-morph offsets in morph order; Slot numbers the distinct bones, whose pre-morph values
  // UpdatePose keeps in FBoneMorphSaved while it poses.
  struct TBoneMorphEntry {
    int32_t Morph, Bone, Slot;
    TVector3f Translation;
    TQuaternion Rotation;
  };
  struct TBoneMorphSave {
    TQuaternion Rotation, MorphedRotation;
    TVector3f Translation, MorphedTranslation;
    bool Active;
  };
  std::vector<TBoneMorphEntry> FBoneMorphEntries;
  std::vector<TBoneMorphSave> FBoneMorphSaved;
  std::vector<int32_t> FBoneMorphSlotBone;
  std::vector<int32_t> FBoneMorphActive;  // slots saved in this pose (capacity: every slot)

  // Material-morph offsets in morph order (Material -1: every material), the accumulators, and
  // whether the states differ from the model's values.
  struct TMaterialMorphEntry {
    int32_t Morph, Material;
    const TPmxMorphMaterial* Data;
  };
  std::vector<TMaterialMorphEntry> FMaterialMorphEntries;
  std::vector<TMaterialMorphState> FMaterialMul, FMaterialAdd;
  std::vector<uint8_t> FMaterialTouched;
  bool FMaterialsMorphed = false;

  // UV-morph offsets in morph order: Slot = channel * vertex count + vertex; FUVSlots the distinct
  // slots; FUVMorphs the UV-kind morphs with the effective weights their UVs were built with.
  struct TUVMorphEntry {
    int32_t Morph;
    uint32_t Slot;
    bool FourComponents;
    TVector4f Offset;
  };
  std::vector<TUVMorphEntry> FUVMorphEntries;
  std::vector<uint32_t> FUVSlots;
  std::vector<int32_t> FUVMorphs;
  std::vector<float> FUVMorphRates;

  // Flat key tables of the fast path: per track a run of keys.
  struct TTrack {
    int Index;
    uint32_t First, Count;
    uint32_t Hint = 1;  // the key SampleMotion found last: played frames mostly find it again
  };
  std::vector<TTrack> FBoneTracks, FMorphTracks;
  std::vector<double> FBoneKeyFrame, FMorphKeyFrame;
  std::vector<TVector3f> FBoneKeyPosition;
  std::vector<TQuaternion> FBoneKeyRotation;
  std::vector<TBoneKeyCurves> FBoneKeyCurves;
  std::vector<float> FMorphKeyWeight;

  // Show/IK switches as events in frame order: visibility, and per IK chain its own events (only
  // the keys that name it), so each is found by one binary search.
  struct TSwitchEvent {
    double Frame;
    bool On;
  };
  std::vector<TSwitchEvent> FShowEvents;
  std::vector<std::pair<int, std::vector<TSwitchEvent>>> FIKEvents;  // (IK bone, events)
};
