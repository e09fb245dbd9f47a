#include "render/ModelDrawing.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "formats/ReaderMessages.h"
#include "gl/TexturePath.h"
#include "math/Errors.h"
#include "math/VectorGeometry.h"

namespace {

// Removes AItem from AList (the list owns it, so it is freed).
void TakeOut(std::vector<std::unique_ptr<TRenderItem>>& AList, const TRenderItem* AItem) {
  auto It =
      std::find_if(AList.begin(), AList.end(),
                   [AItem](const std::unique_ptr<TRenderItem>& P) { return P.get() == AItem; });
  if (It != AList.end()) AList.erase(It);
}

// The "ＩＫ" bones stand out in orange, the others are translucent grey.
TVector4f OverlayColor(const std::string& ANameJp) {
  return ANameJp.find("ＩＫ") != std::string::npos ? NewVector4f(1.0f, 0.5f, 0.1f, 1.0f)
                                                   : NewVector4f(0.5f, 0.5f, 0.5f, 0.5f);
}

}  // namespace

TModelDrawing::TModelDrawing(TOpenGL* AOpenGL, TMainProgram* AProgram, TBoneProgram* ABoneProgram,
                             TSceneModel& AModel, const std::string& ABaseDir,
                             TTextureCache* ATextures)
    : FProgram(AProgram),
      FBoneProgram(ABoneProgram),
      FSceneModel(&AModel),
      FPmx(AModel.Pmx()),
      FCore(AModel.Core()) {
  try {
    BuildTextures(AOpenGL->Sampler(), AModel.Folder(), ABaseDir, ATextures);
    BuildModel();
    BuildBoneItems();
    MeasureBoneReach();
  } catch (...) {
    // Nothing this constructor appended may be drawn after its textures are gone.
    TakeItemsOut();
    throw;
  }
  // The pose the core stands in, written into the new buffers.
  FCore.SetSkinTarget(this);
  FCore.UpdateBoneMatrix();
}

TModelDrawing::~TModelDrawing() {
  FCore.SetSkinTarget(nullptr);
  TakeItemsOut();
}

void TModelDrawing::TakeItemsOut() {
  if (FModel) TakeOut(FProgram->Items(), FModel);
  FModel = nullptr;
  for (TBone* Bone : FRefBones)
    if (Bone) TakeOut(FBoneProgram->Items(), Bone);
  FRefBones.clear();
}

void TModelDrawing::BuildTextures(GLuint ASampler, const std::string& AModelDir,
                                  const std::string& ABaseDir, TTextureCache* ACache) {
  auto Load = [&](const std::string& APath) -> std::shared_ptr<TTexture> {
    if (ACache) return ACache->Get(ASampler, APath);
    return TTexture::CreateFromFile(ASampler, APath);
  };
  FPmxTextures.resize(static_cast<size_t>(FPmx.TextureCount()));
  for (int I = 0; I < FPmx.TextureCount(); ++I) {
    const auto Path = ResolveModelTexturePath(AModelDir, FPmx.GetTexture(I));
    if (!Path) continue;
    try {
      FPmxTextures[I] = Load(Path->string());
    } catch (const std::exception&) {
      // An unreadable model texture only loses its picture.
    }
  }
  std::string Base = ABaseDir;
  if (!Base.empty() && Base.back() != '/') Base += '/';
  for (int I = 0; I < 10; ++I) {
    char Name[32];
    std::snprintf(Name, sizeof Name, "Toon/toon%.2d.bmp", I + 1);
    const std::string Path = Base + Name;
    try {
      FPmxSharedTextures[I] = Load(Path);
    } catch (const Exception& E) {
      throw Exception(ReadFileErrorMessage(TReadFileRole::rfImage, Path, E.what()));
    }
  }
}

void TModelDrawing::BuildModel() {
  auto VAO = std::make_shared<TPmxVAO>(FProgram, FPmx);
  FPmxVAO = VAO;
  auto Model = std::make_unique<TModel>();
  int FaceOffset = 0;
  std::vector<uint32_t> Indices;
  for (int M = 0; M < FPmx.MaterialCount(); ++M) {
    const TPmxMaterial* Material = FPmx.GetMaterial(M);
    const int Count = Material->NumberOfVertex;
    // A trailing partial triangle is not drawn.
    const int Triangles = Count / 3;
    Indices.assign(static_cast<size_t>(Count), 0u);
    for (int J = 0; J < Triangles; ++J) {
      const TPmxInt3& Face = *FPmx.GetFace(FaceOffset + J);
      Indices[3 * J] = static_cast<uint32_t>(Face.X);
      Indices[3 * J + 1] = static_cast<uint32_t>(Face.Y);
      Indices[3 * J + 2] = static_cast<uint32_t>(Face.Z);
    }
    TTexture* Texture =
        Material->TextureIndex == -1 ? nullptr : FPmxTextures[Material->TextureIndex].get();
    TTexture* Toon = nullptr;
    if (Material->SharedToonFlag == 0) {
      if (Material->ToonTexture.ToonTextureIndex != -1)
        Toon = FPmxTextures[Material->ToonTexture.ToonTextureIndex].get();
    } else if (Material->ToonTexture.SharedToonTextureIndex < 10) {
      Toon = FPmxSharedTextures[Material->ToonTexture.SharedToonTextureIndex].get();
    }
    // A sphere file that is missing or unreadable means no sphere map.
    TTexture* Sphere = Material->SphereTextureIndex == -1
                           ? nullptr
                           : FPmxTextures[Material->SphereTextureIndex].get();
    auto Mesh = std::make_unique<TPmxMesh>(FProgram, VAO, Indices, Texture, Toon, Material, Sphere);
    Mesh->SetMaterialStates(&FCore.MaterialStates(), M);
    Model->Items().push_back(std::move(Mesh));
    FaceOffset += Triangles;
  }
  FModel = Model.get();
  FProgram->Items().push_back(std::move(Model));
}

void TModelDrawing::BuildBoneItems() {
  const int BoneCount = FPmx.BoneCount();
  FRefBones.assign(static_cast<size_t>(BoneCount), nullptr);
  for (int I = 0; I < BoneCount; ++I) {
    const TPmxBone& Bone = *FPmx.GetBone(I);
    if (!HasFlag(Bone.Flags, bfDisplay)) continue;
    const TVector3f Head = Bone.Position;
    TVector3f Tail;
    if (HasFlag(Bone.Flags, bfConnection)) {
      if (Bone.ConnectionBoneIndex == -1) continue;
      Tail = FPmx.GetBone(Bone.ConnectionBoneIndex)->Position;
    } else {
      Tail = Add3f(Head, Bone.PositionOffset);
    }
    auto Item = std::make_unique<TBone>(FBoneProgram, Head, Tail, OverlayColor(Bone.NameJp));
    Item->SetVisible(false);
    FRefBones[I] = Item.get();
    FBoneProgram->Items().push_back(std::move(Item));
  }
}

void TModelDrawing::MeasureBoneReach() {
  const int BoneCount = FPmx.BoneCount();
  FBoneReach.assign(static_cast<size_t>(BoneCount), -1.0f);
  // A bone of no weight does not move the vertex.
  auto Follow = [&](int ABone, float AWeight, const TVector3f& APosition) {
    // An index the file got wrong names no bone: the core does not follow it either.
    if (AWeight == 0.0f || ABone < 0 || ABone >= BoneCount) return;
    float& Reach = FBoneReach[static_cast<size_t>(ABone)];
    Reach = std::max(Reach, Distance3f(APosition, FPmx.GetBone(ABone)->Position));
  };
  for (int I = 0; I < FPmx.VertexCount(); ++I) {
    const TPmxVertex& V = *FPmx.GetVertex(I);
    const TVector3f P = V.Position;
    const TPmxBoneWeight& W = V.BoneWeight;
    switch (V.BoneWeightMethod) {
      case bwBDEF1:
        Follow(W.BDEF1.BoneIndex, 1.0f, P);
        break;
      case bwBDEF2:
      case bwSDEF:
        Follow(W.BDEF2.Bone1Index, W.BDEF2.Bone1Weight, P);
        Follow(W.BDEF2.Bone2Index, 1.0f - W.BDEF2.Bone1Weight, P);
        break;
      default:
        Follow(W.BDEF4.Bone1Index, W.BDEF4.Bone1Weight, P);
        Follow(W.BDEF4.Bone2Index, W.BDEF4.Bone2Weight, P);
        Follow(W.BDEF4.Bone3Index, W.BDEF4.Bone3Weight, P);
        Follow(W.BDEF4.Bone4Index, W.BDEF4.Bone4Weight, P);
        break;
    }
  }
  // Room for what moves vertices besides the bones (vertex morphs, the spherical blend's bulge).
  for (float& Reach : FBoneReach)
    if (Reach >= 0) Reach = Reach * 1.05f + 0.02f;
}

void TModelDrawing::AddBoundsTo(TShadowFit& AFit, bool ACaster) const {
  const std::vector<TMatrix4f>& Global = FCore.BoneGlobalMatrix();
  const TMatrix4f& Placement = FSceneModel->PlacementMatrix();
  const size_t Count = std::min(Global.size(), FBoneReach.size());
  for (size_t I = 0; I < Count; ++I) {
    if (FBoneReach[I] < 0) continue;
    const TVector3f Centre = TransformPoint3f(Global[I].W, Placement);
    if (ACaster)
      AFit.AddCaster(Centre, FBoneReach[I]);
    else
      AFit.AddReceiver(Centre, FBoneReach[I]);
  }
}

void TModelDrawing::RenderModel(const TMatrix4f& APlacedMVP) const {
  if (FModel) FModel->Render(APlacedMVP);
}

void TModelDrawing::RenderBones(const TMatrix4f& APlacedMVP) const {
  for (TBone* Bone : FRefBones)
    if (Bone) Bone->Render(APlacedMVP);
}

// ---- skin target --------------------------------------------------------------------------------

// Writes the morphed texture coordinates (xy of channel 0) and additional UV 1 (xy of channel 1)
// into their buffers, two floats per vertex; a channel the core does not fill is left alone.
void TModelDrawing::WriteMorphedUVs(const TPmxControllerCore& ACore) {
  std::shared_ptr<TPmxVAO> VAO = FPmxVAO.lock();
  if (!VAO) return;
  const size_t Count = static_cast<size_t>(ACore.VertexCount());
  const std::pair<int, const std::shared_ptr<IBufferObject>*> Channels[] = {
      {0, &VAO->TexCoordBuffer()}, {1, &VAO->UV1Buffer()}};
  for (const auto& [Channel, Buffer] : Channels) {
    const std::vector<TVector4f>& UVs = ACore.MorphedUVs(Channel);
    if (UVs.size() != Count || Count == 0) continue;
    auto* Out = static_cast<float*>((*Buffer)->Map(baWriteOnly));
    if (!Out) continue;
    for (size_t I = 0; I < Count; ++I) {
      Out[2 * I] = UVs[I].X;
      Out[2 * I + 1] = UVs[I].Y;
    }
    (*Buffer)->Unmap();
  }
}

void TModelDrawing::BonesPosed(const TPmxControllerCore& ACore) {
  // A hidden model drops out of both passes, so its shadow goes too.
  if (FModel) FModel->SetVisible(ACore.Visible());
  // Morphs are applied before every pose; the UV buffers follow only a changed UV morph.
  if (ACore.UVsChanged()) {
    WriteMorphedUVs(ACore);
    FCore.ClearUVsChanged();
  }
  const std::vector<TMatrix4f>& Global = ACore.BoneGlobalMatrix();
  for (size_t I = 0; I < FRefBones.size(); ++I) {
    TBone* Item = FRefBones[I];
    if (!Item) continue;
    const TPmxBone& Bone = *FPmx.GetBone(static_cast<int>(I));
    const TVector3f Head = XYZ3f(Global[I].W);
    // Without a connection the tail keeps the rest-pose offset, not turned with the bone.
    const TVector3f Tail = HasFlag(Bone.Flags, bfConnection)
                               ? XYZ3f(Global[Bone.ConnectionBoneIndex].W)
                               : Add3f(Head, Bone.PositionOffset);
    Item->SetPositions(Head, Tail);
  }
}

float* TModelDrawing::MapPositions() {
  FMappedVAO = FPmxVAO.lock();
  if (!FMappedVAO) return nullptr;
  return static_cast<float*>(FMappedVAO->PositionBuffer()->Map(baWriteOnly));
}

// Both buffers may be mapped at once: bind the one to unmap first.
void TModelDrawing::UnmapPositions() {
  if (!FMappedVAO) return;
  FMappedVAO->PositionBuffer()->Bind();
  FMappedVAO->PositionBuffer()->Unmap();
}

float* TModelDrawing::MapNormals() {
  if (!FMappedVAO) FMappedVAO = FPmxVAO.lock();
  if (!FMappedVAO) return nullptr;
  return static_cast<float*>(FMappedVAO->NormalBuffer()->Map(baWriteOnly));
}

void TModelDrawing::UnmapNormals() {
  if (!FMappedVAO) return;
  FMappedVAO->NormalBuffer()->Bind();
  FMappedVAO->NormalBuffer()->Unmap();
  FMappedVAO.reset();
}
