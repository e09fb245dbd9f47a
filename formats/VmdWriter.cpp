// VMD writer: the reader's layout, written back out; and the file sink both writers share.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "formats/ByteSink.h"
#include "formats/PmxWriter.h"

// ---- TVmdBuilder ------------------------------------------------------------------------------

void SetVmdName(char (&AField)[15], std::string_view ACp932) {
  std::memset(AField, 0, sizeof(AField));
  std::memcpy(AField, ACp932.data(), std::min(ACp932.size(), sizeof(AField)));
}

int TVmdBuilder::AddBoneKey(std::string_view AName, uint32_t AFrame, const TVector3f& APosition,
                            const TVector4f& ARotation) {
  TVmdMotion M{};
  SetVmdName(M.BoneName, Utf8ToCp932(AName));
  M.FrameNum = AFrame;
  M.Position = APosition;
  M.Rotation = ARotation;
  SetVmdLinearBoneCurves(M);
  Motions.push_back(M);
  return static_cast<int>(Motions.size() - 1);
}

int TVmdBuilder::AddMorphKey(std::string_view AName, uint32_t AFrame, float AWeight) {
  TVmdSkinMotion M{};
  SetVmdName(M.MorphName, Utf8ToCp932(AName));
  M.FrameNum = AFrame;
  M.Weight = AWeight;
  SkinMotions.push_back(M);
  return static_cast<int>(SkinMotions.size() - 1);
}

int TVmdBuilder::AddCameraKey(uint32_t AFrame, const TVector3f& ATarget, float ADistance,
                              const TVector3f& ARotation, uint32_t AViewAngle) {
  TVmdCameraMotion M{};
  M.FrameNum = AFrame;
  M.Distance = ADistance;
  M.Target = ATarget;
  M.Rotation = ARotation;
  for (int C = ccX; C <= ccViewAngle; ++C)
    SetVmdCameraCurve(M, static_cast<TVmdCameraChannel>(C), 20, 20, 107, 107);
  M.ViewAngle = AViewAngle;
  M.Perspective = 0;
  CameraMotions.push_back(M);
  return static_cast<int>(CameraMotions.size() - 1);
}

int TVmdBuilder::AddShowIKKey(uint32_t AFrame, bool AShow,
                              const std::vector<std::pair<std::string, bool>>& AIK) {
  TVmdShowIKMotion M;
  M.FrameNum = AFrame;
  M.Show = AShow;
  for (const auto& [Name, Enabled] : AIK) {
    TVmdIKState S{};
    const std::string Cp932 = Utf8ToCp932(Name);
    std::memcpy(S.Name, Cp932.data(), std::min(Cp932.size(), sizeof(S.Name)));
    S.Enabled = Enabled;
    M.IK.push_back(S);
  }
  ShowIKMotions.push_back(M);
  return static_cast<int>(ShowIKMotions.size() - 1);
}

std::vector<uint8_t> TVmdBuilder::Build() const {
  TByteSink S;
  char Field[30] = {};
  std::memcpy(Field, Signature.data(), std::min(Signature.size(), sizeof(Field)));
  S.Raw(Field, sizeof(Field));
  char Name[20] = {};
  const std::string Cp932Name = Utf8ToCp932(ModelName);
  std::memcpy(Name, Cp932Name.data(), std::min(Cp932Name.size(), sizeof(Name)));
  S.Raw(Name, sizeof(Name));
  S.I32(static_cast<int32_t>(Motions.size()));
  for (TVmdMotion M : Motions) {
    if (!FileFrame) {
      if (MirrorZ) {
        M.Position.Z = -M.Position.Z;
        M.Rotation.Z = -M.Rotation.Z;
        M.Rotation.W = -M.Rotation.W;
      }
      if (PositionScale != 1.0f) {
        M.Position.X /= PositionScale;
        M.Position.Y /= PositionScale;
        M.Position.Z /= PositionScale;
      }
    }
    S.Raw(&M, sizeof(M));
  }
  S.I32(static_cast<int32_t>(SkinMotions.size()));
  S.Raw(SkinMotions.data(), SkinMotions.size() * sizeof(TVmdSkinMotion));

  int Sections = OptionalSections;
  if (Sections < 0)
    Sections = !ShowIKMotions.empty()       ? 4
               : !SelfShadowMotions.empty() ? 3
               : !LightMotions.empty()      ? 2
               : !CameraMotions.empty()     ? 1
                                            : 0;
  if (Sections >= 1) {
    S.U32(static_cast<uint32_t>(CameraMotions.size()));
    for (TVmdCameraMotion M : CameraMotions) {
      if (!FileFrame) {
        if (MirrorZ) {
          M.Target.Z = -M.Target.Z;
          M.Distance = -M.Distance;
          M.Rotation.X = -M.Rotation.X;
          M.Rotation.Y = -M.Rotation.Y;
        }
        if (PositionScale != 1.0f) {
          M.Target.X /= PositionScale;
          M.Target.Y /= PositionScale;
          M.Target.Z /= PositionScale;
          M.Distance /= PositionScale;
        }
      }
      S.Raw(&M, sizeof(M));
    }
  }
  if (Sections >= 2) {
    S.U32(static_cast<uint32_t>(LightMotions.size()));
    for (TVmdLightMotion M : LightMotions) {
      if (!FileFrame && MirrorZ) M.Direction.Z = -M.Direction.Z;
      S.Raw(&M, sizeof(M));
    }
  }
  if (Sections >= 3) {
    S.U32(static_cast<uint32_t>(SelfShadowMotions.size()));
    S.Raw(SelfShadowMotions.data(), SelfShadowMotions.size() * sizeof(TVmdSelfShadowMotion));
  }
  if (Sections >= 4) {
    S.U32(static_cast<uint32_t>(ShowIKMotions.size()));
    for (const TVmdShowIKMotion& M : ShowIKMotions) {
      S.U32(M.FrameNum);
      S.U8(M.Show ? 1 : 0);
      S.U32(static_cast<uint32_t>(M.IK.size()));
      for (const TVmdIKState& IK : M.IK) {
        S.Raw(IK.Name, sizeof(IK.Name));
        S.U8(IK.Enabled ? 1 : 0);
      }
    }
  }
  S.Raw(Trailer.data(), Trailer.size());
  return std::move(S.Bytes);
}

void TVmdBuilder::SaveToFile(const std::string& AFileName) const {
  WriteBytesToFile(AFileName, Build());
}

TVmdBuilder TVmdBuilder::FromDocument(const TVmd& AVmd) {
  TVmdBuilder B;
  for (int I = 0; I < AVmd.MotionCount(); ++I) B.Motions.push_back(*AVmd.GetMotion(I));
  for (int I = 0; I < AVmd.SkinMotionCount(); ++I) B.SkinMotions.push_back(*AVmd.GetSkinMotion(I));
  B.CameraMotions = AVmd.CameraMotions();
  B.LightMotions = AVmd.LightMotions();
  B.SelfShadowMotions = AVmd.SelfShadowMotions();
  B.ShowIKMotions = AVmd.ShowIKMotions();
  return B;
}

void WriteBytesToFile(const std::string& AFileName, const std::vector<uint8_t>& ABytes) {
  std::unique_ptr<FILE, int (*)(FILE*)> File(std::fopen(AFileName.c_str(), "wb"), &std::fclose);
  if (!File || std::fwrite(ABytes.data(), 1, ABytes.size(), File.get()) != ABytes.size())
    throw std::runtime_error("cannot write " + AFileName);
}
