// VPD pose writer.
#include "formats/VpdWriter.h"

#include <charconv>
#include <cstdio>

#include "formats/PmxWriter.h"
#include "formats/TextDecoding.h"

std::string VpdNumber(float AValue) {
  char Text[64];
  std::snprintf(Text, sizeof Text, "%f", static_cast<double>(AValue));
  float Back = 0.0f;
  std::from_chars(Text, Text + std::char_traits<char>::length(Text), Back);
  if (Back == AValue) return Text;
  const auto Result = std::to_chars(Text, Text + sizeof Text, AValue);
  return std::string(Text, Result.ptr);
}

std::vector<std::string> TVpdBuilder::Lines() const {
  auto Commented = [this](std::string AValue, const char* AComment) {
    if (Comments) AValue += std::string("\t\t\t\t// ") + AComment;
    return AValue;
  };
  auto Numbers = [](std::initializer_list<float> AValues) {
    std::string Text = "  ";
    for (float V : AValues) Text += (Text.size() > 2 ? "," : "") + VpdNumber(V);
    return Text + ";";
  };
  std::vector<std::string> L = {Signature, ""};
  L.push_back(Commented(ModelName + ";", "親ファイル名"));
  L.push_back(Commented(std::to_string(Bones.size()) + ";", "総ポーズボーン数"));
  L.push_back("");
  for (size_t I = 0; I < Bones.size(); ++I) {
    const TBone& B = Bones[I];
    L.push_back("Bone" + std::to_string(I) + "{" + B.Name);
    L.push_back(Commented(Numbers({B.Position.X, B.Position.Y, B.Position.Z}), "trans x,y,z"));
    L.push_back(Commented(Numbers({B.Rotation.X, B.Rotation.Y, B.Rotation.Z, B.Rotation.W}),
                          "Quaternion x,y,z,w"));
    L.push_back("}");
    L.push_back("");
  }
  for (size_t I = 0; I < Morphs.size(); ++I) {
    L.push_back("Morph" + std::to_string(I) + "{" + Morphs[I].Name);
    L.push_back(Commented("  " + VpdNumber(Morphs[I].Weight) + ";", "weight"));
    L.push_back("}");
    L.push_back("");
  }
  return L;
}

std::vector<uint8_t> TVpdBuilder::Build() const {
  std::string Text;
  for (const std::string& Line : Lines()) Text += Line + LineEnd;
  const std::string Bytes = Utf8ToCp932(Text);
  return std::vector<uint8_t>(Bytes.begin(), Bytes.end());
}

void TVpdBuilder::SaveToFile(const std::string& AFileName) const {
  WriteBytesToFile(AFileName, Build());
}
