// Every morph kind beyond vertex morphs on small written models: group weights passed on (nested,
// cut at a cycle, bounded on hostile nesting), bone morphs on the pose, material states and the
// material arithmetic both cores share, morphed UVs and when they count as changed; every kind
// through the weight, the blink, a motion key and a frame bracket; the fast path against the
// reference on mixed models.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "character/core/PmxMorphKinds.h"
#include "tests/character/CoreFixture.h"

namespace {

TVector3f V3(float AX, float AY, float AZ) {
  return NewVector3f(AX, AY, AZ);
}
TVector4f V4(float AX, float AY, float AZ, float AW) {
  return NewVector4f(AX, AY, AZ, AW);
}

void AddGroupMember(TPmxBuilder& AB, int AGroup, int AMember, float ARatio) {
  TPmxMorphData D{};
  D.Group.MorphIndex = AMember;
  D.Group.MorphRate = ARatio;
  AB.Morphs[AGroup].Data.push_back(D);
}

TPmxMorphData MaterialOffset(int AMaterial, uint8_t AOperation) {
  TPmxMorphData D{};
  D.Material.MaterialIndex = AMaterial;
  D.Material.OffsetType = AOperation;
  // Neutral for its operation: factors 1 for a multiply, 0 for an add.
  const float N = AOperation == 0 ? 1.0f : 0.0f;
  D.Material.Diffuse = V4(N, N, N, N);
  D.Material.Specular = V3(N, N, N);
  D.Material.Shininess = N;
  D.Material.Ambient = V3(N, N, N);
  D.Material.EdgeColor = V4(N, N, N, N);
  D.Material.EdgeSize = N;
  D.Material.TextureFactor = D.Material.SphereTextureFactor = D.Material.ToonTextureFactor =
      V4(N, N, N, N);
  return D;
}

// Three bones (root; "arm" at (1, 0, 0); "follow", which appends the arm's rotation), six vertices
// with two additional UVs in two materials, and a morph of every kind.
struct TKindsModel {
  TPmxBuilder B;
  int Arm, Follow;
  int Vert, Bone, Mul, Mul2, Add, All, UV, AddUV2, Group, Outer, CycA, CycB, Flip;
  TKindsModel() {
    B.Settings.MorphIndexSize = B.Settings.MaterialIndexSize = B.Settings.BoneIndexSize = 4;
    B.Settings.VertexIndexSize = 4;
    B.AddBone("root", V3(0, 0, 0));
    Arm = B.AddBone("arm", V3(1, 0, 0), 0);
    Follow = B.AddBone("follow", V3(0, 3, 0), 0);
    B.Bones[Follow].Flags |= FlagBit(bfAddRotation);
    B.Bones[Follow].AddParentBoneIndex = Arm;
    B.Bones[Follow].AddPower = 1.0f;
    for (int I = 0; I < 6; ++I) {
      const int V = B.AddVertex(V3(I == 1 ? 2.0f : 0.1f * I, I == 1 ? 0.0f : 1.0f, 0), V3(0, 1, 0),
                                PmxFloat2{0.125f * I, 0.25f}, I == 1 ? Arm : 0);
      B.Vertices[V].AdditionalUV = {V4(0.5f, 0.25f, 0.75f, 1.0f), V4(I, 2, 3, 4)};
    }
    B.AddTriangle(0, 1, 2);
    B.AddTriangle(3, 4, 5);
    B.AddMaterial("m0", 3);
    B.AddMaterial("m1", 3);
    B.Materials[0].Diffuse = V4(0.8f, 0.6f, 0.4f, 1.0f);
    B.Materials[0].Specular = V3(0.25f, 0.5f, 1.0f);
    B.Materials[0].EdgeSize = 2.0f;

    Vert = B.AddMorph("vert", mkVertex);
    B.AddVertexMorphOffset(Vert, 0, V3(0, 1, 0));
    Bone = B.AddMorph("bone", mkBone);
    {
      TPmxMorphData D{};
      D.Bone.BoneIndex = Arm;
      D.Bone.TranslateValue = V3(0, 0.5f, 0);
      D.Bone.RotateValue = AsVector4(TurnAbout(0, 0, 1, 3.14159265f / 2));
      B.Morphs[Bone].Data.push_back(D);
      D.Bone.BoneIndex = 77;  // no such bone
      B.Morphs[Bone].Data.push_back(D);
    }
    // Two multiplies and an add on material 0, an add on every material.
    Mul = B.AddMorph("mul", mkMaterial);
    TPmxMorphData D = MaterialOffset(0, 0);
    D.Material.Diffuse = V4(0.5f, 0.5f, 0.5f, 0.5f);
    D.Material.TextureFactor = V4(0.5f, 1, 1, 1);
    B.Morphs[Mul].Data.push_back(D);
    B.Morphs[Mul].Data.push_back(MaterialOffset(9, 0));  // no such material
    Mul2 = B.AddMorph("mul2", mkMaterial);
    D = MaterialOffset(0, 0);
    D.Material.Diffuse = V4(0.5f, 1, 1, 1);
    D.Material.SphereTextureFactor = V4(0, 0, 0, 0);
    B.Morphs[Mul2].Data.push_back(D);
    Add = B.AddMorph("add", mkMaterial);
    D = MaterialOffset(0, 1);
    D.Material.Diffuse = V4(0.1f, 0.2f, 0.3f, 0);
    D.Material.TextureFactor = V4(0.2f, 0, 0, 0);
    D.Material.ToonTextureFactor = V4(0, 0, 0.5f, 0);
    B.Morphs[Add].Data.push_back(D);
    All = B.AddMorph("all", mkMaterial);
    D = MaterialOffset(-1, 1);
    D.Material.EdgeSize = 2.0f;
    D.Material.EdgeColor = V4(1, 0, 0, 0);
    B.Morphs[All].Data.push_back(D);

    UV = B.AddMorph("uv", mkUV);
    TPmxMorphData U{};
    U.UV.VertexIndex = 2;
    U.UV.UVOffset = V4(0.25f, 0.5f, 7, 7);  // z and w of a UV morph are not used
    B.Morphs[UV].Data.push_back(U);
    U.UV.VertexIndex = 600;  // no such vertex
    B.Morphs[UV].Data.push_back(U);
    AddUV2 = B.AddMorph("adduv2", mkAddUV2);
    U.UV.VertexIndex = 2;
    U.UV.UVOffset = V4(1, 2, 3, 4);
    B.Morphs[AddUV2].Data.push_back(U);

    // group: vert x 0.5, bone x 1; outer: group x 0.5, vert x 1; a cycle A <-> B that also drives
    // vert; a member index beyond the morphs.
    Group = B.AddMorph("group", mkGroup);
    AddGroupMember(B, Group, Vert, 0.5f);
    AddGroupMember(B, Group, Bone, 1.0f);
    AddGroupMember(B, Group, 1000, 1.0f);
    Outer = B.AddMorph("outer", mkGroup);
    AddGroupMember(B, Outer, Group, 0.5f);
    AddGroupMember(B, Outer, Vert, 1.0f);
    CycA = B.AddMorph("cycA", mkGroup);
    CycB = B.AddMorph("cycB", mkGroup);
    AddGroupMember(B, CycA, CycB, 1.0f);
    AddGroupMember(B, CycA, Vert, 0.25f);
    AddGroupMember(B, CycA, CycA, 1.0f);
    AddGroupMember(B, CycB, CycA, 1.0f);
    AddGroupMember(B, CycB, Vert, 0.5f);
    Flip = B.AddMorph("flip", mkFlip);
    B.Morphs[Flip].Data = B.Morphs[Group].Data;
  }
};

TVec3f Moved(const TPmx& APmx, int AVertex, const TVector3f& AOffset, float AWeight) {
  return TVec3f(APmx.GetVertex(AVertex)->Position) + TVec3f(AOffset) * AWeight;
}

}  // namespace

// Effective weights worked by hand along the groups' paths; the stored weights stay as set.
TEST(MorphKinds, GroupsPassTheirWeightOnNestedAndCutAtACycle) {
  struct TCase {
    const char* Name;
    std::vector<std::pair<const char*, float>> Set;
    float Vert, Bone;
  };
  const TCase Cases[] = {
      {"own weight only", {{"vert", 0.25f}}, 0.25f, 0.0f},
      {"group", {{"group", 1.0f}}, 0.5f, 1.0f},
      {"group on top of own", {{"group", 0.5f}, {"vert", 0.25f}}, 0.5f, 0.5f},
      // outer passes 0.5 to group, which passes 0.25 to vert and 0.5 to bone; vert 1 directly.
      {"nested", {{"outer", 1.0f}}, 1.25f, 0.5f},
      {"nested and own", {{"outer", 1.0f}, {"group", 1.0f}}, 1.75f, 1.5f},
      // cycA: 0.25 directly, 0.5 through cycB; cycB's way back to cycA and cycA's to itself end.
      {"cycle", {{"cycA", 1.0f}}, 0.75f, 0.0f},
      {"both ends of a cycle", {{"cycA", 1.0f}, {"cycB", 1.0f}}, 1.5f, 0.0f},
      {"flip is not a group", {{"flip", 1.0f}}, 0.0f, 0.0f},
  };
  for (bool Reference : {false, true}) {
    for (const TCase& C : Cases) {
      TKindsModel M;
      TCoreRig Rig(M.B, nullptr, Reference);
      for (const auto& [Name, W] : C.Set) Rig.Core->SetMorphRate(Rig.Core->IndexOfMorph(Name), W);
      const std::string Where = std::string(C.Name) + (Reference ? " (reference)" : "");
      EXPECT_FLOAT_EQ(Rig.Core->EffectiveMorphRates()[M.Vert], C.Vert) << Where;
      EXPECT_FLOAT_EQ(Rig.Core->EffectiveMorphRates()[M.Bone], C.Bone) << Where;
      for (const auto& [Name, W] : C.Set)
        EXPECT_EQ(Rig.Core->GetMorphRate(Rig.Core->IndexOfMorph(Name)), W) << Where;
      // The vertex morph moves by its effective weight.
      const TVector3f Offset = Rig.Pmx.GetMorph(M.Vert)->Data[0].Vertex.PositionOffset;
      EXPECT_TRUE(Near3(Rig.Position(0), Moved(Rig.Pmx, 0, Offset, C.Vert), 1e-6f)) << Where;
    }
  }
}

// Groups that name each other so that the paths multiply (each names the next twice), a long chain
// and a group naming itself many times: the walks end, and a group at the budget's end still works.
TEST(MorphKinds, HostileGroupNestingEndsInBoundedWork) {
  struct TCase {
    const char* Name;
    int Groups, MembersPerGroup;
  };
  const TCase Cases[] = {{"doubling paths", 60, 2}, {"long chain", 70000, 1}, {"self", 1, 200000}};
  for (const TCase& C : Cases) {
    TPmxBuilder B;
    B.Settings.MorphIndexSize = 4;
    B.AddBone("root", V3(0, 0, 0));
    B.AddVertex(V3(0, 0, 0));
    const int Vert = B.AddMorph("vert", mkVertex);
    B.AddVertexMorphOffset(Vert, 0, V3(0, 1, 0));
    for (int G = 0; G < C.Groups; ++G) B.AddMorph("g" + std::to_string(G), mkGroup);
    for (int G = 0; G < C.Groups; ++G) {
      const int Self = Vert + 1 + G;
      const int Next = G + 1 < C.Groups ? Self + 1 : (C.Groups == 1 ? Self : Vert);
      for (int K = 0; K < C.MembersPerGroup; ++K) AddGroupMember(B, Self, Next, 1.0f);
    }
    for (bool Reference : {false, true}) {
      TCoreRig Rig(B, nullptr, Reference);
      Rig.Core->SetMorphRate(Vert + 1, 1.0f);
      const float W = Rig.Core->EffectiveMorphRates()[Vert];
      EXPECT_TRUE(std::isfinite(W)) << C.Name;
      EXPECT_TRUE(std::isfinite(Rig.Position(0).Y)) << C.Name;
    }
  }
  // Within the budget a chain of 200 groups passes its weight all the way down.
  TPmxBuilder B;
  B.AddBone("root", V3(0, 0, 0));
  B.AddVertex(V3(0, 0, 0));
  const int Vert = B.AddMorph("vert", mkVertex);
  B.AddVertexMorphOffset(Vert, 0, V3(0, 1, 0));
  for (int G = 0; G < 200; ++G) B.AddMorph("g" + std::to_string(G), mkGroup);
  for (int G = 0; G < 200; ++G)
    AddGroupMember(B, Vert + 1 + G, G + 1 < 200 ? Vert + 2 + G : Vert, G == 0 ? 0.5f : 1.0f);
  TCoreRig Rig(B);
  Rig.Core->SetMorphRate(Vert + 1, 1.0f);
  EXPECT_EQ(Rig.Core->EffectiveMorphRates()[Vert], 0.5f);
}

// Half a bone morph of (0, 0.5, 0) and 90 degrees about Z on the arm: the arm's origin rises by
// 0.25 and its vertex one unit out turns 45 degrees; the follower appends the turned arm.
TEST(MorphKinds, BoneMorphsMoveAndTurnTheBoneForTheirPoseOnly) {
  for (bool Reference : {false, true}) {
    TKindsModel M;
    TCoreRig Rig(M.B, nullptr, Reference);
    Rig.Core->SetMorphRate(M.Bone, 0.5f);
    const float S = std::sqrt(0.5f);
    EXPECT_TRUE(Near3(Rig.BonePosition(M.Arm), V3(1, 0.25f, 0)));
    EXPECT_TRUE(Near3(Rig.Position(1), TVec3f(1 + S, 0.25f + S, 0))) << Reference;
    // The append came after the morph; the morphed bone's own state is back to the motion's.
    EXPECT_TRUE(SameTurn(Rig.Core->BoneRotations()[M.Follow], TurnAbout(0, 0, 1, 3.14159265f / 4)));
    EXPECT_TRUE(SameTurn(Rig.Core->BoneRotations()[M.Arm], IdentityQuaternion));
    EXPECT_TRUE(Near3(Rig.Core->BoneTranslations()[M.Arm], V3(0, 0, 0), 0));
    // Posing again does not add the morph a second time.
    Rig.Core->UpdateBoneMatrix();
    Rig.Core->UpdateBoneMatrix();
    EXPECT_TRUE(Near3(Rig.Position(1), TVec3f(1 + S, 0.25f + S, 0))) << Reference;
    // The turn comes after the bone's own rotation: a key turning the arm 90 degrees about X
    // takes the morph's (0, 1, 0) (the vertex one unit out turned about Z) to (0, 0, 1).
    Rig.Core->SetMorphRate(M.Bone, 1.0f);
    Rig.Core->BoneRotations()[M.Arm] = TurnAbout(1, 0, 0, 3.14159265f / 2);
    Rig.Core->UpdateBoneMatrix();
    EXPECT_TRUE(Near3(Rig.Position(1), TVec3f(1, 0.5f, 1))) << Reference;
    EXPECT_TRUE(SameTurn(Rig.Core->BoneRotations()[M.Arm], TurnAbout(1, 0, 0, 3.14159265f / 2)));
  }
}

// A bone morph that moves the IK bone moves the goal the chain then reaches: the morph comes
// before IK.
TEST(MorphKinds, BoneMorphsComeBeforeIK) {
  TPmxBuilder B;
  B.AddBone("hip", V3(0, 0, 0));
  const int Knee = B.AddBone("knee", V3(0, -1, 0), 0);
  const int Ankle = B.AddBone("ankle", V3(0, -2, 0), Knee);
  const int IK = B.AddBone("ik", V3(0, -2, 0));
  B.MakeIK(IK, Ankle, 40, 1.0f);
  B.AddIKLink(IK, Knee);
  B.AddIKLink(IK, 0);
  B.AddVertex(V3(0, 0, 0));
  const int Lift = B.AddMorph("lift", mkBone);
  TPmxMorphData D{};
  D.Bone.BoneIndex = IK;
  D.Bone.TranslateValue = V3(0.5f, 0.5f, 0);
  D.Bone.RotateValue = V4(0, 0, 0, 1);
  B.Morphs[Lift].Data.push_back(D);
  for (bool Reference : {false, true}) {
    TCoreRig Rig(B, nullptr, Reference);
    Rig.Core->SetMorphRate(Lift, 1.0f);
    EXPECT_TRUE(Near3(Rig.BonePosition(Ankle), V3(0.5f, -1.5f, 0), 2e-3f)) << Reference;
    EXPECT_TRUE(Near3(Rig.Core->BoneTranslations()[IK], V3(0, 0, 0), 0));
  }
}

// Material 0 (diffuse (0.8, 0.6, 0.4, 1), edge size 2) under two multiplies and an add; material 1
// (the builder's white) under the add to every material only.
TEST(MorphKinds, MaterialMorphsMultiplyThenAddPerMaterial) {
  for (bool Reference : {false, true}) {
    TKindsModel M;
    TCoreRig Rig(M.B, nullptr, Reference);
    const std::vector<TMaterialMorphState>& S = Rig.Core->MaterialStates();
    ASSERT_EQ(S.size(), 2u);
    const TMaterialMorphState Rest0 = S[0], Rest1 = S[1];
    EXPECT_EQ(Rest0.Diffuse.X, 0.8f);
    EXPECT_EQ(Rest0.TextureMul.X, 1.0f);
    EXPECT_EQ(Rest0.ToonAdd.Z, 0.0f);
    Rig.Core->SetMorphRate(M.Mul, 1.0f);
    Rig.Core->SetMorphRate(M.Mul2, 0.5f);
    Rig.Core->SetMorphRate(M.Add, 0.5f);
    Rig.Core->SetMorphRate(M.All, 0.5f);
    // diffuse.x: 0.8 * 0.5 * lerp(1, 0.5, 0.5) + 0.1 * 0.5; alpha: 1 * 0.5.
    EXPECT_FLOAT_EQ(S[0].Diffuse.X, 0.8f * 0.5f * 0.75f + 0.05f) << Reference;
    EXPECT_FLOAT_EQ(S[0].Diffuse.Y, 0.6f * 0.5f + 0.1f);
    EXPECT_FLOAT_EQ(S[0].Diffuse.W, 0.5f);
    EXPECT_FLOAT_EQ(S[0].Specular.Z, 1.0f);
    EXPECT_FLOAT_EQ(S[0].EdgeSize, 2.0f + 1.0f);
    EXPECT_FLOAT_EQ(S[0].EdgeColor.X, 0.5f);
    // Tints: multiplies into Mul (sphere 0 at half weight), adds into Add.
    EXPECT_FLOAT_EQ(S[0].TextureMul.X, 0.5f);
    EXPECT_FLOAT_EQ(S[0].TextureAdd.X, 0.1f);
    EXPECT_FLOAT_EQ(S[0].SphereMul.Y, 0.5f);
    EXPECT_FLOAT_EQ(S[0].ToonAdd.Z, 0.25f);
    EXPECT_FLOAT_EQ(S[0].ToonMul.Z, 1.0f);
    // Material 1: only the add to every material.
    EXPECT_EQ(S[1].Diffuse.X, Rest1.Diffuse.X);
    EXPECT_FLOAT_EQ(S[1].EdgeSize, Rest1.EdgeSize + 1.0f);
    EXPECT_EQ(S[1].TextureMul.X, 1.0f);
    // All weights back to 0: the model's values to the bit.
    for (int Morph : {M.Mul, M.Mul2, M.Add, M.All}) Rig.Core->SetMorphRate(Morph, 0.0f);
    EXPECT_EQ(std::memcmp(&S[0], &Rest0, sizeof Rest0), 0) << Reference;
    EXPECT_EQ(std::memcmp(&S[1], &Rest1, sizeof Rest1), 0) << Reference;
  }
}

// The 28 values a material morph carries, in the file's order (diffuse, specular, shininess,
// ambient, edge colour, edge size, then the texture, sphere and toon tints): where they land in a
// material state, with the multiplying tints or the adding ones.
std::vector<float*> Places(TMaterialMorphState& A, bool AAddTints) {
  std::vector<float*> R;
  auto Put = [&](float* AP, int AN) {
    for (int K = 0; K < AN; ++K) R.push_back(AP + K);
  };
  Put(A.Diffuse.V, 4);
  Put(A.Specular.V, 3);
  Put(&A.Shininess, 1);
  Put(A.Ambient.V, 3);
  Put(A.EdgeColor.V, 4);
  Put(&A.EdgeSize, 1);
  Put((AAddTints ? A.TextureAdd : A.TextureMul).V, 4);
  Put((AAddTints ? A.SphereAdd : A.SphereMul).V, 4);
  Put((AAddTints ? A.ToonAdd : A.ToonMul).V, 4);
  return R;
}
std::vector<float> Fields(TMaterialMorphState A, bool AAddTints) {
  std::vector<float> R;
  for (const float* P : Places(A, AAddTints)) R.push_back(*P);
  return R;
}

// A material morph offset of operation AOperation whose values are AValue(k) for field k (order
// as above).
TPmxMorphMaterial MaterialMorph(uint8_t AOperation, const std::function<float(int)>& AValue) {
  TPmxMorphMaterial D{};
  D.OffsetType = AOperation;
  float* Places[28];
  int N = 0;
  auto Take = [&](float* AP, int AN) {
    for (int K = 0; K < AN; ++K) Places[N++] = AP + K;
  };
  Take(D.Diffuse.V, 4);
  Take(D.Specular.V, 3);
  Take(&D.Shininess, 1);
  Take(D.Ambient.V, 3);
  Take(D.EdgeColor.V, 4);
  Take(&D.EdgeSize, 1);
  Take(D.TextureFactor.V, 4);
  Take(D.SphereTextureFactor.V, 4);
  Take(D.ToonTextureFactor.V, 4);
  for (int K = 0; K < 28; ++K) *Places[K] = AValue(K);
  return D;
}

// The arithmetic both cores share, worked by hand: a multiply folds lerp(1, value, w) into every
// factor (the tints into the multiplying tints), an add folds value * w into every sum (the tints
// into the adding tints); another operation changes nothing. Values are powers of two apart, so
// every result below is exact.
TEST(MorphKinds, MaterialMorphArithmeticFieldByField) {
  const std::vector<float> Ones(28, 1.0f), Zeros(28, 0.0f);
  auto Same = [](float AV) { return std::function<float(int)>([AV](int) { return AV; }); };
  auto Own = std::function<float(int)>([](int AK) { return (AK + 1) / 32.0f; });
  std::vector<float> OwnValues(28);
  for (int K = 0; K < 28; ++K) OwnValues[K] = (K + 1) / 32.0f;
  struct TCase {
    const char* Name;
    uint8_t Operation;
    float Weight;
    std::function<float(int)> Value;
    bool Applies;
    std::vector<float> Mul, Add;  // the accumulators after it, from neutral
  } Cases[] = {
      {"multiply 0.25 at half weight", 0, 0.5f, Same(0.25f), true, std::vector<float>(28, 0.625f),
       Zeros},  // 1 + (0.25 - 1) * 0.5
      {"multiply 3 at a quarter", 0, 0.25f, Same(3.0f), true, std::vector<float>(28, 1.5f), Zeros},
      {"multiply at weight 0", 0, 0.0f, Same(0.25f), true, Ones, Zeros},
      {"multiply, each field its own value", 0, 1.0f, Own, true, OwnValues, Zeros},
      {"add 0.25 at half weight", 1, 0.5f, Same(0.25f), true, Ones, std::vector<float>(28, 0.125f)},
      {"add -0.75 at full weight", 1, 1.0f, Same(-0.75f), true, Ones,
       std::vector<float>(28, -0.75f)},
      {"add, each field its own value", 1, 1.0f, Own, true, Ones, OwnValues},
      {"unknown operation 2", 2, 1.0f, Same(0.25f), false, Ones, Zeros},
      {"unknown operation 255", 255, 1.0f, Same(0.25f), false, Ones, Zeros},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TMaterialMorphState Mul = MaterialMulIdentity(), Add = MaterialAddIdentity();
    EXPECT_EQ(AccumulateMaterialMorph(Mul, Add, MaterialMorph(C.Operation, C.Value), C.Weight),
              C.Applies);
    EXPECT_EQ(Fields(Mul, false), C.Mul);
    EXPECT_EQ(Fields(Add, true), C.Add);
    // The tints of the other kind are no accumulator's: they stay as they were.
    const std::vector<float> MulsAddTints = Fields(Mul, true), AddsMulTints = Fields(Add, false);
    EXPECT_EQ(std::vector<float>(MulsAddTints.begin() + 16, MulsAddTints.end()),
              std::vector<float>(12, 1.0f));
    EXPECT_EQ(std::vector<float>(AddsMulTints.begin() + 16, AddsMulTints.end()),
              std::vector<float>(12, 0.0f));
  }

  // Two multiplies, two adds and an unknown operation on one material, combined with its own
  // values: each value base * (product of factors) + sum, the tints as accumulated. Every field
  // its own numbers, so that no field can take another's.
  TMaterialMorphState Base = MaterialMulIdentity();
  const std::vector<float*> BaseValues = Places(Base, false);
  for (int K = 0; K < 16; ++K) *BaseValues[K] = 1.0f + K / 4.0f;
  Base.TextureAdd = Base.SphereAdd = Base.ToonAdd = V4(0, 0, 0, 0);  // neutral tints
  TMaterialMorphState Mul = MaterialMulIdentity(), Add = MaterialAddIdentity();
  AccumulateMaterialMorph(Mul, Add, MaterialMorph(0, Own), 1.0f);          // x (k + 1) / 32
  AccumulateMaterialMorph(Mul, Add, MaterialMorph(0, Same(0.5f)), 0.5f);   // x 0.75
  AccumulateMaterialMorph(Mul, Add, MaterialMorph(1, Own), 0.5f);          // + (k + 1) / 64
  AccumulateMaterialMorph(Mul, Add, MaterialMorph(1, Same(0.5f)), 0.25f);  // + 0.125
  AccumulateMaterialMorph(Mul, Add, MaterialMorph(7, Same(9.0f)), 1.0f);   // ignored
  const TMaterialMorphState R = CombineMaterialMorphs(Base, Mul, Add);
  const std::vector<float> Values = Fields(R, false), AddTints = Fields(R, true);
  for (int K = 0; K < 28; ++K) {
    const float Factor = (K + 1) / 32.0f * 0.75f, Sum = (K + 1) / 64.0f + 0.125f;
    if (K < 16) {
      EXPECT_EQ(Values[K], (1.0f + K / 4.0f) * Factor + Sum) << "field " << K;
    } else {
      EXPECT_EQ(Values[K], Factor) << "tint " << K;
      EXPECT_EQ(AddTints[K], Sum) << "tint " << K;
    }
  }
}

// UV morphs add to xy of the UV and to all four floats of an additional UV; the UVs count as
// changed only when a UV morph's weight changed.
TEST(MorphKinds, UVMorphsMoveUVsAndFlagOnlyAWeightChange) {
  for (bool Reference : {false, true}) {
    TKindsModel M;
    TVmdBuilder Motion;
    Motion.AddMorphKey("vert", 0, 0.0f);
    Motion.AddMorphKey("vert", 30, 1.0f);
    TCoreRig Rig(M.B, &Motion, Reference);
    const TPmxVertex& V2 = *Rig.Pmx.GetVertex(2);
    EXPECT_FALSE(Rig.Core->UVsChanged());
    ASSERT_EQ(Rig.Core->MorphedUVs(0).size(), 6u);
    EXPECT_EQ(Rig.Core->MorphedUVs(1)[2].Z, 0.75f);
    EXPECT_EQ(Rig.Core->MorphedUVs(3)[2].X, 0.0f);  // the model has two additional UVs
    Rig.Core->SetMorphRate(M.Vert, 1.0f);
    EXPECT_FALSE(Rig.Core->UVsChanged()) << Reference;
    Rig.Core->SetMorphRate(M.UV, 0.5f);
    Rig.Core->SetMorphRate(M.AddUV2, 0.5f);
    EXPECT_TRUE(Rig.Core->UVsChanged());
    const TVector4f U = Rig.Core->MorphedUVs(0)[2], A = Rig.Core->MorphedUVs(2)[2];
    EXPECT_FLOAT_EQ(U.X, V2.UV.X + 0.125f);
    EXPECT_FLOAT_EQ(U.Y, V2.UV.Y + 0.25f);
    EXPECT_EQ(U.Z, 0.0f);
    EXPECT_EQ(U.W, 0.0f);
    EXPECT_FLOAT_EQ(A.X, 2.5f);
    EXPECT_FLOAT_EQ(A.W, 6.0f);
    EXPECT_EQ(Rig.Core->MorphedUVs(1)[2].X, 0.5f);  // the other channel stays
    Rig.Core->ClearUVsChanged();
    // Frames that move only a vertex morph leave the UVs alone.
    for (double Frame : {3.0, 10.5, 20.0}) {
      Rig.Core->ApplyMotionByFrame(Frame);
      EXPECT_FALSE(Rig.Core->UVsChanged()) << Frame << " " << Reference;
    }
    // Taking the weight back flags again and gives the record's UV back.
    Rig.Core->SetMorphRate(M.UV, 0.0f);
    EXPECT_TRUE(Rig.Core->UVsChanged());
    EXPECT_EQ(Rig.Core->MorphedUVs(0)[2].X, V2.UV.X);
  }
}

// Every kind reaches the model the same way through SetMorphRate, the blink, a motion key and a
// motion key inside a frame bracket: a morph named "まばたき" of each kind, probed where it acts.
TEST(MorphKinds, EveryKindWorksThroughWeightsBlinkMotionAndFrameBracket) {
  struct TKind {
    const char* Name;
    std::function<void(TKindsModel&, int)> Make;  // gives the blink morph its data
    std::function<std::vector<float>(const TCoreRig&)> Probe;
  };
  auto Positions = [](const TCoreRig& R) { return R.Out->Positions; };
  const TKind Kinds[] = {
      {"vertex", [](TKindsModel& M, int I) { M.B.AddVertexMorphOffset(I, 3, V3(0, 0, 1)); },
       Positions},
      {"group", [](TKindsModel& M, int I) { AddGroupMember(M.B, I, M.Vert, 1.0f); }, Positions},
      {"bone", [](TKindsModel& M, int I) { M.B.Morphs[I].Data = M.B.Morphs[M.Bone].Data; },
       Positions},
      {"material", [](TKindsModel& M, int I) { M.B.Morphs[I].Data = M.B.Morphs[M.Add].Data; },
       [](const TCoreRig& R) {
         const TMaterialMorphState& S = R.Core->MaterialStates()[0];
         return std::vector<float>{S.Diffuse.X, S.Diffuse.Y, S.TextureAdd.X};
       }},
      {"uv", [](TKindsModel& M, int I) { M.B.Morphs[I].Data = M.B.Morphs[M.UV].Data; },
       [](const TCoreRig& R) {
         const TVector4f U = R.Core->MorphedUVs(0)[2];
         return std::vector<float>{U.X, U.Y, R.Core->UVsChanged() ? 1.0f : 0.0f};
       }},
      {"additional uv 2",
       [](TKindsModel& M, int I) { M.B.Morphs[I].Data = M.B.Morphs[M.AddUV2].Data; },
       [](const TCoreRig& R) {
         const TVector4f U = R.Core->MorphedUVs(2)[2];
         return std::vector<float>{U.X, U.Y, U.Z, U.W, R.Core->UVsChanged() ? 1.0f : 0.0f};
       }},
  };
  const TPmxMorphKind KindOf[] = {mkVertex, mkGroup, mkBone, mkMaterial, mkUV, mkAddUV2};
  enum TRoute { rtSetRate, rtBlink, rtMotion, rtBracket };
  for (size_t K = 0; K < std::size(Kinds); ++K) {
    for (bool Reference : {false, true}) {
      std::vector<float> Rest, Expected;
      for (TRoute Route : {rtSetRate, rtBlink, rtMotion, rtBracket}) {
        TKindsModel M;
        const int Blink = M.B.AddMorph("まばたき", KindOf[K]);
        Kinds[K].Make(M, Blink);
        TVmdBuilder Motion;
        Motion.AddMorphKey("まばたき", 0, 1.0f);
        Motion.AddMorphKey("まばたき", 10, 1.0f);
        TCoreRig Rig(M.B, Route >= rtMotion ? &Motion : nullptr, Reference);
        if (Route == rtSetRate) Rest = Kinds[K].Probe(Rig);
        switch (Route) {
          case rtSetRate:
            Rig.Core->SetMorphRate(Blink, 1.0f);
            break;
          case rtBlink:
            Rig.Core->Mabataki(1.0f);
            break;
          case rtMotion:
            Rig.Core->ApplyMotionByFrame(0.0);
            break;
          case rtBracket:
            Rig.Core->BeginFrame();
            Rig.Core->ApplyMotionByFrame(0.0);
            Rig.Core->EndFrame();
            break;
        }
        const std::vector<float> Got = Kinds[K].Probe(Rig);
        const std::string Where = std::string(Kinds[K].Name) + " route " + std::to_string(Route) +
                                  (Reference ? " (reference)" : "");
        if (Route == rtSetRate) {
          Expected = Got;
          EXPECT_NE(Got, Rest) << Where;
        } else {
          EXPECT_EQ(Got, Expected) << Where;
        }
      }
    }
  }
}

namespace {

// A small model with morphs of every kind and random data: members, bones, materials and vertices
// partly out of range, group cycles, ratios and weights beyond [0, 1]; and a motion keying them.
struct TMixedModel {
  TPmxBuilder B;
  TVmdBuilder Motion;
  explicit TMixedModel(uint32_t ASeed) {
    uint32_t State = ASeed * 2654435761u + 1;
    auto Next = [&State](uint32_t AN) {
      State = State * 1664525u + 1013904223u;
      return (State >> 8) % AN;
    };
    auto Value = [&Next] { return static_cast<float>(Next(2001)) / 1000.0f - 1.0f; };
    B.Settings.MorphIndexSize = B.Settings.MaterialIndexSize = B.Settings.BoneIndexSize = 4;
    B.Settings.VertexIndexSize = 4;
    B.AddBone("root", V3(0, 0, 0));
    const int Knee = B.AddBone("knee", V3(0, -1, 0), 0);
    const int Ankle = B.AddBone("ankle", V3(0, -2, 0), Knee);
    const int IK = B.AddBone("ik", V3(0.2f, -1.8f, 0));
    B.MakeIK(IK, Ankle, 20, 1.0f);
    B.AddIKLink(IK, Knee);
    const int Follow = B.AddBone("follow", V3(1, 1, 0), 0);
    B.Bones[Follow].Flags |= FlagBit(bfAddRotation) | FlagBit(bfAddTranslation);
    B.Bones[Follow].AddParentBoneIndex = Knee;
    B.Bones[Follow].AddPower = 0.5f;
    const int BoneCount = static_cast<int>(B.Bones.size());
    for (int V = 0; V < 30; ++V) {
      const int I = B.AddVertex(V3(Value(), Value() - 1, Value()), V3(0, 1, 0),
                                PmxFloat2{Value(), Value()}, static_cast<int>(Next(BoneCount)));
      B.Vertices[I].AdditionalUV = {V4(Value(), Value(), Value(), Value()),
                                    V4(Value(), Value(), Value(), Value())};
    }
    for (int T = 0; T < 10; ++T) B.AddTriangle(3 * T, 3 * T + 1, 3 * T + 2);
    for (int M = 0; M < 3; ++M) B.AddMaterial("m" + std::to_string(M), 9 + (M == 2 ? 3 : 0));
    const TPmxMorphKind Kinds[] = {mkGroup,    mkGroup,  mkVertex, mkBone,    mkMaterial, mkUV,
                                   mkAddUV1,   mkAddUV2, mkAddUV3, mkAddUV4,  mkFlip,     mkGroup,
                                   mkMaterial, mkBone,   mkVertex, mkMaterial};
    const int MorphCount = 2 * static_cast<int>(std::size(Kinds));
    for (int M = 0; M < MorphCount; ++M) {
      const TPmxMorphKind Kind = Kinds[M % std::size(Kinds)];
      const int Index = B.AddMorph("k" + std::to_string(M), Kind);
      for (int K = 0; K < 4; ++K) {
        TPmxMorphData D{};
        switch (Kind) {
          case mkGroup:
          case mkFlip:
            D.Group.MorphIndex = static_cast<int>(Next(MorphCount + 2));
            D.Group.MorphRate = 2 * Value();
            break;
          case mkVertex:
            D.Vertex.VertexIndex = static_cast<int>(Next(30));
            D.Vertex.PositionOffset = V3(Value(), Value(), Value());
            break;
          case mkBone:
            D.Bone.BoneIndex = static_cast<int>(Next(BoneCount + 1));
            D.Bone.TranslateValue = V3(Value(), Value(), Value());
            D.Bone.RotateValue = AsVector4(TurnAbout(Value(), Value(), 1, 2 * Value()));
            break;
          case mkMaterial: {
            D = MaterialOffset(static_cast<int>(Next(5)) - 1, static_cast<uint8_t>(Next(3)));
            D.Material.Diffuse = V4(Value(), Value(), Value(), Value());
            D.Material.Shininess = Value();
            D.Material.EdgeSize = Value();
            D.Material.SphereTextureFactor = V4(Value(), Value(), Value(), Value());
            break;
          }
          default:
            D.UV.VertexIndex = static_cast<int>(Next(32));
            D.UV.UVOffset = V4(Value(), Value(), Value(), Value());
            break;
        }
        B.Morphs[Index].Data.push_back(D);
      }
      for (int K = 0; K < 3; ++K)
        Motion.AddMorphKey(B.Morphs[Index].NameJp, Next(60), 1.5f * (Value() + 0.5f));
    }
    Motion.AddBoneKey("knee", 0);
    Motion.AddBoneKey("knee", 50, V3(0, 0, 0), AsVector4(TurnAbout(1, 0, 0, 0.7f)));
  }
};

template <class T>
::testing::AssertionResult SameBits(const char* AWhat, const T* A, const T* B, size_t ACount) {
  if (std::memcmp(A, B, ACount * sizeof(T)) == 0) return ::testing::AssertionSuccess();
  for (size_t I = 0; I < ACount; ++I)
    if (std::memcmp(A + I, B + I, sizeof(T)) != 0)
      return ::testing::AssertionFailure() << AWhat << ": element " << I << " differs";
  return ::testing::AssertionFailure();
}
template <class T>
::testing::AssertionResult SameBits(const char* AWhat, const std::vector<T>& A,
                                    const std::vector<T>& B) {
  if (A.size() != B.size()) return ::testing::AssertionFailure() << AWhat << ": sizes differ";
  return SameBits(AWhat, A.data(), B.data(), A.size());
}

::testing::AssertionResult SameState(const TCoreRig& AFast, const TCoreRig& ARef) {
  const TPmxControllerCore &F = *AFast.Core, &R = *ARef.Core;
  for (auto Result : {SameBits("rotations", F.BoneRotations(), R.BoneRotations()),
                      SameBits("translations", F.BoneTranslations(), R.BoneTranslations()),
                      SameBits("global matrices", F.BoneGlobalMatrix(), R.BoneGlobalMatrix()),
                      SameBits("skin vertices", F.SkinVertices(), R.SkinVertices()),
                      SameBits("morph rates", F.MorphRates(), R.MorphRates()),
                      SameBits("effective rates", F.EffectiveMorphRates(), R.EffectiveMorphRates()),
                      SameBits("material states", F.MaterialStates(), R.MaterialStates()),
                      SameBits("UV", F.MorphedUVs(0), R.MorphedUVs(0)),
                      SameBits("UV1", F.MorphedUVs(1), R.MorphedUVs(1)),
                      SameBits("UV2", F.MorphedUVs(2), R.MorphedUVs(2)),
                      SameBits("UV3", F.MorphedUVs(3), R.MorphedUVs(3)),
                      SameBits("UV4", F.MorphedUVs(4), R.MorphedUVs(4)),
                      SameBits("positions", AFast.Out->Positions, ARef.Out->Positions),
                      SameBits("normals", AFast.Out->Normals, ARef.Out->Normals)})
    if (!Result) return Result;
  if (F.UVsChanged() != R.UVsChanged()) return ::testing::AssertionFailure() << "UVs changed";
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST(MorphKinds, FastPathMatchesTheReferenceToTheBitOnMixedModels) {
  for (uint32_t Seed = 1; Seed <= 12; ++Seed) {
    const TMixedModel M(Seed);
    TCoreRig Fast(M.B, &M.Motion, false), Ref(M.B, &M.Motion, true);
    ASSERT_TRUE(SameState(Fast, Ref)) << "rest, seed " << Seed;
    int Step = 0;
    for (double Frame = 0; Frame < 70; Frame += 1.37, ++Step) {
      for (TCoreRig* Rig : {&Fast, &Ref}) {
        TPmxControllerCore& C = *Rig->Core;
        if (Step % 3 == 0) {
          C.BeginFrame();
          C.ApplyMotionByFrame(Frame);
          C.SetMorphRate(Step % C.MorphCount(), 0.75f);
          C.EndFrame();
        } else {
          C.ApplyMotionByFrame(Frame);
          C.SetMorphRate((Step * 7) % C.MorphCount(), 0.3f * (Step % 4));
        }
        if (Step % 5 == 0) C.ClearUVsChanged();
      }
      ASSERT_TRUE(SameState(Fast, Ref)) << "seed " << Seed << " frame " << Frame;
    }
  }
}
