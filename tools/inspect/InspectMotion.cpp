// The inspector's motion document.
#include "tools/inspect/InspectMotion.h"

#include <algorithm>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "tools/inspect/InspectDocument.h"

namespace {

template <size_t N>
std::string KeyName(const char (&AField)[N]) {
  return DecodeVmdName(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(AField), N));
}

// Names in order of first appearance, with their key counts.
void NameCounts(TJsonWriter& J, const char* AKey, const std::vector<std::string>& ANames) {
  std::vector<std::pair<std::string, int>> Counts;
  for (const std::string& Name : ANames) {
    auto It = std::find_if(Counts.begin(), Counts.end(),
                           [&](const auto& AEntry) { return AEntry.first == Name; });
    if (It == Counts.end())
      Counts.emplace_back(Name, 1);
    else
      ++It->second;
  }
  J.Key(AKey);
  J.BeginArray();
  for (const auto& [Name, Count] : Counts) {
    J.BeginObject();
    StringMember(J, "name", Name);
    IntMember(J, "keyCount", Count);
    J.EndObject();
  }
  J.EndArray();
}

// The camera, light, self-shadow and show/IK keys, each as read.
void WriteVmdSceneKeys(TJsonWriter& J, const TVmd& AVmd) {
  J.Key("cameraKeys");
  J.BeginArray();
  for (const TVmdCameraMotion& M : AVmd.CameraMotions()) {
    const TVector3f Target = M.Target, Rotation = M.Rotation;
    J.BeginObject();
    IntMember(J, "frame", M.FrameNum);
    FloatMember(J, "distance", M.Distance);
    Vec(J, "target", Target);
    Vec(J, "rotation", Rotation);
    IntMember(J, "viewAngle", M.ViewAngle);
    IntMember(J, "perspective", M.Perspective);
    J.Key("interpolation");
    J.BeginArray(true);
    for (uint8_t B : M.Interpolation) J.Int(B);
    J.EndArray();
    J.EndObject();
  }
  J.EndArray();
  J.Key("lightKeys");
  J.BeginArray();
  for (const TVmdLightMotion& M : AVmd.LightMotions()) {
    const TVector3f Color = M.Color, Direction = M.Direction;
    J.BeginObject();
    IntMember(J, "frame", M.FrameNum);
    Vec(J, "color", Color);
    Vec(J, "direction", Direction);
    J.EndObject();
  }
  J.EndArray();
  J.Key("selfShadowKeys");
  J.BeginArray();
  for (const TVmdSelfShadowMotion& M : AVmd.SelfShadowMotions()) {
    J.BeginObject();
    IntMember(J, "frame", M.FrameNum);
    IntMember(J, "mode", M.Mode);
    FloatMember(J, "distance", M.Distance);
    J.EndObject();
  }
  J.EndArray();
  J.Key("showIKKeys");
  J.BeginArray();
  for (const TVmdShowIKMotion& M : AVmd.ShowIKMotions()) {
    J.BeginObject();
    IntMember(J, "frame", M.FrameNum);
    J.Key("show");
    J.Bool(M.Show);
    J.Key("ik");
    J.BeginArray();
    for (const TVmdIKState& S : M.IK) {
      J.BeginObject();
      StringMember(J, "name", KeyName(S.Name));
      J.Key("enabled");
      J.Bool(S.Enabled);
      J.EndObject();
    }
    J.EndArray();
    J.EndObject();
  }
  J.EndArray();
}

}  // namespace

void WriteVmd(TJsonWriter& J, const TVmd& AVmd, bool AKeys) {
  std::vector<std::string> BoneNames, MorphNames;
  for (int I = 0; I < AVmd.MotionCount(); ++I)
    BoneNames.push_back(KeyName(AVmd.GetMotion(I)->BoneName));
  for (int I = 0; I < AVmd.SkinMotionCount(); ++I)
    MorphNames.push_back(KeyName(AVmd.GetSkinMotion(I)->MorphName));

  J.BeginObject();
  StringMember(J, "format", "vmd");
  IntMember(J, "frameCount", AVmd.FrameCount());
  IntMember(J, "boneKeyCount", AVmd.MotionCount());
  IntMember(J, "morphKeyCount", AVmd.SkinMotionCount());
  NameCounts(J, "bones", BoneNames);
  NameCounts(J, "morphs", MorphNames);
  IntMember(J, "cameraKeyCount", static_cast<int64_t>(AVmd.CameraMotions().size()));
  IntMember(J, "cameraFrameCount", AVmd.CameraFrameCount());
  IntMember(J, "lightKeyCount", static_cast<int64_t>(AVmd.LightMotions().size()));
  IntMember(J, "selfShadowKeyCount", static_cast<int64_t>(AVmd.SelfShadowMotions().size()));
  IntMember(J, "showIKKeyCount", static_cast<int64_t>(AVmd.ShowIKMotions().size()));
  std::vector<std::string> IKNames;
  for (const TVmdShowIKMotion& M : AVmd.ShowIKMotions())
    for (const TVmdIKState& S : M.IK) IKNames.push_back(KeyName(S.Name));
  NameCounts(J, "ikBones", IKNames);
  if (AKeys) {
    J.Key("boneKeys");
    J.BeginArray();
    for (int I = 0; I < AVmd.MotionCount(); ++I) {
      const TVmdMotion& M = *AVmd.GetMotion(I);
      const TVector3f Position = M.Position;
      const TVector4f Rotation = M.Rotation;
      J.BeginObject();
      StringMember(J, "name", BoneNames[I]);
      IntMember(J, "frame", M.FrameNum);
      Vec(J, "position", Position);
      Vec(J, "rotation", Rotation);
      J.Key("interpolation");
      J.BeginArray(true);
      for (uint8_t B : M.Interpolation) J.Int(B);
      J.EndArray();
      J.EndObject();
    }
    J.EndArray();
    J.Key("morphKeys");
    J.BeginArray();
    for (int I = 0; I < AVmd.SkinMotionCount(); ++I) {
      const TVmdSkinMotion& M = *AVmd.GetSkinMotion(I);
      J.BeginObject();
      StringMember(J, "name", MorphNames[I]);
      IntMember(J, "frame", M.FrameNum);
      FloatMember(J, "weight", M.Weight);
      J.EndObject();
    }
    J.EndArray();
    WriteVmdSceneKeys(J, AVmd);
  }
  J.EndObject();
}

void WriteVpd(TJsonWriter& J, const TVpdPose& APose) {
  auto Text = [](const std::string& ACp932) {
    return Cp932ToUtf8({reinterpret_cast<const uint8_t*>(ACp932.data()), ACp932.size()});
  };
  J.BeginObject();
  StringMember(J, "format", "vpd");
  StringMember(J, "modelName", Text(APose.ModelName));
  IntMember(J, "boneCount", static_cast<int64_t>(APose.Bones.size()));
  IntMember(J, "morphCount", static_cast<int64_t>(APose.Morphs.size()));
  J.Key("bones");
  J.BeginArray();
  for (const TVpdBone& B : APose.Bones) {
    J.BeginObject();
    StringMember(J, "name", Text(B.Name));
    Vec(J, "position", B.Position);
    Vec(J, "rotation", B.Rotation);
    J.EndObject();
  }
  J.EndArray();
  J.Key("morphs");
  J.BeginArray();
  for (const TVpdMorph& M : APose.Morphs) {
    J.BeginObject(true);
    StringMember(J, "name", Text(M.Name));
    FloatMember(J, "weight", M.Weight);
    J.EndObject();
  }
  J.EndArray();
  J.EndObject();
}
