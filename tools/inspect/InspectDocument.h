// InspectDocument: the one-member helpers the inspector's document writers share (a key and its
// value). Depends on the JSON writer and the readers' vector types.
#pragma once

#include <cstdint>
#include <string_view>

#include "formats/pmxlib.h"
#include "tools/inspect/JsonWriter.h"

inline void Vec(TJsonWriter& J, const char* AKey, const PmxFloat3& AV) {
  J.Key(AKey);
  J.Floats(AV.V, 3);
}
inline void Vec(TJsonWriter& J, const char* AKey, const PmxFloat4& AV) {
  J.Key(AKey);
  J.Floats(AV.V, 4);
}
inline void IntMember(TJsonWriter& J, const char* AKey, int64_t AValue) {
  J.Key(AKey);
  J.Int(AValue);
}
inline void FloatMember(TJsonWriter& J, const char* AKey, float AValue) {
  J.Key(AKey);
  J.Float(AValue);
}
inline void StringMember(TJsonWriter& J, const char* AKey, std::string_view AValue) {
  J.Key(AKey);
  J.String(AValue);
}
