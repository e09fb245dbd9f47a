// Four floats as one vector value for the fast path of the controller core (morphs and skinning).
// Each lane is rounded exactly as the scalar float operation would be, so the fast path stays equal
// to the literal algorithm to the bit. Internal to character/core; depends on nothing.
#pragma once

#include <cstring>

namespace pmx_lanes {

typedef float TLanes __attribute__((vector_size(16)));

// Built from the three floats: a 12-byte copy into a 16-byte value would go through the stack
// and stall the load that reads it back.
inline TLanes Load3(const float* ASource) {
  return TLanes{ASource[0], ASource[1], ASource[2], 0.0f};
}
inline void Store3(float* ADest, TLanes AValue) {
  std::memcpy(ADest, &AValue, 3 * sizeof(float));
}

}  // namespace pmx_lanes
