// Truncated and corrupted files: every one fails cleanly with an Exception, never reads past the
// data (each load runs on an exactly sized heap copy, so AddressSanitizer builds catch overreads)
// and never allocates more than the file can back.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string_view>

#include "tests/formats/FormatsTestUtil.h"

namespace {

// What a loaded model promises (Pmx.h): every index that skinning, morphing, IK and drawing follow
// names an existing element. Checked from the lists themselves, apart from the reader's own
// validation, so that a gap in that validation shows here.
::testing::AssertionResult IndicesInRange(const TPmx& APmx) {
  const int64_t Vertices = static_cast<int64_t>(APmx.VertexList().size());
  const int64_t Bones = static_cast<int64_t>(APmx.BoneList().size());
  const int64_t Textures = static_cast<int64_t>(APmx.TextureList().size());
  auto In = [](int64_t AIndex, int64_t ACount) { return AIndex >= 0 && AIndex < ACount; };
  auto InOrNone = [&](int64_t AIndex, int64_t ACount) {
    return AIndex == -1 || In(AIndex, ACount);
  };
  std::ostringstream Bad;
  const std::vector<int32_t>& Faces = APmx.FaceList();
  for (size_t I = 0; I < Faces.size(); ++I)
    if (!In(Faces[I], Vertices)) Bad << "face index " << I << " = " << Faces[I] << "; ";
  for (size_t I = 0; I < APmx.VertexList().size(); ++I) {
    const TPmxVertex& V = APmx.VertexList()[I];
    std::vector<int32_t> Slots;
    if (V.BoneWeightMethod == bwBDEF1) Slots = {V.BoneWeight.BDEF1.BoneIndex};
    if (V.BoneWeightMethod == bwBDEF2 || V.BoneWeightMethod == bwSDEF)
      Slots = {V.BoneWeight.BDEF2.Bone1Index, V.BoneWeight.BDEF2.Bone2Index};
    if (V.BoneWeightMethod == bwBDEF4 || V.BoneWeightMethod == bwQDEF)
      Slots = {V.BoneWeight.BDEF4.Bone1Index, V.BoneWeight.BDEF4.Bone2Index,
               V.BoneWeight.BDEF4.Bone3Index, V.BoneWeight.BDEF4.Bone4Index};
    for (int32_t B : Slots)
      if (!InOrNone(B, Bones)) Bad << "vertex " << I << " weight bone " << B << "; ";
  }
  for (size_t I = 0; I < APmx.BoneList().size(); ++I) {
    const TPmxBone& B = APmx.BoneList()[I];
    if (!InOrNone(B.ParentIndex, Bones)) Bad << "bone " << I << " parent; ";
    if (HasFlag(B.Flags, bfConnection) && !InOrNone(B.ConnectionBoneIndex, Bones))
      Bad << "bone " << I << " connection; ";
    if ((HasFlag(B.Flags, bfAddRotation) || HasFlag(B.Flags, bfAddTranslation)) &&
        !InOrNone(B.AddParentBoneIndex, Bones))
      Bad << "bone " << I << " append parent; ";
    if (HasFlag(B.Flags, bfIK)) {
      if (!In(B.IKTargetBoneIndex, Bones)) Bad << "bone " << I << " IK target; ";
      for (const TPmxIKLink& L : B.IKLinks)
        if (!In(L.LinkBoneIndex, Bones)) Bad << "bone " << I << " IK link; ";
    }
  }
  // A parent chain longer than the bone list goes round a loop.
  for (int64_t I = 0; I < Bones && Bad.str().empty(); ++I) {
    int64_t At = I, Steps = 0;
    while (At != -1 && Steps++ <= Bones) At = APmx.BoneList()[At].ParentIndex;
    if (At != -1) Bad << "bone " << I << " parent chain loops; ";
  }
  for (size_t I = 0; I < APmx.MorphList().size(); ++I) {
    const TPmxMorph& M = APmx.MorphList()[I];
    if (M.Kind != mkVertex) continue;
    for (const TPmxMorphData& D : M.Data)
      if (!In(D.Vertex.VertexIndex, Vertices)) Bad << "morph " << I << " vertex index; ";
  }
  int64_t Drawn = 0;
  for (size_t I = 0; I < APmx.MaterialList().size(); ++I) {
    const TPmxMaterial& M = APmx.MaterialList()[I];
    if (M.NumberOfVertex < 0) Bad << "material " << I << " negative face count; ";
    Drawn += M.NumberOfVertex;
    if (!InOrNone(M.TextureIndex, Textures)) Bad << "material " << I << " texture; ";
    if (!InOrNone(M.SphereTextureIndex, Textures)) Bad << "material " << I << " sphere; ";
    if (M.SharedToonFlag == 0 && !InOrNone(M.ToonTexture.ToonTextureIndex, Textures))
      Bad << "material " << I << " toon; ";
  }
  if (Drawn > static_cast<int64_t>(Faces.size())) Bad << "materials draw past the face list; ";
  if (Bad.str().empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << Bad.str();
}

// The model reader's own messages: exact, or the fixed start of one that names a value.
bool IsModelReaderMessage(const std::string& AMessage) {
  for (std::string_view Exact :
       {std::string_view(StreamError), std::string_view("8以外のヘッダバイト列サイズには未対応"),
        std::string_view("未対応のサイズ")})
    if (AMessage == Exact) return true;
  for (std::string_view Start : {"未知のシグネチャ (", "未知のバージョン (",
                                 "未知のエンコーディング (", "PMX index out of range: "})
    if (AMessage.starts_with(Start)) return true;
  return false;
}

}  // namespace

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
      ASSERT_TRUE(IndicesInRange(Pmx)) << "offset " << Offset << ", value " << P.Value;
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
  int Loaded = 0, Failed = 0;
  for (int Round = 0; Round < 3000; ++Round) {
    const bool IsModel = Round % 4 != 0;
    std::vector<uint8_t> Bytes = IsModel ? Models[Round % 2] : MotionBytes;
    const int Mutations = 1 + static_cast<int>(Random() % 8);
    for (int M = 0; M < Mutations; ++M) Bytes[Random() % Bytes.size()] = uint8_t(Random());
    if (Random() % 4 == 0) Bytes.resize(Random() % Bytes.size());
    // A load either gives a document that is safe to follow, or fails with one of the reader's
    // own messages (ErrorOf fails the test for any other exception type).
    if (IsModel) {
      TPmx Pmx;
      const std::string Error = PmxLoadError(Bytes, &Pmx);
      ++(Error.empty() ? Loaded : Failed);
      if (Error.empty())
        EXPECT_TRUE(IndicesInRange(Pmx)) << "round " << Round;
      else
        EXPECT_TRUE(IsModelReaderMessage(Error)) << "round " << Round << ": " << Error;
    } else {
      TVmd Vmd;
      const std::string Error = VmdLoadError(Bytes, &Vmd);
      ++(Error.empty() ? Loaded : Failed);
      if (Error.empty()) {
        // Every key read came from the file: a 30 + 20-byte header and two counts, then
        // 111-byte bone keys and 23-byte morph keys.
        EXPECT_LE(58 + 111 * size_t(Vmd.MotionCount()) + 23 * size_t(Vmd.SkinMotionCount()),
                  Bytes.size())
            << "round " << Round;
      } else {
        EXPECT_TRUE(Error == StreamError || Error == "未対応のヘッダ")
            << "round " << Round << ": " << Error;
      }
    }
  }
  // The sweep reaches both outcomes.
  EXPECT_GT(Loaded, 100);
  EXPECT_GT(Failed, 100);
}
