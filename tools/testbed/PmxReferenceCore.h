// TPmxReferenceCore: the controller core computed the slow, literal way: every bone matrix rebuilt
// through its whole parent chain on every use, keys searched linearly from the start, every vertex
// reset before morphing, positions and normals skinned in two passes straight from the model's
// vertex records. It exists to check the fast path of TPmxControllerCore, which must give the
// same floats to the bit; tests and the benchmark use it, the viewer does not.
// Depends on character/core/PmxControllerCore.h.
#pragma once

#include "character/core/PmxControllerCore.h"

class TPmxReferenceCore : public TPmxControllerCore {
 public:
  using TPmxControllerCore::TPmxControllerCore;

  void ApplyMorph() override;

 protected:
  void SampleMotion(double AFrame) override;
  void UpdatePose() override;
  void Skin(IPmxSkinTarget& ATarget) override;
  // The step, then one pass over every vertex.
  void PhysicsAndSkin(IPmxSkinTarget& ATarget) override;

 private:
  void ApplyGroupMorphs();
  void ApplyMaterialMorphs();
  void ApplyUVMorphs();
  // IK, append transforms and the matrices: the pose without the bone morphs around it.
  void PoseBones();
  TMatrix4f ChainMatrix(int AIndex) const;
  TVector3f PositionOf(int AIndex) const;
  void ApplyIK();
  void SolveIK(const TPmxBone& AIKBone, const TVector3f& AGoal);
  void InterpolateMotion(const std::vector<const TVmdMotion*>& AList, double AFrame, int ABone);
  void InterpolateSkinMotion(const std::vector<const TVmdSkinMotion*>& AList, double AFrame,
                             int AMorph);
  // Skinned point of AInput for one vertex record with the given matrices; ANormal: AInput is a
  // normal (an SDEF normal is only turned).
  TVec3f SkinPoint(const TPmxVertex& AVertex, const TVec3f& AInput,
                   const std::vector<TMatrix4f>& AMatrices, bool ANormal, bool& AWritten) const;

  // Per morph the effective weight its UVs were last built with (UV kinds only).
  std::vector<float> FUVBuiltRates;
};
