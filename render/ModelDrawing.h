// TModelDrawing: the GL half of one scene model: its textures, vertex arrays, one mesh per
// material inside a model item of the main program, and the bone overlay's lines; it is the skin
// target of the model's controller core, so skinning writes straight into its GPU buffers.
// Depends on render/PmxRenderObjects, scene/SceneModel (the model and core, already loaded),
// gl/UCommon2 and shading/UShader.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "gl/UCommon2.h"
#include "render/PmxRenderObjects.h"
#include "render/ShadowFit.h"
#include "render/TextureCache.h"
#include "scene/SceneModel.h"
#include "shading/UShader.h"

class TModelDrawing : private IPmxSkinTarget {
 public:
  // Builds, in this order: the model's textures from its folder (a missing or unreadable file
  // leaves its slot empty), the ten shared toon ramps ABaseDir + "Toon/toon01.bmp" .. "toon10.bmp"
  // (required: one that cannot be read fails with a message naming it), the vertex arrays, one
  // mesh per material inside a model item appended to AProgram, a hidden line item per displayed
  // bone appended to ABoneProgram; then it becomes AModel's skin target and skins the current
  // pose once. On failure the items already appended are taken out again and the error propagates.
  // With ATextures, every image comes from that cache (shared with the other drawings using it);
  // without, the drawing makes its own.
  TModelDrawing(TOpenGL* AOpenGL, TMainProgram* AProgram, TBoneProgram* ABoneProgram,
                TSceneModel& AModel, const std::string& ABaseDir,
                TTextureCache* ATextures = nullptr);
  // Takes its items out of the programs and stops being the core's skin target; the model must
  // still exist.
  ~TModelDrawing() override;
  TModelDrawing(const TModelDrawing&) = delete;
  TModelDrawing& operator=(const TModelDrawing&) = delete;

  TSceneModel& SceneModel() const { return *FSceneModel; }
  TModel* Model() const { return FModel; }
  const TVector3f& Position() const { return FModel->Position(); }
  void SetPosition(const TVector3f& AValue) { FModel->SetPosition(AValue); }
  const std::vector<std::shared_ptr<TTexture>>& PmxTextures() const { return FPmxTextures; }
  const std::array<std::shared_ptr<TTexture>, 10>& PmxSharedTextures() const {
    return FPmxSharedTextures;
  }
  // The model as placed in the scene (its scene model's placement matrix).
  const TMatrix4f& Placement() const { return FSceneModel->PlacementMatrix(); }
  // Shown (the motion may hide the model).
  bool Shown() const { return FModel && FModel->Visible(); }
  // Each posed bone that skinned vertices follow, as a sphere in world space holding those
  // vertices (a vertex keeps its distance to every bone it follows, so the blend stays inside the
  // spheres), given to AFit as a caster or a receiver.
  void AddBoundsTo(TShadowFit& AFit, bool ACaster) const;
  // The model's meshes through APlacedMVP (the placement times the pass's matrix; the main
  // program current, its placement set).
  void RenderModel(const TMatrix4f& APlacedMVP) const;
  // The shown bone lines through APlacedMVP (the bone program current).
  void RenderBones(const TMatrix4f& APlacedMVP) const;
  // The overlay item of each bone, or nullptr.
  const std::vector<TBone*>& RefBones() const { return FRefBones; }
  // The model's vertex arrays while a mesh still holds them.
  std::shared_ptr<TPmxVAO> PmxVAO() const { return FPmxVAO.lock(); }

 private:
  void BuildTextures(GLuint ASampler, const std::string& AModelDir, const std::string& ABaseDir,
                     TTextureCache* ACache);
  void MeasureBoneReach();
  void BuildModel();
  void BuildBoneItems();
  void TakeItemsOut();

  void WriteMorphedUVs(const TPmxControllerCore& ACore);

  // IPmxSkinTarget: the overlay lines, the morphed UV buffers and the mapped GPU buffers.
  void BonesPosed(const TPmxControllerCore& ACore) override;
  float* MapPositions() override;
  void UnmapPositions() override;
  float* MapNormals() override;
  void UnmapNormals() override;

  TMainProgram* FProgram;
  TBoneProgram* FBoneProgram;
  TSceneModel* FSceneModel;
  const TPmx& FPmx;
  TPmxControllerCore& FCore;
  std::weak_ptr<TPmxVAO> FPmxVAO;  // held by the meshes
  TModel* FModel = nullptr;        // owned by the main program's item list
  std::vector<std::shared_ptr<TTexture>> FPmxTextures;
  std::array<std::shared_ptr<TTexture>, 10> FPmxSharedTextures;
  // Per bone, the farthest rest-pose distance of a vertex that follows it; -1 when none does.
  std::vector<float> FBoneReach;
  std::vector<TBone*> FRefBones;        // owned by the bone program's item list
  std::shared_ptr<TPmxVAO> FMappedVAO;  // kept alive while its buffers are mapped
};
