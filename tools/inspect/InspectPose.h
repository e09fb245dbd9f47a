// InspectPose: the inspector's two sampling forms, for checking a pose from outside the viewer: a
// model posed by a motion at given frames, and a motion's camera sampled at given frames, both as
// JSON in the viewer's frame. Depends on the readers, the controller core and the JSON writer.
#pragma once

#include <string_view>
#include <vector>

#include "formats/pmxlib.h"
#include "tools/inspect/JsonWriter.h"

// The usage lines of the two forms.
inline constexpr const char* PoseUsage =
    "usage: quenlor-inspect MODEL.pmx --pose MOTION.vmd [--physics] [--skinned] --frames "
    "F1,F2,...\n"
    "       quenlor-inspect MODEL.pmx --pose POSE.vpd [--physics] [--skinned] [--frames F1,...]\n"
    "       quenlor-inspect CAMERA.vmd --camera --frames F1,F2,...\n"
    "  --pose      every bone (sampled local value, final model-space pose) and morph weight;\n"
    "              MOTION.vmd '-': no motion, the rest pose; POSE.vpd: a pose, a motion of one\n"
    "              frame (frame 0 when --frames is not given)\n"
    "  --physics   with --pose: the rigid bodies simulated from frame 0 at 30 frames a second\n"
    "              (without it, no physics)\n"
    "  --skinned   with --pose: also every vertex in order as [px, py, pz, nx, ny, nz], its\n"
    "              position and normal after morphs and skinning (the normal as the bones' blend\n"
    "              turns it, not renormalised)\n"
    "  --camera    the camera's eye, target, up and vertical field of view (degrees)\n"
    "  --frames    frame numbers at 30 per second, fractions allowed, separated by commas\n"
    "  Positions in the viewer's frame; rotations as quaternions [x, y, z, w] with w >= 0.\n";

// "F1,F2,...": finite numbers of at least 0, fractions allowed, no empty entries or spaces.
// False (AFrames unspecified) on anything else.
bool ParseFrameList(std::string_view AText, std::vector<double>& AFrames);

// {"frames": [{"frame", "bones": [...], "morphs": [...]}]}. Without APhysics each frame is posed
// by a fresh core without physics; with it one core plays every frame from 0 at 30 frames a
// second with its physics on (starting over for a frame earlier than the one before). ASkinned
// adds "vertices": per vertex its skinned position and normal, six numbers.
void WritePoseFrames(TJsonWriter& J, const TPmx& APmx, const TVmd& AVmd,
                     const std::vector<double>& AFrames, bool APhysics = false,
                     bool ASkinned = false);
// {"frames": [{"frame", "eye", "target", "up", "fovY"}]}. Throws when the motion has no camera
// keys.
void WriteCameraFrames(TJsonWriter& J, const TVmd& AVmd, const std::vector<double>& AFrames);

// The rotation of a row-vector matrix's upper 3x3 (orthonormal) as a unit quaternion with w >= 0.
TQuaternion MatrixRotation(const TMatrix4f& AMatrix);
