// The VPD pose reader: a pose written as authoring tools write it (Shift-JIS, CRLF, comments,
// file units, the file's frame) read back as a motion of one frame with hand-worked keys in the
// viewer's frame; line ends, comments and spacing that do not change the pose; morph blocks
// present and absent; malformed and hostile text rejected with its line and what was expected.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>

#include "formats/Vpd.h"
#include "formats/VpdWriter.h"
#include "tests/formats/FormatsTestUtil.h"

namespace {

const float S45 = static_cast<float>(std::numbers::sqrt2 / 2);

std::vector<uint8_t> Cp932Bytes(const std::string& AUtf8) {
  const std::string Bytes = Utf8ToCp932(AUtf8);
  return std::vector<uint8_t>(Bytes.begin(), Bytes.end());
}

// A motion name field: the name's CP932 bytes, cut at 15, NUL padded.
std::string NameField(const std::string& AUtf8) {
  std::string Field = Utf8ToCp932(AUtf8).substr(0, 15);
  Field.resize(15, '\0');
  return Field;
}

std::string ReadError(const std::vector<uint8_t>& ABytes) {
  std::unique_ptr<uint8_t[]> Copy(new uint8_t[ABytes.size() ? ABytes.size() : 1]);
  if (!ABytes.empty()) std::memcpy(Copy.get(), ABytes.data(), ABytes.size());
  return ErrorOf([&] { ReadVpd(std::span<const uint8_t>(Copy.get(), ABytes.size())); });
}

// Bones and morphs of a pose, in the file's frame and units: the centre moved, the left arm a
// quarter turn about the file's Z, the right elbow turned by (0.5, -0.5, 0.5, 0.5), a bone whose
// name is longer than a motion's 15-byte name field; two morphs.
TVpdBuilder RealLookingPose() {
  TVpdBuilder B;
  B.ModelName = "初音ミク.osm";
  B.AddBone("センター", NewVector3f(1.5f, 10, -4));
  B.AddBone("左腕", NewVector3f(0, 0, 0), NewVector4f(0, 0, S45, S45));
  B.AddBone("右ひじ", NewVector3f(0, 0, 0), NewVector4f(0.5f, -0.5f, 0.5f, 0.5f));
  B.AddBone("左人差指先ＩＫ補助", NewVector3f(-2, 0, 8), NewVector4f(0, 0, 0, 1));
  B.AddMorph("まばたき", 0.5f);
  B.AddMorph("あ", 1);
  return B;
}

}  // namespace

TEST(VpdReader, ARealLookingPoseReadsAsOneFrameOfKeysInTheViewersFrame) {
  const TVpdBuilder B = RealLookingPose();
  const std::vector<uint8_t> Bytes = B.Build();
  // Written as the real files are: CRLF, the signature line, Shift-JIS comments.
  const std::string Text(Bytes.begin(), Bytes.end());
  ASSERT_EQ(Text.substr(0, 25), "Vocaloid Pose Data file\r\n");
  EXPECT_NE(Text.find(Utf8ToCp932("// 親ファイル名")), std::string::npos);

  const TVpdPose Pose = ReadVpd(Bytes);
  EXPECT_EQ(Pose.ModelName, Utf8ToCp932("初音ミク.osm"));
  ASSERT_EQ(Pose.Bones.size(), 4u);
  EXPECT_EQ(Pose.Bones[3].Name, Utf8ToCp932("左人差指先ＩＫ補助"));  // whole, 18 bytes

  const TVmd Vmd = LoadVmd(Bytes);
  EXPECT_EQ(Vmd.FrameCount(), 1u);
  // Positions x 0.1 with Z negated; rotations with Z and W negated (the mirror).
  struct TExpected {
    std::string Name;
    TVector3f Position;
    TVector4f Rotation;
  } Expected[] = {
      {"センター", NewVector3f(0.15f, 1, 0.4f), NewVector4f(0, 0, 0, -1)},
      {"左腕", NewVector3f(0, 0, 0), NewVector4f(0, 0, -S45, -S45)},
      {"右ひじ", NewVector3f(0, 0, 0), NewVector4f(0.5f, -0.5f, -0.5f, -0.5f)},
      {"左人差指先ＩＫ補助", NewVector3f(-0.2f, 0, -0.8f), NewVector4f(0, 0, 0, -1)},
  };
  ASSERT_EQ(Vmd.MotionCount(), 4);
  for (int I = 0; I < 4; ++I) {
    const TExpected& E = Expected[I];
    SCOPED_TRACE(E.Name);
    const TVmdMotion& M = *Vmd.GetMotion(I);
    EXPECT_EQ(std::string(M.BoneName, 15), NameField(E.Name));
    EXPECT_EQ(static_cast<std::uint32_t>(M.FrameNum), 0u);  // a packed field: copied first
    const TVector3f P = M.Position;
    const TVector4f R = M.Rotation;
    for (int C = 0; C < 3; ++C) EXPECT_FLOAT_EQ(P.V[C], E.Position.V[C]) << C;
    for (int C = 0; C < 4; ++C) EXPECT_FLOAT_EQ(R.V[C], E.Rotation.V[C]) << C;
    // Straight-line curves: x1 = y1 = 20, x2 = y2 = 107 on every channel of row 0.
    for (int C = 0; C < 16; ++C) EXPECT_EQ(M.Interpolation[C], C < 8 ? 20 : 107) << C;
  }
  // The 18-byte name keeps its first 15 bytes, as a motion file's key would.
  EXPECT_EQ(std::string(Vmd.GetMotion(3)->BoneName, 15),
            Utf8ToCp932("左人差指先ＩＫ補助").substr(0, 15));

  ASSERT_EQ(Vmd.SkinMotionCount(), 2);
  EXPECT_EQ(std::string(Vmd.GetSkinMotion(0)->MorphName, 15), NameField("まばたき"));
  // Packed fields: copied before they are compared.
  EXPECT_EQ(static_cast<float>(Vmd.GetSkinMotion(0)->Weight), 0.5f);
  EXPECT_EQ(std::string(Vmd.GetSkinMotion(1)->MorphName, 15), NameField("あ"));
  EXPECT_EQ(static_cast<float>(Vmd.GetSkinMotion(1)->Weight), 1.0f);
  EXPECT_EQ(static_cast<std::uint32_t>(Vmd.GetSkinMotion(1)->FrameNum), 0u);
}

// Line ends, comments, blank lines and spacing do not change the pose; morph blocks are optional.
TEST(VpdReader, LayoutDoesNotChangeThePoseAndMorphBlocksAreOptional) {
  const TVmd Reference = LoadVmd(RealLookingPose().Build());
  auto SameKeys = [&](const TVmd& A) {
    return A.MotionCount() == Reference.MotionCount() &&
           A.SkinMotionCount() == Reference.SkinMotionCount() &&
           std::memcmp(A.GetMotion(0), Reference.GetMotion(0),
                       sizeof(TVmdMotion) * Reference.MotionCount()) == 0 &&
           std::memcmp(A.GetSkinMotion(0), Reference.GetSkinMotion(0),
                       sizeof(TVmdSkinMotion) * Reference.SkinMotionCount()) == 0;
  };
  for (const char* LineEnd : {"\r\n", "\n"})
    for (bool Comments : {true, false}) {
      TVpdBuilder B = RealLookingPose();
      B.LineEnd = LineEnd;
      B.Comments = Comments;
      EXPECT_TRUE(SameKeys(LoadVmd(B.Build()))) << (LineEnd[0] == '\r') << Comments;
    }

  // Typed by hand: comment lines between blocks, tabs, spaces around names and numbers, a
  // comment right after a value, a '+' sign, exponents, no line end after the last line.
  std::string Hand;
  for (const char* Line : {"Vocaloid Pose Data file",
                           "// a comment line",
                           "  初音ミク.osm ;",
                           "",
                           "4;",
                           "Bone0{ センター ",
                           " 1.5 , 1e1 ,-4;//trans",
                           "0,0,0,1;",
                           "  }",
                           "\t",
                           "// the arms",
                           "Bone1{左腕",
                           "\t0,0,0;",
                           "0,0,0.70710678118,+0.70710678118;",
                           "}",
                           "Bone2{右ひじ",
                           "0.0,0.0,0.0;",
                           "0.5,-0.5,0.5,5e-1;",
                           "}",
                           "Bone3{左人差指先ＩＫ補助",
                           "-2,0,8;",
                           "0,0,0,1;",
                           "}",
                           "Morph0{まばたき",
                           ".5;",
                           "}",
                           "Morph7{あ",
                           "1;",
                           "}"})
    Hand += std::string(Hand.empty() ? "" : "\r\n") + Line;
  EXPECT_TRUE(SameKeys(LoadVmd(Cp932Bytes(Hand))));

  TVpdBuilder NoMorphs = RealLookingPose();
  NoMorphs.Morphs.clear();
  const TVmd Bones = LoadVmd(NoMorphs.Build());
  EXPECT_EQ(Bones.MotionCount(), 4);
  EXPECT_EQ(Bones.SkinMotionCount(), 0);
  EXPECT_EQ(Bones.FrameCount(), 1u);

  // Only morphs: still one frame long. Nothing at all: no keys, no length.
  TVpdBuilder OnlyMorphs = RealLookingPose();
  OnlyMorphs.Bones.clear();
  const TVmd Face = LoadVmd(OnlyMorphs.Build());
  EXPECT_EQ(Face.MotionCount(), 0);
  EXPECT_EQ(Face.SkinMotionCount(), 2);
  EXPECT_EQ(Face.FrameCount(), 1u);
  EXPECT_EQ(LoadVmd(TVpdBuilder().Build()).FrameCount(), 0u);
}

// Each case replaces one line of a good pose (lines numbered from 1) with other text.
TEST(VpdReader, MalformedTextIsRejectedWithItsLineAndWhatWasExpected) {
  const std::vector<std::string> Good = {
      "Vocaloid Pose Data file",                                // 1
      "",                                                       // 2
      "m.osm;\t\t// 親ファイル名",                              // 3
      "2;\t\t\t// 総ポーズボーン数",                            // 4
      "",                                                       // 5
      "Bone0{センター",                                         // 6
      "  0.000000,1.000000,0.000000;\t\t// trans x,y,z",        // 7
      "  0.000000,0.000000,0.000000,1.000000;\t// Quaternion",  // 8
      "}",                                                      // 9
      "",                                                       // 10
      "Bone1{頭",                                               // 11
      "  0,0,0;",                                               // 12
      "  0,0,0,1;",                                             // 13
      "}",                                                      // 14
      "",                                                       // 15
      "Morph0{あ",                                              // 16
      "  0.5;",                                                 // 17
      "}",                                                      // 18
  };
  auto Text = [&](int ALine, const std::string& AReplacement) {
    std::string T;
    for (size_t I = 0; I < Good.size(); ++I)
      T += (static_cast<int>(I) + 1 == ALine ? AReplacement : Good[I]) + "\r\n";
    return Cp932Bytes(T);
  };
  ASSERT_EQ(ReadError(Text(0, "")), "");

  const std::string Move = "expected \"x,y,z;\" (the bone's translation)";
  const std::string Turn = "expected \"x,y,z,w;\" (the bone's rotation quaternion)";
  const std::string Count = "expected \"<bone count>;\"";
  const std::string Bone0 = "expected \"Bone0{<name>\" (bone 0 of 2)";
  const std::string MorphOrEnd =
      "expected \"MorphN{<name>\" (a morph's block) or the end of the file";
  struct TCase {
    int Line;
    std::string Replacement, Message;
  } Cases[] = {
      {1, "Vocaloid Pose Data", "line 1: expected the signature \"Vocaloid Pose Data file\""},
      {1, "", "line 1: expected the signature \"Vocaloid Pose Data file\""},
      {3, "m.osm", "line 3: expected \"<model file name>;\""},
      {4, "two;", "line 4: " + Count},
      {4, "-1;", "line 4: " + Count},
      {4, "2", "line 4: " + Count},
      {4, "2 bones;", "line 4: " + Count},
      {4, "99999999999999999999999;", "line 4: " + Count},
      {4, "1000000;", "line 4: the bone count 1000000 is more than the file can hold"},
      {4, "3;", "line 16: expected \"Bone2{<name>\" (bone 2 of 3)"},
      {6, "Bone0 センター", "line 6: " + Bone0},
      {6, "Bone0{", "line 6: " + Bone0},
      {6, "Bone{センター", "line 6: " + Bone0},
      {6, "// Bone0{センター", "line 7: " + Bone0},
      {7, "0,1;", "line 7: " + Move},
      {7, "0,1,0", "line 7: " + Move},
      {7, "0,1,0,0;", "line 7: " + Move},
      {7, "0,,0;", "line 7: " + Move},
      {7, "0,1x,0;", "line 7: " + Move},
      {7, "0,1e39,0;", "line 7: " + Move},
      {7, "nan,0,0;", "line 7: expected finite numbers in \"x,y,z;\" (the bone's translation)"},
      {7, "0,-inf,0;", "line 7: expected finite numbers in \"x,y,z;\" (the bone's translation)"},
      {8, "0,0,0;", "line 8: " + Turn},
      {8, "0,0,0,1,0;", "line 8: " + Turn},
      {9, "};", "line 9: expected \"}\" (the end of bone 0's block)"},
      {9, "", "line 11: expected \"}\" (the end of bone 0's block)"},
      {16, "Bone2{あ", "line 16: " + MorphOrEnd},
      {16, "Morph0{", "line 16: " + MorphOrEnd},
      {17, "0.5", "line 17: expected \"weight;\" (the morph's weight)"},
      {17, "inf;", "line 17: expected finite numbers in \"weight;\" (the morph's weight)"},
      {18, "", "line 19: expected \"}\" (the end of morph 0's block), found the end of the file"},
      {18, "}\r\nzzz", "line 19: " + MorphOrEnd},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Replacement);
    EXPECT_EQ(ReadError(Text(C.Line, C.Replacement)), C.Message);
  }

  // Cut short: the end of the text is reported on the line after the last.
  EXPECT_EQ(ReadError(Cp932Bytes("Vocaloid Pose Data file\r\n")),
            "line 2: expected \"<model file name>;\", found the end of the file");
  EXPECT_EQ(ReadError(Cp932Bytes(
                "Vocaloid Pose Data file\nm;\n1;\nBone0{abcdefghijklmnopqrstuvwxyz\n0,0,0;")),
            "line 6: " + Turn + ", found the end of the file");
  EXPECT_EQ(ReadError({}), "line 1: expected the signature \"Vocaloid Pose Data file\"");
}

// Hostile sizes: a count no text could hold fails before anything is sized from it, and a line of
// megabytes is only looked at, not copied per character.
TEST(VpdReader, HostileCountsAndHugeLinesAreSafe) {
  for (const char* Count : {"4294967296;", "18446744073709551615;", "2147483648;"}) {
    SCOPED_TRACE(Count);
    const std::string T = std::string("Vocaloid Pose Data file\r\nm;\r\n") + Count + "\r\n";
    EXPECT_NE(ReadError(Cp932Bytes(T)).find("line 3: "), std::string::npos);
  }
  std::string Long = "Vocaloid Pose Data file\r\nm;\r\n1;\r\nBone0{" + std::string(4 << 20, 'a') +
                     "\r\n0,0,0;\r\n0,0,0,1;\r\n}\r\n";
  const TVpdPose Pose = ReadVpd(Cp932Bytes(Long));
  ASSERT_EQ(Pose.Bones.size(), 1u);
  EXPECT_EQ(Pose.Bones[0].Name.size(), size_t{4 << 20});
  Long.replace(Long.find("0,0,0;"), 6, std::string(1 << 20, '0') + ",0,0,0;");
  EXPECT_EQ(ReadError(Cp932Bytes(Long)), "line 5: expected \"x,y,z;\" (the bone's translation)");
}

// Through the motion's file reader: the message names the file and the line, as the viewer
// shows it; a file that is neither a pose nor a motion is still the motion reader's error.
TEST(VpdReader, AMotionFileThatIsAPoseReadsAsOneAndNamesItsLineOnError) {
  const std::string Path = TempPath("pose.vpd");
  RealLookingPose().SaveToFile(Path);
  TVmd Vmd;
  Vmd.LoadFromFile(Path);
  EXPECT_EQ(Vmd.MotionCount(), 4);

  WriteBytesToFile(
      Path,
      Cp932Bytes(
          "Vocaloid Pose Data file\r\nm;\r\n1;\r\nBone0{abcdefghijklmnopqrstuvwxyz\r\n0,0;\r\n"));
  EXPECT_EQ(
      ErrorOf([&] { Vmd.LoadFromFile(Path); }),
      "Cannot read motion \"" + Path + "\": line 5: expected \"x,y,z;\" (the bone's translation)");
  std::remove(Path.c_str());
  // A comment after the signature does not hide it from the motion reader (fuzzing found the two
  // readers disagreeing).
  EXPECT_EQ(
      VmdLoadError(Cp932Bytes("Vocaloid Pose Data file\t// ポーズ\r\nm;\r\n1;\r\nBone0{センター"
                              "\r\n0,0,0;\r\n0,0,0,1;\r\n}\r\n")),
      "");
  // "Pose Data file" is the end of the first line, not anywhere in it.
  EXPECT_EQ(VmdLoadError(Cp932Bytes("Vocaloid Pose Data file v2\r\nm;\r\n0;\r\n")),
            "未対応のヘッダ");
}
