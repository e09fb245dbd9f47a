// TJsonWriter: a small streaming JSON writer for the inspector. Objects and arrays break one
// member per line with two-space indentation; arrays and objects opened inline stay on one line
// (vectors, index triples, small records). Floats and doubles are written in their shortest form
// that reads back to the same value; NaN and infinities, which JSON cannot hold, become null.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TJsonWriter {
 public:
  // An inline object stays on one line (small records such as one morph entry).
  void BeginObject(bool AInline = false) { Open('{', AInline); }
  void EndObject() { Close('}'); }
  void BeginArray(bool AInline = false) { Open('[', AInline); }
  void EndArray() { Close(']'); }
  // Member name inside an object; the next value belongs to it.
  void Key(std::string_view AName);

  void String(std::string_view AText);
  void Int(int64_t AValue);
  void Float(float AValue);
  void Double(double AValue);
  void Bool(bool AValue);
  void Null();
  // An inline array of floats.
  void Floats(const float* AValues, int ACount);

  // Finishes the document with a newline and hands over the text.
  std::string Take();

 private:
  struct TLevel {
    bool Inline;
    int Count;
  };
  void Open(char ABracket, bool AInline);
  void Close(char ABracket);
  void BeforeValue();
  void Quote(std::string_view AText);
  void NewLine();

  std::string FOut;
  std::vector<TLevel> FStack;
  bool FAfterKey = false;
};
