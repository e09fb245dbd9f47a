// fuzz_seeds: writes the seed corpus of every fuzz target, built in code with the PMX/VMD writer,
// the demo character's picture encoders and the image-reader fixtures, into <out>/<target>/.
// Seeds are small on purpose: the fuzzers mutate them thousands of times per second.
#include <stb/stb_image_write.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/PmdWriter.h"
#include "formats/PmxPhysicsWriter.h"
#include "formats/PmxWriter.h"
#include "formats/VpdWriter.h"
#include "tests/gl/ImageFixtures.h"
#include "tests/support/RichModel.h"
#include "tools/demo/DemoImages.h"
#include "tools/testbed/GeneratedCharacter.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
std::filesystem::path GOut;

void Seed(const std::string& ATarget, const std::string& AName, const Bytes& ABytes) {
  const std::filesystem::path Dir = GOut / ATarget;
  std::filesystem::create_directories(Dir);
  WriteBytesToFile((Dir / AName).string(), ABytes);
}

TVector3f V3(float X, float Y, float Z) {
  return NewVector3f(X, Y, Z);
}

TVmdBuilder RichMotion(int AFrames) {
  TVmdBuilder M;
  M.ModelName = "テストモデル";
  for (int F = 0; F <= AFrames; F += AFrames / 4) {
    const float T = float(F) / float(AFrames);
    M.AddBoneKey("センター", F, V3(0, 0.1f * T, 0));
    M.AddBoneKey("上半身", F, V3(0, 0, 0), NewVector4f(0, 0.2f * T, 0, 1));
    M.AddBoneKey("左足ＩＫ", F, V3(0, 0.2f * T, 0.1f));
    M.AddBoneKey("首", F, V3(0, 0, 0), NewVector4f(0.1f, 0, 0, 0.995f));
    M.AddMorphKey("まばたき", F, T);
  }
  // Keys for a bone and a morph the model does not have; an interpolation curve that is not linear.
  M.AddBoneKey("存在しない", 3);
  M.AddMorphKey("ない", 5, 1.0f);
  for (int i = 0; i < 64; ++i) M.Motions[1].Interpolation[i] = std::uint8_t(20 + i);
  return M;
}

// Keys in every optional section, eased curves on bone and camera keys, one bone key laid out
// as newer files write it (row 0's bytes 2 and 3 zero).
TVmdBuilder SceneMotion() {
  TVmdBuilder M = RichMotion(8);
  SetVmdBoneCurve(M.Motions[0], bcX, 64, 0, 64, 127);
  SetVmdBoneCurve(M.Motions[0], bcRotation, 127, 0, 0, 127);
  SetVmdBoneCurve(M.Motions[2], bcZ, 10, 100, 30, 120);
  M.Motions[2].Interpolation[2] = 0;
  M.Motions[2].Interpolation[3] = 0;
  M.AddCameraKey(0, V3(0, 1, 0), 4.5f, V3(0.1f, 0.2f, 0), 30);
  M.AddCameraKey(8, V3(0.2f, 1.2f, -0.3f), 3, V3(-0.2f, 0.5f, 0.1f), 45);
  SetVmdCameraCurve(M.CameraMotions[1], ccRotation, 100, 5, 120, 40);
  SetVmdCameraCurve(M.CameraMotions[1], ccViewAngle, 0, 127, 127, 0);
  M.LightMotions.push_back(TVmdLightMotion{0, {{0.6f, 0.6f, 0.6f}}, {{-0.5f, -1, 0.5f}}});
  M.SelfShadowMotions.push_back(TVmdSelfShadowMotion{0, 1, 8875});
  M.AddShowIKKey(0, true, {{"左足ＩＫ", true}, {"右足ＩＫ", true}});
  M.AddShowIKKey(4, false, {{"左足ＩＫ", false}});
  return M;
}

Bytes ModelMotionPair(const Bytes& AModel, const Bytes& AMotion) {
  Bytes Out;
  fixtures::PutU32(Out, std::uint32_t(AModel.size()));
  Out.insert(Out.end(), AModel.begin(), AModel.end());
  Out.insert(Out.end(), AMotion.begin(), AMotion.end());
  return Out;
}

void ModelSeeds() {
  // Every record kind, as UTF-16 version 2.0 and as UTF-8 version 2.1 with a soft body.
  TPmxBuilder Rich = RichModel(2.0f);
  Seed("pmx", "rich_utf16_v20.pmx", Rich.Build());
  TPmxBuilder Variant = RichModel(2.1f);
  Variant.Settings.Encoding = 1;
  Seed("pmx", "rich_utf8_v21.pmx", Variant.Build());
  Variant.Settings.VertexIndexSize = 4;
  Variant.Settings.BoneIndexSize = 4;
  Variant.Settings.MorphIndexSize = 2;
  Variant.Settings.TextureIndexSize = 2;
  Variant.Settings.MaterialIndexSize = 4;
  Variant.Settings.RigidBodyIndexSize = 2;
  Seed("pmx", "rich_wide_indices.pmx", Variant.Build());

  TPmxBuilder Tiny;
  const int Root = Tiny.AddBone("センター", V3(0, 0, 0));
  const int A = Tiny.AddVertex(V3(0, 0, 0), V3(0, 1, 0), PmxFloat2{0, 0}, Root);
  const int Bv = Tiny.AddVertex(V3(1, 0, 0), V3(0, 1, 0), PmxFloat2{1, 0}, Root);
  const int C = Tiny.AddVertex(V3(0, 1, 0), V3(0, 1, 0), PmxFloat2{0, 1}, Root);
  Tiny.AddTriangle(A, Bv, C);
  Tiny.AddMaterial("mat", 3);
  Seed("pmx", "tiny.pmx", Tiny.Build());

  // PMD: a leg with knee IK, a base and a vertex morph, a bone group, every optional block; and
  // the same file ending after the required sections.
  TPmdBuilder Pmd;
  Pmd.Model.Name = "PMD";
  Pmd.AddBone("センター", V3(0, 8, 0), PmdNoBone, pbkRotateMove);
  Pmd.AddBone("左足", V3(1, 10, 2), 0, pbkRotate, 2);
  Pmd.AddBone("左ひざ", V3(1, 5, 2), 1, pbkIKLinked, 3);
  Pmd.AddBone("左足首", V3(1, 1, 2), 2, pbkIKTarget);
  Pmd.AddBone("左足ＩＫ", V3(1, 1, 2), 0, pbkIK);
  Pmd.AddBone("捩", V3(1, 7, 2), 1, pbkTwist, 2);
  Pmd.AddBone("従", V3(0, 9, 0), 0, pbkRotationScaled, 1, 50);
  Pmd.AddIK(4, 3, {2, 1});
  Pmd.AddVertex(V3(0, 0, 0), 0);
  Pmd.AddVertex(V3(1, 5, 2), 1, 2, 50);
  Pmd.AddVertex(V3(0, 10, 0), 2, 3, 0);
  Pmd.AddTriangle(0, 1, 2);
  Pmd.AddMaterial(3, "skin.bmp*shine.sph", 0);
  Pmd.AddMorph("base", 0);
  Pmd.Model.Morphs[0].Entries = {{0, V3(0, 0, 0)}, {2, V3(0, 10, 0)}};
  Pmd.AddMorph("あ", 3);
  Pmd.Model.Morphs[1].Entries = {{1, V3(0, 1, 0)}};
  Pmd.Model.MorphPanel = {1};
  Pmd.Model.BoneGroups = {{"足", "Legs"}};
  Pmd.Model.GroupMembers = {{1, 1}, {4, 1}};
  Pmd.Model.HasEnglish = true;
  Pmd.Model.ToonFiles[1] = "own.bmp";
  TPmdRigidBody Body{};
  Body.Bone = 1;
  Body.Size = V3(1, 2, 0);
  Pmd.Model.RigidBodies = {Body, Body};
  TPmdJoint Joint{};
  Joint.BodyB = 1;
  Pmd.Model.Joints = {Joint};
  Seed("pmd", "leg.pmd", Pmd.Build());
  Pmd.OptionalBlocks = 0;
  Seed("pmd", "leg_required_only.pmd", Pmd.Build());

  TGeneratedCharacterOptions Small;
  Small.VertexCount = 120;
  Small.BoneCount = 64;
  Small.VertexMorphCount = 3;
  Small.OffsetsPerMorph = 12;
  Small.BoneKeyCount = 150;
  Small.MorphKeyCount = 20;
  Small.FrameSpan = 90;
  const TGeneratedCharacter Human = GenerateCharacter(Small);
  const Bytes HumanModel = Human.Model.Build();
  const Bytes HumanMotion = Human.Motion.Build();
  Seed("pmx", "humanoid.pmx", HumanModel);
  Seed("vmd", "humanoid.vmd", HumanMotion);

  const Bytes RichMotion90 = RichMotion(90).Build();
  Seed("vmd", "rich.vmd", RichMotion90);
  TVmdBuilder Empty;
  Seed("vmd", "empty.vmd", Empty.Build());
  TVmdBuilder Trailer = RichMotion(8);
  Trailer.Trailer = Bytes(61 + 4, 0);  // empty optional sections, then bytes past them
  Seed("vmd", "trailer.vmd", Trailer.Build());
  TVmdBuilder Scene = SceneMotion();
  Seed("vmd", "scene.vmd", Scene.Build());
  // The same motion ending after the camera keys, and after the self-shadow keys.
  Scene.OptionalSections = 1;
  Seed("vmd", "scene_camera_only.vmd", Scene.Build());
  Scene.OptionalSections = 3;
  Seed("vmd", "scene_no_show_ik.vmd", Scene.Build());

  // Poses: as authoring tools write them (CRLF, comments, bones and morphs), the humanoid's every
  // bone and morph, LF without comments, only morphs, nothing.
  TVpdBuilder Pose;
  Pose.ModelName = "初音ミク.osm";
  Pose.AddBone("センター", V3(1.5f, 10, -4));
  Pose.AddBone("左腕", V3(0, 0, 0), TVector4f{{0, 0, 0.70710677f, 0.70710677f}});
  Pose.AddBone("左人差指先ＩＫ補助", V3(-2, 0, 8));
  Pose.AddMorph("まばたき", 0.5f);
  Seed("vpd", "pose.vpd", Pose.Build());
  Seed("vmd", "pose.vpd", Pose.Build());
  TVpdBuilder HumanPose;
  for (const TPmxBone& B : Human.Model.Bones) HumanPose.AddBone(B.NameJp, V3(0, 0.5f, 0));
  for (const TPmxMorph& M : Human.Model.Morphs) HumanPose.AddMorph(M.NameJp, 0.25f);
  Seed("vpd", "humanoid.vpd", HumanPose.Build());
  Pose.LineEnd = "\n";
  Pose.Comments = false;
  Seed("vpd", "pose_lf.vpd", Pose.Build());
  Pose.Bones.clear();
  Seed("vpd", "face.vpd", Pose.Build());
  Seed("vpd", "empty.vpd", TVpdBuilder().Build());

  Seed("character", "rich.bin", ModelMotionPair(Rich.Build(), RichMotion90));
  Seed("character", "rich_no_motion.bin", ModelMotionPair(Rich.Build(), {}));
  Seed("character", "humanoid.bin", ModelMotionPair(HumanModel, HumanMotion));
  Seed("character", "tiny.bin", ModelMotionPair(Tiny.Build(), RichMotion(8).Build()));
  Seed("character", "rich_scene.bin", ModelMotionPair(Rich.Build(), SceneMotion().Build()));
  // A pendulum chain rig for the physics: bodies, joints, the root moved by the rich motion's
  // bone keys where the names match.
  Seed("character", "pendulum.bin",
       ModelMotionPair(PendulumModel(3, 1.0f, TVector3f{{0, 5, 0}}, 1, 0.5f, true).Build(),
                       RichMotion(8).Build()));
}

TCanvas Checker(int AWidth, int AHeight) {
  TCanvas C(AWidth, AHeight);
  for (int y = 0; y < AHeight; ++y)
    for (int x = 0; x < AWidth; ++x)
      C.At(x, y) = TRgba{std::uint8_t(x * 40), std::uint8_t(y * 40),
                         std::uint8_t((x ^ y) & 1 ? 255 : 0), std::uint8_t(128 + x)};
  return C;
}

Bytes RgbaOf(const TCanvas& ACanvas, int AComponents) {
  Bytes Out;
  for (int y = 0; y < ACanvas.Height(); ++y)
    for (int x = 0; x < ACanvas.Width(); ++x) {
      const TRgba P = ACanvas.At(x, y);
      const std::uint8_t All[4] = {P.R, P.G, P.B, P.A};
      Out.insert(Out.end(), All, All + AComponents);
    }
  return Out;
}

void ImageSeeds() {
  const TCanvas Small = Checker(5, 3);
  const TCanvas Square = Checker(8, 8);

  // TGA: raw 16/24/32 bits in both row orders, a right-to-left file with an ID field and a colour
  // map to skip, run-length files whose packets cross rows.
  struct TRaw {
    const char* Name;
    int Bits;
    std::uint8_t Descriptor;
    const char* Id;
    int ColorMap;
  };
  for (const TRaw& R :
       {TRaw{"raw16.tga", 16, 0, "", 0}, TRaw{"raw24.tga", 24, 0x20, "", 0},
        TRaw{"raw32.tga", 32, 0x28, "", 0}, TRaw{"raw24_id_map_rtl.tga", 24, 0x10, "seed", 2}}) {
    fixtures::TgaSpec Spec;
    Spec.Width = 5;
    Spec.Height = 3;
    Spec.Bits = R.Bits;
    Spec.Descriptor = R.Descriptor;
    Spec.Id = R.Id;
    Spec.ColorMapEntries = R.ColorMap;
    Bytes File = fixtures::TgaHeader(Spec);
    for (int i = 0; i < 15; ++i) {
      const Bytes P = fixtures::Pixel(R.Bits / 8, i);
      File.insert(File.end(), P.begin(), P.end());
    }
    Seed("tga", R.Name, File);
  }
  {
    fixtures::TgaSpec Spec;
    Spec.Type = 10;
    Spec.Width = 4;
    Spec.Height = 3;
    Spec.Bits = 16;
    Bytes File = fixtures::TgaHeader(Spec);
    // A run of 6 crossing the first row, then 6 raw pixels.
    File.insert(File.end(), {0x85, 0x1F, 0x7C, 0x05});
    for (int i = 0; i < 6; ++i) fixtures::PutU16(File, 0x1111u * unsigned(i));
    Seed("tga", "rle16.tga", File);
  }
  Seed("tga", "rle24.tga", EncodeTgaRle(Small, 24, "rle"));
  Seed("tga", "rle32.tga", EncodeTgaRle(Square, 32, ""));

  // DDS: each FourCC with a full mip chain, and a file without a mip count.
  Seed("dds", "dxt1_mips.dds", EncodeDds(Square, false));
  Seed("dds", "dxt5_mips.dds", EncodeDds(Square, true));
  Seed("dds", "dxt3_8x4_mips.dds", fixtures::Dds("DXT3", 8, 4, 4, 16 * (2 + 1 + 1 + 1)));
  Seed("dds", "dxt1_no_mip_count.dds", fixtures::Dds("DXT1", 4, 4, 0, 8));

  // The codec route: every family stb_image reads that a writer can produce here.
  Seed("image_codec", "rgba.png", fixtures::EncodePng(5, 3, 4, RgbaOf(Small, 4)));
  Seed("image_codec", "rgb.png", fixtures::EncodePng(5, 3, 3, RgbaOf(Small, 3)));
  Seed("image_codec", "grey.png", fixtures::EncodePng(5, 3, 1, RgbaOf(Small, 1)));
  Seed("image_codec", "stored.png", EncodePng(Small));
  Seed("image_codec", "rgb.jpg", fixtures::EncodeJpg(8, 8, RgbaOf(Square, 3)));
  Seed("image_codec", "rgb24.bmp", EncodeBmp24(Small));
  Seed("image_codec", "rle.tga", EncodeTgaRle(Small, 32, ""));
  // Radiance HDR: flat (narrower than 8 pixels) and run-length encoded.
  auto Hdr = [](int AWidth, int AHeight, const Bytes& ARgb) {
    return fixtures::EncodeWith(
        [](stbi_write_func* F, void* C, int W, int H, int N, const void* P, int) {
          std::vector<float> Values(std::size_t(W) * H * N);
          const auto* Bytes8 = static_cast<const std::uint8_t*>(P);
          for (std::size_t i = 0; i < Values.size(); ++i) Values[i] = Bytes8[i] / 255.0f;
          return stbi_write_hdr_to_func(F, C, W, H, N, Values.data());
        },
        AWidth, AHeight, 3, ARgb, 0);
  };
  Seed("image_codec", "rgb.hdr", Hdr(5, 3, RgbaOf(Small, 3)));
  Seed("image_codec", "rle.hdr", Hdr(8, 8, RgbaOf(Square, 3)));
  Seed("image_codec", "grey.pgm", [] {
    const std::string Header = "P5\n4 2\n255\n";
    Bytes Out(Header.begin(), Header.end());
    for (int i = 0; i < 8; ++i) Out.push_back(std::uint8_t(i * 30));
    return Out;
  }());
  // A 2 x 1 GIF with a two-colour palette.
  Seed("image_codec", "tiny.gif",
       Bytes{'G', 'I',  'F', '8', '9', 'a', 2, 0, 1, 0, 0x80, 0, 0, 255,  0,    0, 0,   0,
             255, 0x2C, 0,   0,   0,   0,   2, 0, 1, 0, 0,    2, 2, 0x44, 0x01, 0, 0x3B});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  GOut = argv[1];
  try {
    ModelSeeds();
    ImageSeeds();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fuzz_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
