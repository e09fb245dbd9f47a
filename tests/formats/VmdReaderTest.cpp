// The VMD reader: record layout, frame count, conversion, names and errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "tests/formats/FormatsTestUtil.h"

namespace {

// Key fields sit unaligned in the packed records: copy them out before gtest binds references.
template <class T>
T Get(T AField) {
  return AField;
}

std::string NameOf(const char (&AField)[15]) {
  return DecodeVmdName(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(AField), 15));
}

}  // namespace

TEST(VmdReader, KeyRecordsAreLaidOutLikeTheFile) {
  EXPECT_EQ(offsetof(TVmdMotion, FrameNum), 15u);
  EXPECT_EQ(offsetof(TVmdMotion, Position), 19u);
  EXPECT_EQ(offsetof(TVmdMotion, Rotation), 31u);
  EXPECT_EQ(offsetof(TVmdMotion, Interpolation), 47u);
  EXPECT_EQ(offsetof(TVmdSkinMotion, FrameNum), 15u);
  EXPECT_EQ(offsetof(TVmdSkinMotion, Weight), 19u);
}

TEST(VmdReader, ReadsAHandMadeFile) {
  TBytes B;
  B.Str(VmdSignature).Zeros(30 - 25).Str("model name").Zeros(10);
  B.I32(1);
  B.Raw({0x83, 0x5A, 0x83, 0x93, 0x83, 0x5E, 0x81, 0x5B}).Zeros(7);  // センター
  B.I32(30).F3(10, 0, 5).F32(0.1f).F32(0.2f).F32(0.3f).F32(0.9f);
  for (int I = 0; I < 64; ++I) B.U8(static_cast<uint8_t>(I));
  B.I32(1);
  B.Raw({0x82, 0xDC, 0x82, 0xCE, 0x82, 0xBD, 0x82, 0xAB}).Zeros(7);  // まばたき
  B.I32(250).F32(0.5f);
  const TVmd Vmd = LoadVmd(B.Data);
  ASSERT_EQ(Vmd.MotionCount(), 1);
  ASSERT_EQ(Vmd.SkinMotionCount(), 1);
  const TVmdMotion& M = *Vmd.GetMotion(0);
  EXPECT_EQ(NameOf(M.BoneName), "センター");
  EXPECT_EQ(Get(M.FrameNum), 30u);
  // Position x 0.1 with Z mirrored; rotation z and w negated.
  const TVector3f P = M.Position;
  const TVector4f R = M.Rotation;
  EXPECT_FLOAT_EQ(P.X, 1);
  EXPECT_FLOAT_EQ(P.Y, 0);
  EXPECT_FLOAT_EQ(P.Z, -0.5f);
  EXPECT_EQ(R.X, 0.1f);
  EXPECT_EQ(R.Y, 0.2f);
  EXPECT_EQ(R.Z, -0.3f);
  EXPECT_EQ(R.W, -0.9f);
  for (int I = 0; I < 64; ++I) EXPECT_EQ(M.Interpolation[I], I);
  const TVmdSkinMotion& S = *Vmd.GetSkinMotion(0);
  EXPECT_EQ(NameOf(S.MorphName), "まばたき");
  EXPECT_EQ(Get(S.FrameNum), 250u);
  EXPECT_EQ(Get(S.Weight), 0.5f);  // morph keys are not converted
  EXPECT_EQ(Vmd.FrameCount(), 251u);
}

TEST(VmdReader, FrameCountIsOneMoreThanTheHighestKeyFrame) {
  struct TCase {
    std::vector<uint32_t> BoneFrames, MorphFrames;
    uint32_t FrameCount;
  } Cases[] = {
      {{}, {}, 0},
      {{0}, {}, 1},
      {{}, {0}, 1},
      {{0, 100}, {250}, 251},
      {{300, 5}, {250}, 301},
      {{0xFFFFFFFFu}, {}, 0},  // frame + 1 wraps to 0 in unsigned arithmetic
      {{0xFFFFFFFEu, 3}, {}, 0xFFFFFFFFu},
  };
  for (const TCase& C : Cases) {
    TVmdBuilder B;
    for (uint32_t F : C.BoneFrames) B.AddBoneKey("b", F);
    for (uint32_t F : C.MorphFrames) B.AddMorphKey("m", F, 1);
    const TVmd Vmd = LoadVmd(B.Build());
    EXPECT_EQ(Vmd.FrameCount(), C.FrameCount);
    EXPECT_EQ(Vmd.MotionCount(), static_cast<int>(C.BoneFrames.size()));
    EXPECT_EQ(Vmd.SkinMotionCount(), static_cast<int>(C.MorphFrames.size()));
  }
  EXPECT_EQ(TVmd().FrameCount(), 0u);
}

TEST(VmdReader, KeysKeepFileOrderAndRoundTripThroughTheWriter) {
  TVmdBuilder B;
  B.ModelName = "初音ミク";
  B.AddBoneKey("右腕", 30, NewVector3f(1, 2, 3), NewVector4f(0, 0.6f, 0, 0.8f));
  B.AddBoneKey("右腕", 0);
  B.AddBoneKey("左腕", 15);
  B.AddMorphKey("あ", 7, 0.25f);
  const std::vector<uint8_t> First = B.Build();
  const TVmd Vmd = LoadVmd(First);
  EXPECT_EQ(Get(Vmd.GetMotion(0)->FrameNum), 30u);
  EXPECT_EQ(Get(Vmd.GetMotion(1)->FrameNum), 0u);
  EXPECT_EQ(NameOf(Vmd.GetMotion(2)->BoneName), "左腕");
  EXPECT_EQ(Get(Vmd.GetMotion(0)->Position).Z, 3.0f);
  EXPECT_EQ(Get(Vmd.GetMotion(0)->Rotation).Y, 0.6f);
  TVmdBuilder Again = TVmdBuilder::FromDocument(Vmd);
  Again.ModelName = B.ModelName;
  EXPECT_EQ(Again.Build(), First);
}

TEST(VmdReader, NamesUseAllFifteenBytesOrStopAtTheFirstNul) {
  TVmdBuilder B;
  const int Full = B.AddBoneKey("", 0);
  std::memcpy(B.Motions[Full].BoneName, "abcdefghijklmno", 15);
  const int Cut = B.AddMorphKey("", 0, 0);
  std::memcpy(B.SkinMotions[Cut].MorphName, "ab\0cdefghijklmn", 15);
  const TVmd Vmd = LoadVmd(B.Build());
  EXPECT_EQ(NameOf(Vmd.GetMotion(0)->BoneName), "abcdefghijklmno");
  EXPECT_EQ(NameOf(Vmd.GetSkinMotion(0)->MorphName), "ab");
}

TEST(VmdReader, BytesAfterTheLastSectionAreLeftInTheStream) {
  TVmdBuilder B;
  B.AddBoneKey("b", 3);
  B.AddMorphKey("m", 4, 1);
  B.OptionalSections = 4;
  B.Trailer = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 9, 9};
  const std::vector<uint8_t> Bytes = B.Build();
  TByteStream Stream(Bytes);
  TVmd FromStream;
  FromStream.LoadFromStream(Stream);
  EXPECT_EQ(Stream.Remaining(), B.Trailer.size());
  EXPECT_EQ(FromStream.FrameCount(), 5u);
  EXPECT_EQ(FromStream.MotionCount(), 1);
  EXPECT_EQ(FromStream.SkinMotionCount(), 1);
  EXPECT_EQ(LoadVmd(Bytes).CameraMotions().size(), 0u);
}

TEST(VmdReader, SignatureMustBeExactlyTheVersion2Text) {
  struct TCase {
    std::string Signature;
    bool Accepted;
  } Cases[] = {
      {"Vocaloid Motion Data 0002", true},
      {std::string("Vocaloid Motion Data 0002\0junk", 30), true},  // text ends at the NUL
      {"Vocaloid Motion Data file", false},                        // the older format
      {"Vocaloid Motion Data 0003", false},
      {"vocaloid Motion Data 0002", false},
      {"Vocaloid Motion Data 0002 ", false},
      {"Vocaloid Motion Data 000", false},
      {std::string(30, 'V'), false},  // no NUL at all
      {"", false},
  };
  for (const TCase& C : Cases) {
    TVmdBuilder B;
    B.Signature = C.Signature;
    EXPECT_EQ(VmdLoadError(B.Build()), C.Accepted ? "" : "未対応のヘッダ") << C.Signature;
  }
}

TEST(VmdReader, CountsTheDataCannotHoldFailBeforeAllocating) {
  TVmdBuilder B;
  B.AddBoneKey("b", 1);
  std::vector<uint8_t> Bytes = B.Build();
  struct TCase {
    int32_t BoneCount;
  } Cases[] = {{2},
               {-1},
               {2000000000},
               {std::numeric_limits<int32_t>::max()},
               {std::numeric_limits<int32_t>::min()}};
  for (const TCase& C : Cases) {
    std::vector<uint8_t> Broken = Bytes;
    std::memcpy(Broken.data() + 50, &C.BoneCount, 4);
    EXPECT_EQ(VmdLoadError(Broken), StreamError) << C.BoneCount;
  }
  std::vector<uint8_t> HugeMorphs = Bytes;
  const int32_t Huge = 1500000000;
  std::memcpy(HugeMorphs.data() + HugeMorphs.size() - 4, &Huge, 4);
  EXPECT_EQ(VmdLoadError(HugeMorphs), StreamError);
}

TEST(VmdReader, LoadFromFileNamesAMissingFile) {
  const std::string Path = TempPath("quenlor_formats_motion.vmd");
  TVmdBuilder B;
  B.AddBoneKey("b", 41);
  B.SaveToFile(Path);
  TVmd Vmd;
  EXPECT_EQ(ErrorOf([&] { Vmd.LoadFromFile(Path); }), "");
  EXPECT_EQ(Vmd.FrameCount(), 42u);
  std::remove(Path.c_str());
  const std::string Error = ErrorOf([&] { Vmd.LoadFromFile(Path); });
  EXPECT_NE(Error.find(Path), std::string::npos) << Error;
}

// ---- Key curves -------------------------------------------------------------------------------

namespace {

// Control bytes per bone channel X, Y, Z, R.
constexpr uint8_t BoneX1[4] = {10, 11, 12, 13}, BoneY1[4] = {20, 21, 22, 23},
                  BoneX2[4] = {100, 101, 102, 103}, BoneY2[4] = {110, 111, 112, 113};

// The 64-byte block laid out by hand: row 0 is X.x1 Y.x1 Z.x1 R.x1 X.y1 ... R.y2, and byte
// 16 r + j of the other rows is row 0's byte j + r (the bytes shifted past the row end are 0).
std::array<uint8_t, 64> HandLaidBoneBlock() {
  uint8_t Row0[16];
  for (int C = 0; C < 4; ++C) {
    Row0[C] = BoneX1[C];
    Row0[4 + C] = BoneY1[C];
    Row0[8 + C] = BoneX2[C];
    Row0[12 + C] = BoneY2[C];
  }
  std::array<uint8_t, 64> Block{};
  for (int R = 0; R < 4; ++R)
    for (int J = 0; J + R < 16; ++J) Block[16 * R + J] = Row0[J + R];
  return Block;
}

void ExpectCurve(const TBezierCurve& AC, uint8_t AX1, uint8_t AY1, uint8_t AX2, uint8_t AY2,
                 const std::string& AWhat) {
  EXPECT_EQ(AC.X1, AX1 / 127.0f) << AWhat;
  EXPECT_EQ(AC.Y1, AY1 / 127.0f) << AWhat;
  EXPECT_EQ(AC.X2, AX2 / 127.0f) << AWhat;
  EXPECT_EQ(AC.Y2, AY2 / 127.0f) << AWhat;
}

}  // namespace

TEST(VmdReader, BoneCurvesReadZAndRotationX1FromBytes17And18) {
  // Older files repeat Z.x1 and R.x1 in row 0's bytes 2 and 3; newer ones write flags (0) there.
  struct TCase {
    const char* Style;
    int Byte2, Byte3;  // -1: as laid out
  } Cases[] = {{"old", -1, -1}, {"new", 0, 0}, {"other flags", 99, 1}};
  for (const TCase& C : Cases) {
    std::array<uint8_t, 64> Block = HandLaidBoneBlock();
    if (C.Byte2 >= 0) Block[2] = static_cast<uint8_t>(C.Byte2);
    if (C.Byte3 >= 0) Block[3] = static_cast<uint8_t>(C.Byte3);
    TVmdBuilder B;
    B.AddBoneKey("b", 0);
    std::memcpy(B.Motions[0].Interpolation, Block.data(), 64);
    const TVmd Vmd = LoadVmd(B.Build());
    for (int Ch = bcX; Ch <= bcRotation; ++Ch)
      ExpectCurve(VmdBoneCurve(*Vmd.GetMotion(0), static_cast<TVmdBoneChannel>(Ch)), BoneX1[Ch],
                  BoneY1[Ch], BoneX2[Ch], BoneY2[Ch],
                  std::string(C.Style) + " channel " + std::to_string(Ch));
  }
}

TEST(VmdReader, SetBoneCurveWritesEveryRowLikeOlderFiles) {
  TVmdMotion Key{};
  for (int Ch = bcX; Ch <= bcRotation; ++Ch)
    SetVmdBoneCurve(Key, static_cast<TVmdBoneChannel>(Ch), BoneX1[Ch], BoneY1[Ch], BoneX2[Ch],
                    BoneY2[Ch]);
  const std::array<uint8_t, 64> Block = HandLaidBoneBlock();
  for (int R = 0; R < 4; ++R)
    for (int J = 0; J + R < 16; ++J)
      EXPECT_EQ(Key.Interpolation[16 * R + J], Block[16 * R + J]) << "row " << R << " byte " << J;
  // The builder's default key is linear on every channel.
  TVmdBuilder B;
  B.AddBoneKey("b", 0);
  for (int Ch = bcX; Ch <= bcRotation; ++Ch) {
    const TBezierCurve Curve = VmdBoneCurve(B.Motions[0], static_cast<TVmdBoneChannel>(Ch));
    EXPECT_TRUE(IsLinearBezier(Curve));
    EXPECT_EQ(BezierFraction(Curve, 0.3f), 0.3f);
  }
}

TEST(VmdReader, CameraCurvesAreLaidOutX1X2Y1Y2) {
  TVmdBuilder B;
  B.AddCameraKey(0, NewVector3f(0, 0, 0), 5, NewVector3f(0, 0, 0));
  // A linear camera curve reads 20, 107, 20, 107 in the file.
  for (int I = 0; I < 24; ++I)
    EXPECT_EQ(B.CameraMotions[0].Interpolation[I], (I % 2) == 0 ? 20 : 107) << I;
  for (int Ch = ccX; Ch <= ccViewAngle; ++Ch) {
    const TBezierCurve Curve =
        VmdCameraCurve(B.CameraMotions[0], static_cast<TVmdCameraChannel>(Ch));
    EXPECT_TRUE(IsLinearBezier(Curve)) << Ch;
    EXPECT_EQ(BezierFraction(Curve, 0.7f), 0.7f);
  }
  // Channel c's bytes 4c .. 4c + 3 are x1 x2 y1 y2.
  for (int I = 0; I < 24; ++I) B.CameraMotions[0].Interpolation[I] = static_cast<uint8_t>(5 * I);
  const TVmd Vmd = LoadVmd(B.Build());
  TVmdCameraMotion Written{};
  for (int Ch = ccX; Ch <= ccViewAngle; ++Ch) {
    const auto X1 = uint8_t(20 * Ch), X2 = uint8_t(20 * Ch + 5), Y1 = uint8_t(20 * Ch + 10),
               Y2 = uint8_t(20 * Ch + 15);
    ExpectCurve(VmdCameraCurve(Vmd.CameraMotions()[0], static_cast<TVmdCameraChannel>(Ch)), X1, Y1,
                X2, Y2, "camera channel " + std::to_string(Ch));
    SetVmdCameraCurve(Written, static_cast<TVmdCameraChannel>(Ch), X1, Y1, X2, Y2);
  }
  EXPECT_EQ(std::memcmp(Written.Interpolation, Vmd.CameraMotions()[0].Interpolation, 24), 0);
}

TEST(VmdReader, ControlBytesAbove127AreClampedIntoTheUnitSquare) {
  TVmdBuilder B;
  B.AddBoneKey("b", 0);
  B.AddCameraKey(0, NewVector3f(0, 0, 0), 5, NewVector3f(0, 0, 0));
  TVmdMotion& Bone = B.Motions[0];
  TVmdCameraMotion& Camera = B.CameraMotions[0];
  for (int I = 0; I < 64; ++I) Bone.Interpolation[I] = (I % 16) < 4 || (I % 16) >= 12 ? 255 : 0;
  for (int I = 0; I < 24; ++I) Camera.Interpolation[I] = (I % 4) < 2 ? 200 : 128;
  const TVmd Vmd = LoadVmd(B.Build());
  for (int Ch = bcX; Ch <= bcRotation; ++Ch)
    ExpectCurve(VmdBoneCurve(*Vmd.GetMotion(0), static_cast<TVmdBoneChannel>(Ch)), 127, 0, 0, 127,
                "bone");
  for (int Ch = ccX; Ch <= ccViewAngle; ++Ch)
    ExpectCurve(VmdCameraCurve(Vmd.CameraMotions()[0], static_cast<TVmdCameraChannel>(Ch)), 127,
                127, 127, 127, "camera");
}

// ---- Optional sections ------------------------------------------------------------------------

TEST(VmdReader, ReadsEveryOptionalSectionOfAHandMadeFile) {
  TBytes B;
  B.Str(VmdSignature).Zeros(30 - 25).Zeros(20);
  B.I32(0).I32(0);  // no bone or morph keys
  B.I32(1);         // camera
  B.I32(7).F32(-45).F3(10, 20, 30).F3(0.1f, 0.2f, 0.3f);
  for (int I = 0; I < 24; ++I) B.U8(static_cast<uint8_t>(I));
  B.I32(30).U8(0);
  B.I32(1);  // light
  B.I32(3).F3(0.6f, 0.5f, 0.4f).F3(-0.5f, -1, 0.5f);
  B.I32(2);  // self-shadow
  B.I32(9).U8(1).F32(8875);
  B.I32(12).U8(2).F32(0.25f);
  B.I32(2);  // show/IK
  B.I32(0).U8(1).I32(2);
  B.Raw({0x8D, 0xB6, 0x91, 0xAB, 0x82, 0x68, 0x82, 0x6A}).Zeros(12).U8(1);  // 左足ＩＫ
  B.Str("abcdefghijklmnopqrst").U8(0);                                      // all 20 bytes
  B.I32(40).U8(0).I32(0);
  const TVmd Vmd = LoadVmd(B.Data);

  ASSERT_EQ(Vmd.CameraMotions().size(), 1u);
  const TVmdCameraMotion& C = Vmd.CameraMotions()[0];
  EXPECT_EQ(Get(C.FrameNum), 7u);
  // Distance and target x 0.1; target Z, distance, and the X and Y rotations mirrored.
  EXPECT_FLOAT_EQ(Get(C.Distance), 4.5f);
  const TVector3f Target = C.Target, Rotation = C.Rotation;
  EXPECT_FLOAT_EQ(Target.X, 1);
  EXPECT_FLOAT_EQ(Target.Y, 2);
  EXPECT_FLOAT_EQ(Target.Z, -3);
  EXPECT_EQ(Rotation.X, -0.1f);
  EXPECT_EQ(Rotation.Y, -0.2f);
  EXPECT_EQ(Rotation.Z, 0.3f);
  for (int I = 0; I < 24; ++I) EXPECT_EQ(C.Interpolation[I], I);
  EXPECT_EQ(Get(C.ViewAngle), 30u);
  EXPECT_EQ(C.Perspective, 0);
  EXPECT_EQ(Vmd.CameraFrameCount(), 8u);
  EXPECT_EQ(Vmd.FrameCount(), 0u);  // the body's motion length counts bone and morph keys only

  ASSERT_EQ(Vmd.LightMotions().size(), 1u);
  const TVmdLightMotion& L = Vmd.LightMotions()[0];
  const TVector3f Color = L.Color, Direction = L.Direction;
  EXPECT_EQ(Get(L.FrameNum), 3u);
  EXPECT_EQ(Color.X, 0.6f);
  EXPECT_EQ(Color.Y, 0.5f);
  EXPECT_EQ(Color.Z, 0.4f);
  EXPECT_EQ(Direction.X, -0.5f);  // not scaled
  EXPECT_EQ(Direction.Y, -1.0f);
  EXPECT_EQ(Direction.Z, -0.5f);  // mirrored

  ASSERT_EQ(Vmd.SelfShadowMotions().size(), 2u);
  EXPECT_EQ(Get(Vmd.SelfShadowMotions()[0].FrameNum), 9u);
  EXPECT_EQ(Vmd.SelfShadowMotions()[0].Mode, 1);
  EXPECT_EQ(Get(Vmd.SelfShadowMotions()[0].Distance), 8875.0f);
  EXPECT_EQ(Get(Vmd.SelfShadowMotions()[1].FrameNum), 12u);
  EXPECT_EQ(Vmd.SelfShadowMotions()[1].Mode, 2);
  EXPECT_EQ(Get(Vmd.SelfShadowMotions()[1].Distance), 0.25f);

  ASSERT_EQ(Vmd.ShowIKMotions().size(), 2u);
  const TVmdShowIKMotion& S0 = Vmd.ShowIKMotions()[0];
  EXPECT_EQ(S0.FrameNum, 0u);
  EXPECT_TRUE(S0.Show);
  ASSERT_EQ(S0.IK.size(), 2u);
  auto IKName = [](const TVmdIKState& AState) {
    return DecodeVmdName({reinterpret_cast<const uint8_t*>(AState.Name), sizeof(AState.Name)});
  };
  EXPECT_EQ(IKName(S0.IK[0]), "左足ＩＫ");
  EXPECT_TRUE(S0.IK[0].Enabled);
  EXPECT_EQ(IKName(S0.IK[1]), "abcdefghijklmnopqrst");
  EXPECT_FALSE(S0.IK[1].Enabled);
  const TVmdShowIKMotion& S1 = Vmd.ShowIKMotions()[1];
  EXPECT_EQ(S1.FrameNum, 40u);
  EXPECT_FALSE(S1.Show);
  EXPECT_TRUE(S1.IK.empty());
}

namespace {

// A motion with keys in every optional section, given in the system's frame.
TVmdBuilder EverySectionMotion() {
  TVmdBuilder B;
  B.AddBoneKey("センター", 10, NewVector3f(1, 2, 3));
  B.AddMorphKey("あ", 4, 0.5f);
  B.AddCameraKey(0, NewVector3f(0, 1, -0.5f), 4.5f, NewVector3f(0.1f, -0.2f, 0.3f), 30);
  B.AddCameraKey(60, NewVector3f(0.5f, 1.5f, 2), 2, NewVector3f(-0.4f, 0.5f, 0), 45);
  SetVmdCameraCurve(B.CameraMotions[1], ccDistance, 64, 0, 64, 127);
  B.LightMotions.push_back(TVmdLightMotion{5, {{0.6f, 0.6f, 0.6f}}, {{-0.5f, -1, 0.5f}}});
  B.SelfShadowMotions.push_back(TVmdSelfShadowMotion{0, 1, 8875});
  B.SelfShadowMotions.push_back(TVmdSelfShadowMotion{30, 0, 0});
  B.AddShowIKKey(0, true, {{"左足ＩＫ", true}, {"右足ＩＫ", false}});
  B.AddShowIKKey(20, false);
  return B;
}

}  // namespace

TEST(VmdReader, OptionalSectionsRoundTripThroughTheWriter) {
  const TVmdBuilder B = EverySectionMotion();
  const std::vector<uint8_t> First = B.Build();
  const TVmd Vmd = LoadVmd(First);
  ASSERT_EQ(Vmd.CameraMotions().size(), 2u);
  for (size_t I = 0; I < 2; ++I) {
    const TVmdCameraMotion &Read = Vmd.CameraMotions()[I], &Given = B.CameraMotions[I];
    const TVector3f RT = Read.Target, GT = Given.Target, RR = Read.Rotation, GR = Given.Rotation;
    for (int K = 0; K < 3; ++K) {
      EXPECT_NEAR(RT.V[K], GT.V[K], 1e-6f);
      EXPECT_EQ(RR.V[K], GR.V[K]);
    }
    EXPECT_NEAR(Get(Read.Distance), Get(Given.Distance), 1e-6f);
    EXPECT_EQ(Get(Read.ViewAngle), Get(Given.ViewAngle));
  }
  EXPECT_EQ(Vmd.CameraFrameCount(), 61u);
  EXPECT_EQ(Vmd.FrameCount(), 11u);
  const TVector3f Direction = Vmd.LightMotions().at(0).Direction;
  EXPECT_EQ(Direction.Z, 0.5f);
  EXPECT_EQ(Vmd.SelfShadowMotions().size(), 2u);
  ASSERT_EQ(Vmd.ShowIKMotions().size(), 2u);
  EXPECT_EQ(Vmd.ShowIKMotions()[0].IK.size(), 2u);
  EXPECT_EQ(TVmdBuilder::FromDocument(Vmd).Build(), First);
}

TEST(VmdReader, TheFileMayEndAtEverySectionBoundaryButNotInsideASection) {
  TVmdBuilder B = EverySectionMotion();
  // Where each section starts, and where the last one ends.
  std::vector<size_t> Boundaries;
  for (int N = 0; N <= 4; ++N) {
    B.OptionalSections = N;
    Boundaries.push_back(B.Build().size());
  }
  // Each section is its count and records of 61, 28 and 9 bytes; show/IK keys 9 bytes plus 21 per
  // IK entry.
  EXPECT_EQ(Boundaries[1] - Boundaries[0], 4u + 2 * 61);
  EXPECT_EQ(Boundaries[2] - Boundaries[1], 4u + 28);
  EXPECT_EQ(Boundaries[3] - Boundaries[2], 4u + 2 * 9);
  EXPECT_EQ(Boundaries[4] - Boundaries[3], 4u + 2 * 9 + 2 * 21);
  const std::vector<uint8_t> Full = B.Build();
  for (size_t Size = Boundaries[0]; Size <= Full.size(); ++Size) {
    const std::vector<uint8_t> Prefix(Full.begin(), Full.begin() + static_cast<ptrdiff_t>(Size));
    TVmd Vmd;
    const std::string Error = VmdLoadError(Prefix, &Vmd);
    const auto At = std::find(Boundaries.begin(), Boundaries.end(), Size);
    if (At == Boundaries.end()) {
      EXPECT_EQ(Error, StreamError) << "cut at " << Size;
      continue;
    }
    const size_t Sections = static_cast<size_t>(At - Boundaries.begin());
    ASSERT_EQ(Error, "") << "ends after " << Sections << " sections";
    EXPECT_EQ(Vmd.MotionCount(), 1);
    EXPECT_EQ(Vmd.SkinMotionCount(), 1);
    EXPECT_EQ(Vmd.CameraMotions().size(), Sections >= 1 ? 2u : 0u);
    EXPECT_EQ(Vmd.LightMotions().size(), Sections >= 2 ? 1u : 0u);
    EXPECT_EQ(Vmd.SelfShadowMotions().size(), Sections >= 3 ? 2u : 0u);
    EXPECT_EQ(Vmd.ShowIKMotions().size(), Sections >= 4 ? 2u : 0u);
    EXPECT_EQ(Vmd.CameraFrameCount(), Sections >= 1 ? 61u : 0u);
  }
  // Present but empty sections are read as empty.
  TVmdBuilder Empty;
  Empty.OptionalSections = 4;
  const TVmd Vmd = LoadVmd(Empty.Build());
  EXPECT_TRUE(Vmd.CameraMotions().empty() && Vmd.ShowIKMotions().empty());
}

TEST(VmdReader, HostileSectionCountsFailBeforeAllocating) {
  // Section Index's count is Count, after empty earlier sections and followed by Padding bytes.
  struct TCase {
    int Section;
    uint32_t Count;
    size_t Padding;
  } Cases[] = {
      {0, 1, 60},
      {0, 0xFFFFFFFFu, 200},
      {0, 0x80000000u, 200},
      {0, 0x7FFFFFFFu, 61},
      {1, 3, 3 * 28 - 1},
      {1, 0xFFFFFFFFu, 200},
      {2, 12, 12 * 9 - 1},
      {2, 0xFFFFFFFFu, 200},
      {3, 0xFFFFFFFFu, 200},
      {3, 0x10000000u, 200},
      {3, 23, 22 * 9},
  };
  for (const TCase& C : Cases) {
    TBytes B;
    B.Str(VmdSignature).Zeros(30 - 25).Zeros(20).I32(0).I32(0);
    for (int S = 0; S < C.Section; ++S) B.I32(0);
    B.I32(static_cast<int32_t>(C.Count)).Zeros(C.Padding);
    TVmd Vmd;
    EXPECT_EQ(VmdLoadError(B.Data, &Vmd), StreamError)
        << "section " << C.Section << " count " << C.Count;
  }
  // An IK entry count beyond what is left (21 bytes each), in the second show/IK key.
  for (uint32_t IKCount : {0xFFFFFFFFu, 0x40000000u, 3u}) {
    TBytes B;
    B.Str(VmdSignature).Zeros(30 - 25).Zeros(20).I32(0).I32(0).I32(0).I32(0).I32(0);
    B.I32(2).I32(0).U8(1).I32(0);
    B.I32(5).U8(1).I32(static_cast<int32_t>(IKCount)).Zeros(3 * 21 - 1);
    EXPECT_EQ(VmdLoadError(B.Data), StreamError) << IKCount;
  }
}

TEST(VmdReader, CameraFrameCountIsOneMoreThanTheHighestCameraKey) {
  struct TCase {
    std::vector<uint32_t> Frames;
    uint32_t Count;
  } Cases[] = {
      {{}, 0},
      {{0}, 1},
      {{100, 5}, 101},
      {{0xFFFFFFFFu}, 0},  // frame + 1 wraps to 0 in unsigned arithmetic
      {{0xFFFFFFFEu, 3}, 0xFFFFFFFFu},
  };
  for (const TCase& C : Cases) {
    TVmdBuilder B;
    B.AddBoneKey("b", 2);
    for (uint32_t F : C.Frames) B.AddCameraKey(F, NewVector3f(0, 0, 0), 1, NewVector3f(0, 0, 0));
    const TVmd Vmd = LoadVmd(B.Build());
    EXPECT_EQ(Vmd.CameraFrameCount(), C.Count);
    EXPECT_EQ(Vmd.FrameCount(), 3u);
  }
  EXPECT_EQ(TVmd().CameraFrameCount(), 0u);
}

// A body and a facial motion merged: every key of both, in order, the longer length, and the
// camera keys of either.
TEST(VmdReader, AppendMergesKeysOfTwoFilesAndKeepsTheLongerLength) {
  TVmdBuilder Body;
  Body.AddBoneKey("センター", 0);
  Body.AddBoneKey("センター", 40);
  TVmdBuilder Face;
  Face.AddMorphKey("あ", 10, 0.5f);
  Face.AddBoneKey("頭", 7);
  Face.AddCameraKey(90, NewVector3f(0, 1, 0), 5, NewVector3f(0, 0, 0));
  struct TCase {
    const TVmdBuilder *First, *Second;
    uint32_t Frames;
  } Cases[] = {{&Body, &Face, 41}, {&Face, &Body, 41}, {&Face, &Face, 11}};
  for (const TCase& C : Cases) {
    TVmd Merged = LoadVmd(C.First->Build());
    const TVmd Second = LoadVmd(C.Second->Build());
    const int FirstBones = Merged.MotionCount();
    Merged.Append(Second);
    EXPECT_EQ(Merged.FrameCount(), C.Frames);
    ASSERT_EQ(Merged.MotionCount(), FirstBones + Second.MotionCount());
    EXPECT_EQ(Merged.SkinMotionCount(),
              static_cast<int>(C.First->SkinMotions.size() + C.Second->SkinMotions.size()));
    EXPECT_EQ(Merged.CameraMotions().size(),
              C.First->CameraMotions.size() + C.Second->CameraMotions.size());
    // The second file's keys follow the first's unchanged.
    for (int K = 0; K < Second.MotionCount(); ++K) {
      EXPECT_EQ(Get(Merged.GetMotion(FirstBones + K)->FrameNum),
                Get(Second.GetMotion(K)->FrameNum));
      EXPECT_EQ(NameOf(Merged.GetMotion(FirstBones + K)->BoneName),
                NameOf(Second.GetMotion(K)->BoneName));
    }
  }
}
