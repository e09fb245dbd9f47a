// The controller core's skinning stream: one record of 32-bit words per vertex, built once per
// model (BuildSkinStream) and read by every skinning loop of the fast path. Internal to
// character/core (and its tests).
//
// A record: the header word, then the slots' bone indices (int32 bits, -1 for a slot without a
// bone), then for 2 and 4 slots their weights (float bits), then for an SDEF vertex its fixed
// points C, cr0, cr1 (nine floats). One slot is BDEF1 (no weight); 0 slots an unknown weight
// method (the vertex keeps its rest place).
//   header bits 0-2: the slot count (0, 1, 2 or 4)
//   header bit 3:    some slot has no bone: its term adds nothing, the others are weighted as usual
//   header bit 4:    SDEF (never together with bit 3: such a vertex is skinned as BDEF2)
#pragma once

#include <cstdint>
#include <cstring>

inline constexpr uint32_t SkinRecordSlotCount = 0x7u;
inline constexpr uint32_t SkinRecordWithoutBone = 1u << 3;
inline constexpr uint32_t SkinRecordSdef = 1u << 4;

// Words an SDEF record adds after its weights (its points C, cr0 and cr1).
inline constexpr uint32_t SkinRecordSdefWords = 9;

// One bone's skinning matrix rows (floats 0-3 of each row) beside the rows of its rotation-only
// copy (floats 4-7), for skinning a position and a normal in one 256-bit value.
struct alignas(32) TPmxSkinBonePair {
  float Rows[4][8];
};

// One record as read: its slot count and header bits, and where its words are in the stream.
struct TSkinRecord {
  uint32_t Count;         // slots: 0, 1, 2 or 4
  uint32_t Header;        // the whole header word (test SkinRecordWithoutBone, SkinRecordSdef)
  const uint32_t* Words;  // the bone indices; the weights follow them (Count >= 2)
  int32_t Bone(uint32_t ASlot) const { return static_cast<int32_t>(Words[ASlot]); }
  float Weight(uint32_t ASlot) const {
    float F;
    std::memcpy(&F, &Words[Count + ASlot], sizeof F);
    return F;
  }
  // C, cr0, cr1 of an SDEF record, three float bits each.
  const uint32_t* SdefPoints() const { return Words + 2 * Count; }
  bool WithoutBone() const { return (Header & SkinRecordWithoutBone) != 0; }
  bool Sdef() const { return (Header & SkinRecordSdef) != 0; }
};

// Words of the record whose header is AHeader, header included.
[[gnu::always_inline]] inline uint32_t SkinRecordWords(uint32_t AHeader) {
  const uint32_t Count = AHeader & SkinRecordSlotCount;
  return 1 + Count + (Count >= 2 ? Count : 0) +
         ((AHeader & SkinRecordSdef) ? SkinRecordSdefWords : 0);
}

// The record at ACursor; ACursor moves on to the next one. The step is taken by branches on the
// slot count, the same tests the skinning loops make next: the compiler merges them, so the next
// record's address is known as soon as the branch is predicted instead of waiting for this
// header's load (a sum of the header's fields would chain every record's load to the one before).
[[gnu::always_inline]] inline TSkinRecord ReadSkinRecord(const uint32_t*& ACursor) {
  const uint32_t Header = ACursor[0];
  const TSkinRecord R{Header & SkinRecordSlotCount, Header, ACursor + 1};
  if (R.Count == 1)
    ACursor += 2;
  else if (R.Count == 2)
    ACursor += R.Sdef() ? 5 + SkinRecordSdefWords : 5;
  else if (R.Count == 4)
    ACursor += 9;
  else
    ACursor += SkinRecordWords(Header);
  return R;
}
