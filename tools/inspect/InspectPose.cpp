#include "tools/inspect/InspectPose.h"

#include <charconv>
#include <cmath>
#include <memory>
#include <stdexcept>

#include "character/core/CameraMotion.h"
#include "character/core/MemorySkinTarget.h"
#include "character/core/PmxControllerCore.h"

namespace {

void Vec3(TJsonWriter& J, const char* AKey, const TVector3f& AV) {
  J.Key(AKey);
  J.Floats(AV.V, 3);
}
void Vec3(TJsonWriter& J, const char* AKey, const TVec3f& AV) {
  J.Key(AKey);
  J.Floats(AV.V, 3);
}
// x, y, z, w with w >= 0: q and -q are one rotation, and the reader's mirror flips w's sign.
void Quaternion(TJsonWriter& J, const char* AKey, const TQuaternion& AQ) {
  // 0 - v rather than -v, so that no -0 is printed.
  const float S = AQ.RealPart < 0.0f ? -1.0f : 1.0f;
  auto Signed = [S](float AV) { return S > 0.0f ? AV : 0.0f - AV; };
  const float V[4] = {Signed(AQ.ImagPart.X), Signed(AQ.ImagPart.Y), Signed(AQ.ImagPart.Z),
                      Signed(AQ.RealPart)};
  J.Key(AKey);
  J.Floats(V, 4);
}
void Frame(TJsonWriter& J, double AFrame) {
  J.Key("frame");
  J.Float(static_cast<float>(AFrame));
}

}  // namespace

bool ParseFrameList(std::string_view AText, std::vector<double>& AFrames) {
  AFrames.clear();
  size_t Start = 0;
  while (true) {
    const size_t Comma = AText.find(',', Start);
    const std::string_view Item = AText.substr(
        Start, Comma == std::string_view::npos ? std::string_view::npos : Comma - Start);
    double Value = 0.0;
    const auto [End, Error] = std::from_chars(Item.data(), Item.data() + Item.size(), Value);
    if (Item.empty() || Error != std::errc() || End != Item.data() + Item.size() ||
        !std::isfinite(Value) || Value < 0.0)
      return false;
    AFrames.push_back(Value);
    if (Comma == std::string_view::npos) return true;
    Start = Comma + 1;
  }
}

TQuaternion MatrixRotation(const TMatrix4f& AMatrix) {
  // C[i][j]: the column-vector matrix, the transpose of the row-vector one.
  auto C = [&](int I, int J) { return static_cast<double>(AMatrix[J][I]); };
  const double Trace = C(0, 0) + C(1, 1) + C(2, 2);
  double X, Y, Z, W;
  // Divide by the largest of the four candidates, so that no small root loses precision.
  if (Trace > 0.0) {
    const double S = 2.0 * std::sqrt(Trace + 1.0);
    W = S / 4.0;
    X = (C(2, 1) - C(1, 2)) / S;
    Y = (C(0, 2) - C(2, 0)) / S;
    Z = (C(1, 0) - C(0, 1)) / S;
  } else if (C(0, 0) >= C(1, 1) && C(0, 0) >= C(2, 2)) {
    const double S = 2.0 * std::sqrt(1.0 + C(0, 0) - C(1, 1) - C(2, 2));
    W = (C(2, 1) - C(1, 2)) / S;
    X = S / 4.0;
    Y = (C(0, 1) + C(1, 0)) / S;
    Z = (C(0, 2) + C(2, 0)) / S;
  } else if (C(1, 1) >= C(2, 2)) {
    const double S = 2.0 * std::sqrt(1.0 + C(1, 1) - C(0, 0) - C(2, 2));
    W = (C(0, 2) - C(2, 0)) / S;
    X = (C(0, 1) + C(1, 0)) / S;
    Y = S / 4.0;
    Z = (C(1, 2) + C(2, 1)) / S;
  } else {
    const double S = 2.0 * std::sqrt(1.0 + C(2, 2) - C(0, 0) - C(1, 1));
    W = (C(1, 0) - C(0, 1)) / S;
    X = (C(0, 2) + C(2, 0)) / S;
    Y = (C(1, 2) + C(2, 1)) / S;
    Z = S / 4.0;
  }
  const double L = std::sqrt(X * X + Y * Y + Z * Z + W * W) * (W < 0.0 ? -1.0 : 1.0);
  return TQuaternion{
      {{static_cast<float>(X / L), static_cast<float>(Y / L), static_cast<float>(Z / L)}},
      static_cast<float>(W / L)};
}

namespace {

// One frame's object: the sampled local values and the final pose; with ASkin, the vertices the
// core skinned into it.
void WritePoseFrame(TJsonWriter& J, const TPmx& APmx, const TPmxControllerCore& ACore,
                    double AFrame, const std::vector<TVector3f>& ATranslations,
                    const std::vector<TQuaternion>& ARotations, const TMemorySkinTarget* ASkin) {
  J.BeginObject();
  Frame(J, AFrame);
  J.Key("bones");
  J.BeginArray();
  for (int B = 0; B < APmx.BoneCount(); ++B) {
    const TMatrix4f& G = ACore.BoneGlobalMatrix()[B];
    J.BeginObject();
    J.Key("name");
    J.String(APmx.GetBone(B)->NameJp);
    J.Key("local");
    J.BeginObject();
    Vec3(J, "translation", ATranslations[B]);
    Quaternion(J, "rotation", ARotations[B]);
    J.EndObject();
    J.Key("global");
    J.BeginObject();
    Vec3(J, "position", XYZ3f(G.W));
    Quaternion(J, "rotation", MatrixRotation(G));
    J.EndObject();
    J.EndObject();
  }
  J.EndArray();
  J.Key("morphs");
  J.BeginArray();
  for (int M = 0; M < APmx.MorphCount(); ++M) {
    J.BeginObject();
    J.Key("name");
    J.String(APmx.GetMorph(M)->NameJp);
    J.Key("weight");
    J.Float(ACore.MorphRates()[M]);
    J.EndObject();
  }
  J.EndArray();
  if (ASkin) {
    J.Key("vertices");
    J.BeginArray();
    for (size_t V = 0; 3 * V < ASkin->Positions.size(); ++V) {
      const float* P = &ASkin->Positions[3 * V];
      const float* N = &ASkin->Normals[3 * V];
      const float Values[6] = {P[0], P[1], P[2], N[0], N[1], N[2]};
      J.Floats(Values, 6);
    }
    J.EndArray();
  }
  J.EndObject();
}

// Poses one frame inside a frame bracket and returns the sampled local values.
void PoseFrame(TPmxControllerCore& ACore, double AFrame, std::vector<TVector3f>& ATranslations,
               std::vector<TQuaternion>& ARotations) {
  ACore.BeginFrame();
  ACore.ApplyMotionByFrame(AFrame);
  // Sampled values, before IK and append transforms overwrite them.
  ATranslations = ACore.BoneTranslations();
  ARotations = ACore.BoneRotations();
  ACore.EndFrame();
  // A motion without keys (and a model without physics) leaves nothing pending: pose the rest.
  if (ACore.FrameCount() == 0) ACore.UpdateBoneMatrix();
}

}  // namespace

void WritePoseFrames(TJsonWriter& J, const TPmx& APmx, const TVmd& AVmd,
                     const std::vector<double>& AFrames, bool APhysics, bool ASkinned) {
  // The viewer's own skinning pass writes into plain memory here instead of its vertex buffers.
  std::unique_ptr<TMemorySkinTarget> Skin;
  if (ASkinned) Skin = std::make_unique<TMemorySkinTarget>(APmx.VertexCount());
  J.BeginObject();
  J.Key("frames");
  J.BeginArray();
  std::vector<TVector3f> Translations;
  std::vector<TQuaternion> Rotations;
  if (!APhysics) {
    for (const double F : AFrames) {
      // A fresh core per frame: nothing of an earlier frame's pose (IK results) carries over.
      TPmxControllerCore Core(APmx);
      Core.SetPhysicsEnabled(false);
      Core.SetSkinTarget(Skin.get());
      Core.LoadMotion(AVmd);
      PoseFrame(Core, F, Translations, Rotations);
      WritePoseFrame(J, APmx, Core, F, Translations, Rotations, Skin.get());
    }
  } else {
    // One core played from frame 0 at 30 frames a second through every frame asked for; a frame
    // earlier than the last one starts over.
    std::unique_ptr<TPmxControllerCore> Core;
    double Played = 0.0;
    for (const double F : AFrames) {
      if (!Core || F < Played) {
        Core = std::make_unique<TPmxControllerCore>(APmx);
        // Skinned at every frame played, as in the viewer.
        Core->SetSkinTarget(Skin.get());
        Core->LoadMotion(AVmd);
        PoseFrame(*Core, 0.0, Translations, Rotations);
        Played = 0.0;
      }
      for (double Next = std::floor(Played) + 1.0; Next < F; Next += 1.0)
        PoseFrame(*Core, Next, Translations, Rotations);
      PoseFrame(*Core, F, Translations, Rotations);
      Played = F;
      WritePoseFrame(J, APmx, *Core, F, Translations, Rotations, Skin.get());
    }
  }
  J.EndArray();
  J.EndObject();
}

void WriteCameraFrames(TJsonWriter& J, const TVmd& AVmd, const std::vector<double>& AFrames) {
  if (AVmd.CameraMotions().empty()) throw std::runtime_error("the motion has no camera keys");
  const TCameraMotion Camera(AVmd.CameraMotions());
  J.BeginObject();
  J.Key("frames");
  J.BeginArray();
  for (const double F : AFrames) {
    const TCameraPose P = Camera.Sample(F);
    J.BeginObject();
    Frame(J, F);
    Vec3(J, "eye", P.Eye);
    Vec3(J, "target", P.Target);
    Vec3(J, "up", P.Up);
    J.Key("fovY");
    J.Float(P.FovY);
    J.EndObject();
  }
  J.EndArray();
  J.EndObject();
}
