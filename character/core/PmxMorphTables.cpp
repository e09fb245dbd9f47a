// The morph tables of the controller core, built once per model: vertex-morph offsets grouped per
// vertex, the tables of the other morph kinds (group, bone, material, UV), the rest UVs, and the
// material-morph arithmetic both paths share. Depends on character/core/PmxControllerCore.h.
#include <algorithm>
#include <cstring>

#include "character/core/PmxControllerCore.h"
#include "character/core/PmxMorphKinds.h"

void TPmxControllerCore::BuildMorphTables() {
  const int VertexCount = FPmx.VertexCount();
  struct TEntry {
    int32_t Vertex, Morph;
    TVec3f Offset;
  };
  std::vector<TEntry> Entries;
  for (int M = 0; M < FPmx.MorphCount(); ++M) {
    const TPmxMorph& Morph = *FPmx.GetMorph(M);
    if (Morph.Kind != mkVertex) continue;
    for (const TPmxMorphData& D : Morph.Data)
      if (D.Vertex.VertexIndex >= 0 && D.Vertex.VertexIndex < VertexCount)
        Entries.push_back({D.Vertex.VertexIndex, M, TVec3f(D.Vertex.PositionOffset)});
  }
  // Stable: per vertex the offsets stay in morph order, then in each morph's order.
  std::stable_sort(Entries.begin(), Entries.end(),
                   [](const TEntry& A, const TEntry& B) { return A.Vertex < B.Vertex; });
  // Per vertex: [first entry, end) in Entries; then the vertices ordered by offset count.
  struct TVertexSpan {
    int32_t Vertex;
    uint32_t First, Count;
  };
  std::vector<TVertexSpan> Spans;
  for (size_t K = 0; K < Entries.size(); ++K) {
    if (K == 0 || Entries[K].Vertex != Entries[K - 1].Vertex)
      Spans.push_back({Entries[K].Vertex, static_cast<uint32_t>(K), 0});
    ++Spans.back().Count;
  }
  std::stable_sort(Spans.begin(), Spans.end(),
                   [](const TVertexSpan& A, const TVertexSpan& B) { return A.Count < B.Count; });
  FMorphRuns.clear();
  FMorphRunVertex.clear();
  FMorphEntryMorph.clear();
  FMorphEntryOffset.clear();
  for (const TVertexSpan& Span : Spans) {
    if (FMorphRuns.empty() || FMorphRuns.back().OffsetCount != Span.Count)
      FMorphRuns.push_back({Span.Count, static_cast<uint32_t>(FMorphRunVertex.size()), 0,
                            static_cast<uint32_t>(FMorphEntryMorph.size())});
    ++FMorphRuns.back().VertexCount;
    FMorphRunVertex.push_back(Span.Vertex);
    for (uint32_t K = Span.First; K < Span.First + Span.Count; ++K) {
      FMorphEntryMorph.push_back(Entries[K].Morph);
      FMorphEntryOffset.push_back(Entries[K].Offset);
    }
  }
}

// The state every morph kind starts from, and the fast path's tables of the kinds beyond vertex
// morphs. Offsets whose vertex, bone, material or member morph lies outside the model are dropped.
void TPmxControllerCore::BuildMorphKindTables() {
  const int VertexCount = FPmx.VertexCount();
  const int BoneCount = FPmx.BoneCount();
  const int MaterialCount = FPmx.MaterialCount();
  const int MorphCount = FPmx.MorphCount();
  FEffectiveRates.assign(static_cast<size_t>(MorphCount), 0.0f);

  FMaterialBase.clear();
  for (int I = 0; I < MaterialCount; ++I)
    FMaterialBase.push_back(MaterialBaseState(*FPmx.GetMaterial(I)));
  FMaterialStates = FMaterialBase;
  FMaterialMul.assign(FMaterialBase.size(), MaterialMulIdentity());
  FMaterialAdd.assign(FMaterialBase.size(), MaterialAddIdentity());
  FMaterialTouched.assign(FMaterialBase.size(), 0);
  FMaterialsMorphed = false;
  for (int C = 0; C < 5; ++C) {
    FMorphedUVs[C].resize(static_cast<size_t>(VertexCount));
    for (int V = 0; V < VertexCount; ++V) FMorphedUVs[C][V] = RestUV(C, V);
  }
  FUVsChanged = false;

  // Group morphs: from every group in index order, a walk along its members, depth first, that
  // does not enter a group already on the walk's path (a group that reaches itself is cut there).
  // Each member met is one step; the walk over all groups looks at most GroupMorphWalkBudget
  // entries. An explicit stack: nesting depth is the file's to choose.
  FGroupRoots.clear();
  FGroupSteps.clear();
  {
    struct TFrame {
      int32_t Morph, Step;
      size_t Next;
    };
    std::vector<TFrame> Stack;
    std::vector<uint8_t> OnPath(static_cast<size_t>(MorphCount), 0);
    int Budget = GroupMorphWalkBudget;
    for (int G = 0; G < MorphCount && Budget > 0; ++G) {
      if (FPmx.GetMorph(G)->Kind != mkGroup) continue;
      TGroupRoot Root{G, static_cast<uint32_t>(FGroupSteps.size()), 0};
      OnPath[G] = 1;
      Stack.push_back({G, -1, 0});
      while (!Stack.empty()) {
        TFrame& Top = Stack.back();
        const std::vector<TPmxMorphData>& Data = FPmx.GetMorph(Top.Morph)->Data;
        if (Top.Next == Data.size() || Budget == 0) {
          OnPath[Top.Morph] = 0;
          Stack.pop_back();
          continue;
        }
        const TPmxMorphGroup& D = Data[Top.Next++].Group;
        --Budget;
        const int M = D.MorphIndex;
        if (M < 0 || M >= MorphCount) continue;
        const bool Nested = FPmx.GetMorph(M)->Kind == mkGroup;
        if (Nested && OnPath[M]) continue;
        const int32_t Step = static_cast<int32_t>(FGroupSteps.size());
        FGroupSteps.push_back({Top.Step, M, D.MorphRate});
        if (Nested) {
          OnPath[M] = 1;
          Stack.push_back({M, Step, 0});
        }
      }
      Root.EndStep = static_cast<uint32_t>(FGroupSteps.size());
      FGroupRoots.push_back(Root);
    }
  }
  FGroupCarry.assign(FGroupSteps.size(), 0.0f);

  FBoneMorphEntries.clear();
  FBoneMorphSlotBone.clear();
  FMaterialMorphEntries.clear();
  FUVMorphEntries.clear();
  FUVSlots.clear();
  FUVMorphs.clear();
  std::vector<int32_t> SlotOfBone(static_cast<size_t>(BoneCount), -1);
  std::vector<uint8_t> SlotSeen;
  for (int M = 0; M < MorphCount; ++M) {
    const TPmxMorph& Morph = *FPmx.GetMorph(M);
    if (Morph.Kind == mkBone) {
      for (const TPmxMorphData& D : Morph.Data) {
        const int B = D.Bone.BoneIndex;
        if (B < 0 || B >= BoneCount) continue;
        if (SlotOfBone[B] < 0) {
          SlotOfBone[B] = static_cast<int32_t>(FBoneMorphSlotBone.size());
          FBoneMorphSlotBone.push_back(B);
        }
        FBoneMorphEntries.push_back(
            {M, B, SlotOfBone[B], D.Bone.TranslateValue, BoneMorphRotation(D.Bone)});
      }
    } else if (Morph.Kind == mkMaterial) {
      for (const TPmxMorphData& D : Morph.Data)
        if (D.Material.MaterialIndex >= -1 && D.Material.MaterialIndex < MaterialCount)
          FMaterialMorphEntries.push_back({M, D.Material.MaterialIndex, &D.Material});
    } else if (const int Channel = UVMorphChannel(Morph.Kind); Channel >= 0) {
      FUVMorphs.push_back(M);
      if (SlotSeen.empty()) SlotSeen.assign(5 * static_cast<size_t>(VertexCount), 0);
      for (const TPmxMorphData& D : Morph.Data) {
        const int V = D.UV.VertexIndex;
        if (V < 0 || V >= VertexCount) continue;
        const uint32_t Slot = static_cast<uint32_t>(Channel * VertexCount + V);
        if (!SlotSeen[Slot]) {
          SlotSeen[Slot] = 1;
          FUVSlots.push_back(Slot);
        }
        FUVMorphEntries.push_back({M, Slot, Channel > 0, D.UV.UVOffset});
      }
    }
  }
  FBoneMorphSaved.assign(FBoneMorphSlotBone.size(), TBoneMorphSave{});
  FBoneMorphActive.clear();
  FBoneMorphActive.reserve(FBoneMorphSlotBone.size());
  FUVMorphRates.assign(FUVMorphs.size(), 0.0f);
}

TVector4f TPmxControllerCore::RestUV(int AChannel, int AVertex) const {
  const TPmxVertex& Vertex = *FPmx.GetVertex(AVertex);
  if (AChannel == 0) return TVector4f{{Vertex.UV.X, Vertex.UV.Y, 0.0f, 0.0f}};
  if (static_cast<size_t>(AChannel) <= Vertex.AdditionalUV.size())
    return Vertex.AdditionalUV[AChannel - 1];
  return TVector4f{{0.0f, 0.0f, 0.0f, 0.0f}};
}

// ---- material morphs ----------------------------------------------------------------------------

TMaterialMorphState MaterialBaseState(const TPmxMaterial& AMaterial) {
  const TVector4f Zero{{0.0f, 0.0f, 0.0f, 0.0f}}, One{{1.0f, 1.0f, 1.0f, 1.0f}};
  return TMaterialMorphState{AMaterial.Diffuse,
                             AMaterial.Specular,
                             AMaterial.Shininess,
                             AMaterial.Ambient,
                             AMaterial.EdgeColor,
                             AMaterial.EdgeSize,
                             One,
                             Zero,
                             One,
                             Zero,
                             One,
                             Zero};
}

TMaterialMorphState MaterialMulIdentity() {
  const TVector4f One{{1.0f, 1.0f, 1.0f, 1.0f}};
  return TMaterialMorphState{
      One, {{1.0f, 1.0f, 1.0f}}, 1.0f, {{1.0f, 1.0f, 1.0f}}, One, 1.0f, One, One, One, One, One,
      One};
}

TMaterialMorphState MaterialAddIdentity() {
  const TVector4f Zero{{0.0f, 0.0f, 0.0f, 0.0f}};
  return TMaterialMorphState{Zero, {{0.0f, 0.0f, 0.0f}},
                             0.0f, {{0.0f, 0.0f, 0.0f}},
                             Zero, 0.0f,
                             Zero, Zero,
                             Zero, Zero,
                             Zero, Zero};
}

namespace {

// The fields a material morph changes, as (accumulator field, morph value, float count) triples.
template <class TVisit>
void VisitMaterialFields(TMaterialMorphState& AMul, TMaterialMorphState& AAdd,
                         const TPmxMorphMaterial& AData, TVisit AVisit) {
  AVisit(AMul.Diffuse.V, AAdd.Diffuse.V, AData.Diffuse.V, 4);
  AVisit(AMul.Specular.V, AAdd.Specular.V, AData.Specular.V, 3);
  AVisit(&AMul.Shininess, &AAdd.Shininess, &AData.Shininess, 1);
  AVisit(AMul.Ambient.V, AAdd.Ambient.V, AData.Ambient.V, 3);
  AVisit(AMul.EdgeColor.V, AAdd.EdgeColor.V, AData.EdgeColor.V, 4);
  AVisit(&AMul.EdgeSize, &AAdd.EdgeSize, &AData.EdgeSize, 1);
  AVisit(AMul.TextureMul.V, AAdd.TextureAdd.V, AData.TextureFactor.V, 4);
  AVisit(AMul.SphereMul.V, AAdd.SphereAdd.V, AData.SphereTextureFactor.V, 4);
  AVisit(AMul.ToonMul.V, AAdd.ToonAdd.V, AData.ToonTextureFactor.V, 4);
}

}  // namespace

bool AccumulateMaterialMorph(TMaterialMorphState& AMul, TMaterialMorphState& AAdd,
                             const TPmxMorphMaterial& AData, float AWeight) {
  if (AData.OffsetType == 0) {
    VisitMaterialFields(AMul, AAdd, AData, [AWeight](float* AF, float*, const float* AV, int AN) {
      for (int K = 0; K < AN; ++K) AF[K] = AF[K] * LerpSingle(1.0f, AV[K], AWeight);
    });
    return true;
  }
  if (AData.OffsetType == 1) {
    VisitMaterialFields(AMul, AAdd, AData, [AWeight](float*, float* AS, const float* AV, int AN) {
      for (int K = 0; K < AN; ++K) AS[K] = AS[K] + AV[K] * AWeight;
    });
    return true;
  }
  return false;
}

TMaterialMorphState CombineMaterialMorphs(const TMaterialMorphState& ABase,
                                          const TMaterialMorphState& AMul,
                                          const TMaterialMorphState& AAdd) {
  TMaterialMorphState R = ABase;
  auto Combine = [](float* AR, const float* AF, const float* AS, int AN) {
    for (int K = 0; K < AN; ++K) AR[K] = AR[K] * AF[K] + AS[K];
  };
  Combine(R.Diffuse.V, AMul.Diffuse.V, AAdd.Diffuse.V, 4);
  Combine(R.Specular.V, AMul.Specular.V, AAdd.Specular.V, 3);
  Combine(&R.Shininess, &AMul.Shininess, &AAdd.Shininess, 1);
  Combine(R.Ambient.V, AMul.Ambient.V, AAdd.Ambient.V, 3);
  Combine(R.EdgeColor.V, AMul.EdgeColor.V, AAdd.EdgeColor.V, 4);
  Combine(&R.EdgeSize, &AMul.EdgeSize, &AAdd.EdgeSize, 1);
  R.TextureMul = AMul.TextureMul;
  R.TextureAdd = AAdd.TextureAdd;
  R.SphereMul = AMul.SphereMul;
  R.SphereAdd = AAdd.SphereAdd;
  R.ToonMul = AMul.ToonMul;
  R.ToonAdd = AAdd.ToonAdd;
  return R;
}
