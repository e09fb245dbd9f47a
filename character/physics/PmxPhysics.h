// TPmxPhysics: the rigid bodies and spring joints of one PMX model in a Bullet world. It moves the
// bone-following bodies to the bones' pose, steps the world and hands the simulated bodies' pose
// back to their bones (and so to the bones below them). GL-free; depends on formats, the vector
// math and Bullet (kept out of this header).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "formats/pmxlib.h"
#include "math/VectorTypes.h"

// One fixed step of the world; longer spans run as several.
inline constexpr double PhysicsStepSeconds = 1.0 / 60.0;
// Steps run after a reset with the bone-following bodies held still (and the simulated ones
// damped hard), so that nothing snaps and a rig standing still has sagged into its hanging shape
// and come to rest (its bodies asleep) before it is shown.
inline constexpr int PhysicsSettleSteps = 180;
// Gravity in the viewer's frame (units of 0.1 file units, about metres) per second squared.
inline constexpr float PhysicsGravity = 9.8f;

class TPmxPhysics {
 public:
  using TNoteHandler = std::function<void(const std::string& ANote)>;

  // APmx must outlive the world. ABoneParent: per bone the parent followed (-1 for a root, no
  // loops); ABoneOrder: every bone once, parents before children. Bodies and joints that cannot be
  // simulated are made kinematic or left out, one note per kind of fault to ANote (stderr when
  // empty).
  TPmxPhysics(const TPmx& APmx, std::span<const int> ABoneParent, std::span<const int> ABoneOrder,
              const TNoteHandler& ANote = {});
  ~TPmxPhysics();
  TPmxPhysics(const TPmxPhysics&) = delete;
  TPmxPhysics& operator=(const TPmxPhysics&) = delete;

  // A fresh world with every body at its bone's pose in AGlobals (model-space bone matrices;
  // bodies without a bone at their own place) at rest, then PhysicsSettleSteps steps.
  void Reset(std::span<const TMatrix4f> AGlobals);
  // Bone-following bodies to AGlobals (eased over the steps), ASeconds of simulation in fixed
  // steps (a rest below one step carried over), then the simulated bodies' bones into AGlobals
  // with the bones below them. Returns the bones whose matrices it changed. A body that ended
  // non-finite or far away is put back at its bone's pose first.
  std::span<const int> Update(std::span<TMatrix4f> AGlobals, double ASeconds);

  // Per bone 1 when Update may change its matrix: the bones of simulated bodies and every bone
  // below them. Fixed for the world's life (a reset builds the same).
  const std::vector<uint8_t>& MovedBones() const;

  // Bodies as built, by the model's body index (tests, the benchmark).
  int BodyCount() const;
  // False for a body left out.
  bool HasBody(int ABody) const;
  // Whether the body is simulated (modes 1 and 2 with a usable mass).
  bool IsDynamic(int ABody) const;
  // The body's model-space matrix in the viewer's frame (row vectors, translation in W).
  TMatrix4f BodyMatrix(int ABody) const;
  // Simulated bodies not asleep.
  int AwakeBodyCount() const;
  // Joints actually simulated.
  int ActiveJointCount() const;
  // Steps run since construction (a reset's settle steps included).
  long StepCount() const;

 private:
  struct TImpl;
  void Build(std::span<const int> ABoneParent, std::span<const int> ABoneOrder,
             const TNoteHandler* ANote);
  const TPmx& FPmx;
  std::unique_ptr<TImpl> FImpl;
};
