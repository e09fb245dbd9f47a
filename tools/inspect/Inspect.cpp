// quenlor-inspect: reads a PMX model, a VMD motion, a VPD pose or a scene file with the viewer's
// own readers and prints the document as read (after the coordinate conversion; a scene resolved)
// as JSON on stdout. A file the readers reject prints the reader's message on stderr and exits 1,
// so a user can see why a model does not load.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "formats/PmxPhysicsFrame.h"
#include "formats/ReaderMessages.h"
#include "formats/pmxlib.h"
#include "scene/SceneFile.h"
#include "tools/inspect/InspectDocument.h"
#include "tools/inspect/InspectMotion.h"
#include "tools/inspect/InspectPose.h"
#include "tools/inspect/InspectScene.h"
#include "tools/inspect/JsonWriter.h"

namespace {

const char* const Usage =
    "usage: quenlor-inspect [--vertices] [--keys] FILE\n"
    "  FILE        a .pmx or .pmd model, a .vmd motion, a .vpd pose (its bones and morphs) or a\n"
    "              .toml scene file (printed resolved: every path absolute, each model's motions\n"
    "              and placement)\n"
    "  --vertices  (models) also print every vertex and face; every morph's entries, rigid\n"
    "              body, joint and soft body are always printed (physics in the viewer's frame)\n"
    "  --keys      (motions) also print every key of every section\n";

// Known enumeration values by name, anything else as its number.
std::string EnumName(unsigned AValue, std::initializer_list<const char*> ANames) {
  if (AValue < ANames.size()) return *(ANames.begin() + AValue);
  return std::to_string(AValue);
}

std::string EncodingName(uint8_t AEncoding) {
  return EnumName(AEncoding, {"UTF-16LE", "UTF-8"});
}
std::string EulerName(TEulerType AEuler) {
  return EnumName(AEuler, {"XYZ", "YZX", "ZXY"});
}
std::string AxisName(TAxisType AAxis) {
  return EnumName(AAxis, {"none", "fixed", "flowedX", "flowedY", "flowedZ"});
}
std::string MorphKindName(TPmxMorphKind AKind) {
  return EnumName(AKind, {"group", "vertex", "bone", "uv", "addUV1", "addUV2", "addUV3", "addUV4",
                          "material", "flip", "impulse"});
}
std::string MorphTargetName(TPmxMorphTarget ATarget) {
  return EnumName(ATarget, {"reserved", "brows", "eyes", "mouth", "other"});
}
std::string WeightMethodName(uint8_t AMethod) {
  return EnumName(AMethod, {"BDEF1", "BDEF2", "BDEF4", "SDEF", "QDEF"});
}

void Names(TJsonWriter& J, const std::string& AJp, const std::string& AEn) {
  StringMember(J, "nameJp", AJp);
  StringMember(J, "nameEn", AEn);
}

void FlagNames(TJsonWriter& J, uint32_t AFlags, std::initializer_list<const char*> ANames) {
  J.Key("flagNames");
  J.BeginArray(true);
  unsigned Bit = 0;
  for (const char* Name : ANames) {
    if (AFlags & (1u << Bit)) J.String(Name);
    ++Bit;
  }
  for (; Bit < 32; ++Bit)
    if (AFlags & (1u << Bit)) J.String("bit" + std::to_string(Bit));
  J.EndArray();
}

void WriteVertices(TJsonWriter& J, const TPmx& APmx) {
  J.Key("vertices");
  J.BeginArray();
  for (const TPmxVertex& V : APmx.VertexList()) {
    J.BeginObject();
    Vec(J, "position", V.Position);
    Vec(J, "normal", V.Normal);
    J.Key("uv");
    J.BeginArray(true);
    J.Float(V.UV.X);
    J.Float(V.UV.Y);
    J.EndArray();
    if (!V.AdditionalUV.empty()) {
      J.Key("additionalUV");
      J.BeginArray(true);
      for (const PmxFloat4& U : V.AdditionalUV) J.Floats(U.V, 4);
      J.EndArray();
    }
    StringMember(J, "weightMethod", WeightMethodName(V.BoneWeightMethod));
    const TPmxBoneWeight& W = V.BoneWeight;
    std::vector<int32_t> Bones;
    std::vector<float> Weights;
    switch (V.BoneWeightMethod) {
      case bwBDEF1:
        Bones = {W.BDEF1.BoneIndex};
        Weights = {1.0f};
        break;
      case bwBDEF2:
      case bwSDEF:
        Bones = {W.BDEF2.Bone1Index, W.BDEF2.Bone2Index};
        Weights = {W.BDEF2.Bone1Weight, 1.0f - W.BDEF2.Bone1Weight};
        break;
      case bwBDEF4:
      case bwQDEF:
        Bones = {W.BDEF4.Bone1Index, W.BDEF4.Bone2Index, W.BDEF4.Bone3Index, W.BDEF4.Bone4Index};
        Weights = {W.BDEF4.Bone1Weight, W.BDEF4.Bone2Weight, W.BDEF4.Bone3Weight,
                   W.BDEF4.Bone4Weight};
        break;
      default:
        break;
    }
    J.Key("bones");
    J.BeginArray(true);
    for (int32_t B : Bones) J.Int(B);
    J.EndArray();
    J.Key("weights");
    J.Floats(Weights.data(), static_cast<int>(Weights.size()));
    if (V.BoneWeightMethod == bwSDEF) {
      Vec(J, "sdefC", W.SDEF.SDEF_C);
      Vec(J, "sdefR0", W.SDEF.SDEF_R0);
      Vec(J, "sdefR1", W.SDEF.SDEF_R1);
    }
    FloatMember(J, "edgeScale", V.MagnificationOfEdge);
    J.EndObject();
  }
  J.EndArray();
  J.Key("faces");
  J.BeginArray();
  const std::vector<int32_t>& F = APmx.FaceList();
  for (size_t I = 0; I + 2 < F.size(); I += 3) {
    J.BeginArray(true);
    J.Int(F[I]);
    J.Int(F[I + 1]);
    J.Int(F[I + 2]);
    J.EndArray();
  }
  J.EndArray();
}

// One morph's offsets by its kind, each with every field the reader keeps. Small entries stay on
// one line each: a face's vertex morphs run to thousands of them.
void WriteMorphEntries(TJsonWriter& J, const TPmxMorph& AMorph) {
  J.Key("entries");
  J.BeginArray();
  for (const TPmxMorphData& D : AMorph.Data) {
    switch (AMorph.Kind) {
      case mkGroup:
      case mkFlip:
        J.BeginObject(true);
        IntMember(J, "morphIndex", D.Group.MorphIndex);
        FloatMember(J, "rate", D.Group.MorphRate);
        break;
      case mkVertex:
        J.BeginObject(true);
        IntMember(J, "vertexIndex", D.Vertex.VertexIndex);
        Vec(J, "offset", D.Vertex.PositionOffset);
        break;
      case mkUV:
      case mkAddUV1:
      case mkAddUV2:
      case mkAddUV3:
      case mkAddUV4:
        J.BeginObject(true);
        IntMember(J, "vertexIndex", D.UV.VertexIndex);
        Vec(J, "offset", D.UV.UVOffset);
        break;
      case mkBone:
        J.BeginObject(true);
        IntMember(J, "boneIndex", D.Bone.BoneIndex);
        Vec(J, "translation", D.Bone.TranslateValue);
        Vec(J, "rotation", D.Bone.RotateValue);
        break;
      case mkMaterial: {
        const TPmxMorphMaterial& M = D.Material;
        J.BeginObject();
        IntMember(J, "materialIndex", M.MaterialIndex);
        StringMember(J, "operation", EnumName(M.OffsetType, {"multiply", "add"}));
        Vec(J, "diffuse", M.Diffuse);
        Vec(J, "specular", M.Specular);
        FloatMember(J, "shininess", M.Shininess);
        Vec(J, "ambient", M.Ambient);
        Vec(J, "edgeColor", M.EdgeColor);
        FloatMember(J, "edgeSize", M.EdgeSize);
        Vec(J, "textureTint", M.TextureFactor);
        Vec(J, "sphereTint", M.SphereTextureFactor);
        Vec(J, "toonTint", M.ToonTextureFactor);
        break;
      }
      case mkImpulse:
        J.BeginObject(true);
        IntMember(J, "rigidBodyIndex", D.Impulse.RigidBodyIndex);
        IntMember(J, "localFlag", D.Impulse.LocalFlag);
        Vec(J, "translationSpeed", D.Impulse.TranslationSpeed);
        Vec(J, "rotationTorque", D.Impulse.RotationTorque);
        break;
      default:  // an unknown kind reads no bytes: its entries hold nothing
        J.BeginObject(true);
        break;
    }
    J.EndObject();
  }
  J.EndArray();
}

// The reader keeps rigid bodies and joints as the file has them; they are printed in the viewer's
// frame like the bones (the conversion the physics uses), each range with its ends ordered.
void Range(TJsonWriter& J, const char* ALowerKey, const char* AUpperKey, PmxFloat3 ALower,
           PmxFloat3 AUpper) {
  for (int C = 0; C < 3; ++C) {
    const float L = ALower.V[C], U = AUpper.V[C];
    ALower.V[C] = std::min(L, U);
    AUpper.V[C] = std::max(L, U);
  }
  Vec(J, ALowerKey, ALower);
  Vec(J, AUpperKey, AUpper);
}

void WriteRigidBodies(TJsonWriter& J, const TPmx& APmx) {
  J.Key("rigidBodies");
  J.BeginArray();
  for (const TPmxRigidBody& Raw : APmx.RigidBodyList()) {
    const TPmxRigidBody R = RigidBodyInViewerFrame(Raw);
    J.BeginObject();
    Names(J, R.NameJp, R.NameEn);
    IntMember(J, "relatedBoneIndex", R.RelatedBoneIndex);
    IntMember(J, "group", R.Group);
    IntMember(J, "collisionlessGroupFlag", R.CollisionlessGroupFlag);
    StringMember(J, "shape", EnumName(R.Shape, {"sphere", "box", "capsule"}));
    Vec(J, "size", R.Size);
    Vec(J, "position", R.Position);
    Vec(J, "rotation", R.Rotation);
    FloatMember(J, "mass", R.Mass);
    FloatMember(J, "translateDecay", R.TranslateDecay);
    FloatMember(J, "rotateDecay", R.RotateDecay);
    FloatMember(J, "repulsion", R.Repulsion);
    FloatMember(J, "friction", R.Friction);
    IntMember(J, "physicsOperation", R.PhysicsOperation);
    J.EndObject();
  }
  J.EndArray();
}

void WriteJoints(TJsonWriter& J, const TPmx& APmx) {
  J.Key("joints");
  J.BeginArray();
  for (const TPmxJoint& Raw : APmx.JointList()) {
    const TPmxJoint Joint = JointInViewerFrame(Raw);
    const TPmxJointSpring6DOF& D = Joint.Data.Spring6DOF;
    J.BeginObject();
    Names(J, Joint.NameJp, Joint.NameEn);
    StringMember(
        J, "kind",
        EnumName(Joint.JointKind, {"spring6DOF", "6DOF", "p2p", "coneTwist", "slider", "hinge"}));
    IntMember(J, "rigidBodyAIndex", D.RigidBodyAIndex);
    IntMember(J, "rigidBodyBIndex", D.RigidBodyBIndex);
    Vec(J, "position", D.Position);
    Vec(J, "rotation", D.Rotation);
    Range(J, "translateLowerLimit", "translateUpperLimit", D.TranslateLowerLimit,
          D.TranslateUpperLimit);
    Range(J, "rotateLowerLimit", "rotateUpperLimit", D.RotateLowerLimit, D.RotateUpperLimit);
    Vec(J, "translationSpringConstant", D.TranslationSpringConstant);
    Vec(J, "rotationSpringConstant", D.RotationSpringConstant);
    J.EndObject();
  }
  J.EndArray();
}

void FloatMembers(TJsonWriter& J, const char* AKey, std::initializer_list<const char*> ANames,
                  const float* AValues) {
  J.Key(AKey);
  J.BeginObject(true);
  for (const char* Name : ANames) FloatMember(J, Name, *AValues++);
  J.EndObject();
}

// Soft bodies hold no positions: everything as read.
void WriteSoftBodies(TJsonWriter& J, const TPmx& APmx) {
  J.Key("softBodies");
  J.BeginArray();
  for (const TPmxSoftBody& S : APmx.SoftBodyList()) {
    J.BeginObject();
    Names(J, S.NameJp, S.NameEn);
    IntMember(J, "shape", S.Shape);
    IntMember(J, "relatedMaterialIndex", S.RelatedMaterialIndex);
    IntMember(J, "group", S.Group);
    IntMember(J, "collisionlessGroupFlag", S.CollisionlessGroupFlag);
    IntMember(J, "flags", S.Flags);
    FlagNames(J, S.Flags, {"bLink", "cluster", "crossLink"});
    IntMember(J, "bLinkDistance", S.BLinkDistance);
    IntMember(J, "numberOfCluster", S.NumberOfCluster);
    FloatMember(J, "totalMass", S.TotalMass);
    FloatMember(J, "collisionMargin", S.CollisionMargin);
    IntMember(J, "aeroModel", S.AeroModel);
    const TPmxSoftBodyConfig& C = S.Config;
    const float Config[] = {C.VCF, C.DP, C.DG,  C.LF,  C.PR,  C.VC,
                            C.DF,  C.MT, C.CHR, C.KHR, C.SHR, C.AHR};
    FloatMembers(J, "config",
                 {"VCF", "DP", "DG", "LF", "PR", "VC", "DF", "MT", "CHR", "KHR", "SHR", "AHR"},
                 Config);
    const TPmxSoftBodyCluster& K = S.Cluster;
    const float Cluster[] = {K.SRHR_CL,    K.SKHR_CL,    K.SSHR_CL,
                             K.SR_SPLT_CL, K.SK_SPLT_CL, K.SS_SPLT_CL};
    FloatMembers(J, "cluster",
                 {"SRHR_CL", "SKHR_CL", "SSHR_CL", "SR_SPLT_CL", "SK_SPLT_CL", "SS_SPLT_CL"},
                 Cluster);
    J.Key("iteration");
    J.BeginObject(true);
    IntMember(J, "V_IT", S.Iteration.V_IT);
    IntMember(J, "P_IT", S.Iteration.P_IT);
    IntMember(J, "D_IT", S.Iteration.D_IT);
    IntMember(J, "C_IT", S.Iteration.C_IT);
    J.EndObject();
    const float Material[] = {S.Material.LST, S.Material.AST, S.Material.VST};
    FloatMembers(J, "material", {"LST", "AST", "VST"}, Material);
    J.Key("anchorRigidBodies");
    J.BeginArray();
    for (const TPmxAnchorRigidBody& A : S.AnchorRigidBodies) {
      J.BeginObject(true);
      IntMember(J, "rigidBodyIndex", A.RelatedRigidBodyIndex);
      IntMember(J, "vertexIndex", A.RelatedVertexIndex);
      IntMember(J, "nearMode", A.NearMode);
      J.EndObject();
    }
    J.EndArray();
    J.Key("pinVertices");
    J.BeginArray(true);
    for (const TPmxPinVertex& P : S.PinVertices) J.Int(P.RelatedVertexIndex);
    J.EndArray();
    J.EndObject();
  }
  J.EndArray();
}

void WritePmx(TJsonWriter& J, const TPmx& APmx, bool AVertices) {
  const TPmxHeader& H = APmx.Header();
  J.BeginObject();
  StringMember(J, "format", APmx.Format() == TModelFormat::mfPmd ? "pmd" : "pmx");
  J.Key("header");
  J.BeginObject();
  FloatMember(J, "version", H.Version);
  StringMember(J, "encoding", EncodingName(H.Encoding));
  IntMember(J, "additionalUVCount", H.AdditionalUVCount);
  J.Key("indexSizes");
  J.BeginObject();
  IntMember(J, "vertex", H.VertexIndexSize);
  IntMember(J, "texture", H.TextureIndexSize);
  IntMember(J, "material", H.MaterialIndexSize);
  IntMember(J, "bone", H.BoneIndexSize);
  IntMember(J, "morph", H.MorphIndexSize);
  IntMember(J, "rigidBody", H.RigidBodyIndexSize);
  J.EndObject();
  J.EndObject();
  StringMember(J, "modelNameJp", APmx.ModelNameJp());
  StringMember(J, "modelNameEn", APmx.ModelNameEn());
  StringMember(J, "commentJp", APmx.CommentJp());
  StringMember(J, "commentEn", APmx.CommentEn());

  J.Key("counts");
  J.BeginObject();
  IntMember(J, "vertices", APmx.VertexCount());
  IntMember(J, "faces", APmx.FaceCount());
  IntMember(J, "faceIndices", static_cast<int64_t>(APmx.FaceList().size()));
  IntMember(J, "textures", APmx.TextureCount());
  IntMember(J, "materials", APmx.MaterialCount());
  IntMember(J, "bones", APmx.BoneCount());
  IntMember(J, "morphs", APmx.MorphCount());
  IntMember(J, "displayFrames", APmx.DisplayFrameCount());
  IntMember(J, "rigidBodies", APmx.RigidBodyCount());
  IntMember(J, "joints", APmx.JointCount());
  IntMember(J, "softBodies", APmx.SoftBodyCount());
  J.EndObject();

  J.Key("textures");
  J.BeginArray();
  for (const std::string& T : APmx.TextureList()) J.String(T);
  J.EndArray();

  J.Key("materials");
  J.BeginArray();
  for (const TPmxMaterial& M : APmx.MaterialList()) {
    J.BeginObject();
    Names(J, M.NameJp, M.NameEn);
    Vec(J, "diffuse", M.Diffuse);
    Vec(J, "specular", M.Specular);
    FloatMember(J, "shininess", M.Shininess);
    Vec(J, "ambient", M.Ambient);
    IntMember(J, "renderFlags", M.RenderFlags);
    FlagNames(J, M.RenderFlags,
              {"twoSide", "groundShadow", "shadowMapping", "selfShadow", "edge", "vertexColor",
               "point", "line"});
    Vec(J, "edgeColor", M.EdgeColor);
    FloatMember(J, "edgeSize", M.EdgeSize);
    IntMember(J, "textureIndex", M.TextureIndex);
    IntMember(J, "sphereTextureIndex", M.SphereTextureIndex);
    IntMember(J, "sphereMode", M.SphereMode);
    IntMember(J, "sharedToonFlag", M.SharedToonFlag);
    if (M.SharedToonFlag != 0)
      IntMember(J, "sharedToonTextureIndex", M.ToonTexture.SharedToonTextureIndex);
    else
      IntMember(J, "toonTextureIndex", M.ToonTexture.ToonTextureIndex);
    StringMember(J, "memo", M.Memo);
    IntMember(J, "faceIndexCount", M.NumberOfVertex);
    J.EndObject();
  }
  J.EndArray();

  J.Key("bones");
  J.BeginArray();
  for (const TPmxBone& B : APmx.BoneList()) {
    J.BeginObject();
    Names(J, B.NameJp, B.NameEn);
    Vec(J, "position", B.Position);
    IntMember(J, "parentIndex", B.ParentIndex);
    IntMember(J, "transformationLevel", B.TransformationLevel);
    IntMember(J, "flags", B.Flags);
    FlagNames(J, B.Flags,
              {"connection", "canRotate", "canTranslate", "display", "canOperate", "ik", "unused",
               "addLocal", "addRotation", "addTranslation", "fixedAxis", "localAxis",
               "transformAfterPhysics", "transformByExternalParent"});
    if (HasFlag(B.Flags, bfConnection))
      IntMember(J, "connectionBoneIndex", B.ConnectionBoneIndex);
    else
      Vec(J, "positionOffset", B.PositionOffset);
    if (HasFlag(B.Flags, bfAddRotation) || HasFlag(B.Flags, bfAddTranslation)) {
      IntMember(J, "addParentBoneIndex", B.AddParentBoneIndex);
      FloatMember(J, "addPower", B.AddPower);
    }
    if (HasFlag(B.Flags, bfFixedAxis)) Vec(J, "fixedAxisDirection", B.FixedAxisDirection);
    if (HasFlag(B.Flags, bfLocalAxis)) {
      Vec(J, "localAxisXDirection", B.LocalAxisXDirection);
      Vec(J, "localAxisZDirection", B.LocalAxisZDirection);
    }
    if (HasFlag(B.Flags, bfTransformByExternalParent))
      IntMember(J, "externalParentKey", B.ExternalParentKey);
    if (HasFlag(B.Flags, bfIK)) {
      J.Key("ik");
      J.BeginObject();
      IntMember(J, "targetBoneIndex", B.IKTargetBoneIndex);
      IntMember(J, "loopCount", B.IKLoopCount);
      FloatMember(J, "loopLimitAngle", B.IKLoopLimitAngle);
      J.Key("links");
      J.BeginArray();
      for (const TPmxIKLink& L : B.IKLinks) {
        J.BeginObject();
        IntMember(J, "boneIndex", L.LinkBoneIndex);
        IntMember(J, "angleLimit", L.AngleLimit);
        if (L.AngleLimit == 1) {
          Vec(J, "lowerLimit", L.LowerLimit);
          Vec(J, "upperLimit", L.UpperLimit);
        }
        StringMember(J, "euler", EulerName(L.Euler));
        StringMember(J, "axisType", AxisName(L.AxisType));
        J.EndObject();
      }
      J.EndArray();
      J.EndObject();
    }
    J.EndObject();
  }
  J.EndArray();

  J.Key("morphs");
  J.BeginArray();
  for (const TPmxMorph& M : APmx.MorphList()) {
    J.BeginObject();
    Names(J, M.NameJp, M.NameEn);
    StringMember(J, "kind", MorphKindName(M.Kind));
    StringMember(J, "target", MorphTargetName(M.Target));
    IntMember(J, "elementCount", static_cast<int64_t>(M.Data.size()));
    WriteMorphEntries(J, M);
    J.EndObject();
  }
  J.EndArray();

  J.Key("displayFrames");
  J.BeginArray();
  for (const TPmxDisplayFrame& F : APmx.DisplayFrameList()) {
    J.BeginObject();
    Names(J, F.NameJp, F.NameEn);
    IntMember(J, "specialFlag", F.SpecialFlag);
    J.Key("elements");
    J.BeginArray();
    for (const TPmxDisplayFrameElement& E : F.Elements) {
      J.BeginObject();
      if (E.Target == 0) {
        StringMember(J, "target", "bone");
        IntMember(J, "index", E.BoneIndex);
      } else if (E.Target == 1) {
        StringMember(J, "target", "morph");
        IntMember(J, "index", E.MorphIndex);
      } else {
        StringMember(J, "target", std::to_string(E.Target));
      }
      J.EndObject();
    }
    J.EndArray();
    J.EndObject();
  }
  J.EndArray();

  WriteRigidBodies(J, APmx);
  WriteJoints(J, APmx);
  WriteSoftBodies(J, APmx);
  if (AVertices) WriteVertices(J, APmx);
  J.EndObject();
}

bool EndsWithNoCase(std::string_view AText, std::string_view ASuffix) {
  if (AText.size() < ASuffix.size()) return false;
  for (size_t I = 0; I < ASuffix.size(); ++I) {
    char C = AText[AText.size() - ASuffix.size() + I];
    if (C >= 'A' && C <= 'Z') C = static_cast<char>(C - 'A' + 'a');
    if (C != ASuffix[I]) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool Vertices = false, Keys = false, Camera = false, HasFrames = false, Physics = false,
       Skinned = false;
  std::string FileName, PoseFile;
  std::vector<double> Frames;
  auto UsageError = [](const char* AMessage = nullptr) {
    if (AMessage) std::fprintf(stderr, "quenlor-inspect: %s\n", AMessage);
    std::fputs(Usage, stderr);
    std::fputs(PoseUsage, stderr);
    return 2;
  };
  for (int I = 1; I < argc; ++I) {
    const std::string_view Arg = argv[I];
    if (Arg == "--vertices") {
      Vertices = true;
    } else if (Arg == "--keys") {
      Keys = true;
    } else if (Arg == "--camera") {
      Camera = true;
    } else if (Arg == "--physics") {
      Physics = true;
    } else if (Arg == "--skinned") {
      Skinned = true;
    } else if (Arg == "--pose" || Arg == "--frames") {
      if (I + 1 == argc) return UsageError("missing value after an option");
      const std::string_view Value = argv[++I];
      if (Arg == "--pose") {
        PoseFile = Value;
      } else {
        if (!ParseFrameList(Value, Frames))
          return UsageError("--frames takes numbers of at least 0 separated by commas");
        HasFrames = true;
      }
    } else if (Arg == "--help" || Arg == "-h") {
      std::fputs(Usage, stdout);
      std::fputs(PoseUsage, stdout);
      return 0;
    } else if (Arg.starts_with("--") || !FileName.empty()) {
      return UsageError();
    } else {
      FileName = Arg;
    }
  }
  if (FileName.empty()) return UsageError();
  const bool Sampling = Camera || !PoseFile.empty();
  // A pose holds one frame: without --frames it is sampled at 0.
  if (!PoseFile.empty() && !HasFrames && EndsWithNoCase(PoseFile, ".vpd")) {
    Frames = {0.0};
    HasFrames = true;
  }
  // The sampling forms take frames and nothing of the document forms, and one of them at a time.
  if (Sampling != HasFrames || (Sampling && (Vertices || Keys)) || (Camera && !PoseFile.empty()) ||
      ((Physics || Skinned) && PoseFile.empty()))
    return UsageError();

  try {
    TJsonWriter J;
    if (Sampling) {
      TVmd Vmd;
      if (Camera) {
        Vmd.LoadFromFile(FileName);
        WriteCameraFrames(J, Vmd, Frames);
      } else {
        TPmx Pmx;
        Pmx.LoadFromFile(FileName);
        if (PoseFile != "-") Vmd.LoadFromFile(PoseFile);
        WritePoseFrames(J, Pmx, Vmd, Frames, Physics, Skinned);
      }
    } else if (EndsWithNoCase(FileName, ".toml")) {
      // The scene reader's message names the file and the line, as the viewer shows it.
      WriteScene(J, ReadSceneFile(FileName));
    } else {
      const std::vector<uint8_t> Bytes = ReadFileBytes(FileName);
      // The extension decides; without a known one, the signature does.
      bool IsVmd = EndsWithNoCase(FileName, ".vmd");
      bool IsVpd = EndsWithNoCase(FileName, ".vpd");
      if (!IsVmd && !IsVpd && !EndsWithNoCase(FileName, ".pmx") &&
          !EndsWithNoCase(FileName, ".pmd")) {
        IsVmd = Bytes.size() >= 20 && std::memcmp(Bytes.data(), "Vocaloid Motion Data", 20) == 0;
        IsVpd = IsVpdText(Bytes);
      }
      // The viewer's message for the file: its name, the reader's text and what that means.
      auto Read = [&](TReadFileRole ARole, auto&& ALoad) {
        try {
          ALoad();
        } catch (const Exception& E) {
          throw Exception(ReadFileErrorMessage(ARole, FileName, E.what()));
        }
      };
      if (IsVpd) {
        TVpdPose Pose;
        Read(TReadFileRole::rfMotion, [&] { Pose = ReadVpd(Bytes); });
        WriteVpd(J, Pose);
      } else if (IsVmd) {
        TVmd Vmd;
        Read(TReadFileRole::rfMotion, [&] { Vmd.LoadFromBytes(Bytes); });
        WriteVmd(J, Vmd, Keys);
      } else {
        TPmx Pmx;
        Read(TReadFileRole::rfModel, [&] { Pmx.LoadFromBytes(Bytes); });
        WritePmx(J, Pmx, Vertices);
      }
    }
    const std::string Text = J.Take();
    std::fwrite(Text.data(), 1, Text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  } catch (const std::exception& E) {
    std::fprintf(stderr, "%s\n", E.what());
    return 1;
  }
}
