// The skinning stream's record reader: records of every kind written word by word as the layout
// lays them out, one after another in one stream, read back field by field; each read must leave
// the cursor on the next record's header.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "character/core/PmxSkinStream.h"

namespace {

uint32_t Bits(float F) {
  uint32_t U;
  std::memcpy(&U, &F, sizeof U);
  return U;
}
uint32_t Index(int32_t ABone) {
  return static_cast<uint32_t>(ABone);
}

struct TRecordCase {
  const char* Kind;
  std::vector<uint32_t> Words;  // the record as stored, header first
  uint32_t Count;
  std::vector<int32_t> Bones;
  std::vector<float> Weights;
  bool WithoutBone, Sdef;
};

TEST(SkinStream, RecordsReadBackFieldByFieldAndTheCursorLandsOnTheNext) {
  // Header: count in bits 0-2, 8 = a slot without a bone, 16 = SDEF (C, cr0, cr1 follow).
  const std::vector<TRecordCase> Cases = {
      {"unknown method", {0}, 0, {}, {}, false, false},
      {"BDEF1", {1, 7}, 1, {7}, {}, false, false},
      {"BDEF1 without bone", {1 | 8, Index(-1)}, 1, {-1}, {}, true, false},
      {"BDEF2", {2, 3, 5, Bits(0.25f), Bits(0.75f)}, 2, {3, 5}, {0.25f, 0.75f}, false, false},
      {"BDEF2 without bone",
       {2 | 8, Index(-1), 4, Bits(0.5f), Bits(0.5f)},
       2,
       {-1, 4},
       {0.5f, 0.5f},
       true,
       false},
      {"SDEF",
       {2 | 16, 1, 2, Bits(0.125f), Bits(0.875f), Bits(10), Bits(11), Bits(12), Bits(20), Bits(21),
        Bits(22), Bits(30), Bits(31), Bits(32)},
       2,
       {1, 2},
       {0.125f, 0.875f},
       false,
       true},
      {"BDEF4",
       {4, 9, 8, 7, 6, Bits(0.5f), Bits(0.25f), Bits(0.125f), Bits(0.125f)},
       4,
       {9, 8, 7, 6},
       {0.5f, 0.25f, 0.125f, 0.125f},
       false,
       false},
      {"BDEF4 without bone",
       {4 | 8, 0, Index(-1), 2, Index(-1), Bits(0.5f), Bits(0.0f), Bits(0.5f), Bits(0.0f)},
       4,
       {0, -1, 2, -1},
       {0.5f, 0.0f, 0.5f, 0.0f},
       true,
       false},
  };
  std::vector<uint32_t> Stream;
  std::vector<size_t> Starts;
  for (const TRecordCase& C : Cases) {
    Starts.push_back(Stream.size());
    Stream.insert(Stream.end(), C.Words.begin(), C.Words.end());
  }
  Starts.push_back(Stream.size());

  const uint32_t* Cursor = Stream.data();
  for (size_t I = 0; I < Cases.size(); ++I) {
    const TRecordCase& C = Cases[I];
    SCOPED_TRACE(C.Kind);
    ASSERT_EQ(Cursor, Stream.data() + Starts[I]);
    const TSkinRecord R = ReadSkinRecord(Cursor);
    EXPECT_EQ(Cursor, Stream.data() + Starts[I + 1]);
    EXPECT_EQ(SkinRecordWords(C.Words[0]), C.Words.size());
    EXPECT_EQ(R.Count, C.Count);
    EXPECT_EQ(R.WithoutBone(), C.WithoutBone);
    EXPECT_EQ(R.Sdef(), C.Sdef);
    for (uint32_t S = 0; S < C.Bones.size(); ++S) EXPECT_EQ(R.Bone(S), C.Bones[S]) << S;
    for (uint32_t S = 0; S < C.Weights.size(); ++S) EXPECT_EQ(R.Weight(S), C.Weights[S]) << S;
    if (C.Sdef) {
      // C, cr0, cr1 are the record's last nine words.
      const uint32_t* Points = R.SdefPoints();
      EXPECT_EQ(Points, Stream.data() + Starts[I + 1] - 9);
      EXPECT_EQ(Points[0], Bits(10));
      EXPECT_EQ(Points[8], Bits(32));
    }
  }
}

}  // namespace
