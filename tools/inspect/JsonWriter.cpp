// Streaming JSON output for the inspector.
#include "tools/inspect/JsonWriter.h"

#include <charconv>
#include <cmath>
#include <cstdio>

void TJsonWriter::NewLine() {
  FOut.push_back('\n');
  FOut.append(2 * FStack.size(), ' ');
}

void TJsonWriter::BeforeValue() {
  if (FAfterKey) {
    FAfterKey = false;
    return;
  }
  if (FStack.empty()) return;
  TLevel& L = FStack.back();
  if (L.Count++ > 0) FOut.push_back(',');
  if (L.Inline) {
    if (L.Count > 1) FOut.push_back(' ');
  } else {
    NewLine();
  }
}

void TJsonWriter::Open(char ABracket, bool AInline) {
  BeforeValue();
  FOut.push_back(ABracket);
  // Inside an inline array everything stays on the line.
  const bool Inline = AInline || (!FStack.empty() && FStack.back().Inline);
  FStack.push_back(TLevel{Inline, 0});
}

void TJsonWriter::Close(char ABracket) {
  const TLevel L = FStack.back();
  FStack.pop_back();
  if (!L.Inline && L.Count > 0) NewLine();
  FOut.push_back(ABracket);
}

void TJsonWriter::Key(std::string_view AName) {
  BeforeValue();
  Quote(AName);
  FOut.append(": ");
  FAfterKey = true;
}

void TJsonWriter::String(std::string_view AText) {
  BeforeValue();
  Quote(AText);
}

void TJsonWriter::Quote(std::string_view AText) {
  FOut.push_back('"');
  for (unsigned char C : AText) {
    switch (C) {
      case '"':
        FOut.append("\\\"");
        break;
      case '\\':
        FOut.append("\\\\");
        break;
      case '\n':
        FOut.append("\\n");
        break;
      case '\r':
        FOut.append("\\r");
        break;
      case '\t':
        FOut.append("\\t");
        break;
      default:
        if (C < 0x20 || C == 0x7F) {
          char Buffer[8];
          std::snprintf(Buffer, sizeof(Buffer), "\\u%04x", C);
          FOut.append(Buffer);
        } else {
          FOut.push_back(static_cast<char>(C));
        }
    }
  }
  FOut.push_back('"');
}

void TJsonWriter::Int(int64_t AValue) {
  BeforeValue();
  FOut.append(std::to_string(AValue));
}

namespace {

template <typename T>
void AppendNumber(std::string& AOut, T AValue) {
  if (!std::isfinite(AValue)) {
    AOut.append("null");
    return;
  }
  char Buffer[32];
  const auto R = std::to_chars(Buffer, Buffer + sizeof(Buffer), AValue);
  AOut.append(Buffer, R.ptr);
}

}  // namespace

void TJsonWriter::Float(float AValue) {
  BeforeValue();
  AppendNumber(FOut, AValue);
}

void TJsonWriter::Double(double AValue) {
  BeforeValue();
  AppendNumber(FOut, AValue);
}

void TJsonWriter::Bool(bool AValue) {
  BeforeValue();
  FOut.append(AValue ? "true" : "false");
}

void TJsonWriter::Null() {
  BeforeValue();
  FOut.append("null");
}

void TJsonWriter::Floats(const float* AValues, int ACount) {
  BeginArray(true);
  for (int I = 0; I < ACount; ++I) Float(AValues[I]);
  EndArray();
}

std::string TJsonWriter::Take() {
  FOut.push_back('\n');
  return std::move(FOut);
}
