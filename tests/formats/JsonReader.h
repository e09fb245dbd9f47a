// Just enough of a JSON reader for the inspector's tests to read its output back and check values.
// Depends on GoogleTest (a missing member or item is a test failure).
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>
#include <vector>

// Just enough JSON to read the inspector's output back: objects, arrays, numbers, strings
// (escapes \" \\ \n only), booleans, null.
struct TJson {
  enum { jNull, jBool, jNumber, jString, jArray, jObject } Kind = jNull;
  double Number = 0;
  std::string Text;
  std::vector<TJson> Items;
  std::map<std::string, TJson> Members;
  bool Flag = false;  // a boolean's value

  const TJson& operator[](const std::string& AKey) const {
    static const TJson Missing;
    const auto It = Members.find(AKey);
    if (It == Members.end()) ADD_FAILURE() << "no member " << AKey;
    return It == Members.end() ? Missing : It->second;
  }
  const TJson& operator[](size_t AIndex) const {
    static const TJson Missing;
    if (AIndex >= Items.size()) ADD_FAILURE() << "no item " << AIndex;
    return AIndex < Items.size() ? Items[AIndex] : Missing;
  }
  std::vector<double> Numbers() const {
    std::vector<double> R;
    for (const TJson& I : Items) R.push_back(I.Number);
    return R;
  }
};

class TJsonReader {
 public:
  explicit TJsonReader(const std::string& AText) : FText(AText) {}
  bool Read(TJson& AValue) {
    if (!Value(AValue)) return false;
    Space();
    return FPos == FText.size();
  }

 private:
  void Space() {
    while (FPos < FText.size() && std::isspace(static_cast<unsigned char>(FText[FPos]))) ++FPos;
  }
  bool Eat(char C) {
    Space();
    if (FPos < FText.size() && FText[FPos] == C) {
      ++FPos;
      return true;
    }
    return false;
  }
  bool String(std::string& AOut) {
    if (!Eat('"')) return false;
    while (FPos < FText.size() && FText[FPos] != '"') {
      char C = FText[FPos++];
      if (C == '\\' && FPos < FText.size()) {
        C = FText[FPos++];
        if (C == 'n') C = '\n';
      }
      AOut += C;
    }
    return FPos++ < FText.size();
  }
  bool Value(TJson& V) {
    Space();
    if (FPos >= FText.size()) return false;
    const char C = FText[FPos];
    if (C == '{') {
      V.Kind = TJson::jObject;
      ++FPos;
      if (Eat('}')) return true;
      do {
        std::string Key;
        if (!String(Key) || !Eat(':') || !Value(V.Members[Key])) return false;
      } while (Eat(','));
      return Eat('}');
    }
    if (C == '[') {
      V.Kind = TJson::jArray;
      ++FPos;
      if (Eat(']')) return true;
      do {
        V.Items.emplace_back();
        if (!Value(V.Items.back())) return false;
      } while (Eat(','));
      return Eat(']');
    }
    if (C == '"') {
      V.Kind = TJson::jString;
      return String(V.Text);
    }
    for (const bool Flag : {false, true}) {
      const std::string Word = Flag ? "true" : "false";
      if (FText.compare(FPos, Word.size(), Word) == 0) {
        FPos += Word.size();
        V.Kind = TJson::jBool;
        V.Flag = Flag;
        return true;
      }
    }
    if (FText.compare(FPos, 4, "null") == 0) {
      FPos += 4;
      return true;
    }
    V.Kind = TJson::jNumber;
    size_t Used = 0;
    V.Number = std::stod(FText.substr(FPos, 40), &Used);
    FPos += Used;
    return Used > 0;
  }

  const std::string& FText;
  size_t FPos = 0;
};

inline TJson ParseJson(const std::string& AText) {
  TJson V;
  EXPECT_TRUE(TJsonReader(AText).Read(V)) << AText;
  return V;
}

inline void ExpectNumbers(const TJson& AValue, const std::vector<double>& AExpected,
                          const char* AWhat) {
  const std::vector<double> Got = AValue.Numbers();
  ASSERT_EQ(Got.size(), AExpected.size()) << AWhat;
  for (size_t I = 0; I < Got.size(); ++I)
    EXPECT_NEAR(Got[I], AExpected[I], 1e-5) << AWhat << "[" << I << "]";
}
