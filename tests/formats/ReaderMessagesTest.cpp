// What a user reads when a model or motion file cannot be read: the file's name, the reader's own
// text kept as it is, and what that text means in English.
#include <cstdio>
#include <string>
#include <vector>

#include "formats/ReaderMessages.h"
#include "tests/formats/FormatsTestUtil.h"

namespace {

// The first bytes of a PNG picture (signature and IHDR chunk of a 1x1 RGBA image).
std::vector<uint8_t> PngStart() {
  return {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00,
          0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
          0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0x1F, 0x15, 0xC4, 0x89};
}

}  // namespace

TEST(ReaderMessages, AFileThatCannotBeReadIsNamedWithTheReadersTextAndItsMeaning) {
  std::vector<uint8_t> Model = RichModel().Build();
  std::vector<uint8_t> Cut = Model;
  Cut.resize(Cut.size() / 2);
  const std::string Obj = "# Blender v2.93 OBJ File\nv 0 0 0\n";  // a text file named .pmx
  TVmdBuilder Motion;
  Motion.AddBoneKey("センター", 0);
  Motion.AddMorphKey("あ", 3, 1.0f);
  std::vector<uint8_t> CutMotion = Motion.Build();
  CutMotion.resize(CutMotion.size() - 10);  // inside the morph key

  struct TCase {
    const char* Name;
    const char* File;
    std::vector<uint8_t> Bytes;
    bool Model;
    std::string Message;  // after the path
  } Cases[] = {
      {"truncated model", "ミク.pmx", Cut, true,
       "\": ストリームからの読み取りエラー (the file ends early)"},
      {"PNG named .pmx", "picture.pmx", PngStart(), true,
       "\": 未知のシグネチャ (89 50 4E 47) (not a PMX file)"},
      {"printable wrong signature", "cube.pmx", std::vector<uint8_t>(Obj.begin(), Obj.end()), true,
       "\": 未知のシグネチャ (# Bl) (not a PMX file)"},
      {"truncated motion", "dance.vmd", CutMotion, false,
       "\": ストリームからの読み取りエラー (the file ends early)"},
      {"model given as motion", "model.vmd", Model, false,
       "\": 未対応のヘッダ (not a VMD motion, or one older than \"Vocaloid Motion Data 0002\" "
       "(the only version read))"},
  };
  for (const TCase& C : Cases) {
    const std::string Path = TempPath(C.File);
    WriteBytesToFile(Path, C.Bytes);
    TPmx Pmx;
    TVmd Vmd;
    const std::string Error = ErrorOf([&] {
      if (C.Model)
        Pmx.LoadFromFile(Path);
      else
        Vmd.LoadFromFile(Path);
    });
    EXPECT_EQ(Error, std::string("Cannot read ") + (C.Model ? "model" : "motion") + " \"" + Path +
                         C.Message)
        << C.Name;
    std::remove(Path.c_str());
  }

  // A file that cannot be opened is already named by the file layer, once.
  const std::string Missing = TempPath("gone.pmx");
  TPmx Pmx;
  const std::string Error = ErrorOf([&] { Pmx.LoadFromFile(Missing); });
  EXPECT_EQ(Error, "Cannot open file \"" + Missing + "\". No such file or directory");
}

TEST(ReaderMessages, MeaningsAreFoundByTheWholeTextOrItsStartBeforeADetail) {
  struct TCase {
    const char* Text;
    const char* Meaning;
  } Cases[] = {
      {"未知のバージョン (1.00)", "a PMX version other than 2.0 and 2.1"},
      {"未対応のサイズ", "an index size other than 1, 2 or 4 bytes"},
      {"Stream read error: PNG chunk runs past the data", "the file ends early"},
      {"未対応のサイズX", ""},  // another text that only starts alike
      {"PMX index out of range: face 0: vertex index 6 (the model has 6 vertices)", ""},
  };
  for (const TCase& C : Cases) EXPECT_EQ(ReaderErrorMeaning(C.Text), C.Meaning) << C.Text;
}

TEST(ReaderMessages, SignaturesAreShownAsTextOnlyWhenEveryByteIsPrintable) {
  struct TCase {
    std::vector<uint8_t> Bytes;
    const char* Shown;
  } Cases[] = {
      {{'P', 'M', 'D', ' '}, "PMD "},
      {{0x20, 0x7E, 'a', '0'}, " ~a0"},
      {{0x00, 'M', 'X', '\n'}, "00 4D 58 0A"},
      {{'P', 'M', 'X', 0x7F}, "50 4D 58 7F"},
      {{0x82, 0xA0, 0x82, 0xA2}, "82 A0 82 A2"},  // code page 932 "あい": not ASCII either
  };
  for (const TCase& C : Cases) EXPECT_EQ(ShownSignature(C.Bytes), C.Shown) << C.Shown;
}
