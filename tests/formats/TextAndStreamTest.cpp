// The bounded byte stream and the text decoders.
#include <gtest/gtest.h>

#include <limits>

#include "tests/formats/FormatsTestUtil.h"

namespace {

std::vector<uint8_t> B(std::initializer_list<int> AValues) {
  std::vector<uint8_t> R;
  for (int V : AValues) R.push_back(static_cast<uint8_t>(V));
  return R;
}

const std::string FFFD = "\xEF\xBF\xBD";

}  // namespace

TEST(ByteStream, ReadsLittleEndianValuesAndFailsAtTheEndWithoutMoving) {
  const std::vector<uint8_t> Data = B({0x01, 0x02, 0x03, 0x04, 0xFF, 0xFE, 0x7F});
  TByteStream S(Data);
  EXPECT_EQ(S.ReadI32(), 0x04030201);
  EXPECT_EQ(S.ReadI16(), static_cast<int16_t>(0xFEFF));
  EXPECT_EQ(S.Position(), 6u);
  EXPECT_EQ(ErrorOf([&] { S.ReadU16(); }), StreamError);
  EXPECT_EQ(S.Position(), 6u);  // a failed read consumes nothing
  EXPECT_EQ(S.ReadU8(), 0x7F);
  EXPECT_EQ(ErrorOf([&] { S.ReadU8(); }), StreamError);
  EXPECT_EQ(ErrorOf([&] { S.Skip(1); }), StreamError);
  EXPECT_EQ(ErrorOf([&] { S.Skip(0); }), "");
}

TEST(ByteStream, ElementCountsMustFitTheRemainingBytes) {
  const std::vector<uint8_t> Data(100, 0);
  TByteStream S(Data);
  struct TCase {
    int64_t Count;
    size_t ElementSize;
    bool Fits;
  } Cases[] = {
      {0, 37, true},
      {2, 50, true},
      {3, 34, false},
      {-1, 1, false},
      {std::numeric_limits<int32_t>::min(), 1, false},
      {100, 0, true},  // elements of no size still need one byte each
      {101, 0, false},
      {2000000000, 37, false},
      {std::numeric_limits<int32_t>::max(), std::numeric_limits<size_t>::max() / 2, false},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(testing::Message() << C.Count << " x " << C.ElementSize);
    EXPECT_EQ(ErrorOf([&] { S.RequireElements(C.Count, C.ElementSize); }),
              C.Fits ? "" : StreamError);
  }
}

TEST(TextDecoding, Utf16LEToUtf8ReplacesMalformedUnits) {
  struct TCase {
    std::vector<uint8_t> In;
    std::string Out;
  } Cases[] = {
      {{}, ""},
      {B({'A', 0, 'z', 0}), "Az"},
      {B({0xBB, 0x30, 0xF3, 0x30}), "セン"},
      {B({0x3D, 0xD8, 0x00, 0xDE}), "\xF0\x9F\x98\x80"},  // surrogate pair U+1F600
      {B({0x3D, 0xD8}), FFFD},                            // high surrogate at the end
      {B({0x00, 0xDE, 'A', 0}), FFFD + "A"},              // lone low surrogate
      {B({0x3D, 0xD8, 'A', 0}), FFFD + "A"},              // high surrogate, then no low one
      {B({'A', 0, 'B'}), "A" + FFFD},                     // odd byte count
      {B({0, 0}), std::string(1, '\0')},                  // NUL is kept as a character
  };
  for (const TCase& C : Cases) EXPECT_EQ(DecodeUtf16LE(C.In), C.Out);
}

TEST(TextDecoding, Utf8PassesWellFormedTextAndReplacesEachIllFormedSubpart) {
  struct TCase {
    std::vector<uint8_t> In;
    std::string Out;
  } Cases[] = {
      {B({'a', 0xE3, 0x81, 0x82, 0xF0, 0x9F, 0x98, 0x80}), "a\xE3\x81\x82\xF0\x9F\x98\x80"},
      {B({0xC0, 0x80}), FFFD + FFFD},                            // overlong NUL
      {B({0xE0, 0x80, 0x80}), FFFD + FFFD + FFFD},               // overlong three-byte form
      {B({0xED, 0xA0, 0x80}), FFFD + FFFD + FFFD},               // encoded surrogate
      {B({0xF4, 0x90, 0x80, 0x80}), FFFD + FFFD + FFFD + FFFD},  // above U+10FFFF
      {B({0xE3, 0x81}), FFFD},                                   // cut off at the end
      {B({0xE3, 0x81, 'A'}), FFFD + "A"},                        // cut off by an ASCII byte
      {B({0x80, 'b'}), FFFD + "b"},                              // stray continuation byte
      {B({0xF5, 0xFF}), FFFD + FFFD},
  };
  for (const TCase& C : Cases) EXPECT_EQ(DecodeUtf8(C.In), C.Out);
}

TEST(TextDecoding, Cp932DecodesShiftJisAndReplacesInvalidBytes) {
  struct TCase {
    std::vector<uint8_t> In;
    std::string Out;
  } Cases[] = {
      {B({0x83, 0x5A, 0x83, 0x93, 0x83, 0x5E, 0x81, 0x5B}), "センター"},
      {B({0x82, 0xDC, 0x82, 0xCE, 0x82, 0xBD, 0x82, 0xAB}), "まばたき"},
      {B({'I', 'K', 0x5C}), "IK\\"},          // 0x5C is the backslash in code page 932
      {B({0xB1}), "ｱ"},                       // half-width katakana, one byte
      {B({0x82, 0x68, 0x82, 0x6A}), "ＩＫ"},  // full-width letters
      {B({'a', 0x83}), "a" + FFFD},           // lead byte cut off at the end
      {B({0x81, 0x20, 'b'}), FFFD + " b"},    // lead byte followed by a non-trail byte
      {B({0xA0, 0xFD}), FFFD + FFFD},         // bytes that are no character
  };
  for (const TCase& C : Cases) EXPECT_EQ(Cp932ToUtf8(C.In), C.Out);
}

TEST(TextDecoding, VmdNameEndsAtTheFirstNulOrFillsTheField) {
  std::vector<uint8_t> Full(15, 'x');
  EXPECT_EQ(DecodeVmdName(Full), std::string(15, 'x'));
  std::vector<uint8_t> Nul = B({0x83, 0x5A, 0, 'j', 'u', 'n', 'k', 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(DecodeVmdName(Nul), "セ");
  EXPECT_EQ(DecodeVmdName(std::vector<uint8_t>(15, 0)), "");
}

TEST(TextDecoding, Utf8ToCp932RoundTripsJapaneseNamesAndMarksWhatItCannotHold) {
  for (const char* Name : {"センター", "左足ＩＫ", "まばたき", "ascii", "ｱｲｳ"}) {
    const std::string Encoded = Utf8ToCp932(Name);
    EXPECT_EQ(Cp932ToUtf8(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(Encoded.data()),
                                                   Encoded.size())),
              Name);
  }
  EXPECT_EQ(Utf8ToCp932("a\xF0\x9F\x98\x80"
                        "b"),
            "a?b");
}
