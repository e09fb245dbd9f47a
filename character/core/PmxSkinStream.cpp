// The skinning stream built from the model's vertex records (the record layout is in
// PmxSkinStream.h).
#include "character/core/PmxSkinStream.h"

#include <cstring>
#include <map>

#include "character/core/PmxControllerCore.h"
#include "character/core/PmxSdef.h"

// One record per vertex (see PmxSkinStream.h). The index of an SDEF vertex's bone pair in
// FSdefPairs and its weight w1 go to FSdefArcOf and FSdefT, in stream order, for the pass that
// turns them into rotation matrices many vertices at a time. An SDEF vertex with a slot that has
// no bone is skinned as BDEF2: its turn about C needs both bones' rotations.
void TPmxControllerCore::BuildSkinStream() {
  const int BoneCount = FPmx.BoneCount();
  const int VertexCount = FPmx.VertexCount();
  FSkinStream.clear();
  FSkinStream.reserve(static_cast<size_t>(VertexCount) * 6);
  FSdefPairs.clear();
  FSdefArcOf.clear();
  FSdefT.clear();
  std::map<std::pair<int, int>, uint32_t> PairIndex;
  auto Bits = [](float F) {
    uint32_t U;
    std::memcpy(&U, &F, sizeof U);
    return U;
  };
  FSkinChunks.clear();
  for (int V = 0; V < VertexCount; ++V) {
    if (static_cast<uint32_t>(V) % SkinChunkVertices == 0)
      FSkinChunks.push_back({static_cast<uint32_t>(V), static_cast<uint32_t>(FSkinStream.size()),
                             static_cast<uint32_t>(FSdefT.size())});
    const TPmxVertex& Vertex = *FPmx.GetVertex(V);
    int Bones[4];
    float Weights[4];
    uint32_t Count = 0;
    switch (Vertex.BoneWeightMethod) {
      case bwBDEF1:
        Count = 1;
        Bones[0] = Vertex.BoneWeight.BDEF1.BoneIndex;
        break;
      case bwBDEF2:
      case bwSDEF:
        Count = 2;
        Bones[0] = Vertex.BoneWeight.BDEF2.Bone1Index;
        Bones[1] = Vertex.BoneWeight.BDEF2.Bone2Index;
        Weights[0] = Vertex.BoneWeight.BDEF2.Bone1Weight;
        Weights[1] = 1.0f - Weights[0];
        break;
      case bwBDEF4:
      case bwQDEF: {
        const TPmxBoneWeightBDEF4& W = Vertex.BoneWeight.BDEF4;
        Count = 4;
        Bones[0] = W.Bone1Index;
        Bones[1] = W.Bone2Index;
        Bones[2] = W.Bone3Index;
        Bones[3] = W.Bone4Index;
        Weights[0] = W.Bone1Weight;
        Weights[1] = W.Bone2Weight;
        Weights[2] = W.Bone3Weight;
        Weights[3] = W.Bone4Weight;
        break;
      }
      default:
        break;
    }
    uint32_t Header = Count;
    for (uint32_t S = 0; S < Count; ++S)
      if (Bones[S] < 0 || Bones[S] >= BoneCount) {
        Bones[S] = -1;
        Header |= SkinRecordWithoutBone;
      }
    const bool Sdef = Vertex.BoneWeightMethod == bwSDEF && !(Header & SkinRecordWithoutBone);
    if (Sdef) Header |= SkinRecordSdef;
    FSkinStream.push_back(Header);
    for (uint32_t S = 0; S < Count; ++S) FSkinStream.push_back(static_cast<uint32_t>(Bones[S]));
    if (Count >= 2)
      for (uint32_t S = 0; S < Count; ++S) FSkinStream.push_back(Bits(Weights[S]));
    if (Sdef) {
      const std::pair<int, int> Pair(Bones[0], Bones[1]);
      auto Found = PairIndex.find(Pair);
      if (Found == PairIndex.end()) {
        Found = PairIndex.emplace(Pair, static_cast<uint32_t>(FSdefPairs.size())).first;
        FSdefPairs.push_back(Pair);
      }
      FSdefArcOf.push_back(Found->second);
      FSdefT.push_back(Weights[1]);
      const TSdefPoints Points = SdefPoints(Vertex.BoneWeight.SDEF);
      for (const TVector3f& Point : {Points.C, Points.Cr0, Points.Cr1})
        for (int K = 0; K < 3; ++K) FSkinStream.push_back(Bits(Point.V[K]));
    }
  }
  FSkinStream.shrink_to_fit();
  FSdefArcOf.shrink_to_fit();
  FSdefT.shrink_to_fit();
  FSdefArcs.resize(FSdefPairs.size());
  FNormalMatrix.assign(static_cast<size_t>(BoneCount), TMatrix4f{});
  FBonePairs.assign(static_cast<size_t>(BoneCount), TPmxSkinBonePair{});
}
