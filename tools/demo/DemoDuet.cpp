// The duet around the demo stage: the lamps' sweep, the default dance mirrored for the second
// dancer, the scene file that names them all, and the writing of these files.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "tools/demo/DemoStage.h"

namespace {

// A lead byte of a double-byte character in code page 932.
bool IsCp932Lead(unsigned char AByte) {
  return (AByte >= 0x81 && AByte <= 0x9F) || (AByte >= 0xE0 && AByte <= 0xFC);
}

// The bytes of a code page 932 field up to its first NUL.
std::string FieldText(const char* AField, std::size_t ASize) {
  return std::string(AField, strnlen(AField, ASize));
}

template <std::size_t N>
void SetField(char (&AField)[N], const std::string& AText) {
  std::memset(AField, 0, N);
  std::memcpy(AField, AText.data(), std::min(AText.size(), N));
}

}  // namespace

TVmdBuilder BuildDemoStageMotion() {
  TVmdBuilder M;
  M.ModelName = "クエンロール小ステージ";
  // A key every one and a half seconds; each lamp pans out, back through the middle and out to
  // the other side, a step behind its neighbour, so that the beams cross and part over the dance.
  // The pattern has a whole number of periods in the dance, so the last key meets the first.
  const int Step = 45;
  const float Pattern[4] = {0.0f, 1.0f, 0.0f, -1.0f};
  const float Amplitude[kStageLampCount] = {0.45f, 0.3f, -0.3f, -0.45f};  // radians
  for (int I = 0; I < kStageLampCount; ++I)
    for (int F = 0, N = 0; F <= kDemoMotionFrames; F += Step, ++N) {
      const float Pan = Amplitude[I] * Pattern[(N + I) % 4];
      const int K = M.AddBoneKey(StageLampBone(I), static_cast<uint32_t>(F), TVector3f{{0, 0, 0}},
                                 TVector4f{{0, std::sin(Pan / 2), 0, std::cos(Pan / 2)}});
      // Each pan eases out of one key and into the next, like a lamp on a motor.
      SetVmdBoneCurve(M.Motions[K], bcRotation, 48, 10, 80, 117);
    }
  return M;
}

std::string SwapLeftRightCp932(std::string_view ACp932) {
  const std::string Left = Utf8ToCp932("左"), Right = Utf8ToCp932("右");
  std::string Result(ACp932);
  for (std::size_t I = 0; I < Result.size();) {
    if (!IsCp932Lead(static_cast<unsigned char>(Result[I])) || I + 1 >= Result.size()) {
      ++I;
      continue;
    }
    const std::string_view Pair(Result.data() + I, 2);
    if (Pair == Left)
      Result.replace(I, 2, Right);
    else if (Pair == Right)
      Result.replace(I, 2, Left);
    I += 2;
  }
  return Result;
}

TVmdBuilder MirrorMotion(const TVmdBuilder& AMotion) {
  TVmdBuilder R = AMotion;
  for (TVmdMotion& K : R.Motions) {
    SetField(K.BoneName, SwapLeftRightCp932(FieldText(K.BoneName, sizeof K.BoneName)));
    // The mirror S negates X. A position p becomes S p. A turn R by angle a about axis n becomes
    // S R S: it keeps the axis S n = (-nx, ny, nz) fixed but, a mirror reversing handedness, turns
    // by -a about it. So (sin(a/2) n, cos(a/2)) becomes (-sin(a/2) S n, cos(a/2)), that is
    // (x, y, z, w) -> (x, -y, -z, w): a nod (about X) stays, a turn (Y) and a tilt (Z) reverse.
    TVector3f P = K.Position;
    TVector4f Q = K.Rotation;
    P.X = -P.X;
    Q.Y = -Q.Y;
    Q.Z = -Q.Z;
    K.Position = P;
    K.Rotation = Q;
  }
  for (TVmdShowIKMotion& K : R.ShowIKMotions)
    for (TVmdIKState& S : K.IK)
      SetField(S.Name, SwapLeftRightCp932(FieldText(S.Name, sizeof S.Name)));
  return R;
}

std::string BuildDuetSceneText() {
  // Paths relative to the scene file's folder, which is mmd/.
  auto Inside = [](const char* APath) {
    const std::string Prefix = "mmd/";
    const std::string Path = APath;
    return Path.starts_with(Prefix) ? Path.substr(Prefix.size()) : Path;
  };
  const std::string Spacing = std::to_string(static_cast<int>(kDuetSpacing)) + ".0";
  std::string T;
  T += "# The default character and her mirror image dancing a duet on the demo stage.\n";
  T += "camera = \"" + Inside(kDemoCameraPath) + "\"\n\n";
  T += "[[model]]\n";
  T += "file = \"" + Inside(kDemoModelPath) + "\"\n";
  T += "motions = [\"" + Inside(kDemoMotionPath) + "\"]\n";
  T += "at = [-" + Spacing + ", 0.0, 0.0]\n\n";
  T += "[[model]]\n";
  T += "file = \"" + Inside(kDemoModelPath) + "\"\n";
  T += "motions = [\"" + Inside(kDemoMirrorMotionPath) + "\"]\n";
  T += "at = [" + Spacing + ", 0.0, 0.0]\n\n";
  T += "[[stage]]\n";
  T += "file = \"" + Inside(kDemoStagePath) + "\"\n";
  T += "motions = [\"" + Inside(kDemoStageMotionPath) + "\"]\n";
  return T;
}

bool WriteDemoStageAssets(const std::string& AOutputFolder, std::string& AError) {
  namespace fs = std::filesystem;
  auto Write = [&](const std::string& ARelative, const TBytes& ABytes) {
    return WriteDemoFile(AOutputFolder, ARelative, ABytes, AError);
  };
  try {
    const fs::path StageFolder = fs::path(kDemoStagePath).parent_path();
    for (const TDemoTexture& T : BuildDemoStageTextures())
      if (!Write((StageFolder / T.Path).string(), T.Bytes)) return false;
    if (!Write(kDemoStagePath, BuildDemoStage().Build())) return false;
    if (!Write(kDemoStageMotionPath, BuildDemoStageMotion().Build())) return false;
    if (!Write(kDemoMirrorMotionPath, MirrorMotion(BuildDemoMotion()).Build())) return false;
    const std::string Scene = BuildDuetSceneText();
    if (!Write(kDemoDuetScenePath, TBytes(Scene.begin(), Scene.end()))) return false;
  } catch (const std::exception& E) {
    AError = E.what();
    return false;
  }
  return true;
}
