// The default character's mesh, skeleton, materials and morphs, built from a few parametric
// shapes (tubes along paths and deformed ellipsoids) in the viewer's own frame.
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "tools/demo/DemoCharacter.h"
#include "tools/demo/DemoPhysicsRig.h"
#include "tools/demo/DemoShapes.h"

using namespace demoshape;

TPmxBuilder BuildDemoModel() {
  TCharacter Ch;
  TPmxBuilder& B = Ch.B;
  TDemoRigBones Rig;  // the bones the physics rig (DemoPhysicsRig.cpp) hangs its bodies on

  // ---- textures (paths relative to the model's folder; the reader turns '/' into '\') -------
  const int TexSkin = B.AddTexture("tex/skin.png");
  const int TexEye = B.AddTexture("tex/eye.png");
  const int TexHair = B.AddTexture("tex/hair.tga");
  const int TexCloth = B.AddTexture("tex/cloth.dds");
  const int TexSkirt = B.AddTexture("tex/skirt.dds");
  const int TexRibbon = B.AddTexture("tex/ribbon.tga");
  const int TexHighlight = B.AddTexture("tex/highlight.png");
  // Sphere maps: an added shine band for the hair (PNG data), a multiplied gloss for the eyes
  // (BMP data), named by their mode as authoring tools do.
  const int SphHair = B.AddTexture("tex/hair.spa");
  const int SphEye = B.AddTexture("tex/eye.sph");

  // ---- materials, in drawing order; toon numbers are shared ramps (0 = toon01.bmp) ---------
  const int MatSkin = Material(B, "肌", "skin", {1.0f, 0.91f, 0.85f}, 1, TexSkin, 1);
  const int MatEye = Material(B, "目", "eyes", {1, 1, 1}, 1, TexEye, 9);
  // The eyes' highlights on their own see-through layer, so that a UV morph can move them.
  const int MatHighlight = Material(B, "ハイライト", "highlight", {1, 1, 1}, 1, TexHighlight, 9);
  const int MatMouth = Material(B, "口", "mouth", {0.78f, 0.32f, 0.35f}, 1, -1, 9);
  const int MatHair = Material(B, "髪", "hair", {0.36f, 0.78f, 0.80f}, 1, TexHair, 3);
  const int MatCloth = Material(B, "服", "blouse", {0.98f, 0.98f, 1.0f}, 1, TexCloth, 0);
  const int MatSkirt = Material(B, "スカート", "skirt", {1, 1, 1}, 1, TexSkirt, 0, true);
  const int MatRibbon = Material(B, "リボン", "ribbons", {1, 1, 1}, 1, TexRibbon, 0);
  const int MatSocks = Material(B, "靴下", "socks", {0.16f, 0.16f, 0.2f}, 1, -1, 7);
  const int MatShoes = Material(B, "靴", "shoes", {0.42f, 0.24f, 0.16f}, 1, -1, 7);
  const int MatBlush = Material(B, "頬", "blush", {1.0f, 0.55f, 0.62f}, 0.6f, -1, 9);
  // Cheeks lying on the skin, invisible (alpha 0) until the material morph "赤面" adds alpha.
  const int MatCheek = Material(B, "頬紅", "cheek tint", {1.0f, 0.45f, 0.52f}, 0.0f, -1, 9);
  B.Materials[MatHair].SphereTextureIndex = SphHair;
  B.Materials[MatHair].SphereMode = 2;  // add
  B.Materials[MatEye].SphereTextureIndex = SphEye;
  B.Materials[MatEye].SphereMode = 1;  // multiply
  Outline(B, MatSkin, {0.46f, 0.28f, 0.26f}, 0.6f);
  Outline(B, MatHair, {0.08f, 0.26f, 0.30f}, 1.0f);
  for (int M : {MatCloth, MatSkirt, MatRibbon, MatSocks, MatShoes})
    Outline(B, M, {0.12f, 0.12f, 0.22f}, 0.8f);
  for (int M : {MatEye, MatHighlight, MatMouth, MatBlush, MatCheek}) NoShadowCast(B, M);

  // ---- skeleton (positions relative to where she stands; the character faces +Z) -----------
  const int Root = Ch.Bone("全ての親", "master", {0, 0, 0}, -1, true);
  Ch.TailOffset(Root, {0, 0.12f, 0});
  const int Center = Ch.Bone("センター", "center", {0, 0.80f, 0}, Root, true);
  Ch.TailOffset(Center, {0, -0.1f, 0});
  const int Upper = Ch.Bone("上半身", "upper body", {0, 0.91f, 0}, Center);
  const int Upper2 = Ch.Bone("上半身2", "upper body2", {0, 1.04f, 0}, Upper);
  const int Neck = Ch.Bone("首", "neck", {0, 1.21f, -0.004f}, Upper2);
  const int Head = Ch.Bone("頭", "head", {0, 1.30f, -0.004f}, Neck);
  Ch.TailOffset(Head, {0, 0.16f, 0});
  Ch.TailTo(Upper, Upper2);
  Ch.TailTo(Upper2, Neck);
  Ch.TailTo(Neck, Head);
  const int Lower = Ch.Bone("下半身", "lower body", {0, 0.91f, 0}, Center);
  Ch.TailOffset(Lower, {0, -0.13f, 0});

  const float ArmDown = 50.0f * kPi / 180.0f;
  struct TSide {
    int Shoulder, Arm, Elbow, Wrist, Leg, Knee, Ankle, LegIK, Hair;
    float S;
  } Sides[2];
  for (int K = 0; K < 2; ++K) {
    TSide& Sd = Sides[K];
    const float S = K == 0 ? 1.0f : -1.0f;  // 左 (her left) is +X
    Sd.S = S;
    const bool L = K == 0;
    const V3 ArmDir{S * std::cos(ArmDown), -std::sin(ArmDown), 0};
    const V3 ArmPos{S * 0.125f, 1.155f, -0.004f};
    Sd.Shoulder = Ch.Bone(L ? "左肩" : "右肩", L ? "shoulder_L" : "shoulder_R",
                          {S * 0.03f, 1.175f, -0.004f}, Upper2);
    Sd.Arm = Ch.Bone(L ? "左腕" : "右腕", L ? "arm_L" : "arm_R", ArmPos, Sd.Shoulder);
    Sd.Elbow =
        Ch.Bone(L ? "左ひじ" : "右ひじ", L ? "elbow_L" : "elbow_R", ArmPos + ArmDir * 0.2f, Sd.Arm);
    Sd.Wrist = Ch.Bone(L ? "左手首" : "右手首", L ? "wrist_L" : "wrist_R", ArmPos + ArmDir * 0.38f,
                       Sd.Elbow);
    Ch.TailTo(Sd.Shoulder, Sd.Arm);
    Ch.TailTo(Sd.Arm, Sd.Elbow);
    Ch.TailTo(Sd.Elbow, Sd.Wrist);
    Ch.TailOffset(Sd.Wrist, ArmDir * 0.08f);
    // The knee sits a little forward of the hip-ankle line, which gives the leg IK its bending
    // direction from the rest pose on.
    Sd.Leg = Ch.Bone(L ? "左足" : "右足", L ? "leg_L" : "leg_R", {S * 0.085f, 0.80f, 0}, Lower);
    Sd.Knee = Ch.Bone(L ? "左ひざ" : "右ひざ", L ? "knee_L" : "knee_R", {S * 0.085f, 0.44f, 0.018f},
                      Sd.Leg);
    Sd.Ankle = Ch.Bone(L ? "左足首" : "右足首", L ? "ankle_L" : "ankle_R", {S * 0.085f, 0.085f, 0},
                       Sd.Knee);
    Ch.TailTo(Sd.Leg, Sd.Knee);
    Ch.TailTo(Sd.Knee, Sd.Ankle);
    Ch.TailOffset(Sd.Ankle, {0, -0.06f, 0.09f});
  }
  for (int K = 0; K < 2; ++K) {
    TSide& Sd = Sides[K];
    const bool L = K == 0;
    Sd.LegIK = Ch.Bone(L ? "左足ＩＫ" : "右足ＩＫ", L ? "leg IK_L" : "leg IK_R",
                       Ch.BonePos(Sd.Ankle), Root, true);
    Ch.TailOffset(Sd.LegIK, {0, 0, 0.12f});
    B.MakeIK(Sd.LegIK, Sd.Ankle, 40, 2.0f);
    // The knee bends one way only: about X, from half a degree to a half turn.
    B.AddIKLink(Sd.LegIK, Sd.Knee, TVector3f{{0.5f * kPi / 180.0f, 0, 0}}, TVector3f{{kPi, 0, 0}});
    B.AddIKLink(Sd.LegIK, Sd.Leg);
  }
  // Twin tails: a root on the head, then a chain of four bones that the physics swings.
  for (int K = 0; K < 2; ++K) {
    TSide& Sd = Sides[K];
    const bool L = K == 0;
    Sd.Hair = Ch.Bone(L ? "左髪" : "右髪", L ? "twin tail_L" : "twin tail_R",
                      {Sd.S * 0.16f, 1.50f, -0.05f}, Head);
    Ch.TailOffset(Sd.Hair, {Sd.S * 0.1f, -0.1f, -0.03f});
  }

  // ---- body --------------------------------------------------------------------------------
  const V3 Forward{0, 0, 1};
  {  // torso (blouse), tucked into the skirt
    auto W = [&](V3 P, int) {
      const float Y = P.Y;
      TWeights Trunk = Y < 0.97f ? Two(Lower, Upper, 1 - SmoothStep(0.86f, 0.96f, Y))
                                 : Two(Upper, Upper2, 1 - SmoothStep(0.98f, 1.06f, Y));
      const float Ax = std::fabs(P.X);
      const float Sh = 0.6f * SmoothStep(0.06f, 0.11f, Ax) * SmoothStep(1.10f, 1.16f, Y);
      if (Sh > 0.01f && Trunk.N == 1) {
        const int Shoulder = P.X > 0 ? Sides[0].Shoulder : Sides[1].Shoulder;
        return Two(Shoulder, Trunk.Bone[0], Sh);
      }
      return Trunk;
    };
    const float Rows[][4] = {{0.83f, 0.098f, 0.074f, 0},        {0.90f, 0.097f, 0.072f, 0},
                             {0.97f, 0.095f, 0.070f, 0.002f},   {1.04f, 0.106f, 0.079f, 0.004f},
                             {1.10f, 0.114f, 0.086f, 0.007f},   {1.15f, 0.113f, 0.080f, 0.003f},
                             {1.185f, 0.094f, 0.066f, -0.003f}, {1.212f, 0.052f, 0.046f, -0.004f}};
    std::vector<TStation> St;
    for (std::size_t I = 0; I < std::size(Rows); ++I)
      St.push_back(TStation{{0, Rows[I][0], Rows[I][3]},
                            {0, 1, 0},
                            Rows[I][1],
                            Rows[I][2],
                            static_cast<float>(I) / (std::size(Rows) - 1),
                            One(Upper)});
    TPart Part;
    Tube(Part, St, 40, Forward, true, false, W);
    Ch.Emit(Part, MatCloth);
  }
  {  // neck
    auto W = [&](V3 P, int) {
      return P.Y < 1.25f ? Two(Upper2, Neck, 1 - SmoothStep(1.19f, 1.24f, P.Y))
                         : Two(Neck, Head, 1 - SmoothStep(1.27f, 1.31f, P.Y));
    };
    std::vector<TStation> St;
    for (int I = 0; I <= 4; ++I) {
      const float Y = 1.17f + 0.04f * static_cast<float>(I);
      St.push_back(TStation{{0, Y, -0.006f}, {0, 1, 0}, 0.037f, 0.035f, 0.5f, One(Neck)});
    }
    TPart Part;
    Tube(Part, St, 20, Forward, false, false, W);
    Ch.Emit(Part, MatSkin);
  }

  // ---- head and face -----------------------------------------------------------------------
  TEllipsoid HeadShape;
  HeadShape.C = {0, 1.41f, 0};
  HeadShape.RX = 0.150f, HeadShape.RY = 0.146f, HeadShape.RZ = 0.140f;
  HeadShape.Segments = 36, HeadShape.Rings = 22;
  // A rounder cranium and a softer, narrower chin.
  HeadShape.Deform = [C = HeadShape.C](V3 P) {
    const float Ly = (P.Y - C.Y) / 0.146f;
    const float Narrow = Ly < 0 ? 1 - 0.16f * Ly * Ly : 1.0f;
    return V3{C.X + (P.X - C.X) * Narrow, P.Y, C.Z + (P.Z - C.Z) * Narrow};
  };
  HeadShape.W = One(Head);
  {
    TPart Part;
    Ellipsoid(Part, HeadShape);
    Ch.Emit(Part, MatSkin);
  }
  // A point of the face surface at (Theta around Y from +Z, Phi up) with its outward normal.
  auto FaceSurface = [&](float Theta, float Phi, V3& ANormal) {
    auto At = [&](float T, float F) {
      V3 P = HeadShape.C + V3{std::cos(F) * std::sin(T) * HeadShape.RX, std::sin(F) * HeadShape.RY,
                              std::cos(F) * std::cos(T) * HeadShape.RZ};
      return HeadShape.Deform(P);
    };
    const float H = 1e-3f;
    const V3 P = At(Theta, Phi);
    ANormal = Normalized(
        Cross(At(Theta + H, Phi) - At(Theta - H, Phi), At(Theta, Phi + H) - At(Theta, Phi - H)));
    if (Dot(ANormal, P - HeadShape.C) < 0) ANormal = ANormal * -1;
    return P;
  };
  auto FacePart = [&](float Theta, float Phi, float AW, float AH, float ADepth, float AOut,
                      float ATilt, bool APlanar, int ASegments) {
    V3 N;
    const V3 P = FaceSurface(Theta, Phi, N);
    TEllipsoid E;
    V3 Up{std::sin(ATilt), std::cos(ATilt), 0};
    FrameFacing(N, Up, E.AX, E.AY, E.AZ);
    E.C = P + N * AOut;
    E.RX = AW / 2, E.RY = AH / 2, E.RZ = ADepth;
    E.Segments = ASegments, E.Rings = ASegments / 2;
    E.PlanarUV = APlanar;
    E.W = One(Head);
    return E;
  };
  std::vector<int> EyeVertices, HighlightVertices;
  std::vector<V3> EyeOffsets;
  std::size_t LeftEyeEnd = 0;  // EyeVertices[0, LeftEyeEnd): her left eye; the rest: her right
  for (int K = 0; K < 2; ++K) {
    if (K == 1) LeftEyeEnd = EyeVertices.size();
    const float S = Sides[K].S;
    // Eyes: flat discs with the iris texture; the blink folds each one onto its lower lid line.
    TEllipsoid Eye =
        FacePart(S * 0.42f, -0.07f, 0.062f, 0.078f, 0.007f, 0.0015f, -S * 0.06f, true, 28);
    TPart Part;
    Ellipsoid(Part, Eye);
    const int Base = Ch.Emit(Part, MatEye);
    // The highlight layer: the same disc a little in front, its texture placed like the iris's.
    TPart Highlight = Part;
    for (V3& P : Highlight.P) P = P + Eye.AZ * 0.0008f;
    const int HighlightBase = Ch.Emit(Highlight, MatHighlight);
    const float Line = -0.30f * Eye.RY;
    for (std::size_t I = 0; I < Part.P.size(); ++I) {
      const float Y = Dot(Part.P[I] - Eye.C, Eye.AY);
      const V3 Fold = Eye.AY * ((Line - Y) * 0.94f);
      EyeVertices.push_back(Base + static_cast<int>(I));
      EyeOffsets.push_back(Fold);
      // A closed eye hides its highlight behind the folded lid.
      EyeVertices.push_back(HighlightBase + static_cast<int>(I));
      EyeOffsets.push_back(Fold - Eye.AZ * 0.0025f);
      HighlightVertices.push_back(HighlightBase + static_cast<int>(I));
    }
    // Eyebrows, in the hair's colour.
    TEllipsoid Brow =
        FacePart(S * 0.40f, 0.28f, 0.046f, 0.010f, 0.004f, 0.002f, S * 0.12f, true, 16);
    TPart BrowPart;
    Ellipsoid(BrowPart, Brow);
    for (PmxFloat2& UV : BrowPart.UV) UV = PmxFloat2{0.5f, 0.75f};
    Ch.Emit(BrowPart, MatHair);
  }
  std::vector<int> MouthVertices;
  std::vector<V3> MouthOffsets;
  {  // mouth
    TEllipsoid Mouth = FacePart(0, -0.40f, 0.024f, 0.009f, 0.004f, 0.0015f, 0, false, 16);
    TPart Part;
    Ellipsoid(Part, Mouth);
    const int Base = Ch.Emit(Part, MatMouth);
    // "あ" opens it: two and a half times as tall, the lower lip dropping more.
    for (std::size_t I = 0; I < Part.P.size(); ++I) {
      const float Y = Dot(Part.P[I] - Mouth.C, Mouth.AY);
      MouthVertices.push_back(Base + static_cast<int>(I));
      MouthOffsets.push_back(Mouth.AY * (Y * 1.5f - 0.004f * SmoothStep(0.0f, -Mouth.RY, Y)));
    }
  }
  std::vector<int> BlushVertices;
  std::vector<V3> BlushOffsets;
  for (int K = 0; K < 2; ++K) {
    // Blush: hidden just under the skin until "照れ" pushes it out.
    TEllipsoid Blush =
        FacePart(Sides[K].S * 0.66f, -0.24f, 0.046f, 0.022f, 0.002f, -0.008f, 0, false, 20);
    TPart Part;
    Ellipsoid(Part, Blush);
    const int Base = Ch.Emit(Part, MatBlush);
    for (std::size_t I = 0; I < Part.P.size(); ++I) {
      BlushVertices.push_back(Base + static_cast<int>(I));
      BlushOffsets.push_back(Blush.AZ * 0.0096f);
    }
    // The cheek tint of "赤面": a flat patch just above the skin.
    TEllipsoid Cheek =
        FacePart(Sides[K].S * 0.66f, -0.24f, 0.050f, 0.024f, 0.001f, 0.0008f, 0, false, 20);
    TPart CheekPart;
    Ellipsoid(CheekPart, Cheek);
    Ch.Emit(CheekPart, MatCheek);
  }

  // ---- hair --------------------------------------------------------------------------------
  {
    TEllipsoid Cap;
    Cap.C = {0, 1.425f, -0.007f};
    Cap.RX = 0.166f, Cap.RY = 0.165f, Cap.RZ = 0.160f;
    Cap.Segments = 48, Cap.Rings = 26;
    Cap.W = One(Head);
    // An open face below a fringe of pointed bangs; at the back the hair reaches the nape.
    Cap.Keep = [](V3 D) {
      const float Theta = std::atan2(D.X, D.Z);
      if (D.Z > 0.2f) {
        const float Fringe =
            0.36f + 0.09f * std::fabs(std::sin(Theta * 9.0f)) - 0.25f * Theta * Theta;
        if (D.Y < Fringe) return false;
      }
      return D.Y > (D.Z > 0 ? -0.35f : -0.72f);
    };
    TPart Part;
    Ellipsoid(Part, Cap);
    Ch.Emit(Part, MatHair);
  }
  for (int K = 0; K < 2; ++K) {
    const float S = Sides[K].S;
    {  // side locks framing the face
      std::vector<TPathPoint> Path = {{{S * 0.128f, 1.45f, 0.060f}, 0.028f, 0.018f, One(Head)},
                                      {{S * 0.138f, 1.36f, 0.066f}, 0.026f, 0.016f, One(Head)},
                                      {{S * 0.134f, 1.27f, 0.070f}, 0.016f, 0.011f, One(Head)},
                                      {{S * 0.128f, 1.21f, 0.072f}, 0.002f, 0.002f, One(Head)}};
      TPart Part;
      Tube(Part, StationsAlong(Path), 14, V3{S, 0, 0}, true, false);
      Ch.Emit(Part, MatHair);
    }
    {  // twin tail: a bundle of strands from the bow down to the hips, on a chain of four bones
      // from its third ring on, each ring on the bone at or above it
      const int Hair = Sides[K].Hair;
      const V3 Rings[4] = {{S * 0.262f, 1.400f, -0.082f},
                           {S * 0.288f, 1.260f, -0.085f},
                           {S * 0.282f, 1.100f, -0.078f},
                           {S * 0.258f, 0.960f, -0.066f}};
      int Link[4];
      for (int I = 0; I < 4; ++I) {
        const std::string Name = std::string(K == 0 ? "左髪" : "右髪") + std::to_string(I + 1);
        const std::string English =
            std::string(K == 0 ? "twin tail_L" : "twin tail_R") + std::to_string(I + 1);
        Link[I] = Ch.Bone(Name.c_str(), English.c_str(), Rings[I], I == 0 ? Hair : Link[I - 1]);
        if (I > 0) Ch.TailTo(Link[I - 1], Link[I]);
        Rig.Tail[K].push_back(Link[I]);
      }
      const V3 Tip{S * 0.218f, 0.810f, -0.050f};
      Ch.TailOffset(Link[3], Tip - Rings[3]);
      Rig.TailTip[K][0] = Tip.X, Rig.TailTip[K][1] = Tip.Y, Rig.TailTip[K][2] = Tip.Z + kDemoStandZ;
      std::vector<TPathPoint> Path = {{{S * 0.150f, 1.505f, -0.050f}, 0.030f, 0.028f, One(Hair)},
                                      {{S * 0.205f, 1.485f, -0.070f}, 0.052f, 0.046f, One(Hair)},
                                      {Rings[0], 0.062f, 0.054f, One(Link[0])},
                                      {Rings[1], 0.058f, 0.050f, One(Link[1])},
                                      {Rings[2], 0.048f, 0.042f, One(Link[2])},
                                      {Rings[3], 0.034f, 0.030f, One(Link[3])},
                                      {{S * 0.232f, 0.860f, -0.056f}, 0.016f, 0.014f, One(Link[3])},
                                      {Tip, 0.002f, 0.002f, One(Link[3])}};
      TPart Part;
      Tube(Part, StationsAlong(Path), 24, V3{0, 0, 1}, true, false, nullptr,
           [](float Theta) { return 1.0f + 0.07f * std::sin(Theta * 7.0f); });
      Ch.Emit(Part, MatHair);
    }
    {  // hair bows at the roots of the tails, facing out, forward and a little up
      const V3 Bow{S * 0.150f, 1.535f, -0.020f};
      TEllipsoid Frame;
      FrameFacing(Normalized(V3{S * 1.0f, 0.35f, 0.75f}), {0, 1, 0}, Frame.AX, Frame.AY, Frame.AZ);
      for (float Side : {1.0f, -1.0f}) {
        TEllipsoid Loop = Frame;
        Loop.C = Bow + Frame.AX * (Side * 0.030f);
        Loop.RX = 0.032f, Loop.RY = 0.024f, Loop.RZ = 0.011f;
        Loop.Segments = 16, Loop.Rings = 10;
        Loop.W = One(Head);
        TPart Part;
        Ellipsoid(Part, Loop);
        Ch.Emit(Part, MatRibbon);
      }
      TEllipsoid Knot = Frame;
      Knot.C = Bow + Frame.AZ * 0.004f;
      Knot.RX = Knot.RY = 0.016f, Knot.RZ = 0.013f;
      Knot.Segments = 12, Knot.Rings = 8;
      Knot.W = One(Head);
      TPart Part;
      Ellipsoid(Part, Knot);
      Ch.Emit(Part, MatRibbon);
    }
  }

  // ---- arms --------------------------------------------------------------------------------
  for (int K = 0; K < 2; ++K) {
    const TSide& Sd = Sides[K];
    const V3 A = Ch.BonePos(Sd.Arm), E = Ch.BonePos(Sd.Elbow), Wr = Ch.BonePos(Sd.Wrist);
    const V3 Dir = Normalized(E - A);
    const float Len = Length(Wr - A);
    auto W = [&](V3 P, int) {
      const float S = Dot(P - A, Dir);
      if (S < 0.02f) return Two(Sd.Shoulder, Sd.Arm, 0.5f - 0.5f * SmoothStep(-0.03f, 0.02f, S));
      if (S < 0.28f)  // SDEF about the elbow across the blend
        return Sdef(Two(Sd.Arm, Sd.Elbow, 1 - SmoothStep(0.16f, 0.24f, S)), E, A + Dir * 0.16f,
                    A + Dir * 0.24f);
      return Two(Sd.Elbow, Sd.Wrist, 1 - SmoothStep(0.34f, 0.39f, S));
    };
    std::vector<TPathPoint> Path;
    const float Along[] = {-0.035f, 0.0f, 0.08f, 0.17f, 0.20f, 0.23f, 0.30f, 0.36f, Len + 0.01f};
    const float Radius[] = {0.034f, 0.036f, 0.034f, 0.030f, 0.028f, 0.028f, 0.027f, 0.022f, 0.020f};
    for (std::size_t I = 0; I < std::size(Along); ++I)
      Path.push_back({A + Dir * Along[I], Radius[I], Radius[I] * 0.92f, One(Sd.Arm)});
    TPart Part;
    Tube(Part, StationsAlong(Path), 18, Forward, true, true, W);
    Ch.Emit(Part, MatSkin);

    // Puff sleeve over the shoulder.
    TEllipsoid Sleeve;
    Sleeve.AY = Dir * -1.0f;
    Sleeve.AZ = Forward;
    Sleeve.AX = Cross(Sleeve.AY, Sleeve.AZ);
    Sleeve.C = A + Dir * 0.045f;
    Sleeve.RX = 0.052f, Sleeve.RY = 0.072f, Sleeve.RZ = 0.050f;
    Sleeve.Segments = 24, Sleeve.Rings = 14;
    Sleeve.Weights = [&](V3 P) {
      const float S = Dot(P - A, Dir);
      return Two(Sd.Shoulder, Sd.Arm, 0.4f - 0.4f * SmoothStep(-0.02f, 0.03f, S));
    };
    TPart SleevePart;
    Ellipsoid(SleevePart, Sleeve);
    Ch.Emit(SleevePart, MatCloth);

    // Hand: a soft mitten, palm towards the body.
    TEllipsoid Hand;
    Hand.AY = Dir * -1.0f;
    Hand.AZ = Forward;
    Hand.AX = Cross(Hand.AY, Hand.AZ);
    Hand.C = Wr + Dir * 0.048f;
    Hand.RX = 0.018f, Hand.RY = 0.050f, Hand.RZ = 0.032f;
    Hand.Segments = 16, Hand.Rings = 12;
    Hand.W = One(Sd.Wrist);
    TPart HandPart;
    Ellipsoid(HandPart, Hand);
    Ch.Emit(HandPart, MatSkin);
  }

  // ---- skirt (two-sided: its inside shows from below) ---------------------------------------
  {
    const int Rings = 9;
    std::vector<TStation> St;
    for (int I = 0; I < Rings; ++I) {
      const float T = static_cast<float>(I) / (Rings - 1);
      const float Y = 0.955f - 0.30f * T;
      const float Flare = std::pow(T, 0.8f);
      St.push_back(TStation{{0, Y, 0.004f},
                            {0, -1, 0},
                            0.104f + 0.15f * Flare,
                            0.080f + 0.145f * Flare,
                            T,
                            One(Lower)});
    }
    // Pleat columns for the physics: a bone at the waist and one halfway down per column; a
    // vertex blends the two columns beside it, and the upper and lower bones by its height.
    const float ColumnStep = 2 * kPi / kDemoSkirtColumns;
    auto RingPoint = [&](float AT, float ATheta) {
      const TStation& R = St[static_cast<size_t>(std::lround(AT * (Rings - 1)))];
      return R.C + V3{-std::cos(ATheta) * R.RT, 0, std::sin(ATheta) * R.RS};
    };
    for (int C = 0; C < kDemoSkirtColumns; ++C) {
      const float Theta = ColumnStep * static_cast<float>(C);
      const std::string N = std::to_string(C + 1);
      Rig.SkirtTop[C] = Ch.Bone(("スカート上" + N).c_str(), ("skirt upper " + N).c_str(),
                                RingPoint(0.0f, Theta), Lower);
      Rig.SkirtBottom[C] = Ch.Bone(("スカート下" + N).c_str(), ("skirt lower " + N).c_str(),
                                   RingPoint(0.5f, Theta), Rig.SkirtTop[C]);
      Ch.TailTo(Rig.SkirtTop[C], Rig.SkirtBottom[C]);
      Ch.TailOffset(Rig.SkirtBottom[C], RingPoint(1.0f, Theta) - RingPoint(0.5f, Theta));
    }
    auto W = [&](V3 P, int AStation) {
      const float T = static_cast<float>(AStation) / (Rings - 1);
      const TStation& R = St[static_cast<size_t>(AStation)];
      float Theta = std::atan2((P.Z - R.C.Z) / R.RS, -(P.X - R.C.X) / R.RT);
      if (Theta < 0) Theta += 2 * kPi;
      const float A = Theta / ColumnStep;
      const int C0 = static_cast<int>(std::floor(A)) % kDemoSkirtColumns;
      const int C1 = (C0 + 1) % kDemoSkirtColumns;
      const float F = A - std::floor(A), G = SmoothStep(0.3f, 0.7f, T);
      TWeights Wt;
      Wt.N = 4;
      Wt.Bone[0] = Rig.SkirtTop[C0], Wt.W[0] = (1 - F) * (1 - G);
      Wt.Bone[1] = Rig.SkirtTop[C1], Wt.W[1] = F * (1 - G);
      Wt.Bone[2] = Rig.SkirtBottom[C0], Wt.W[2] = (1 - F) * G;
      Wt.Bone[3] = Rig.SkirtBottom[C1], Wt.W[3] = F * G;
      return Wt;
    };
    TPart Part;
    // Pleats: a triangle wave on the radius, sixteen folds around.
    Tube(
        Part, St, 64, Forward, false, false, W,
        [](float Theta) {
          const float X = Theta * 16.0f / (2 * kPi);
          return 1.0f + 0.05f * (std::fabs(2.0f * (X - std::floor(X)) - 1.0f) - 0.5f);
        },
        4.0f);
    Ch.Emit(Part, MatSkirt);
  }
  {  // sailor ribbon on the chest
    const V3 C{0, 1.125f, 0.088f};
    for (float S : {1.0f, -1.0f}) {
      TEllipsoid Loop;
      Loop.C = C + V3{S * 0.030f, 0.002f, -0.004f};
      Loop.RX = 0.032f, Loop.RY = 0.017f, Loop.RZ = 0.010f;
      Loop.Segments = 16, Loop.Rings = 10;
      Loop.W = One(Upper2);
      TPart Part;
      Ellipsoid(Part, Loop);
      Ch.Emit(Part, MatRibbon);
      TEllipsoid Tail;
      Tail.C = C + V3{S * 0.016f, -0.040f, 0.002f};
      FrameFacing({0, 0, 1}, {S * 0.25f, 1, 0}, Tail.AX, Tail.AY, Tail.AZ);
      Tail.RX = 0.012f, Tail.RY = 0.036f, Tail.RZ = 0.006f;
      Tail.Segments = 12, Tail.Rings = 10;
      // Each ribbon tail on a bone at its top that the physics swings.
      const int Side = S > 0 ? 0 : 1;
      Rig.Ribbon[Side] = Ch.Bone(S > 0 ? "左リボン" : "右リボン", S > 0 ? "ribbon_L" : "ribbon_R",
                                 Tail.C + Tail.AY * 0.036f, Upper2);
      const V3 RibbonTip = Tail.C - Tail.AY * 0.036f;
      Ch.TailOffset(Rig.Ribbon[Side], RibbonTip - (Tail.C + Tail.AY * 0.036f));
      Rig.RibbonTip[Side][0] = RibbonTip.X, Rig.RibbonTip[Side][1] = RibbonTip.Y;
      Rig.RibbonTip[Side][2] = RibbonTip.Z + kDemoStandZ;
      Tail.W = One(Rig.Ribbon[Side]);
      TPart TailPart;
      Ellipsoid(TailPart, Tail);
      Ch.Emit(TailPart, MatRibbon);
    }
    TEllipsoid Knot;
    Knot.C = C + V3{0, 0, 0.004f};
    Knot.RX = 0.015f, Knot.RY = 0.014f, Knot.RZ = 0.011f;
    Knot.Segments = 12, Knot.Rings = 8;
    Knot.W = One(Upper2);
    TPart Part;
    Ellipsoid(Part, Knot);
    Ch.Emit(Part, MatRibbon);
  }

  // ---- legs, socks, shoes ------------------------------------------------------------------
  for (int K = 0; K < 2; ++K) {
    const TSide& Sd = Sides[K];
    const float X = Sd.S * 0.085f;
    auto ZAt = [](float Y) {
      return Y > 0.44f ? 0.018f * (0.80f - Y) / 0.36f : 0.018f * (Y - 0.085f) / 0.355f;
    };
    auto LegW = [&](float Y) {
      if (Y > 0.76f) return Two(Sd.Leg, Lower, SmoothStep(0.76f, 0.86f, 1.62f - Y));
      if (Y > 0.40f)  // SDEF about the knee across the blend
        return Sdef(Two(Sd.Leg, Sd.Knee, SmoothStep(0.40f, 0.49f, Y)), Ch.BonePos(Sd.Knee),
                    V3{X, 0.49f, ZAt(0.49f)}, V3{X, 0.40f, ZAt(0.40f)});
      return Two(Sd.Knee, Sd.Ankle, SmoothStep(0.07f, 0.13f, Y));
    };
    const float Ys[] = {0.87f, 0.80f, 0.70f, 0.60f, 0.50f, 0.445f,
                        0.40f, 0.32f, 0.24f, 0.16f, 0.11f, 0.07f};
    const float Rs[] = {0.064f, 0.063f, 0.058f, 0.052f, 0.044f, 0.041f,
                        0.041f, 0.045f, 0.040f, 0.031f, 0.027f, 0.025f};
    std::vector<TPathPoint> Skin, Sock;
    for (std::size_t I = 0; I < std::size(Ys); ++I) {
      const V3 P{X, Ys[I], ZAt(Ys[I])};
      Skin.push_back({P, Rs[I], Rs[I] * 1.02f, LegW(Ys[I])});
      if (Ys[I] <= 0.40f) Sock.push_back({P, Rs[I] + 0.004f, Rs[I] * 1.02f + 0.004f, LegW(Ys[I])});
    }
    Sock.insert(Sock.begin(), {V3{X, 0.405f, ZAt(0.405f)}, 0.046f, 0.047f, LegW(0.405f)});
    TPart SkinPart, SockPart;
    Tube(SkinPart, StationsAlong(Skin), 20, Forward, false, true);
    Tube(SockPart, StationsAlong(Sock), 20, Forward, false, true);
    Ch.Emit(SkinPart, MatSkin);
    Ch.Emit(SockPart, MatSocks);

    TEllipsoid Shoe;
    Shoe.C = {X, 0.046f, 0.028f};
    Shoe.RX = 0.044f, Shoe.RY = 0.044f, Shoe.RZ = 0.088f;
    Shoe.Segments = 24, Shoe.Rings = 14;
    Shoe.Deform = [](V3 P) { return V3{P.X, std::max(P.Y, 0.004f), P.Z}; };
    Shoe.W = One(Sd.Ankle);
    TPart ShoePart;
    Ellipsoid(ShoePart, Shoe);
    Ch.Emit(ShoePart, MatShoes);
  }

  Ch.FinishFaces();

  // ---- morphs ------------------------------------------------------------------------------
  const int Blink = B.AddMorph("まばたき", mkVertex, mtEyes);
  B.Morphs[Blink].NameEn = "blink";
  for (std::size_t I = 0; I < EyeVertices.size(); ++I)
    B.AddVertexMorphOffset(Blink, EyeVertices[I], ToVector(EyeOffsets[I]));
  // A wink of her right eye whose name is longer than a motion file's 15 name bytes: the dance
  // keys it by the cut name, which ends in the middle of a double-byte character.
  const int Wink = B.AddMorph(kDemoLongMorphName, mkVertex, mtEyes);
  B.Morphs[Wink].NameEn = "wink right, a little strong";
  for (std::size_t I = LeftEyeEnd; I < EyeVertices.size(); ++I)
    B.AddVertexMorphOffset(Wink, EyeVertices[I], ToVector(EyeOffsets[I]));
  const int Shy = B.AddMorph("照れ", mkVertex, mtOther);
  B.Morphs[Shy].NameEn = "blush";
  for (std::size_t I = 0; I < BlushVertices.size(); ++I)
    B.AddVertexMorphOffset(Shy, BlushVertices[I], ToVector(BlushOffsets[I]));
  const int MouthA = B.AddMorph("あ", mkVertex, mtMouth);
  B.Morphs[MouthA].NameEn = "a";
  for (std::size_t I = 0; I < MouthVertices.size(); ++I)
    B.AddVertexMorphOffset(MouthA, MouthVertices[I], ToVector(MouthOffsets[I]));
  // A laugh: eyes shut and the mouth half open, as one group.
  const int Laugh = B.AddMorph(kDemoLaughMorph, mkGroup, mtOther);
  B.Morphs[Laugh].NameEn = "laugh";
  for (auto [Member, Rate] : {std::pair{Blink, 1.0f}, {MouthA, 0.6f}}) {
    TPmxMorphData D{};
    D.Group = TPmxMorphGroup{Member, Rate};
    B.Morphs[Laugh].Data.push_back(D);
  }
  // A head tilt towards her left shoulder (about -Z: her left is +X), which shrugs up to meet it.
  const int Tilt = B.AddMorph(kDemoTiltMorph, mkBone, mtOther);
  B.Morphs[Tilt].NameEn = "head tilt";
  for (auto [Bn, Angle] : {std::pair{Head, -0.22f}, {Sides[0].Shoulder, 0.12f}}) {
    TPmxMorphData D{};
    D.Bone.BoneIndex = Bn;
    D.Bone.TranslateValue = TVector3f{{0, 0, 0}};
    D.Bone.RotateValue = TVector4f{{0, 0, std::sin(Angle / 2), std::cos(Angle / 2)}};
    B.Morphs[Tilt].Data.push_back(D);
  }
  // Red cheeks: the cheek material's alpha goes from 0 to 0.65.
  const int Flush = B.AddMorph(kDemoFlushMorph, mkMaterial, mtOther);
  B.Morphs[Flush].NameEn = "flush";
  {
    TPmxMorphData D{};
    D.Material.MaterialIndex = MatCheek;
    D.Material.OffsetType = 1;  // add
    D.Material.Diffuse = TVector4f{{0, 0, 0, 0.65f}};
    B.Morphs[Flush].Data.push_back(D);
  }
  // The eyes' highlights slide across the iris.
  const int Glint = B.AddMorph(kDemoHighlightMorph, mkUV, mtEyes);
  B.Morphs[Glint].NameEn = "highlight move";
  for (int V : HighlightVertices) {
    TPmxMorphData D{};
    D.UV.VertexIndex = V;
    D.UV.UVOffset = TVector4f{{0.10f, 0.07f, 0, 0}};
    B.Morphs[Glint].Data.push_back(D);
  }

  // ---- display frames ----------------------------------------------------------------------
  auto Frame = [&](const char* AName, const char* AEnglish, uint8_t ASpecial) {
    TPmxDisplayFrame F{};
    F.NameJp = AName;
    F.NameEn = AEnglish;
    F.SpecialFlag = ASpecial;
    B.DisplayFrames.push_back(F);
    return static_cast<int>(B.DisplayFrames.size() - 1);
  };
  auto AddBoneTo = [&](int AFrame, int ABone) {
    TPmxDisplayFrameElement E{};
    E.Target = 0;
    E.BoneIndex = ABone;
    B.DisplayFrames[AFrame].Elements.push_back(E);
  };
  AddBoneTo(Frame("Root", "Root", 1), Root);
  const int Faces = Frame("表情", "Exp", 1);
  for (int M : {Blink, Wink, Shy, MouthA, Laugh, Tilt, Flush, Glint}) {
    TPmxDisplayFrameElement E{};
    E.Target = 1;
    E.MorphIndex = M;
    B.DisplayFrames[Faces].Elements.push_back(E);
  }
  const int Body = Frame("体", "Body", 0);
  for (int Bn : {Center, Upper, Upper2, Neck, Head, Lower}) AddBoneTo(Body, Bn);
  const int Limbs = Frame("手足", "Limbs", 0);
  for (const TSide& Sd : Sides)
    for (int Bn : {Sd.Shoulder, Sd.Arm, Sd.Elbow, Sd.Wrist, Sd.Leg, Sd.Knee, Sd.Ankle, Sd.LegIK})
      AddBoneTo(Limbs, Bn);
  const int HairFrame = Frame("髪", "Hair", 0);
  for (const TSide& Sd : Sides) AddBoneTo(HairFrame, Sd.Hair);

  Rig.Head = Head, Rig.Upper = Upper, Rig.Upper2 = Upper2, Rig.Lower = Lower;
  for (int K = 0; K < 2; ++K) {
    Rig.Leg[K] = Sides[K].Leg, Rig.Knee[K] = Sides[K].Knee, Rig.Hair[K] = Sides[K].Hair;
    for (int Bn : Rig.Tail[K]) AddBoneTo(HairFrame, Bn);
  }
  AddDemoPhysicsRig(B, Rig);
  return B;
}
