// The default dance: twelve seconds at 120 beats per minute in three sections (swinging arms,
// waving over the head, a turn), sampled into keys every three frames; plus blinks, a wink, a
// blush, a laugh, a head tilt and moving eye highlights. Every curve has a whole number of periods
// in the loop, so the last frame meets the first. The turn is four eased keys; for two seconds the
// leg IK is off and the legs follow their own keys (knee lifts).
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tools/demo/DemoCharacter.h"

namespace {

constexpr float kPi = 3.14159265358979f;

struct TQ {
  float X = 0, Y = 0, Z = 0, W = 1;
};
TQ Mul(TQ A, TQ B) {  // A (x) B: B first, then A
  return TQ{
      A.W * B.X + A.X * B.W + A.Y * B.Z - A.Z * B.Y, A.W * B.Y + A.Y * B.W + A.Z * B.X - A.X * B.Z,
      A.W * B.Z + A.Z * B.W + A.X * B.Y - A.Y * B.X, A.W * B.W - A.X * B.X - A.Y * B.Y - A.Z * B.Z};
}
TQ AxisAngle(float AX, float AY, float AZ, float AAngle) {
  const float L = std::sqrt(AX * AX + AY * AY + AZ * AZ);
  const float S = std::sin(AAngle / 2) / L;
  return TQ{AX * S, AY * S, AZ * S, std::cos(AAngle / 2)};
}
// Z first, then X, then Y (fixed axes), like the viewer's own Euler order.
TQ EulerYXZ(float AYaw, float APitch, float ARoll) {
  return Mul(AxisAngle(0, 1, 0, AYaw), Mul(AxisAngle(1, 0, 0, APitch), AxisAngle(0, 0, 1, ARoll)));
}

float SmoothStep(float E0, float E1, float X) {
  const float T = std::clamp((X - E0) / (E1 - E0), 0.0f, 1.0f);
  return T * T * (3 - 2 * T);
}

// How much of each section shows at time T (seconds): A 0-4 s, B 4-8 s, C 8-12 s, with half a
// second of crossfade, and C fading back into A at the loop's end.
void SectionWeights(float T, float& A, float& B, float& C) {
  const float ToB = SmoothStep(3.75f, 4.25f, T);
  const float ToC = SmoothStep(7.75f, 8.25f, T);
  const float BackToA = SmoothStep(11.4f, 12.0f, T);
  C = ToC * (1 - BackToA);
  B = ToB * (1 - ToC);
  A = 1 - B - C;
}

struct TPose {
  float CenterX, CenterDip, CenterYaw;
  float UpperYaw, UpperRoll, UpperPitch;
  float LowerRoll;
  float HeadYaw, HeadRoll, HeadPitch;
  float ArmRaise[2], ArmSwing[2], ElbowBend[2], WristRoll[2];
  float FootLift[2], FootOut[2];
  float KneeLift[2];  // 0..1, only while the leg IK is off
};

// AIKOff: the legs are keyed by hand, so the hips keep still above the feet (no sway, no turn)
// and the free leg lifts its knee instead of stepping out.
TPose PoseAt(float T, bool AIKOff) {
  const float Beat = T * 2.0f;              // 120 beats per minute
  const float Sway = std::sin(kPi * Beat);  // one side to the other in two beats
  const float Bounce = 0.5f - 0.5f * std::cos(2 * kPi * Beat);  // down between the beats
  float WA, WB, WC;
  SectionWeights(T, WA, WB, WC);

  TPose P{};
  P.CenterX = 0.045f * Sway;
  P.CenterDip = 0.030f * Bounce + 0.02f * WC;
  P.CenterYaw = 0.16f * Sway * (1 - WC);
  P.UpperYaw = -0.5f * P.CenterYaw + 0.12f * WB * std::sin(kPi * Beat * 0.5f);
  P.UpperRoll = 0.07f * std::sin(kPi * Beat + 0.6f) + 0.05f * WB * Sway;
  P.UpperPitch = 0.05f * Bounce - 0.04f * WC;
  P.LowerRoll = -0.05f * Sway;
  P.HeadYaw = 0.28f * std::sin(kPi * Beat * 0.5f) * (1 - 0.6f * WC);
  P.HeadRoll = 0.12f * std::sin(kPi * Beat + 1.2f);
  P.HeadPitch = 0.07f * Bounce - 0.05f;

  for (int K = 0; K < 2; ++K) {
    const float S = K == 0 ? 1.0f : -1.0f;
    // A: arms swing up and down in turn; B: both up over the head, waving; C: out to the sides.
    const float RaiseA = 0.55f + 0.45f * S * Sway;
    const float RaiseB = 2.35f + 0.22f * std::sin(kPi * Beat + (K == 0 ? 0.0f : kPi));
    const float RaiseC = 1.0f + 0.10f * Bounce + 0.30f * S * Sway;  // a wave along both arms
    P.ArmRaise[K] = WA * RaiseA + WB * RaiseB + WC * RaiseC;
    P.ArmSwing[K] = WA * (-0.35f * S * Sway) + WB * (-0.15f) + WC * (-0.25f);
    P.ElbowBend[K] = WA * (0.9f + 0.35f * S * Sway) + WB * (0.35f + 0.25f * Bounce) +
                     WC * (0.3f + 0.3f * Bounce);
    P.WristRoll[K] = 0.25f * std::sin(kPi * Beat + 0.5f);
    // Step-touch: the foot that carries no weight lifts and reaches out a little.
    const float Free = std::max(0.0f, -S * Sway);
    P.FootLift[K] = (0.045f * (1 - WC) + 0.02f * WC) * Free * Free;
    P.FootOut[K] = S * 0.03f * Free * (WA + WC);
    P.KneeLift[K] = 0;
    if (AIKOff) {
      P.FootLift[K] = P.FootOut[K] = 0;
      P.KneeLift[K] = Free;
    }
  }
  if (AIKOff) P.CenterX = P.CenterYaw = P.LowerRoll = 0;
  return P;
}

// The thigh's and the knee's turn about X that lower the hip by ADip while the ankle stays where it
// was (the knee goes forward, the shin folds back). The leg in the Y-Z plane as the model has it:
// hip at height 0.80, knee 0.44 (1.8 cm forward), ankle 0.085.
void LegBend(float ADip, float& AThigh, float& AKnee) {
  const float TY = 0.44f - 0.80f, TZ = 0.018f, SY = 0.085f - 0.44f, SZ = -0.018f;
  const float L1 = std::hypot(TY, TZ), L2 = std::hypot(SY, SZ);
  const float PY = TY + SY + ADip, PZ = TZ + SZ;  // the ankle seen from the lowered hip
  const float D = std::hypot(PY, PZ);
  // The angle between thigh and shin, at rest and wanted (law of cosines).
  const float Rest = std::acos((TY * SY + TZ * SZ) / (L1 * L2));
  const float Wanted =
      std::acos(std::clamp((D * D - L1 * L1 - L2 * L2) / (2 * L1 * L2), -1.0f, 1.0f));
  AKnee = Wanted - Rest;
  const float C = std::cos(AKnee), S = std::sin(AKnee);
  const float QY = TY + SY * C - SZ * S, QZ = TZ + SY * S + SZ * C;  // the ankle after the knee
  AThigh = std::atan2(PZ, PY) - std::atan2(QZ, QY);
}

TVector4f ToV4(TQ Q) {
  return TVector4f{{Q.X, Q.Y, Q.Z, Q.W}};
}
TVector3f V(float X, float Y, float Z) {
  return TVector3f{{X, Y, Z}};
}

}  // namespace

TVmdBuilder BuildDemoMotion() {
  TVmdBuilder M;
  M.ModelName = "クエンロールちゃん";
  const float ArmDown = 50.0f * kPi / 180.0f;
  const char* Sides[2][7] = {{"左肩", "左腕", "左ひじ", "左手首", "左足ＩＫ", "左足", "左ひざ"},
                             {"右肩", "右腕", "右ひじ", "右手首", "右足ＩＫ", "右足", "右ひざ"}};
  const char* Legs[2][3] = {{"左足", "左ひざ", "左足首"}, {"右足", "右ひざ", "右足首"}};
  for (int F = 0; F <= kDemoMotionFrames; F += 3) {
    const uint32_t Frame = static_cast<uint32_t>(F);
    const bool IKOff = Frame >= kDemoIKOffFrom && Frame <= kDemoIKOffTo;
    const TPose P = PoseAt(static_cast<float>(F) / 30.0f, IKOff);
    M.AddBoneKey("センター", Frame, V(P.CenterX, -P.CenterDip, 0),
                 ToV4(AxisAngle(0, 1, 0, P.CenterYaw)));
    M.AddBoneKey("上半身", Frame, V(0, 0, 0),
                 ToV4(EulerYXZ(P.UpperYaw * 0.6f, P.UpperPitch, P.UpperRoll * 0.6f)));
    M.AddBoneKey("上半身2", Frame, V(0, 0, 0),
                 ToV4(EulerYXZ(P.UpperYaw * 0.4f, 0, P.UpperRoll * 0.4f)));
    M.AddBoneKey("下半身", Frame, V(0, 0, 0), ToV4(EulerYXZ(0, 0, P.LowerRoll)));
    M.AddBoneKey("頭", Frame, V(0, 0, 0), ToV4(EulerYXZ(P.HeadYaw, P.HeadPitch, P.HeadRoll)));
    for (int K = 0; K < 2; ++K) {
      const float S = K == 0 ? 1.0f : -1.0f;
      M.AddBoneKey(Sides[K][0], Frame, V(0, 0, 0),
                   ToV4(AxisAngle(0, 0, 1, S * 0.06f * std::sin(kPi * F / 15.0f))));
      // Raise about Z in the body's plane (her left arm turns counter-clockwise seen from the
      // front), after swinging it forward or back about X.
      M.AddBoneKey(
          Sides[K][1], Frame, V(0, 0, 0),
          ToV4(Mul(AxisAngle(0, 0, 1, S * P.ArmRaise[K]), AxisAngle(1, 0, 0, P.ArmSwing[K]))));
      // The elbow folds the forearm forward: about the axis arm x forward.
      const float Dx = S * std::cos(ArmDown), Dy = -std::sin(ArmDown);
      M.AddBoneKey(Sides[K][2], Frame, V(0, 0, 0), ToV4(AxisAngle(Dy, -Dx, 0, P.ElbowBend[K])));
      M.AddBoneKey(Sides[K][3], Frame, V(0, 0, 0), ToV4(AxisAngle(Dx, Dy, 0, P.WristRoll[K])));
      M.AddBoneKey(Sides[K][4], Frame,
                   V(P.FootOut[K], P.FootLift[K], 0.012f * P.FootLift[K] / 0.045f), ToV4(TQ{}));
      if (!IKOff) continue;
      // The standing leg bends just enough for the hip's dip; the free one lifts its knee on top.
      // The ankle turns back what thigh and knee turned, so the foot stays level.
      float Thigh = 0, Knee = 0;
      LegBend(P.CenterDip, Thigh, Knee);
      Thigh -= 0.45f * P.KneeLift[K];
      Knee += 0.9f * P.KneeLift[K];
      M.AddBoneKey(Legs[K][0], Frame, V(0, 0, 0), ToV4(AxisAngle(1, 0, 0, Thigh)));
      M.AddBoneKey(Legs[K][1], Frame, V(0, 0, 0), ToV4(AxisAngle(1, 0, 0, Knee)));
      M.AddBoneKey(Legs[K][2], Frame, V(0, 0, 0), ToV4(AxisAngle(1, 0, 0, -(Thigh + Knee))));
    }
  }
  // Both span ends fall on a beat, where the feet stand and the hips are still: the legs' own keys
  // and the IK's solution are the same pose there, so switching shows no jump.
  const std::vector<std::pair<std::string, bool>> IKOn = {{"左足ＩＫ", true}, {"右足ＩＫ", true}},
                                                  IKOff = {{"左足ＩＫ", false},
                                                           {"右足ＩＫ", false}};
  M.AddShowIKKey(0, true, IKOn);
  M.AddShowIKKey(kDemoIKOffFrom, true, IKOff);
  M.AddShowIKKey(kDemoIKOffTo, true, IKOn);

  // One full turn in section C (8.6 s to 10.2 s) in three thirds: eased in, steady, eased out.
  // Each key's curve shapes the way from the key before it.
  const uint32_t TurnFrom = 258, TurnStep = 16;
  M.AddBoneKey("全ての親", 0);
  M.AddBoneKey("全ての親", TurnFrom);
  const uint8_t Curves[3][4] = {{64, 0, 96, 96}, {20, 20, 107, 107}, {31, 31, 64, 127}};
  for (int K = 1; K <= 3; ++K) {
    const int I = M.AddBoneKey("全ての親", TurnFrom + K * TurnStep, V(0, 0, 0),
                               ToV4(AxisAngle(0, 1, 0, 2 * kPi * static_cast<float>(K) / 3)));
    const uint8_t* C = Curves[K - 1];
    SetVmdBoneCurve(M.Motions[I], bcRotation, C[0], C[1], C[2], C[3]);
  }
  // A full turn is the start's rotation again; kept as such to the loop's end.
  M.AddBoneKey("全ての親", kDemoMotionFrames, V(0, 0, 0), ToV4(AxisAngle(0, 1, 0, 2 * kPi)));
  // Blinks: a quick close and open every two to three seconds.
  M.AddMorphKey("まばたき", 0, 0.0f);
  for (uint32_t F : {40u, 112u, 190u, 262u, 318u}) {
    M.AddMorphKey("まばたき", F, 0.0f);
    M.AddMorphKey("まばたき", F + 3, 1.0f);
    M.AddMorphKey("まばたき", F + 4, 1.0f);
    M.AddMorphKey("まばたき", F + 7, 0.0f);
  }
  M.AddMorphKey("まばたき", kDemoMotionFrames, 0.0f);
  // A wink while she waves, keyed by the morph's name cut to the file's 15 bytes.
  for (auto [F, W] : {std::pair{0u, 0.0f},
                      {150u, 0.0f},
                      {155u, 1.0f},
                      {165u, 1.0f},
                      {171u, 0.0f},
                      {static_cast<unsigned>(kDemoMotionFrames), 0.0f}})
    M.AddMorphKey(kDemoLongMorphName, F, W);
  // A blush while she waves.
  for (auto [F, W] : {std::pair{0u, 0.0f},
                      {130u, 0.0f},
                      {160u, 0.9f},
                      {220u, 0.9f},
                      {250u, 0.0f},
                      {static_cast<unsigned>(kDemoMotionFrames), 0.0f}})
    M.AddMorphKey("照れ", F, W);
  // The other morph kinds: her cheeks flush with the blush (a material morph), a laugh after the
  // wave (a group: blink and mouth), a head tilt at the end of each of the first two sections (a
  // bone morph), and the eyes' highlights drifting to and fro all along (a UV morph).
  const unsigned End = kDemoMotionFrames;
  const std::pair<const char*, std::vector<std::pair<unsigned, float>>> Keys[] = {
      {kDemoFlushMorph, {{0, 0}, {130, 0}, {160, 1}, {220, 1}, {250, 0}, {End, 0}}},
      {kDemoLaughMorph, {{0, 0}, {226, 0}, {232, 1}, {246, 1}, {254, 0}, {End, 0}}},
      {kDemoTiltMorph,
       {{0, 0},
        {90, 0},
        {100, 1},
        {114, 1},
        {124, 0},
        {200, 0},
        {208, 1},
        {222, 1},
        {232, 0},
        {End, 0}}},
      {kDemoHighlightMorph, {{0, 0}, {60, 1}, {120, 0}, {180, 1}, {240, 0}, {300, 1}, {End, 0}}},
  };
  for (const auto& [Name, List] : Keys)
    for (auto [F, W] : List) M.AddMorphKey(Name, F, W);
  return M;
}
