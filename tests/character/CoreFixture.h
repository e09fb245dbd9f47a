// A controller core over a model and motion built in code with the PMX/VMD writer, skinning into
// plain memory; no GL.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "character/core/MemorySkinTarget.h"
#include "character/core/PmxControllerCore.h"
#include "formats/PmxWriter.h"
#include "tools/testbed/PmxReferenceCore.h"

struct TCoreRig {
  TPmx Pmx;
  TVmd Vmd;
  std::unique_ptr<TPmxControllerCore> Core;
  std::unique_ptr<TMemorySkinTarget> Out;
  std::vector<std::string> Unmatched;  // raw names of dropped morph keys

  // Builds the core the way the controller does: the rest pose skinned once, then the motion's
  // tables (when AMotion is given).
  explicit TCoreRig(const TPmxBuilder& AModel, const TVmdBuilder* AMotion = nullptr,
                    bool AReference = false) {
    Pmx.LoadFromBytes(AModel.Build());
    if (AReference)
      Core = std::make_unique<TPmxReferenceCore>(Pmx);
    else
      Core = std::make_unique<TPmxControllerCore>(Pmx);
    Out = std::make_unique<TMemorySkinTarget>(Pmx.VertexCount());
    Core->SetSkinTarget(Out.get());
    Core->ApplyMorph();
    Core->UpdateBoneMatrix();
    if (AMotion) {
      Vmd.LoadFromBytes(AMotion->Build());
      Core->LoadMotion(Vmd, [this](std::span<const uint8_t> ARaw) {
        Unmatched.emplace_back(reinterpret_cast<const char*>(ARaw.data()), ARaw.size());
      });
    }
  }

  TVec3f Position(int AVertex) const {
    return TVec3f(Out->Positions[3 * AVertex], Out->Positions[3 * AVertex + 1],
                  Out->Positions[3 * AVertex + 2]);
  }
  TVec3f Normal(int AVertex) const {
    return TVec3f(Out->Normals[3 * AVertex], Out->Normals[3 * AVertex + 1],
                  Out->Normals[3 * AVertex + 2]);
  }
  TVector3f BonePosition(int ABone) const { return XYZ3f(Core->BoneGlobalMatrix()[ABone].W); }
};

inline ::testing::AssertionResult Near3(const TVec3f& A, const TVec3f& B,
                                        float ATolerance = 1e-5f) {
  if (std::fabs(A.X - B.X) <= ATolerance && std::fabs(A.Y - B.Y) <= ATolerance &&
      std::fabs(A.Z - B.Z) <= ATolerance)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << A.X << ", " << A.Y << ", " << A.Z << ") vs ("
                                       << B.X << ", " << B.Y << ", " << B.Z << ")";
}
inline ::testing::AssertionResult Near3(const TVector3f& A, const TVector3f& B,
                                        float ATolerance = 1e-5f) {
  return Near3(TVec3f(A), TVec3f(B), ATolerance);
}

// Same rotation (q and -q are the same turn).
inline ::testing::AssertionResult SameTurn(const TQuaternion& A, const TQuaternion& B,
                                           float ATolerance = 1e-5f) {
  const float Dot = A.ImagPart.X * B.ImagPart.X + A.ImagPart.Y * B.ImagPart.Y +
                    A.ImagPart.Z * B.ImagPart.Z + A.RealPart * B.RealPart;
  if (std::fabs(std::fabs(Dot) - 1.0f) <= ATolerance) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "(" << A.ImagPart.X << ", " << A.ImagPart.Y << ", " << A.ImagPart.Z << ", "
         << A.RealPart << ") vs (" << B.ImagPart.X << ", " << B.ImagPart.Y << ", " << B.ImagPart.Z
         << ", " << B.RealPart << ")";
}

inline TQuaternion TurnAbout(float AX, float AY, float AZ, float AAngle) {
  return QuaternionFromAxisAngle(TVec3f(AX, AY, AZ), AAngle);
}
inline TVector4f AsVector4(const TQuaternion& Q) {
  return NewVector4f(Q.ImagPart.X, Q.ImagPart.Y, Q.ImagPart.Z, Q.RealPart);
}
