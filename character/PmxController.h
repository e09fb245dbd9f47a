// TPmxController: one PMX model and one VMD motion made into drawable, posed, skinned and morphed
// geometry. Loads the documents and textures, builds the render objects and hands them to the two
// programs, and runs the CPU core (TPmxControllerCore) with the model's GPU buffers as its skin
// target. Depends on character/core/PmxControllerCore.h, character/PmxRenderObjects.h, gl/UCommon2
// and shading/UShader.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "character/PmxRenderObjects.h"
#include "character/core/PmxControllerCore.h"
#include "gl/UCommon2.h"
#include "shading/UShader.h"

// The report of the morphs a motion keys that the model does not have: a heading line that says
// what the list is, then the names on one line, comma-separated. "" when the list is empty.
std::string MissingMorphsReport(const std::vector<std::string>& ANames);
// Loads AMotion's key tables into ACore, then writes MissingMorphsReport on stderr when morphs
// are missing (keys of a missing morph are dropped; a real pair of files can miss dozens).
void LoadMotionReportingMissingMorphs(TPmxControllerCore& ACore, const TVmd& AMotion);

class TPmxController : private IPmxSkinTarget {
 public:
  // Builds everything in this order: the ground plane (first item of AProgram), the model from
  // AFileName, its textures (a missing or unreadable file leaves its slot empty), the ten shared
  // toon ramps ABaseDir + "Toon/toon01.bmp" .. "toon10.bmp" (required), the vertex arrays, one
  // mesh per material inside a model appended to AProgram, a hidden line item per displayed bone
  // appended to ABoneProgram, the rest pose skinned once with IK solved, then the motion's key
  // tables when a file exists at AMotionFileName (morphs it keys that the model lacks are reported
  // as LoadMotionReportingMissingMorphs does). A toon ramp that cannot be read fails with a
  // message naming it. On failure the items already appended are taken out of the
  // programs' lists again and the error propagates.
  TPmxController(TOpenGL* AOpenGL, TMainProgram* AProgram, TBoneProgram* ABoneProgram,
                 const std::string& AFileName, const std::string& AMotionFileName,
                 const std::string& ABaseDir);
  // Frees the textures, the documents and the key tables; the render items stay with the programs.
  ~TPmxController() override;
  TPmxController(const TPmxController&) = delete;
  TPmxController& operator=(const TPmxController&) = delete;

  // ---- motion ----
  void ApplyMotionByTime(double ATime) { FCore->ApplyMotionByTime(ATime); }
  void ApplyMotionByFrame(double AFrameNum) { FCore->ApplyMotionByFrame(AFrameNum); }
  void NextFrame() { FCore->NextFrame(); }
  void PrevFrame() { FCore->PrevFrame(); }
  // A frame's changes (face turn, motion, morph weights) are posed and skinned once, at EndFrame;
  // Every pose also shows or hides the model (and with it its shadow) as the motion says.
  void BeginFrame() { FCore->BeginFrame(); }
  void EndFrame() { FCore->EndFrame(); }
  bool Visible() const { return FCore->Visible(); }

  // ---- pose, morphs, behaviours ----
  void UpdateBoneMatrix() { FCore->UpdateBoneMatrix(); }
  void ApplyMorph() { FCore->ApplyMorph(); }
  int IndexOfMorph(std::string_view AName) const { return FCore->IndexOfMorph(AName); }
  int MorphCount() const { return FCore->MorphCount(); }
  float GetMorphRate(int AIndex) const { return FCore->GetMorphRate(AIndex); }
  void SetMorphRate(int AIndex, float AValue) { FCore->SetMorphRate(AIndex, AValue); }
  void Mabataki(float ARate) { FCore->Mabataki(ARate); }
  void CockHead(float AValue) { FCore->CockHead(AValue); }
  void FaceTurn(const TVec3f& AEye) { FCore->FaceTurn(AEye); }
  // Rigid-body physics of models that have rigid bodies: on by default; off, the bones follow
  // the motion only.
  void SetPhysicsEnabled(bool AValue) { FCore->SetPhysicsEnabled(AValue); }
  bool PhysicsEnabled() const { return FCore->PhysicsEnabled(); }
  void ResetPhysics() { FCore->ResetPhysics(); }

  // ---- properties ----
  const TPmx& Pmx() const { return *FPmx; }
  const TVmd& Vmd() const { return *FVmd; }
  TModel* Model() const { return FModel; }
  const TVector3f& Position() const { return FModel->Position(); }
  void SetPosition(const TVector3f& AValue) { FModel->SetPosition(AValue); }
  TPmxControllerCore& Core() { return *FCore; }
  const TPmxControllerCore& Core() const { return *FCore; }
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
  void BuildModel(TMainProgram* AProgram);
  void BuildBoneItems(TBoneProgram* ABoneProgram);
  void LoadMotion(const std::string& AMotionFileName);

  void WriteMorphedUVs(const TPmxControllerCore& ACore);

  // IPmxSkinTarget: the overlay lines, the morphed UV buffers and the mapped GPU buffers.
  void BonesPosed(const TPmxControllerCore& ACore) override;
  float* MapPositions() override;
  void UnmapPositions() override;
  float* MapNormals() override;
  void UnmapNormals() override;

  std::unique_ptr<TPmx> FPmx;
  std::unique_ptr<TVmd> FVmd;
  std::weak_ptr<TPmxVAO> FPmxVAO;  // held by the meshes
  TModel* FModel = nullptr;        // owned by the main program's item list
  std::vector<std::unique_ptr<TTexture>> FPmxTextures;
  std::array<std::unique_ptr<TTexture>, 10> FPmxSharedTextures;
  std::vector<TBone*> FRefBones;  // owned by the bone program's item list
  std::unique_ptr<TPmxControllerCore> FCore;
  std::shared_ptr<TPmxVAO> FMappedVAO;  // kept alive while its buffers are mapped
};
