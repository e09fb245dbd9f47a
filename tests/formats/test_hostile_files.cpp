// Truncated and corrupted files: every one fails cleanly with an Exception, never reads past the
// data (each load runs on an exactly sized heap copy, so AddressSanitizer builds catch overreads)
// and never allocates more than the file can back.
#include <gtest/gtest.h>

#include <random>

#include "tests/formats/FormatsTestUtil.h"

TEST(HostileFiles, EveryTruncatedModelFailsWithTheStreamError) {
  for (float Version : {2.0f, 2.1f}) {
    for (uint8_t Encoding : {0, 1}) {
      TPmxBuilder B = RichModel(Version);
      B.Settings.Encoding = Encoding;
      const std::vector<uint8_t> Bytes = B.Build();
      for (size_t Length = 0; Length < Bytes.size(); ++Length) {
        const std::vector<uint8_t> Cut(Bytes.begin(), Bytes.begin() + Length);
        ASSERT_EQ(PmxLoadError(Cut), StreamError)
            << "version " << Version << ", encoding " << int(Encoding) << ", cut at " << Length
            << " of " << Bytes.size();
      }
    }
  }
}

TEST(HostileFiles, EveryTruncatedMotionFailsWithTheStreamError) {
  TVmdBuilder B;
  B.AddBoneKey("センター", 0, NewVector3f(1, 2, 3));
  B.AddBoneKey("左足ＩＫ", 10);
  B.AddMorphKey("まばたき", 5, 1);
  const std::vector<uint8_t> Bytes = B.Build();
  for (size_t Length = 0; Length < Bytes.size(); ++Length) {
    const std::vector<uint8_t> Cut(Bytes.begin(), Bytes.begin() + Length);
    ASSERT_EQ(VmdLoadError(Cut), StreamError) << "cut at " << Length;
  }
}

// Every byte of a full model overwritten with values that make counts, sizes, lengths and
// indices hostile: each load either succeeds (and then its indices are valid) or raises an
// Exception.
TEST(HostileFiles, CorruptedBytesAnywhereFailCleanlyOrLoadValidModels) {
  const std::vector<uint8_t> Bytes = RichModel(2.1f).Build();
  int Failures = 0;
  // One byte, or (for counts and lengths) a whole 32-bit value, written at every offset.
  struct TPatch {
    int Size;
    uint32_t Value;
  } Patches[] = {{1, 0x00},       {1, 0x7F},       {1, 0x80},       {1, 0xFF},
                 {4, 0x7FFFFFFF}, {4, 0x80000000}, {4, 2000000000}, {4, 0xFFFFFFFF}};
  for (size_t Offset = 0; Offset < Bytes.size(); ++Offset) {
    for (const TPatch& P : Patches) {
      if (Offset + P.Size > Bytes.size()) continue;
      std::vector<uint8_t> Broken = Bytes;
      std::memcpy(Broken.data() + Offset, &P.Value, P.Size);
      if (Broken == Bytes) continue;
      TPmx Pmx;
      const std::string Error = PmxLoadError(Broken, &Pmx);
      if (!Error.empty()) {
        ++Failures;
        continue;
      }
      // A model that loads must be safe to follow.
      for (int32_t V : Pmx.FaceList()) ASSERT_LT(static_cast<uint32_t>(V), Pmx.VertexList().size());
      for (const TPmxBone& Bone : Pmx.BoneList())
        ASSERT_LT(Bone.ParentIndex, Pmx.BoneCount()) << "offset " << Offset;
    }
  }
  EXPECT_GT(Failures, 0);
}

TEST(HostileFiles, CountsClaimingMoreThanTheFileHoldsFailAtOnce) {
  // Two billion vertices in a file of about a hundred bytes.
  TBytes Vertices = PmxHeader();
  Vertices.Text8("").Text8("").Text8("").Text8("");
  Vertices.I32(2000000000);
  Vertices.Zeros(100 - Vertices.Data.size());
  EXPECT_EQ(Vertices.Data.size(), 100u);
  EXPECT_EQ(PmxLoadError(Vertices.Data), StreamError);

  // The same claim in every list of an otherwise empty model, and in a text length.
  const std::vector<uint8_t> Empty = TPmxBuilder().Build();
  const size_t FirstCount = Empty.size() - 4 * 9;  // nine list counts follow the header
  for (int List = 0; List < 9; ++List) {
    for (int32_t Claim : {2000000000, std::numeric_limits<int32_t>::max(), -1, -2000000000}) {
      std::vector<uint8_t> Broken = Empty;
      std::memcpy(Broken.data() + FirstCount + 4 * List, &Claim, 4);
      EXPECT_EQ(PmxLoadError(Broken), StreamError) << "list " << List << ", count " << Claim;
    }
  }
  std::vector<uint8_t> LongName = Empty;
  const int32_t Length = 1 << 30;
  std::memcpy(LongName.data() + 17, &Length, 4);
  EXPECT_EQ(PmxLoadError(LongName), StreamError);
}

TEST(HostileFiles, MorphsOfUnknownKindCannotMultiplyTheirClaims) {
  // Offsets of an unknown kind take no bytes; many such morphs each claiming the remaining size
  // would add up far beyond the file. Together they may claim no more than the bytes left.
  TPmxBuilder B;
  for (int I = 0; I < 50; ++I) B.AddMorph("u", static_cast<TPmxMorphKind>(99));
  std::vector<uint8_t> Fits = B.Build();
  EXPECT_EQ(PmxLoadError(Fits), "");

  B.Morphs[0].Data.resize(40);
  B.Morphs[1].Data.resize(40);
  EXPECT_EQ(PmxLoadError(B.Build()), "");

  const size_t Total = B.Build().size();
  B.Morphs[0].Data.resize(Total / 2);
  B.Morphs[1].Data.resize(Total / 2);
  B.Morphs[2].Data.resize(Total / 2);  // each alone fits; together they exceed the file
  EXPECT_EQ(PmxLoadError(B.Build()), StreamError);
}

TEST(HostileFiles, RandomlyMutatedModelsAndMotionsFailCleanly) {
  std::mt19937 Random(20261210);
  const std::vector<uint8_t> Models[] = {RichModel(2.0f).Build(), RichModel(2.1f).Build()};
  TVmdBuilder Motion;
  Motion.AddBoneKey("センター", 3);
  Motion.AddMorphKey("あ", 1, 1);
  const std::vector<uint8_t> MotionBytes = Motion.Build();
  for (int Round = 0; Round < 3000; ++Round) {
    const bool IsModel = Round % 4 != 0;
    std::vector<uint8_t> Bytes = IsModel ? Models[Round % 2] : MotionBytes;
    const int Mutations = 1 + static_cast<int>(Random() % 8);
    for (int M = 0; M < Mutations; ++M) Bytes[Random() % Bytes.size()] = uint8_t(Random());
    if (Random() % 4 == 0) Bytes.resize(Random() % Bytes.size());
    // Any outcome but a crash, an overread or a foreign exception type is acceptable.
    if (IsModel)
      PmxLoadError(Bytes);
    else
      VmdLoadError(Bytes);
  }
}
