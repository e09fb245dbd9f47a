// The VMD reader: record layout, frame count, conversion, names and errors.
#include <gtest/gtest.h>

#include <cstddef>

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

TEST(VmdReader, SectionsAfterTheMorphKeysAreIgnored) {
  TVmdBuilder B;
  B.AddBoneKey("b", 3);
  B.AddMorphKey("m", 4, 1);
  const TVmd Plain = LoadVmd(B.Build());
  B.Trailer = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 9, 9};  // a camera section, cut short
  const TVmd WithTrailer = LoadVmd(B.Build());
  const std::vector<uint8_t> Bytes = B.Build();
  TByteStream Stream(Bytes);
  TVmd FromStream;
  FromStream.LoadFromStream(Stream);
  EXPECT_EQ(Stream.Remaining(), B.Trailer.size());
  EXPECT_EQ(WithTrailer.FrameCount(), Plain.FrameCount());
  EXPECT_EQ(WithTrailer.MotionCount(), 1);
  EXPECT_EQ(WithTrailer.SkinMotionCount(), 1);
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
