// The fast path's skinning: one pass over the vertex stream that writes positions and normals
// together (256-bit where the CPU has AVX, on the worker threads), SDEF rotations computed several
// vertices at a time, and the split of a physics frame that skins the vertices no simulated body
// can move while the step runs. The same float operations in the same order as PmxReferenceCore.
#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "character/core/ParallelChunks.h"
#include "character/core/PmxControllerCore.h"
#include "character/core/PmxLanes.h"
#include "character/core/PmxSdef.h"
#include "character/core/PmxSkinStream.h"

using namespace pmx_lanes;

namespace {

inline TLanes Row(const TMatrix4f& M, int R) {
  TLanes L;
  std::memcpy(&L, &M.V[4 * R], sizeof L);
  return L;
}
inline TLanes Splat(float F) {
  return TLanes{F, F, F, F};
}

// (x, y, z, 1) * M, summed in the order x, y, z, translation.
inline TLanes Transform(TLanes X, TLanes Y, TLanes Z, const TMatrix4f& M) {
  return ((X * Row(M, 0) + Y * Row(M, 1)) + Z * Row(M, 2)) + Row(M, 3);
}

// A float from its bits in the stream.
inline float FloatOfBits(uint32_t ABits) {
  float F;
  std::memcpy(&F, &ABits, sizeof F);
  return F;
}

// One slot's share of a blended vertex; a slot without a bone contributes nothing (zero).
inline TLanes Term(int32_t ABone, float AWeight, TLanes X, TLanes Y, TLanes Z,
                   const TMatrix4f* AMatrices) {
  if (ABone < 0) return TLanes{0.0f, 0.0f, 0.0f, 0.0f};
  return Transform(X, Y, Z, AMatrices[ABone]) * AWeight;
}

// Floats 0-3 of row R of a bone's rows laid out AStride floats apart.
template <int AStride>
inline TLanes RowAt(const float* ARows, int R) {
  TLanes L;
  std::memcpy(&L, ARows + AStride * R, sizeof L);
  return L;
}

// SDEF vertices whose rotation matrices one pass computes together: their rows stay in L1.
constexpr size_t SdefBatch = 64;
// Per SDEF vertex of a batch the rows X, Y, Z of its rotation matrix, four floats each (the
// fourth 0).
typedef float TSdefRows[12];

static_assert(offsetof(TRotationArc, To) == 4 * sizeof(float) && sizeof(TQuaternion) == 16,
              "an arc's From and To are eight floats in a row");

// RotationArcMatrix lane by lane, one vertex per lane: AQ holds the arcs' From x, y, z, w and To
// x, y, z, w. Every lane takes the same float operations in the same order as the scalar function.
// ARedo marks lanes where that one would leave the polynomial (an angle beyond pi/2) or fall back
// to the identity: the caller redoes them with it.
template <class TV, class TMask>
[[gnu::always_inline]] inline void SdefRotations(const TV (&AQ)[8], const TV& AT, const TV& AOmega,
                                                 const TMask& AStraight, TV (&AR)[9],
                                                 TMask& ARedo) {
  const TV One = TV{} + 1.0f;
  const TV A0 = (One - AT) * AOmega, A1 = AT * AOmega;
  const TV Sq0 = A0 * A0, Sq1 = A1 * A1;
  // Straight lanes take 1 - T and T; picked bit by bit (a vector ?: on integer masks falls apart
  // into branches without AVX2).
  TMask Bits[4];
  TV Choices[4] = {One - AT, {}, AT, {}};
  SinPolynomial(A0, Sq0, Choices[1]);
  SinPolynomial(A1, Sq1, Choices[3]);
  std::memcpy(Bits, Choices, sizeof Bits);
  const TMask Picked[2] = {(AStraight & Bits[0]) | (~AStraight & Bits[1]),
                           (AStraight & Bits[2]) | (~AStraight & Bits[3])};
  TV S0, S1;
  std::memcpy(&S0, &Picked[0], sizeof S0);
  std::memcpy(&S1, &Picked[1], sizeof S1);
  // |A| <= 1.5707964f (false for NaN), by float compares only: 256-bit integer operations would
  // need AVX2.
  const TV Limit = TV{} + 1.5707964f;
  const TMask InRange = (A0 <= Limit) & (A0 >= -Limit) & (A1 <= Limit) & (A1 >= -Limit);
  const TV x = S0 * AQ[0] + S1 * AQ[4], y = S0 * AQ[1] + S1 * AQ[5], z = S0 * AQ[2] + S1 * AQ[6],
           w = S0 * AQ[3] + S1 * AQ[7];
  const TV N = x * x + y * y + z * z + w * w;
  const TV S = 2.0f / N;
  AR[0] = One - S * (y * y + z * z), AR[1] = S * (x * y + w * z), AR[2] = S * (x * z - w * y);
  AR[3] = S * (x * y - w * z), AR[4] = One - S * (x * x + z * z), AR[5] = S * (y * z + w * x);
  AR[6] = S * (x * z + w * y), AR[7] = S * (y * z - w * x), AR[8] = One - S * (x * x + y * y);
  ARedo = (~AStraight & ~InRange) | ~(N > 1e-30f);
}

// The lanes' inputs besides From and To: the weight, the angle and the straight flag; lanes past
// ALanes repeat the last vertex (computed, never stored).
template <size_t W>
struct TSdefLaneInputs {
  const TRotationArc* Arc[W];
  alignas(32) float T[W], Omega[W];
  alignas(32) int32_t Straight[W];
  TSdefLaneInputs(const TRotationArc* AArcs, const uint32_t* AArcOf, const float* AT,
                  size_t ALanes) {
    for (size_t L = 0; L < W; ++L) {
      const size_t I = std::min(L, ALanes - 1);
      Arc[L] = &AArcs[AArcOf[I]];
      T[L] = AT[I];
      Omega[L] = Arc[L]->Omega;
      Straight[L] = Arc[L]->Straight ? -1 : 0;
    }
  }
};

// Lanes the vector pass could not take, by the scalar function.
inline void RedoSdefLanes(const int32_t* ARedo, size_t ALanes, const TRotationArc* AArcs,
                          const uint32_t* AArcOf, const float* AT, TSdefRows* ARows) {
  for (size_t L = 0; L < ALanes; ++L) {
    if (!ARedo[L]) continue;
    const TMatrix4f M = RotationArcMatrix(AArcs[AArcOf[L]], AT[L]);
    for (int R = 0; R < 3; ++R)
      for (int C = 0; C < 4; ++C) ARows[L][4 * R + C] = C < 3 ? M.V[4 * R + C] : 0.0f;
  }
}

// The rotation rows of ACount (at most SdefBatch) SDEF vertices, four at a time: arcs and rows
// turned between one vertex per lane and one vertex per vector with 4x4 transposes.
void SdefMatrices4(const TRotationArc* AArcs, const uint32_t* AArcOf, const float* AT,
                   size_t ACount, TSdefRows* ARows) {
  typedef int32_t TMask __attribute__((vector_size(16)));
  for (size_t First = 0; First < ACount; First += 4) {
    const size_t Lanes = std::min<size_t>(4, ACount - First);
    const TSdefLaneInputs<4> In(AArcs, AArcOf + First, AT + First, Lanes);
    __m128 F[4], Q[4];
    for (int L = 0; L < 4; ++L) {
      F[L] = _mm_loadu_ps(&In.Arc[L]->From.ImagPart.X);
      Q[L] = _mm_loadu_ps(&In.Arc[L]->To.ImagPart.X);
    }
    _MM_TRANSPOSE4_PS(F[0], F[1], F[2], F[3]);
    _MM_TRANSPOSE4_PS(Q[0], Q[1], Q[2], Q[3]);
    const TLanes Arc[8] = {F[0], F[1], F[2], F[3], Q[0], Q[1], Q[2], Q[3]};
    TLanes R[9];
    TMask Redo;
    SdefRotations(Arc, reinterpret_cast<const TLanes&>(In.T),
                  reinterpret_cast<const TLanes&>(In.Omega),
                  reinterpret_cast<const TMask&>(In.Straight), R, Redo);
    for (int Rr = 0; Rr < 3; ++Rr) {
      __m128 A = R[3 * Rr], B = R[3 * Rr + 1], C = R[3 * Rr + 2], D = _mm_setzero_ps();
      _MM_TRANSPOSE4_PS(A, B, C, D);
      _mm_store_ps(ARows[First + 0] + 4 * Rr, A);
      _mm_store_ps(ARows[First + 1] + 4 * Rr, B);
      _mm_store_ps(ARows[First + 2] + 4 * Rr, C);
      _mm_store_ps(ARows[First + 3] + 4 * Rr, D);
    }
    if (_mm_movemask_ps(reinterpret_cast<__m128>(Redo)))
      RedoSdefLanes(reinterpret_cast<const int32_t*>(&Redo), Lanes, AArcs, AArcOf + First,
                    AT + First, ARows + First);
  }
}

// The same eight at a time with 256-bit vectors (an 8x8 transpose in, 4x4 transposes per half
// out).
__attribute__((target("avx"))) void SdefMatrices8(const TRotationArc* AArcs, const uint32_t* AArcOf,
                                                  const float* AT, size_t ACount,
                                                  TSdefRows* ARows) {
  typedef float TV __attribute__((vector_size(32)));
  typedef int32_t TMask __attribute__((vector_size(32)));
  for (size_t First = 0; First < ACount; First += 8) {
    const size_t Lanes = std::min<size_t>(8, ACount - First);
    // Lanes past the end repeat the last vertex (computed, never stored). The lanes' values go
    // straight into registers: eight stores read back as one vector would wait for the stores.
    const TRotationArc* Arc[8];
    float T[8];
    for (size_t L = 0; L < 8; ++L) {
      const size_t I = First + std::min(L, Lanes - 1);
      Arc[L] = &AArcs[AArcOf[I]];
      T[L] = AT[I];
    }
    const __m256 Tv = Lanes == 8 ? _mm256_loadu_ps(AT + First)
                                 : _mm256_setr_ps(T[0], T[1], T[2], T[3], T[4], T[5], T[6], T[7]);
    const __m256 Omega = _mm256_setr_ps(Arc[0]->Omega, Arc[1]->Omega, Arc[2]->Omega, Arc[3]->Omega,
                                        Arc[4]->Omega, Arc[5]->Omega, Arc[6]->Omega, Arc[7]->Omega);
    const __m256i Straight = _mm256_setr_epi32(
        -int32_t(Arc[0]->Straight), -int32_t(Arc[1]->Straight), -int32_t(Arc[2]->Straight),
        -int32_t(Arc[3]->Straight), -int32_t(Arc[4]->Straight), -int32_t(Arc[5]->Straight),
        -int32_t(Arc[6]->Straight), -int32_t(Arc[7]->Straight));
    __m256 Q[8];
    for (int L = 0; L < 8; ++L) Q[L] = _mm256_loadu_ps(&Arc[L]->From.ImagPart.X);
    // Rows L (From, To of lane L) into columns: lane L of result K is float K of row L.
    const __m256 T0 = _mm256_unpacklo_ps(Q[0], Q[1]), T1 = _mm256_unpackhi_ps(Q[0], Q[1]),
                 T2 = _mm256_unpacklo_ps(Q[2], Q[3]), T3 = _mm256_unpackhi_ps(Q[2], Q[3]),
                 T4 = _mm256_unpacklo_ps(Q[4], Q[5]), T5 = _mm256_unpackhi_ps(Q[4], Q[5]),
                 T6 = _mm256_unpacklo_ps(Q[6], Q[7]), T7 = _mm256_unpackhi_ps(Q[6], Q[7]);
    const __m256 U0 = _mm256_shuffle_ps(T0, T2, 0x44), U1 = _mm256_shuffle_ps(T0, T2, 0xEE),
                 U2 = _mm256_shuffle_ps(T1, T3, 0x44), U3 = _mm256_shuffle_ps(T1, T3, 0xEE),
                 U4 = _mm256_shuffle_ps(T4, T6, 0x44), U5 = _mm256_shuffle_ps(T4, T6, 0xEE),
                 U6 = _mm256_shuffle_ps(T5, T7, 0x44), U7 = _mm256_shuffle_ps(T5, T7, 0xEE);
    const TV Quats[8] = {
        _mm256_permute2f128_ps(U0, U4, 0x20), _mm256_permute2f128_ps(U1, U5, 0x20),
        _mm256_permute2f128_ps(U2, U6, 0x20), _mm256_permute2f128_ps(U3, U7, 0x20),
        _mm256_permute2f128_ps(U0, U4, 0x31), _mm256_permute2f128_ps(U1, U5, 0x31),
        _mm256_permute2f128_ps(U2, U6, 0x31), _mm256_permute2f128_ps(U3, U7, 0x31)};
    TV R[9];
    TMask Redo;
    SdefRotations(Quats, TV(Tv), TV(Omega), TMask(Straight), R, Redo);
    for (int Rr = 0; Rr < 3; ++Rr) {
      const __m256 A = R[3 * Rr], B = R[3 * Rr + 1], C = R[3 * Rr + 2], D = _mm256_setzero_ps();
      const __m256 L0 = _mm256_unpacklo_ps(A, B), H0 = _mm256_unpackhi_ps(A, B),
                   L1 = _mm256_unpacklo_ps(C, D), H1 = _mm256_unpackhi_ps(C, D);
      const __m256 V0 = _mm256_shuffle_ps(L0, L1, 0x44), V1 = _mm256_shuffle_ps(L0, L1, 0xEE),
                   V2 = _mm256_shuffle_ps(H0, H1, 0x44), V3 = _mm256_shuffle_ps(H0, H1, 0xEE);
      const __m256 V[4] = {V0, V1, V2, V3};
      for (int L = 0; L < 4; ++L) {
        _mm_store_ps(ARows[First + L] + 4 * Rr, _mm256_castps256_ps128(V[L]));
        _mm_store_ps(ARows[First + 4 + L] + 4 * Rr, _mm256_extractf128_ps(V[L], 1));
      }
    }
    if (_mm256_movemask_ps(reinterpret_cast<__m256>(Redo)))
      RedoSdefLanes(reinterpret_cast<const int32_t*>(&Redo), Lanes, AArcs, AArcOf + First,
                    AT + First, ARows + First);
  }
}

// An SDEF vertex from its record's points (C, cr0, cr1) and its rotation rows: the position turned
// about C, plus the places of cr0 and cr1 carried by the two bones and weighted; the normal turned
// by the same rotation. The same operations in the same order as the reference, lane by lane.
template <int AStride>
inline void SkinSdef(const uint32_t* APoints, float AW0, float AW1, const float* ARows,
                     const TVec3f& AP, const TVector3f& AN, const float* AM0, const float* AM1,
                     TLanes& AOutP, TLanes& AOutN) {
  TLanes R0, R1, R2;
  std::memcpy(&R0, ARows, sizeof R0);
  std::memcpy(&R1, ARows + 4, sizeof R1);
  std::memcpy(&R2, ARows + 8, sizeof R2);
  const float C[3] = {FloatOfBits(APoints[0]), FloatOfBits(APoints[1]), FloatOfBits(APoints[2])};
  auto Turn = [&](float X, float Y, float Z) {
    return (Splat(X) * R0 + Splat(Y) * R1) + Splat(Z) * R2;
  };
  auto Carry = [](const uint32_t* APoint, const float* AM) {
    const TLanes X = Splat(FloatOfBits(APoint[0])), Y = Splat(FloatOfBits(APoint[1])),
                 Z = Splat(FloatOfBits(APoint[2]));
    return ((X * RowAt<AStride>(AM, 0) + Y * RowAt<AStride>(AM, 1)) + Z * RowAt<AStride>(AM, 2)) +
           RowAt<AStride>(AM, 3);
  };
  AOutP = (Turn(AP.X - C[0], AP.Y - C[1], AP.Z - C[2]) + Carry(APoints + 3, AM0) * AW0) +
          Carry(APoints + 6, AM1) * AW1;
  AOutN = Turn(AN.X, AN.Y, AN.Z);
}

}  // namespace

void TPmxControllerCore::SetUpSdefArcs() {
  for (size_t I = 0; I < FSdefPairs.size(); ++I)
    FSdefArcs[I] = RotationArc(SkinMatrixRotation(FSkinMatrix[FSdefPairs[I].first]),
                               SkinMatrixRotation(FSkinMatrix[FSdefPairs[I].second]));
}

// One pass over the vertex stream writing positions and normals; a null destination is skipped.
void TPmxControllerCore::SkinStream(float* APositions, float* ANormals) const {
  const uint32_t* S = FSkinStream.data();
  const TMatrix4f* M = FSkinMatrix.data();
  const TMatrix4f* N = FNormalMatrix.data();
  const size_t VertexCount = FSkinVertices.size();
  alignas(16) TSdefRows Rows[SdefBatch];
  size_t SdefNext = 0, SdefBatchEnd = 0;
  for (size_t V = 0; V < VertexCount; ++V) {
    const TVec3f& P = FSkinVertices[V];
    const TVector3f& Nr = FRestNormals[V];
    const TLanes PX = Splat(P.X), PY = Splat(P.Y), PZ = Splat(P.Z);
    const TLanes NX = Splat(Nr.X), NY = Splat(Nr.Y), NZ = Splat(Nr.Z);
    // Read right before the tests on its slot count, which then take the reader's own tests over.
    const TSkinRecord R = ReadSkinRecord(S);
    TLanes OutP, OutN;
    if (R.Count == 1) {
      const int32_t B = R.Bone(0);
      if (B >= 0) {
        OutP = Transform(PX, PY, PZ, M[B]);
        OutN = Transform(NX, NY, NZ, N[B]);
      } else {
        OutP = OutN = TLanes{0.0f, 0.0f, 0.0f, 0.0f};
      }
    } else if (R.Count == 2) {
      const int32_t B0 = R.Bone(0), B1 = R.Bone(1);
      const float W0 = R.Weight(0), W1 = R.Weight(1);
      if (R.Sdef()) {
        if (SdefNext == SdefBatchEnd) {
          SdefBatchEnd = std::min(SdefNext + SdefBatch, FSdefT.size());
          SdefMatrices4(FSdefArcs.data(), FSdefArcOf.data() + SdefNext, FSdefT.data() + SdefNext,
                        SdefBatchEnd - SdefNext, Rows);
        }
        SkinSdef<4>(R.SdefPoints(), W0, W1, Rows[SdefNext++ % SdefBatch], P, Nr, M[B0].V, M[B1].V,
                    OutP, OutN);
      } else if (!R.WithoutBone()) {
        OutP = Transform(PX, PY, PZ, M[B0]) * W0 + Transform(PX, PY, PZ, M[B1]) * W1;
        OutN = Transform(NX, NY, NZ, N[B0]) * W0 + Transform(NX, NY, NZ, N[B1]) * W1;
      } else {
        OutP = Term(B0, W0, PX, PY, PZ, M) + Term(B1, W1, PX, PY, PZ, M);
        OutN = Term(B0, W0, NX, NY, NZ, N) + Term(B1, W1, NX, NY, NZ, N);
      }
    } else if (R.Count == 4) {
      const int32_t B0 = R.Bone(0), B1 = R.Bone(1), B2 = R.Bone(2), B3 = R.Bone(3);
      const float W0 = R.Weight(0), W1 = R.Weight(1), W2 = R.Weight(2), W3 = R.Weight(3);
      if (!R.WithoutBone()) {
        OutP = ((Transform(PX, PY, PZ, M[B0]) * W0 + Transform(PX, PY, PZ, M[B1]) * W1) +
                Transform(PX, PY, PZ, M[B2]) * W2) +
               Transform(PX, PY, PZ, M[B3]) * W3;
        OutN = ((Transform(NX, NY, NZ, N[B0]) * W0 + Transform(NX, NY, NZ, N[B1]) * W1) +
                Transform(NX, NY, NZ, N[B2]) * W2) +
               Transform(NX, NY, NZ, N[B3]) * W3;
      } else {
        OutP = ((Term(B0, W0, PX, PY, PZ, M) + Term(B1, W1, PX, PY, PZ, M)) +
                Term(B2, W2, PX, PY, PZ, M)) +
               Term(B3, W3, PX, PY, PZ, M);
        OutN = ((Term(B0, W0, NX, NY, NZ, N) + Term(B1, W1, NX, NY, NZ, N)) +
                Term(B2, W2, NX, NY, NZ, N)) +
               Term(B3, W3, NX, NY, NZ, N);
      }
    } else {
      // Unknown weight method: not skinned, the slot shows the vertex at its (morphed) rest place.
      OutP = TLanes{P.X, P.Y, P.Z, 0.0f};
      OutN = TLanes{Nr.X, Nr.Y, Nr.Z, 0.0f};
    }
    if (APositions) Store3(APositions + 3 * V, OutP);
    if (ANormals) Store3(ANormals + 3 * V, OutN);
  }
}

namespace {

// Eight floats: a position's four lanes and a normal's four lanes side by side.
typedef float TLanes8 __attribute__((vector_size(32)));
static_assert(sizeof(TVec3f) == 12 && sizeof(TVector3f) == 12,
              "positions and normals are three floats in a row, array elements back to back");

// Row R of a bone's pair: the skinning matrix's floats in lanes 0-3, the rotation-only copy's in
// lanes 4-7.
[[gnu::always_inline, gnu::target("avx")]] inline TLanes8 PairRow(const TPmxSkinBonePair& ABone,
                                                                  int R) {
  return *reinterpret_cast<const TLanes8*>(ABone.Rows[R]);
}
// (x, y, z, 1) times both matrices of a pair, summed in the order x, y, z, translation: X, Y, Z
// hold a position's coordinate in lanes 0-3 and a normal's in lanes 4-7.
[[gnu::always_inline, gnu::target("avx")]] inline TLanes8 PairTransform(
    const TLanes8& X, const TLanes8& Y, const TLanes8& Z, const TPmxSkinBonePair& ABone) {
  return ((X * PairRow(ABone, 0) + Y * PairRow(ABone, 1)) + Z * PairRow(ABone, 2)) +
         PairRow(ABone, 3);
}
[[gnu::always_inline, gnu::target("avx")]] inline TLanes8 PairWeighed(
    const TLanes8& X, const TLanes8& Y, const TLanes8& Z, const TPmxSkinBonePair& ABone, float W) {
  return PairTransform(X, Y, Z, ABone) * TLanes8{W, W, W, W, W, W, W, W};
}
// One slot's share; a slot without a bone contributes nothing (zero).
[[gnu::always_inline, gnu::target("avx")]] inline TLanes8 PairTerm(const TLanes8& X,
                                                                   const TLanes8& Y,
                                                                   const TLanes8& Z,
                                                                   const TPmxSkinBonePair* ABones,
                                                                   int32_t ABone, float W) {
  if (ABone < 0) return TLanes8{0, 0, 0, 0, 0, 0, 0, 0};
  return PairWeighed(X, Y, Z, ABones[ABone], W);
}

// The records [AFirst, AEnd) of a stream laid out as SkinStream's (AStream at AFirst's header,
// ASdefFirst the number of SDEF records before AFirst), with the position and the normal of a
// vertex computed together in one 256-bit value; ABones holds per bone the four rows of its
// skinning matrix (lanes 0-3) beside the rows of its rotation-only copy (lanes 4-7). Every lane is
// the same float operation as in the 128-bit loop, so the results are identical. Record V is
// vertex V, or with AIndexed vertex AVertexOf[V] (of AVertexCount). Nothing outside the range's
// vertices is written, so that ranges can be skinned on different threads at once.
template <bool AIndexed>
__attribute__((target("avx"))) void SkinStreamWide(
    const uint32_t* AStream, size_t AFirst, size_t AEnd, size_t ASdefFirst,
    const uint32_t* AVertexOf, size_t AVertexCount, const TVec3f* APositionsIn,
    const TVector3f* ANormalsIn, const TPmxSkinBonePair* ABones, const TRotationArc* AArcs,
    const uint32_t* ASdefArcOf, const float* ASdefT, size_t ASdefCount, float* APositions,
    float* ANormals) {
  const uint32_t* S = AStream;
  alignas(32) TSdefRows Rows[SdefBatch];
  size_t SdefNext = ASdefFirst, SdefBatchStart = ASdefFirst, SdefBatchEnd = ASdefFirst;
  for (size_t Record = AFirst; Record < AEnd; ++Record) {
    const size_t V = AIndexed ? AVertexOf[Record] : Record;
    const TVec3f& P = APositionsIn[V];
    const TVector3f& N = ANormalsIn[V];
    TLanes8 X, Y, Z;
    if (AIndexed ? V + 1 < AVertexCount : V + 1 < AEnd) {
      // P and N as four floats each (the fourth is the next vertex's first, unused), side by
      // side, then each coordinate spread over its half: five instructions instead of sixteen.
      const __m256 PN =
          _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(&P.X)), _mm_loadu_ps(&N.X), 1);
      X = reinterpret_cast<TLanes8>(_mm256_permute_ps(PN, 0x00));
      Y = reinterpret_cast<TLanes8>(_mm256_permute_ps(PN, 0x55));
      Z = reinterpret_cast<TLanes8>(_mm256_permute_ps(PN, 0xAA));
    } else {
      // The vertex may be the array's last: no read past it.
      X = TLanes8{P.X, P.X, P.X, P.X, N.X, N.X, N.X, N.X};
      Y = TLanes8{P.Y, P.Y, P.Y, P.Y, N.Y, N.Y, N.Y, N.Y};
      Z = TLanes8{P.Z, P.Z, P.Z, P.Z, N.Z, N.Z, N.Z, N.Z};
    }
    // Read right before the tests on its slot count, which then take the reader's own tests over.
    const TSkinRecord R = ReadSkinRecord(S);
    TLanes8 Out;
    if (R.Count == 1) {
      const int32_t B = R.Bone(0);
      Out = B >= 0 ? PairTransform(X, Y, Z, ABones[B]) : TLanes8{0, 0, 0, 0, 0, 0, 0, 0};
    } else if (R.Count == 2) {
      const int32_t B0 = R.Bone(0), B1 = R.Bone(1);
      const float W0 = R.Weight(0), W1 = R.Weight(1);
      if (R.Sdef()) {
        TLanes Position, Normal;
        if (SdefNext == SdefBatchEnd) {
          SdefBatchStart = SdefNext;
          SdefBatchEnd = std::min(SdefNext + SdefBatch, ASdefCount);
          SdefMatrices8(AArcs, ASdefArcOf + SdefNext, ASdefT + SdefNext, SdefBatchEnd - SdefNext,
                        Rows);
        }
        SkinSdef<8>(R.SdefPoints(), W0, W1, Rows[SdefNext++ - SdefBatchStart], P, N,
                    ABones[B0].Rows[0], ABones[B1].Rows[0], Position, Normal);
        Out = __builtin_shufflevector(Position, Normal, 0, 1, 2, 3, 4, 5, 6, 7);
      } else if (!R.WithoutBone()) {
        Out = PairWeighed(X, Y, Z, ABones[B0], W0) + PairWeighed(X, Y, Z, ABones[B1], W1);
      } else {
        Out = PairTerm(X, Y, Z, ABones, B0, W0) + PairTerm(X, Y, Z, ABones, B1, W1);
      }
    } else if (R.Count == 4) {
      const int32_t B0 = R.Bone(0), B1 = R.Bone(1), B2 = R.Bone(2), B3 = R.Bone(3);
      const float W0 = R.Weight(0), W1 = R.Weight(1), W2 = R.Weight(2), W3 = R.Weight(3);
      // Without a slot lacking a bone every slot is a bone: no test per slot.
      if (!R.WithoutBone())
        Out = ((PairWeighed(X, Y, Z, ABones[B0], W0) + PairWeighed(X, Y, Z, ABones[B1], W1)) +
               PairWeighed(X, Y, Z, ABones[B2], W2)) +
              PairWeighed(X, Y, Z, ABones[B3], W3);
      else
        Out = ((PairTerm(X, Y, Z, ABones, B0, W0) + PairTerm(X, Y, Z, ABones, B1, W1)) +
               PairTerm(X, Y, Z, ABones, B2, W2)) +
              PairTerm(X, Y, Z, ABones, B3, W3);
    } else {
      Out = TLanes8{P.X, P.Y, P.Z, 0.0f, N.X, N.Y, N.Z, 0.0f};
    }
    const __m256 Both = reinterpret_cast<__m256>(Out);
    const __m128 Position = _mm256_castps256_ps128(Both);
    const __m128 Normal = _mm256_extractf128_ps(Both, 1);
    if (!AIndexed && V + 1 < AEnd) {
      // Four floats each: the fourth lands on the next vertex's first, which is written next.
      // (The next record of an indexed part may be far on: its vertex's neighbour is another's.)
      _mm_storeu_ps(APositions + 3 * V, Position);
      _mm_storeu_ps(ANormals + 3 * V, Normal);
    } else {
      _mm_storel_pi(reinterpret_cast<__m64*>(APositions + 3 * V), Position);
      _mm_store_ss(APositions + 3 * V + 2, _mm_movehl_ps(Position, Position));
      _mm_storel_pi(reinterpret_cast<__m64*>(ANormals + 3 * V), Normal);
      _mm_store_ss(ANormals + 3 * V + 2, _mm_movehl_ps(Normal, Normal));
    }
  }
}

bool CpuHasAVX() {
  static const bool Has = __builtin_cpu_supports("avx");
  return Has;
}

}  // namespace

namespace {

// Maps the target's two buffers for one pass; unmaps on leaving.
struct TMappedTarget {
  IPmxSkinTarget& Target;
  float* Positions = nullptr;
  float* Normals = nullptr;
  explicit TMappedTarget(IPmxSkinTarget& ATarget) : Target(ATarget) {
    Positions = Target.MapPositions();
    Normals = Target.MapNormals();
  }
  ~TMappedTarget() {
    if (Positions) Target.UnmapPositions();
    if (Normals) Target.UnmapNormals();
  }
};

}  // namespace

void TPmxControllerCore::Skin(IPmxSkinTarget& ATarget) {
  const TMappedTarget Mapped(ATarget);
  SkinMapped(Mapped.Positions, Mapped.Normals);
}

void TPmxControllerCore::SplitBoneRows(size_t ABone) {
  TMatrix4f& M = FSkinMatrix[ABone];
  TPmxSkinBonePair& Pair = FBonePairs[ABone];
  for (int R = 0; R < 4; ++R) std::memcpy(Pair.Rows[R], M.Rows[R].V, 4 * sizeof(float));
  M.V[3] = M.V[7] = M.V[11] = 0.0f;
  M.W = TVector4f{{0.0f, 0.0f, 0.0f, 1.0f}};
  for (int R = 0; R < 4; ++R) std::memcpy(Pair.Rows[R] + 4, M.Rows[R].V, 4 * sizeof(float));
}

void TPmxControllerCore::SkinMapped(float* APositions, float* ANormals) {
  SetUpSdefArcs();

  if (APositions && ANormals && CpuHasAVX()) {
    // Full rows beside rotation-only rows; then the matrices themselves become rotation-only.
    for (size_t I = 0; I < FSkinMatrix.size(); ++I) SplitBoneRows(I);
    struct TJob {
      const TPmxControllerCore* Core;
      float *Positions, *Normals;
    } Job{this, APositions, ANormals};
    RunChunks(
        FSkinChunks.size(),
        [](void* AJob, size_t AIndex) {
          const TJob& J = *static_cast<const TJob*>(AJob);
          const TPmxControllerCore& C = *J.Core;
          const TSkinChunk& Chunk = C.FSkinChunks[AIndex];
          const size_t End = AIndex + 1 < C.FSkinChunks.size()
                                 ? C.FSkinChunks[AIndex + 1].FirstVertex
                                 : C.FSkinVertices.size();
          SkinStreamWide<false>(C.FSkinStream.data() + Chunk.FirstWord, Chunk.FirstVertex, End,
                                Chunk.FirstSdef, nullptr, C.FSkinVertices.size(),
                                C.FSkinVertices.data(), C.FRestNormals.data(), C.FBonePairs.data(),
                                C.FSdefArcs.data(), C.FSdefArcOf.data(), C.FSdefT.data(),
                                C.FSdefT.size(), J.Positions, J.Normals);
        },
        &Job);
    return;
  }

  // Rotation-only copies for the normals.
  for (size_t I = 0; I < FSkinMatrix.size(); ++I) {
    TMatrix4f R = FSkinMatrix[I];
    R.V[3] = R.V[7] = R.V[11] = 0.0f;
    R.W = TVector4f{{0.0f, 0.0f, 0.0f, 1.0f}};
    FNormalMatrix[I] = R;
  }
  if (APositions || ANormals) SkinStream(APositions, ANormals);
  // Between calls the skinning matrices are the rotation-only ones.
  std::swap(FSkinMatrix, FNormalMatrix);
}

void TPmxControllerCore::PhysicsAndSkin(IPmxSkinTarget& ATarget) {
  const bool Split = FPhysics && FPhysicsEnabled && !FSkinBesideStep.VertexOf.empty() &&
                     !FSkinAfterStep.VertexOf.empty() && CpuHasAVX();
  if (!Split) {
    ApplyPhysics();
    ATarget.BonesPosed(*this);
    Skin(ATarget);
    return;
  }
  const TMappedTarget Mapped(ATarget);
  if (!Mapped.Positions || !Mapped.Normals) {
    ApplyPhysics();
    ATarget.BonesPosed(*this);
    SkinMapped(Mapped.Positions, Mapped.Normals);
    return;
  }
  // Every bone's rows as posed: those physics moves are redone after the step, and no vertex of
  // the part skinned beside the step reads them.
  for (size_t I = 0; I < FSkinMatrix.size(); ++I) SplitBoneRows(I);
  auto ArcsOf = [this](const TSkinPart& APart) {
    for (const uint32_t I : APart.SdefPairs)
      FSdefArcs[I] = RotationArc(SkinMatrixRotation(FSkinMatrix[FSdefPairs[I].first]),
                                 SkinMatrixRotation(FSkinMatrix[FSdefPairs[I].second]));
  };
  ArcsOf(FSkinBesideStep);
  struct TJob {
    const TPmxControllerCore* Core;
    const TSkinPart* Part;
    float *Positions, *Normals;
  };
  auto SkinChunk = [](void* AJob, size_t AIndex) {
    const TJob& J = *static_cast<const TJob*>(AJob);
    const TPmxControllerCore& C = *J.Core;
    const TSkinPart& Part = *J.Part;
    const TSkinChunk& Chunk = Part.Chunks[AIndex];
    const size_t End = AIndex + 1 < Part.Chunks.size() ? Part.Chunks[AIndex + 1].FirstVertex
                                                       : Part.VertexOf.size();
    SkinStreamWide<true>(Part.Stream.data() + Chunk.FirstWord, Chunk.FirstVertex, End,
                         Chunk.FirstSdef, Part.VertexOf.data(), C.FSkinVertices.size(),
                         C.FSkinVertices.data(), C.FRestNormals.data(), C.FBonePairs.data(),
                         C.FSdefArcs.data(), Part.SdefArcOf.data(), Part.SdefT.data(),
                         Part.SdefT.size(), J.Positions, J.Normals);
  };
  TJob Beside{this, &FSkinBesideStep, Mapped.Positions, Mapped.Normals};
  TChunkJob BesideJob(FSkinBesideStep.Chunks.size(), SkinChunk, &Beside);
  for (const int K : ApplyPhysics()) SplitBoneRows(static_cast<size_t>(K));
  ArcsOf(FSkinAfterStep);
  ATarget.BonesPosed(*this);
  BesideJob.Finish();
  TJob After{this, &FSkinAfterStep, Mapped.Positions, Mapped.Normals};
  RunChunks(FSkinAfterStep.Chunks.size(), SkinChunk, &After);
}
