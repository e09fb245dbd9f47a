// VectorTypes: the plain vector, matrix and quaternion records every geometric computation shares.
// 32-bit floats in a fixed memory layout (a TMatrix4f goes to OpenGL as its 16 floats unchanged).
// Depends on nothing but the standard library.
#pragma once

#include <type_traits>

// Rows are multiplied on the left: a point P becomes (P.x, P.y, P.z, 1) * M, the translation sits
// in row W, and A * B applies A first. M[r][c] is the float at 4 * r + c, so the 16 floats in
// memory order are exactly the column-major array of the equivalent column-vector matrix.
//
// The records are plain aggregate unions so that `V` overlays the named fields as an indexable
// array: `TVector3f{}` is zero, `TVector3f{1, 2, 3}` or NewVector3f(1, 2, 3) sets the fields, and a
// default-constructed record is uninitialised like a float.

union TVector3f {
  struct {
    float X, Y, Z;
  };
  float V[3];

  constexpr float& operator[](int AIndex) { return V[AIndex]; }
  constexpr const float& operator[](int AIndex) const { return V[AIndex]; }
};

union TVector4f {
  struct {
    float X, Y, Z, W;
  };
  float V[4];

  constexpr float& operator[](int AIndex) { return V[AIndex]; }
  constexpr const float& operator[](int AIndex) const { return V[AIndex]; }
};

union TMatrix4f {
  struct {
    TVector4f X, Y, Z, W;
  };
  TVector4f Rows[4];  // the same rows, indexable: Rows[r] is X, Y, Z, W for r = 0..3
  float V[16];

  // M[r][c]: row r, column c.
  TVector4f& operator[](int ARow) { return Rows[ARow]; }
  const TVector4f& operator[](int ARow) const { return Rows[ARow]; }
};

// Imaginary part (x, y, z) first, then the real part w: the four floats are x, y, z, w.
struct TQuaternion {
  TVector3f ImagPart;
  float RealPart;
};

inline constexpr TMatrix4f IdentityMatrix4f{
    {{{1, 0, 0, 0}}, {{0, 1, 0, 0}}, {{0, 0, 1, 0}}, {{0, 0, 0, 1}}}};
inline constexpr TQuaternion IdentityQuaternion{{{0, 0, 0}}, 1};

static_assert(sizeof(TVector3f) == 12 && sizeof(TVector4f) == 16);
static_assert(sizeof(TMatrix4f) == 64 && sizeof(TQuaternion) == 16);
static_assert(std::is_trivial_v<TMatrix4f> && std::is_standard_layout_v<TMatrix4f>);
static_assert(std::is_trivial_v<TQuaternion> && std::is_standard_layout_v<TQuaternion>);
