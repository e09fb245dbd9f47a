// Fuzz target: a model and a motion into the controller's CPU side (bone and morph tables, motion
// tables with eased keys and show/IK switches, pose with IK and append transforms, morphs of
// every kind, skinning into plain memory, the camera track, the rigid-body physics), no GL.
// Input: see SplitModelMotion. A model or motion the readers reject ends the run; a motion the
// reader rejects is left out, as the viewer would fail to start with it.
#include <algorithm>
#include <cmath>

#include "character/core/CameraMotion.h"
#include "character/core/MemorySkinTarget.h"
#include "character/core/PmxControllerCore.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  const TModelMotionInput Input = SplitModelMotion(FuzzBytes(AData, ASize));
  TPmx Pmx;
  TVmd Vmd;
  bool HasMotion = false;
  try {
    Pmx.LoadFromBytes(Input.Model);
  } catch (const Exception&) {
    return 0;
  }
  try {
    Vmd.LoadFromBytes(Input.Motion);
    HasMotion = true;
  } catch (const Exception&) {
  }

  // The controller's construction order: tables, rest pose skinned once with IK, then the motion.
  TPmxControllerCore Core(Pmx);
  TMemorySkinTarget Target(Pmx.VertexCount());
  Core.SetSkinTarget(&Target);
  Core.ApplyMorph();
  Core.UpdateBoneMatrix();
  if (HasMotion)
    Core.LoadMotion(Vmd,
                    [](std::span<const std::uint8_t> ARawName) { (void)DecodeVmdName(ARawName); });

  // A few frames of what the viewer does every frame: sample the motion (inside, on the loop
  // seam, after it), blink, turn the head toward an eye point, step frames by hand.
  const double Frames = Core.FrameCount();
  const TCameraMotion Camera(Vmd.CameraMotions());
  for (double Frame : {0.0, 1.5, Frames / 2, Frames + 7.25}) {
    Core.ApplyMotionByFrame(Frame);
    Core.Mabataki(0.5f);
    Core.FaceTurn(TVec3f(0.3f, 1.6f, 2.0f));
    // The viewer's own frame: all changes posed and skinned once.
    Core.BeginFrame();
    Core.FaceTurn(TVec3f(-0.2f, 1.4f, 2.5f));
    Core.ApplyMotionByFrame(Frame + 0.5);
    Core.EndFrame();
    const TCameraPose Pose = Camera.Sample(Frame + 0.5);
    TouchBytes(reinterpret_cast<const std::uint8_t*>(&Pose), sizeof Pose);
  }
  // Physics: frames in a row step it, a jump back resets it, off and on again resets it.
  for (double Frame = 0.0; Frame < 4.0; Frame += 0.5) Core.ApplyMotionByFrame(Frame);
  Core.ApplyMotionByFrame(1.0);
  Core.SetPhysicsEnabled(false);
  Core.ApplyMotionByFrame(2.0);
  Core.SetPhysicsEnabled(true);
  Core.ResetPhysics();
  Core.ApplyMotionByFrame(2.5);
  Core.ApplyMotionByTime(1234.5);
  Core.NextFrame();
  Core.PrevFrame();
  Core.CockHead(15.0f);
  // Every morph of every kind (group, vertex, bone, UV, material, flip, impulse) at a weight, the
  // first few alone (each re-morphs and re-skins), the rest in one frame bracket, then all back.
  const int Morphs = std::min(Core.MorphCount(), 512);
  for (int i = 0; i < Morphs && i < 4; ++i) Core.SetMorphRate(i, i % 2 ? 1.0f : 0.25f);
  Core.BeginFrame();
  for (int i = 0; i < Morphs; ++i) Core.SetMorphRate(i, i % 3 ? 1.0f : 0.5f);
  Core.EndFrame();
  Core.UpdateBoneMatrix();
  for (const TMaterialMorphState& State : Core.MaterialStates())
    TouchBytes(reinterpret_cast<const std::uint8_t*>(&State), sizeof State);
  for (int Channel = 0; Channel < 5; ++Channel)
    TouchBytes(reinterpret_cast<const std::uint8_t*>(Core.MorphedUVs(Channel).data()),
               Core.MorphedUVs(Channel).size() * sizeof(TVector4f));
  Core.BeginFrame();
  for (int i = 0; i < Morphs; ++i) Core.SetMorphRate(i, 0.0f);
  Core.EndFrame();
  TouchBytes(reinterpret_cast<const std::uint8_t*>(Target.Positions.data()),
             Target.Positions.size() * sizeof(float));
  return 0;
}
