#include "formats/ReaderMessages.h"

#include <algorithm>
#include <cstdio>

namespace {

struct TMeaning {
  std::string_view Start;  // the reader's text, or its start before a detail in parentheses
  std::string_view Meaning;
};

// Every text the model, motion and picture readers raise without explaining itself.
constexpr TMeaning kMeanings[] = {
    {"ストリームからの読み取りエラー", "the file ends early"},
    {"Stream read error", "the file ends early"},
    {"未知のシグネチャ", "not a PMX file"},
    {"未知のバージョン", "a PMX version other than 2.0 and 2.1"},
    {"未知のPMDバージョン", "a PMD version other than 1.0"},
    {"8以外のヘッダバイト列サイズには未対応", "a PMX header with other than 8 settings"},
    {"未知のエンコーディング", "a text encoding other than UTF-16 and UTF-8"},
    {"未対応のサイズ", "an index size other than 1, 2 or 4 bytes"},
    {"未対応のヘッダ",
     "not a VMD motion, or one older than \"Vocaloid Motion Data 0002\" (the only version read)"},
    {"不正なDDSヘッダ", "not a DDS picture"},
    {"未対応のFOURCC", "a DDS pixel format that is not supported"},
};

bool Known(std::string_view AText, std::string_view AStart) {
  if (AText.substr(0, AStart.size()) != AStart) return false;
  // The whole text, or the start followed by its detail: "未対応のサイズ" is not
  // "未対応のサイズX".
  return AText.size() == AStart.size() || AText.substr(AStart.size(), 2) == " (" ||
         AText.substr(AStart.size(), 2) == ": ";
}

const char* RoleName(TReadFileRole ARole) {
  switch (ARole) {
    case TReadFileRole::rfModel:
      return "model";
    case TReadFileRole::rfMotion:
      return "motion";
    case TReadFileRole::rfImage:
      return "picture";
  }
  return "file";
}

}  // namespace

std::string ReaderErrorMeaning(std::string_view AReaderText) {
  for (const TMeaning& M : kMeanings)
    if (Known(AReaderText, M.Start)) return std::string(M.Meaning);
  return {};
}

std::string ReadFileErrorMessage(TReadFileRole ARole, const std::string& APath,
                                 const std::string& AReaderText) {
  const std::string Quoted = "\"" + APath + "\"";
  if (AReaderText.find(Quoted) != std::string::npos) return AReaderText;
  std::string Message =
      std::string("Cannot read ") + RoleName(ARole) + " " + Quoted + ": " + AReaderText;
  const std::string Meaning = ReaderErrorMeaning(AReaderText);
  if (!Meaning.empty()) Message += " (" + Meaning + ")";
  return Message;
}

std::string ShownSignature(std::span<const std::uint8_t> ABytes) {
  const bool Printable = std::all_of(ABytes.begin(), ABytes.end(),
                                     [](std::uint8_t B) { return B >= 0x20 && B <= 0x7E; });
  if (Printable) return std::string(ABytes.begin(), ABytes.end());
  std::string Hex;
  for (std::uint8_t B : ABytes) {
    char Byte[4];
    std::snprintf(Byte, sizeof Byte, "%02X", B);
    if (!Hex.empty()) Hex += ' ';
    Hex += Byte;
  }
  return Hex;
}
