// Index validation after a PMX load: every index that skinning, morphing, IK and drawing follow
// must name an existing element, so later stages can index without checks of their own.
#include <string>
#include <vector>

#include "formats/Pmx.h"

namespace {

// "bone 4 "左腕"" or "face 12": the section's element, with its name when it has one.
std::string Element(const char* ASection, size_t AIndex, const std::string* AName = nullptr) {
  std::string Result = std::string(ASection) + " " + std::to_string(AIndex);
  if (AName && !AName->empty()) Result += " \"" + *AName + "\"";
  return Result;
}

// The start of every message: the format the model was read from.
const char* Prefix(TModelFormat AFormat) {
  return AFormat == TModelFormat::mfPmd ? "PMD index out of range: " : "PMX index out of range: ";
}

[[noreturn]] void RaiseIndexError(TModelFormat AFormat, const std::string& AElement,
                                  const std::string& AWhat, int64_t AIndex, size_t ACount,
                                  const char* AUnit) {
  throw Exception(Prefix(AFormat) + AElement + ": " + AWhat + " " + std::to_string(AIndex) +
                  " (the model has " + std::to_string(ACount) + " " + AUnit + ")");
}

bool InRange(int64_t AIndex, size_t ACount) {
  return AIndex >= 0 && static_cast<uint64_t>(AIndex) < ACount;
}

// -1 marks "none" where the format allows it.
bool InRangeOrNone(int64_t AIndex, size_t ACount) {
  return AIndex == -1 || InRange(AIndex, ACount);
}

}  // namespace

void TPmx::ValidateIndices() {
  const size_t Vertices = FVertexList.size();
  const size_t Bones = FBoneList.size();
  const size_t Textures = FTextureList.size();

  // Texture references: a missing texture only loses its picture, so the model still loads.
  for (TPmxMaterial& M : FMaterialList) {
    if (!InRange(M.TextureIndex, Textures)) M.TextureIndex = -1;
    if (!InRange(M.SphereTextureIndex, Textures)) M.SphereTextureIndex = -1;
    if (M.SharedToonFlag == 0 && !InRange(M.ToonTexture.ToonTextureIndex, Textures))
      M.ToonTexture.ToonTextureIndex = -1;
  }

  for (size_t I = 0; I < FFaceList.size(); ++I) {
    if (!InRange(FFaceList[I], Vertices))
      RaiseIndexError(FFormat, Element("face", I / 3), "vertex index", FFaceList[I], Vertices,
                      "vertices");
  }

  // Unused weight slots carry bone -1 (and weight 0); they contribute nothing.
  for (size_t I = 0; I < Vertices; ++I) {
    const TPmxVertex& V = FVertexList[I];
    int32_t Slots[4];
    int Used = 0;
    switch (V.BoneWeightMethod) {
      case bwBDEF1:
        Slots[Used++] = V.BoneWeight.BDEF1.BoneIndex;
        break;
      case bwBDEF2:
      case bwSDEF:
        Slots[Used++] = V.BoneWeight.BDEF2.Bone1Index;
        Slots[Used++] = V.BoneWeight.BDEF2.Bone2Index;
        break;
      case bwBDEF4:
      case bwQDEF:
        Slots[Used++] = V.BoneWeight.BDEF4.Bone1Index;
        Slots[Used++] = V.BoneWeight.BDEF4.Bone2Index;
        Slots[Used++] = V.BoneWeight.BDEF4.Bone3Index;
        Slots[Used++] = V.BoneWeight.BDEF4.Bone4Index;
        break;
      default:
        break;
    }
    for (int K = 0; K < Used; ++K)
      if (!InRangeOrNone(Slots[K], Bones))
        RaiseIndexError(FFormat, Element("vertex", I),
                        "weight slot " + std::to_string(K + 1) + ": bone index", Slots[K], Bones,
                        "bones");
  }

  for (size_t I = 0; I < Bones; ++I) {
    const TPmxBone& B = FBoneList[I];
    const std::string E = Element("bone", I, &B.NameJp);
    if (!InRangeOrNone(B.ParentIndex, Bones))
      RaiseIndexError(FFormat, E, "parent index", B.ParentIndex, Bones, "bones");
    if (HasFlag(B.Flags, bfConnection) && !InRangeOrNone(B.ConnectionBoneIndex, Bones))
      RaiseIndexError(FFormat, E, "connection bone index", B.ConnectionBoneIndex, Bones, "bones");
    if ((HasFlag(B.Flags, bfAddRotation) || HasFlag(B.Flags, bfAddTranslation)) &&
        !InRangeOrNone(B.AddParentBoneIndex, Bones))
      RaiseIndexError(FFormat, E, "append parent bone index", B.AddParentBoneIndex, Bones, "bones");
    if (HasFlag(B.Flags, bfIK)) {
      // The solver moves the target and turns every link: neither may be "none".
      if (!InRange(B.IKTargetBoneIndex, Bones))
        RaiseIndexError(FFormat, E, "IK target bone index", B.IKTargetBoneIndex, Bones, "bones");
      for (size_t L = 0; L < B.IKLinks.size(); ++L)
        if (!InRange(B.IKLinks[L].LinkBoneIndex, Bones))
          RaiseIndexError(FFormat, E, "IK link " + std::to_string(L) + ": bone index",
                          B.IKLinks[L].LinkBoneIndex, Bones, "bones");
    }
  }

  // Parent chains must end at a root: walk each chain once, marking bones on the current walk.
  {
    enum : uint8_t { Unvisited, OnWalk, Done };
    std::vector<uint8_t> State(Bones, Unvisited);
    std::vector<size_t> Walk;
    for (size_t Start = 0; Start < Bones; ++Start) {
      size_t I = Start;
      while (State[I] == Unvisited) {
        State[I] = OnWalk;
        Walk.push_back(I);
        const int32_t P = FBoneList[I].ParentIndex;
        if (P == -1) break;
        if (State[P] == OnWalk)
          throw Exception(Prefix(FFormat) + Element("bone", I, &FBoneList[I].NameJp) +
                          ": parent index " + std::to_string(P) +
                          " closes a loop in the parent chain");
        I = static_cast<size_t>(P);
      }
      for (size_t W : Walk) State[W] = Done;
      Walk.clear();
    }
  }

  for (size_t I = 0; I < FMorphList.size(); ++I) {
    const TPmxMorph& M = FMorphList[I];
    if (M.Kind != mkVertex) continue;
    for (size_t D = 0; D < M.Data.size(); ++D)
      if (!InRange(M.Data[D].Vertex.VertexIndex, Vertices))
        RaiseIndexError(FFormat, Element("morph", I, &M.NameJp),
                        "offset " + std::to_string(D) + ": vertex index",
                        M.Data[D].Vertex.VertexIndex, Vertices, "vertices");
  }

  // Materials draw consecutive runs of the face list.
  size_t Used = 0;
  for (size_t I = 0; I < FMaterialList.size(); ++I) {
    const TPmxMaterial& M = FMaterialList[I];
    if (M.NumberOfVertex < 0 || static_cast<uint64_t>(M.NumberOfVertex) > FFaceList.size() - Used)
      throw Exception(Prefix(FFormat) + Element("material", I, &M.NameJp) + ": face index count " +
                      std::to_string(M.NumberOfVertex) + " starting at face index " +
                      std::to_string(Used) + " runs past the face list (the model has " +
                      std::to_string(FFaceList.size()) + " face indices)");
    Used += static_cast<size_t>(M.NumberOfVertex);
  }
}
