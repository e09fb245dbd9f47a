// What a real dance adds to plain keys: eased segments per channel, IK chains switched off and on,
// the model hidden and shown, names cut at 15 bytes, and one skinning per frame.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/character/CoreFixture.h"

namespace {

// The easing curve evaluated independently of the viewer's solver: x(s) = t by bisection in long
// double, then y(s), for control bytes as stored.
double EasedFraction(int AX1, int AY1, int AX2, int AY2, double AT) {
  const long double X1 = AX1 / 127.0L, Y1 = AY1 / 127.0L, X2 = AX2 / 127.0L, Y2 = AY2 / 127.0L;
  auto Bez = [](long double A, long double B, long double S) {
    const long double R = 1 - S;
    return 3 * R * R * S * A + 3 * R * S * S * B + S * S * S;
  };
  long double Lo = 0, Hi = 1;
  for (int I = 0; I < 200; ++I) {
    const long double Mid = (Lo + Hi) / 2;
    (Bez(X1, X2, Mid) < AT ? Lo : Hi) = Mid;
  }
  return static_cast<double>(Bez(Y1, Y2, (Lo + Hi) / 2));
}

}  // namespace

// Each translation axis follows its own curve and the rotation its own; the curve stored on the
// later key shapes the way to it, the ramp before the first key stays linear.
TEST(MotionCurves, EachChannelFollowsTheLaterKeysCurve) {
  TPmxBuilder B;
  const int Bone = B.AddBone("センター", NewVector3f(0, 0, 0));
  TVmdBuilder M;
  M.AddBoneKey("センター", 10, NewVector3f(1, 0, 0));
  const int Eased =
      M.AddBoneKey("センター", 20, NewVector3f(3, 4, 6), AsVector4(TurnAbout(0, 1, 0, 1.2f)));
  // X eases in, Y eases out, Z stays linear, the rotation eases in and out.
  SetVmdBoneCurve(M.Motions[Eased], bcX, 100, 10, 120, 60);
  SetVmdBoneCurve(M.Motions[Eased], bcY, 10, 100, 60, 120);
  SetVmdBoneCurve(M.Motions[Eased], bcRotation, 90, 0, 37, 127);
  // A curve on the first key must not shape the ramp before it.
  SetVmdBoneCurve(M.Motions[0], bcX, 127, 0, 127, 0);
  for (bool Reference : {false, true}) {
    TCoreRig Rig(B, &M, Reference);
    for (double Frame : {12.0, 15.0, 17.5, 19.9}) {
      SCOPED_TRACE(testing::Message() << "frame " << Frame << (Reference ? " reference" : ""));
      Rig.Core->ApplyMotionByFrame(Frame);
      const double T = (Frame - 10.0) / 10.0;
      const TVector3f P = Rig.Core->BoneTranslations()[Bone];
      EXPECT_NEAR(P.X, 1.0 + 2.0 * EasedFraction(100, 10, 120, 60, T), 2e-6);
      EXPECT_NEAR(P.Y, 4.0 * EasedFraction(10, 100, 60, 120, T), 4e-6);
      EXPECT_NEAR(P.Z, 6.0 * T, 6e-6);
      // Identity to 1.2 rad about Y: the angle grows with the rotation's fraction.
      const float Angle = static_cast<float>(1.2 * EasedFraction(90, 0, 37, 127, T));
      EXPECT_TRUE(SameTurn(Rig.Core->BoneRotations()[Bone], TurnAbout(0, 1, 0, Angle), 2e-6f));
    }
    // At a key the key's own values, exactly; before the first key the linear ramp from rest.
    Rig.Core->ApplyMotionByFrame(20.0);
    const TVector3f KeyPosition = M.Motions[Eased].Position;  // packed record: copied out
    EXPECT_EQ(Rig.Core->BoneTranslations()[Bone].Y, KeyPosition.Y);
    Rig.Core->ApplyMotionByFrame(4.0);
    EXPECT_FLOAT_EQ(Rig.Core->BoneTranslations()[Bone].X, 5.0f / 11.0f);
  }
}

namespace {

// A leg whose IK bone pulls the ankle forward; the knee is the only link.
struct TSwitchedLeg {
  TPmxBuilder B;
  TVmdBuilder M;
  int Thigh, Knee, Ankle, IK;
  TSwitchedLeg() {
    Thigh = B.AddBone("右足", NewVector3f(0, 2, 0));
    Knee = B.AddBone("右ひざ", NewVector3f(0, 1, 0), Thigh);
    Ankle = B.AddBone("右足首", NewVector3f(0, 0, 0), Knee);
    IK = B.AddBone("右足ＩＫ", NewVector3f(0, 0, 0));
    B.MakeIK(IK, Ankle, 40, 1.0f);
    B.AddIKLink(IK, Knee);
    B.AddIKLink(IK, Thigh);
    M.AddBoneKey("右足ＩＫ", 0, NewVector3f(0, 0.3f, 0.6f));
    // The knee keyed by hand at a small bend, which IK overrides while it runs.
    M.AddBoneKey("右ひざ", 0, NewVector3f(0, 0, 0), AsVector4(TurnAbout(1, 0, 0, 0.1f)));
    M.AddBoneKey("右ひざ", 100, NewVector3f(0, 0, 0), AsVector4(TurnAbout(1, 0, 0, 0.1f)));
    M.AddShowIKKey(10, true, {{"右足ＩＫ", false}});
    M.AddShowIKKey(20, false, {});
    M.AddShowIKKey(30, true, {{"右足ＩＫ", true}});
  }
};

}  // namespace

// From a show/IK key's frame on (a step, no blending) the named chain runs or not; a chain that is
// off leaves its links as the keys put them; "show" hides and shows the model.
TEST(MotionSwitches, IKChainsAndVisibilityFollowTheShowIKKeys) {
  TSwitchedLeg Leg;
  for (bool Reference : {false, true}) {
    TCoreRig Rig(Leg.B, &Leg.M, Reference);
    const TQuaternion Keyed = TurnAbout(1, 0, 0, 0.1f);
    struct {
      double Frame;
      bool IK, Visible;
    } Cases[] = {{0, true, true},    {9.99, true, true},   {10, false, true}, {15.5, false, true},
                 {20, false, false}, {29.5, false, false}, {30, true, true},  {60, true, true}};
    for (const auto& C : Cases) {
      SCOPED_TRACE(testing::Message() << "frame " << C.Frame << (Reference ? " reference" : ""));
      Rig.Core->ApplyMotionByFrame(C.Frame);
      EXPECT_EQ(Rig.Core->IKEnabled(Leg.IK), C.IK);
      EXPECT_EQ(Rig.Core->Visible(), C.Visible);
      const float Reach = Distance3f(Rig.BonePosition(Leg.Ankle), Rig.BonePosition(Leg.IK));
      if (C.IK) {
        EXPECT_LT(Reach, 1e-3f);
      } else {
        EXPECT_TRUE(SameTurn(Rig.Core->BoneRotations()[Leg.Knee], Keyed));
        EXPECT_GT(Reach, 0.1f);
      }
    }
  }
}

// A name longer than 15 bytes of code page 932 arrives cut, possibly inside a two-byte character:
// the exact name wins, then the first model name whose encoding starts with the 15 bytes. Shorter
// names never match by prefix.
TEST(MotionNames, KeysNamedByTheirFifteenBytePrefixFindLongNames) {
  TPmxBuilder B;
  B.AddVertex(NewVector3f(0, 0, 0));
  const int Long = B.AddMorph("ABCDEFGHIJKLMNOPQ", mkVertex);     // ASCII, cut at a boundary
  const int Exact = B.AddMorph("ABCDEFGHIJKLMNO", mkVertex);      // exactly the 15 bytes
  const int Kana = B.AddMorph("あいうえおかきくけこ", mkVertex);  // 20 bytes, cut inside く
  const int Short = B.AddMorph("まばたきL", mkVertex);
  const int LongBone = B.AddBone("左人差し指先端の補助", NewVector3f(0, 1, 0));  // 20 bytes
  for (int Morph : {Long, Exact, Kana, Short})
    B.AddVertexMorphOffset(Morph, 0, NewVector3f(1, 0, 0));

  TVmdBuilder M;
  M.AddMorphKey("ABCDEFGHIJKLMNOPQ", 0, 0.25f);  // stored cut: equals the exact morph's name
  M.AddMorphKey("あいうえおかきくけこ", 0, 0.5f);
  M.AddMorphKey("ABCDEFGHIJKLMN", 0, 0.75f);  // 14 bytes: a prefix, but no match
  M.AddBoneKey("左人差し指先端の補助", 0, NewVector3f(0, 2, 0));
  // The cut really falls inside a character.
  ASSERT_EQ(Utf8ToCp932("あいうえおかきくけこ").size(), 20u);
  ASSERT_EQ(static_cast<uint8_t>(M.SkinMotions[1].MorphName[14]),
            static_cast<uint8_t>(Utf8ToCp932("く")[0]));

  for (bool Reference : {false, true}) {
    TCoreRig Rig(B, &M, Reference);
    Rig.Core->ApplyMotionByFrame(0);
    EXPECT_EQ(Rig.Core->MorphRates()[Exact], 0.25f);
    EXPECT_EQ(Rig.Core->MorphRates()[Long], 0.0f);
    EXPECT_EQ(Rig.Core->MorphRates()[Kana], 0.5f);
    EXPECT_EQ(Rig.Core->MorphRates()[Short], 0.0f);
    EXPECT_TRUE(Near3(Rig.Core->BoneTranslations()[LongBone], NewVector3f(0, 2, 0)));
    ASSERT_EQ(Rig.Unmatched.size(), 1u);
    EXPECT_EQ(Rig.Unmatched[0], "ABCDEFGHIJKLMN");
  }
}

// Inside a frame bracket face tracking, the motion and a morph weight are posed first and skinned
// once, with the same result as the motion applied alone when nothing else changes.
TEST(OneSkinningPerFrame, ABracketedFrameSkinsOnce) {
  TPmxBuilder B;
  const int Center = B.AddBone("センター", NewVector3f(0, 0, 0));
  const int Head = B.AddBone("頭", NewVector3f(0, 3, 0), Center);
  B.AddMorph("照れ", mkVertex);
  const int Blink = B.AddMorph("まばたき", mkVertex);
  for (int V = 0; V < 4; ++V) {
    const int Index = B.AddVertexBDEF2(NewVector3f(0, V * 0.5f, 0), Center, Head, 0.5f);
    B.AddVertexMorphOffset(Blink, Index, NewVector3f(0, 0, 0.1f));
  }
  TVmdBuilder M;
  M.AddBoneKey("センター", 10, NewVector3f(0, 1, 0), AsVector4(TurnAbout(0, 1, 0, 0.5f)));
  M.AddMorphKey("まばたき", 0, 0.0f);
  M.AddMorphKey("まばたき", 10, 1.0f);
  for (bool Reference : {false, true}) {
    TCoreRig Rig(B, &M, Reference), Alone(B, &M, Reference);
    const int Before = Rig.Out->PositionWrites;
    Rig.Core->BeginFrame();
    Rig.Core->FaceTurn(TVec3f(0.0f, 3.0f, 2.0f));
    Rig.Core->ApplyMotionByFrame(5.0);
    Rig.Core->SetMorphRate(0, 1.0f);
    Rig.Core->EndFrame();
    EXPECT_EQ(Rig.Out->PositionWrites - Before, 1);
    Alone.Core->FaceTurn(TVec3f(0.0f, 3.0f, 2.0f));
    Alone.Core->ApplyMotionByFrame(5.0);
    Alone.Core->SetMorphRate(0, 1.0f);
    // Unbracketed, each operation skins on its own; the pose is the same.
    EXPECT_EQ(Alone.Out->PositionWrites - Before, 3);
    EXPECT_EQ(Rig.Out->Positions, Alone.Out->Positions);
    EXPECT_EQ(Rig.Out->Normals, Alone.Out->Normals);
    EXPECT_NEAR(Rig.Core->SkinVertices()[1].Z, 0.05f, 1e-7f);
    // A bracket with nothing in it writes nothing.
    Rig.Core->BeginFrame();
    Rig.Core->EndFrame();
    EXPECT_EQ(Rig.Out->PositionWrites - Before, 1);
  }
}
