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
  TModelDrawing(TOpenGL* AOpenGL, TMainProgram* AProgram, TBoneProgram* ABoneProgram,
                TSceneModel& AModel, const std::string& ABaseDir);
  // Takes its items out of the programs and stops being the core's skin target; the model must
  // still exist.
  ~TModelDrawing() override;
  TModelDrawing(const TModelDrawing&) = delete;
  TModelDrawing& operator=(const TModelDrawing&) = delete;

  TSceneModel& SceneModel() const { return *FSceneModel; }
  TModel* Model() const { return FModel; }
  const TVector3f& Position() const { return FModel->Position(); }
  void SetPosition(const TVector3f& AValue) { FModel->SetPosition(AValue); }
  const std::vector<std::unique_ptr<TTexture>>& PmxTextures() const { return FPmxTextures; }
  const std::array<std::unique_ptr<TTexture>, 10>& PmxSharedTextures() const {
    return FPmxSharedTextures;
  }
  // The overlay item of each bone, or nullptr.
  const std::vector<TBone*>& RefBones() const { return FRefBones; }
  // The model's vertex arrays while a mesh still holds them.
  std::shared_ptr<TPmxVAO> PmxVAO() const { return FPmxVAO.lock(); }

 private:
  void BuildTextures(GLuint ASampler, const std::string& AModelDir, const std::string& ABaseDir);
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
  std::vector<std::unique_ptr<TTexture>> FPmxTextures;
  std::array<std::unique_ptr<TTexture>, 10> FPmxSharedTextures;
  std::vector<TBone*> FRefBones;        // owned by the bone program's item list
  std::shared_ptr<TPmxVAO> FMappedVAO;  // kept alive while its buffers are mapped
};
