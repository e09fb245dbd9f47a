// VPD pose reader.
#include "formats/Vpd.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

#include "formats/PmxSettings.h"
#include "math/Errors.h"

namespace {

// The shortest text a bone block can take ("Bone0{x", "0,0,0;", "0,0,0,0;", "}" and their line
// ends): a count above the text's size over this cannot be true, whatever the file says.
constexpr size_t MinBoneBlockBytes = 24;

bool IsBlank(char C) {
  return C == ' ' || C == '\t' || C == '\r';
}

std::string_view Trim(std::string_view AText) {
  while (!AText.empty() && IsBlank(AText.front())) AText.remove_prefix(1);
  while (!AText.empty() && IsBlank(AText.back())) AText.remove_suffix(1);
  return AText;
}

// A line's content: up to "//" (no trail byte of a Shift-JIS character is '/'), trimmed.
std::string_view Content(std::string_view ALine) {
  const size_t Comment = ALine.find("//");
  return Trim(Comment == std::string_view::npos ? ALine : ALine.substr(0, Comment));
}

[[noreturn]] void Fail(int64_t ALine, const std::string& AText) {
  throw Exception("line " + std::to_string(ALine) + ": " + AText);
}

// The text's lines one at a time, blank and comment-only lines passed over. Views into the
// bytes; nothing is copied.
class TLineReader {
 public:
  explicit TLineReader(std::string_view AText) : FText(AText) {}

  // The next line as it is (for the signature, which must be the first line).
  std::string_view RawLine() {
    const size_t End = FText.find('\n', FPosition);
    const size_t Stop = End == std::string_view::npos ? FText.size() : End;
    const std::string_view Line = FText.substr(FPosition, Stop - FPosition);
    FPosition = End == std::string_view::npos ? FText.size() : End + 1;
    ++FLine;
    return Line;
  }
  // The next line with content, or nothing at the end of the text.
  std::optional<std::string_view> Next() {
    while (FPosition < FText.size()) {
      const std::string_view Line = Content(RawLine());
      if (!Line.empty()) return Line;
    }
    FLine = EndLine();
    return std::nullopt;
  }
  // Like Next, but the end of the text is an error: AExpected says what should have come.
  std::string_view Require(const std::string& AExpected) {
    const std::optional<std::string_view> Line = Next();
    if (!Line) Fail(FLine, "expected " + AExpected + ", found the end of the file");
    return *Line;
  }
  int64_t Line() const { return FLine; }
  size_t Remaining() const { return FText.size() - FPosition; }

 private:
  // The line after the last one: where the end of the text is reported.
  int64_t EndLine() const {
    int64_t Lines = 0;
    for (char C : FText) Lines += C == '\n';
    return Lines + (FText.empty() || FText.back() != '\n' ? 1 : 0) + 1;
  }

  std::string_view FText;
  size_t FPosition = 0;
  int64_t FLine = 0;
};

// "a,b,...;" with ACount finite numbers. Fails with AExpected on any other text.
void ReadNumbers(std::string_view ALine, int64_t ALineNumber, float* AValues, int ACount,
                 const std::string& AExpected) {
  if (ALine.empty() || ALine.back() != ';') Fail(ALineNumber, "expected " + AExpected);
  ALine.remove_suffix(1);
  for (int I = 0; I < ACount; ++I) {
    const size_t Comma = ALine.find(',');
    const bool Last = I == ACount - 1;
    // The last number takes the rest; any other stops at its comma, which must be there.
    if (Last != (Comma == std::string_view::npos)) Fail(ALineNumber, "expected " + AExpected);
    std::string_view Field = Trim(Last ? ALine : ALine.substr(0, Comma));
    if (!Last) ALine.remove_prefix(Comma + 1);
    if (!Field.empty() && Field.front() == '+') Field.remove_prefix(1);
    float Value = 0.0f;
    const auto [End, Error] = std::from_chars(Field.data(), Field.data() + Field.size(), Value);
    if (Field.empty() || Error != std::errc() || End != Field.data() + Field.size())
      Fail(ALineNumber, "expected " + AExpected);
    if (!std::isfinite(Value)) Fail(ALineNumber, "expected finite numbers in " + AExpected);
    AValues[I] = Value;
  }
}

// "<Kind><digits>{<name>": the name, or nothing when the line is not such a header.
std::optional<std::string_view> BlockName(std::string_view ALine, std::string_view AKind) {
  if (ALine.substr(0, AKind.size()) != AKind) return std::nullopt;
  ALine.remove_prefix(AKind.size());
  size_t Digits = 0;
  while (Digits < ALine.size() && ALine[Digits] >= '0' && ALine[Digits] <= '9') ++Digits;
  if (Digits == 0 || Digits == ALine.size() || ALine[Digits] != '{') return std::nullopt;
  const std::string_view Name = Trim(ALine.substr(Digits + 1));
  if (Name.empty()) return std::nullopt;
  return Name;
}

void ReadBlockEnd(TLineReader& ALines, const std::string& AWhose) {
  const std::string Expected = "\"}\" (the end of " + AWhose + "'s block)";
  if (ALines.Require(Expected) != "}") Fail(ALines.Line(), "expected " + Expected);
}

}  // namespace

bool IsVpdText(std::span<const uint8_t> ABytes) {
  TLineReader Lines(std::string_view(reinterpret_cast<const char*>(ABytes.data()), ABytes.size()));
  // As ReadVpd sees it: a comment after the signature does not hide it.
  return Content(Lines.RawLine()).ends_with(VpdSignatureEnd);
}

TVpdPose ReadVpd(std::span<const uint8_t> ABytes) {
  TLineReader Lines(std::string_view(reinterpret_cast<const char*>(ABytes.data()), ABytes.size()));
  if (!Content(Lines.RawLine()).ends_with(VpdSignatureEnd))
    Fail(1, "expected the signature \"Vocaloid Pose Data file\"");

  TVpdPose Pose;
  const std::string ModelExpected = "\"<model file name>;\"";
  const std::string_view Model = Lines.Require(ModelExpected);
  if (Model.back() != ';') Fail(Lines.Line(), "expected " + ModelExpected);
  Pose.ModelName = Trim(Model.substr(0, Model.size() - 1));

  const std::string CountExpected = "\"<bone count>;\"";
  const std::string_view CountLine = Lines.Require(CountExpected);
  const std::string_view Digits = Trim(CountLine.substr(0, CountLine.size() - 1));
  uint64_t Count = 0;
  const auto [End, Error] = std::from_chars(Digits.data(), Digits.data() + Digits.size(), Count);
  if (CountLine.back() != ';' || Digits.empty() || Error != std::errc() ||
      End != Digits.data() + Digits.size())
    Fail(Lines.Line(), "expected " + CountExpected);
  // Checked before anything is sized from it.
  if (Count > Lines.Remaining() / MinBoneBlockBytes)
    Fail(Lines.Line(), "the bone count " + std::string(Digits) + " is more than the file can hold");

  Pose.Bones.reserve(static_cast<size_t>(Count));
  for (uint64_t I = 0; I < Count; ++I) {
    const std::string Bone = "bone " + std::to_string(I);
    const std::string HeaderExpected =
        "\"Bone" + std::to_string(I) + "{<name>\" (" + Bone + " of " + std::to_string(Count) + ")";
    const std::optional<std::string_view> Name = BlockName(Lines.Require(HeaderExpected), "Bone");
    if (!Name) Fail(Lines.Line(), "expected " + HeaderExpected);
    TVpdBone B;
    B.Name = *Name;
    const std::string MoveExpected = "\"x,y,z;\" (the bone's translation)";
    const std::string_view Move = Lines.Require(MoveExpected);
    ReadNumbers(Move, Lines.Line(), B.Position.V, 3, MoveExpected);
    const std::string TurnExpected = "\"x,y,z,w;\" (the bone's rotation quaternion)";
    const std::string_view Turn = Lines.Require(TurnExpected);
    ReadNumbers(Turn, Lines.Line(), B.Rotation.V, 4, TurnExpected);
    ReadBlockEnd(Lines, Bone);
    Pose.Bones.push_back(B);
  }

  // Morph blocks, any number, up to the end of the text.
  while (const std::optional<std::string_view> Line = Lines.Next()) {
    const std::optional<std::string_view> Name = BlockName(*Line, "Morph");
    if (!Name)
      Fail(Lines.Line(), "expected \"MorphN{<name>\" (a morph's block) or the end of the file");
    TVpdMorph M;
    M.Name = *Name;
    const std::string WeightExpected = "\"weight;\" (the morph's weight)";
    const std::string_view Weight = Lines.Require(WeightExpected);
    ReadNumbers(Weight, Lines.Line(), &M.Weight, 1, WeightExpected);
    ReadBlockEnd(Lines, "morph " + std::to_string(Pose.Morphs.size()));
    Pose.Morphs.push_back(M);
  }

  // Into the system's frame, exactly as a motion's bone keys.
  for (TVpdBone& B : Pose.Bones) {
    B.Position.X *= PositionScale;
    B.Position.Y *= PositionScale;
    B.Position.Z *= PositionScale;
    if (MirrorZ) {
      B.Position.Z = -B.Position.Z;
      B.Rotation.Z = -B.Rotation.Z;
      B.Rotation.W = -B.Rotation.W;
    }
  }
  return Pose;
}
