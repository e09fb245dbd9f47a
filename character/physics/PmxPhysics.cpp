// The model's rigid bodies and spring joints in a Bullet world. The world runs in file units (the
// viewer's frame scaled back up by 1 / PositionScale): the rigs are tuned at that scale, and
// Bullet's margins and thresholds are absolute lengths.
#include "character/physics/PmxPhysics.h"

#include <btBulletDynamicsCommon.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "formats/PmxPhysicsFrame.h"
#include "math/VectorGeometry.h"

namespace {

constexpr btScalar WorldScale = btScalar(1.0f / PositionScale);
// Limits beyond which a value is taken for garbage (viewer units).
constexpr float MaxBodyExtent = 1.0e4f;
constexpr float MaxBodySize = 1.0e3f;
constexpr float MaxMass = 1.0e6f;
// A simulated body this far from its bone's pose (viewer units) is put back.
constexpr float FarDistance = 50.0f;
// Steps one Update may run; a longer span is dropped (the caller resets on a jump).
constexpr int MaxStepsPerUpdate = 10;
// Below these speeds (viewer units and radians per second) for two seconds a body sleeps.
constexpr float SleepSpeed = 0.05f, SleepTurnSpeed = 0.5f;
// A bone-following body that moved less than this (world units; quaternion components) leaves
// the sleeping bodies asleep.
constexpr btScalar StillDistance = btScalar(1e-5), StillTurn = btScalar(1e-6);
// Damping of the simulated bodies during a reset's settle steps, at least: the rig sags into its
// hanging shape without swinging and is calm when shown.
constexpr float SettleDamping = 0.9f;
// Largest force of the motor that holds a locked joint axis (file-scale units): never the limit.
constexpr btScalar LockForce = btScalar(1e10);

bool Finite3(const TVector3f& A) {
  return std::isfinite(A.X) && std::isfinite(A.Y) && std::isfinite(A.Z);
}

// Column-vector basis of a row-vector matrix (its transpose), origin scaled to world units.
btTransform ToWorld(const TMatrix4f& M) {
  btMatrix3x3 B(M.X.X, M.Y.X, M.Z.X, M.X.Y, M.Y.Y, M.Z.Y, M.X.Z, M.Y.Z, M.Z.Z);
  return btTransform(B, btVector3(M.W.X, M.W.Y, M.W.Z) * WorldScale);
}
TMatrix4f FromWorld(const btTransform& T) {
  const btMatrix3x3& B = T.getBasis();
  const btVector3 O = T.getOrigin() / WorldScale;
  TMatrix4f M;
  for (int R = 0; R < 3; ++R) {
    for (int C = 0; C < 3; ++C) M.Rows[R].V[C] = static_cast<float>(B[C][R]);
    M.Rows[R].V[3] = 0.0f;
  }
  M.W = TVector4f{
      {static_cast<float>(O.x()), static_cast<float>(O.y()), static_cast<float>(O.z()), 1.0f}};
  return M;
}
bool FiniteMatrix(const TMatrix4f& M) {
  for (float F : M.V)
    if (!std::isfinite(F)) return false;
  return true;
}
bool FiniteTransform(const btTransform& T) {
  const btMatrix3x3& B = T.getBasis();
  for (int R = 0; R < 3; ++R)
    for (int C = 0; C < 3; ++C)
      if (!std::isfinite(B[R][C])) return false;
  const btVector3& O = T.getOrigin();
  return std::isfinite(O.x()) && std::isfinite(O.y()) && std::isfinite(O.z());
}

// The Euler rotation of a body or joint: Z first, then X, then Y.
btTransform Placement(const TVector3f& APosition, const TVector3f& ARotation) {
  const btQuaternion Q = btQuaternion(btVector3(0, 1, 0), ARotation.Y) *
                         btQuaternion(btVector3(1, 0, 0), ARotation.X) *
                         btQuaternion(btVector3(0, 0, 1), ARotation.Z);
  return btTransform(Q, btVector3(APosition.X, APosition.Y, APosition.Z) * WorldScale);
}

// The inverse of a bone matrix: its rotation transposed (bone matrices are rigid).
TMatrix4f RigidInverse(const TMatrix4f& M) {
  TMatrix4f R;
  for (int I = 0; I < 3; ++I) {
    for (int J = 0; J < 3; ++J) R.Rows[I].V[J] = M.Rows[J].V[I];
    R.Rows[I].V[3] = 0.0f;
  }
  for (int J = 0; J < 3; ++J) R.W.V[J] = -(M.W.X * R.X.V[J] + M.W.Y * R.Y.V[J] + M.W.Z * R.Z.V[J]);
  R.W.V[3] = 1.0f;
  return R;
}

float Clamped(float AValue, float ALow, float AHigh, float AFallback) {
  if (!std::isfinite(AValue)) return AFallback;
  return std::clamp(AValue, ALow, AHigh);
}

}  // namespace

struct TPmxPhysics::TImpl {
  struct TBody {
    int Bone = -1;
    int Mode = 0;  // 0 follows its bone, 1 drives it, 2 drives its rotation
    bool Dynamic = false;
    std::unique_ptr<btCollisionShape> Shape;
    std::unique_ptr<btDefaultMotionState> Motion;
    std::unique_ptr<btRigidBody> Body;
    btTransform Offset;    // the body in its bone's frame (bone -1: model space)
    btTransform From, To;  // a bone-following body's pose at the last and the coming update
  };

  btDefaultCollisionConfiguration Configuration;
  btCollisionDispatcher Dispatcher{&Configuration};
  btDbvtBroadphase Broadphase;
  btSequentialImpulseConstraintSolver Solver;
  btDiscreteDynamicsWorld World{&Dispatcher, &Broadphase, &Solver, &Configuration};

  std::vector<TBody> Bodies;  // one per model body; Body null when left out
  std::vector<std::unique_ptr<btGeneric6DofSpringConstraint>> Joints;
  std::vector<int> Parent, Order;
  std::vector<int> BoneBody;   // per bone: the simulated body that drives it, or -1
  std::vector<uint8_t> Moved;  // per bone: BoneBody set on it or on a bone above it
  std::vector<TMatrix4f> Old;
  std::vector<uint8_t> Dirty;
  std::vector<int> Changed;
  double Carry = 0.0;
  long Steps = 0;

  ~TImpl() {
    for (auto& J : Joints) World.removeConstraint(J.get());
    for (TBody& B : Bodies)
      if (B.Body) World.removeRigidBody(B.Body.get());
  }

  // Where the body belongs by its bone's pose in AGlobals; false when that pose is unusable.
  bool Target(const TBody& B, std::span<const TMatrix4f> AGlobals, btTransform& AResult) const {
    if (B.Bone < 0) {
      AResult = B.Offset;
      return true;
    }
    if (static_cast<size_t>(B.Bone) >= AGlobals.size() || !FiniteMatrix(AGlobals[B.Bone]))
      return false;
    AResult = ToWorld(AGlobals[B.Bone]) * B.Offset;
    return FiniteTransform(AResult);
  }

  void PutAt(TBody& B, const btTransform& T) {
    B.Body->setWorldTransform(T);
    B.Body->setInterpolationWorldTransform(T);
    B.Body->setLinearVelocity(btVector3(0, 0, 0));
    B.Body->setAngularVelocity(btVector3(0, 0, 0));
    B.Body->setInterpolationLinearVelocity(btVector3(0, 0, 0));
    B.Body->setInterpolationAngularVelocity(btVector3(0, 0, 0));
    B.Body->clearForces();
    if (B.Motion) B.Motion->setWorldTransform(T);
    B.Body->activate(true);
    B.From = B.To = T;
  }
  // The body's damping as the model gives it.
  void SetDamping(size_t ABody, const TPmxRigidBody& R) {
    Bodies[ABody].Body->setDamping(Clamped(R.TranslateDecay, 0.0f, 1.0f, 0.0f),
                                   Clamped(R.RotateDecay, 0.0f, 1.0f, 0.0f));
  }
  void IgnoreRestOverlaps();
  // Wakes every body: a followed bone moved.
  void WakeAll() {
    for (TBody& B : Bodies)
      if (B.Body) B.Body->activate(true);
  }

  void Step() {
    World.stepSimulation(btScalar(PhysicsStepSeconds), 0, btScalar(PhysicsStepSeconds));
    ++Steps;
  }
};

namespace {

// Notes collected while building, each kind printed once with its count.
class TNotes {
 public:
  void Add(const char* AKind) { ++FCounts[AKind]; }
  void Flush(const TPmxPhysics::TNoteHandler& AHandler) {
    for (const auto& [Kind, Count] : FCounts) {
      const std::string Note = "physics: " + std::to_string(Count) + " " + Kind;
      if (AHandler)
        AHandler(Note);
      else
        std::fprintf(stderr, "%s\n", Note.c_str());
    }
  }

 private:
  std::map<std::string, int> FCounts;
};

std::unique_ptr<btCollisionShape> MakeShape(const TPmxRigidBody& R) {
  const btScalar S = WorldScale;
  switch (R.Shape) {
    case stSphere:
      if (!(R.Size.X > 0.0f)) return nullptr;
      return std::make_unique<btSphereShape>(R.Size.X * S);
    case stBox:
      if (!(R.Size.X > 0.0f && R.Size.Y > 0.0f && R.Size.Z > 0.0f)) return nullptr;
      return std::make_unique<btBoxShape>(btVector3(R.Size.X, R.Size.Y, R.Size.Z) * S);
    case stCapsule:
      if (!(R.Size.X > 0.0f && R.Size.Y >= 0.0f)) return nullptr;
      return std::make_unique<btCapsuleShape>(R.Size.X * S, R.Size.Y * S);
    default:
      return nullptr;
  }
}

}  // namespace

// Bodies that already overlap in the rest pose were modelled that way: a skirt's neighbouring
// panels, a strand of hair lying in another, a knot sitting in the skirt. Their contact would only
// push the rig out of its own shape against the joints holding it there, and that fight never
// ends (the rig shimmers standing still). So such a pair never collides; every other pair the
// groups let collide still does.
void TPmxPhysics::TImpl::IgnoreRestOverlaps() {
  // Every body is at its rest placement now; the pairs that collide at all are found as a step
  // would find them (groups and masks decide). Every object in the world is one of the bodies.
  World.performDiscreteCollisionDetection();
  for (int M = 0; M < Dispatcher.getNumManifolds(); ++M) {
    const btPersistentManifold& Manifold = *Dispatcher.getManifoldByIndexInternal(M);
    bool Overlap = false;
    for (int C = 0; C < Manifold.getNumContacts(); ++C)
      Overlap = Overlap || Manifold.getContactPoint(C).getDistance() < 0;
    if (!Overlap) continue;
    auto* A = const_cast<btCollisionObject*>(Manifold.getBody0());
    auto* B = const_cast<btCollisionObject*>(Manifold.getBody1());
    A->setIgnoreCollisionCheck(B, true);
    B->setIgnoreCollisionCheck(A, true);
  }
  // No contact found here may reach the first step.
  for (const TBody& B : Bodies)
    if (B.Body)
      Broadphase.getOverlappingPairCache()->cleanProxyFromPairs(B.Body->getBroadphaseHandle(),
                                                                &Dispatcher);
}

TPmxPhysics::TPmxPhysics(const TPmx& APmx, std::span<const int> ABoneParent,
                         std::span<const int> ABoneOrder, const TNoteHandler& ANote)
    : FPmx(APmx) {
  Build(ABoneParent, ABoneOrder, &ANote);
}

// A new world from the model; notes only when ANote is given (the first build).
void TPmxPhysics::Build(std::span<const int> ABoneParent, std::span<const int> ABoneOrder,
                        const TNoteHandler* ANote) {
  const TPmx& APmx = FPmx;
  const long Steps = FImpl ? FImpl->Steps : 0;
  FImpl.reset();
  FImpl = std::make_unique<TImpl>();
  TImpl& W = *FImpl;
  W.Steps = Steps;
  TNotes Notes;
  const int BoneCount = APmx.BoneCount();
  W.Parent.assign(ABoneParent.begin(), ABoneParent.end());
  W.Order.assign(ABoneOrder.begin(), ABoneOrder.end());
  W.BoneBody.assign(static_cast<size_t>(BoneCount), -1);
  W.Dirty.assign(static_cast<size_t>(BoneCount), 0);
  W.World.setGravity(btVector3(0, -PhysicsGravity * WorldScale, 0));

  W.Bodies.resize(APmx.RigidBodyList().size());
  for (size_t I = 0; I < W.Bodies.size(); ++I) {
    const TPmxRigidBody R = RigidBodyInViewerFrame(APmx.RigidBodyList()[I]);
    TImpl::TBody& B = W.Bodies[I];
    if (!Finite3(R.Position) || !Finite3(R.Rotation) || !Finite3(R.Size) ||
        std::fabs(R.Position.X) > MaxBodyExtent || std::fabs(R.Position.Y) > MaxBodyExtent ||
        std::fabs(R.Position.Z) > MaxBodyExtent || R.Size.X > MaxBodySize ||
        R.Size.Y > MaxBodySize || R.Size.Z > MaxBodySize) {
      Notes.Add("rigid bodies left out (non-finite or enormous place or size)");
      continue;
    }
    B.Shape = MakeShape(R);
    if (!B.Shape) {
      Notes.Add("rigid bodies left out (unknown shape or a size of 0)");
      continue;
    }
    B.Bone = R.RelatedBoneIndex;
    if (B.Bone < -1 || B.Bone >= BoneCount) {
      Notes.Add("rigid bodies with a bone index out of range placed without a bone");
      B.Bone = -1;
    }
    B.Mode = R.PhysicsOperation;
    if (B.Mode > 2) {
      Notes.Add("rigid bodies of an unknown mode made kinematic");
      B.Mode = 0;
    }
    float Mass = R.Mass;
    if (B.Mode != 0 && !(Mass > 0.0f && Mass <= MaxMass)) {
      Notes.Add("rigid bodies with an unusable mass made kinematic");
      B.Mode = 0;
    }
    B.Dynamic = B.Mode != 0;

    const btTransform Rest = Placement(R.Position, R.Rotation);
    if (B.Bone >= 0) {
      const TVector3f& BonePos = APmx.GetBone(B.Bone)->Position;
      B.Offset = btTransform(btQuaternion::getIdentity(),
                             btVector3(BonePos.X, BonePos.Y, BonePos.Z) * WorldScale)
                     .inverse() *
                 Rest;
    } else {
      B.Offset = Rest;
    }

    btVector3 Inertia(0, 0, 0);
    if (B.Dynamic)
      B.Shape->calculateLocalInertia(Mass, Inertia);
    else
      Mass = 0.0f;
    B.Motion = std::make_unique<btDefaultMotionState>(Rest);
    btRigidBody::btRigidBodyConstructionInfo Info(Mass, B.Dynamic ? nullptr : B.Motion.get(),
                                                  B.Shape.get(), Inertia);
    Info.m_startWorldTransform = Rest;
    Info.m_restitution = Clamped(R.Repulsion, 0.0f, 1.0f, 0.0f);
    Info.m_friction = Clamped(R.Friction, 0.0f, 100.0f, 0.5f);
    B.Body = std::make_unique<btRigidBody>(Info);
    W.SetDamping(I, R);
    if (!B.Dynamic) {
      B.Body->setCollisionFlags(B.Body->getCollisionFlags() |
                                btCollisionObject::CF_KINEMATIC_OBJECT);
    } else {
      B.Motion.reset();
      if (B.Bone >= 0) W.BoneBody[B.Bone] = static_cast<int>(I);
    }
    // Bodies sleep once they have come to rest (nothing then moves at all while the pose stands
    // still), bone-following ones too (an awake one would keep waking what touches it), and all
    // wake when a followed bone moves.
    B.Body->setSleepingThresholds(SleepSpeed * WorldScale, SleepTurnSpeed);
    B.From = B.To = Rest;
    // Group k; mask bit j set: no collision with group j.
    const int Group = 1 << (R.Group & 15);
    const int Mask = ~static_cast<int>(R.CollisionlessGroupFlag) & 0xFFFF;
    W.World.addRigidBody(B.Body.get(), Group, Mask);
  }

  W.IgnoreRestOverlaps();

  for (const TPmxJoint& Raw : APmx.JointList()) {
    if (Raw.JointKind != jkSpring6DOF) {
      Notes.Add("joints of a kind other than spring 6DOF not simulated");
      continue;
    }
    const TPmxJoint Joint = JointInViewerFrame(Raw);
    const TPmxJointSpring6DOF& D = Joint.Data.Spring6DOF;
    const int A = D.RigidBodyAIndex, Bi = D.RigidBodyBIndex;
    const int N = static_cast<int>(W.Bodies.size());
    if (A < 0 || A >= N || Bi < 0 || Bi >= N || !W.Bodies[A].Body || !W.Bodies[Bi].Body) {
      Notes.Add("joints left out (a body missing or left out)");
      continue;
    }
    if (A == Bi) {
      Notes.Add("joints left out (both ends on the same body)");
      continue;
    }
    // Both ends following bones: nothing to simulate (common in real rigs, so no note).
    if (!W.Bodies[A].Dynamic && !W.Bodies[Bi].Dynamic) continue;
    if (!Finite3(D.Position) || !Finite3(D.Rotation) || !Finite3(D.TranslateLowerLimit) ||
        !Finite3(D.TranslateUpperLimit) || !Finite3(D.RotateLowerLimit) ||
        !Finite3(D.RotateUpperLimit)) {
      Notes.Add("joints left out (non-finite values)");
      continue;
    }
    btRigidBody& BodyA = *W.Bodies[A].Body;
    btRigidBody& BodyB = *W.Bodies[Bi].Body;
    const btTransform Place = Placement(D.Position, D.Rotation);
    const btTransform InA = BodyA.getWorldTransform().inverse() * Place;
    const btTransform InB = BodyB.getWorldTransform().inverse() * Place;
    auto C = std::make_unique<btGeneric6DofSpringConstraint>(BodyA, BodyB, InA, InB, true);
    // A lower limit above the upper one leaves the axis free, as Bullet reads it too.
    const btScalar Reach = btScalar(1e4) * WorldScale;
    btVector3 LinLo, LinHi, AngLo, AngHi;
    for (int Axis = 0; Axis < 3; ++Axis) {
      LinLo[Axis] = std::clamp<btScalar>(D.TranslateLowerLimit.V[Axis] * WorldScale, -Reach, Reach);
      LinHi[Axis] = std::clamp<btScalar>(D.TranslateUpperLimit.V[Axis] * WorldScale, -Reach, Reach);
      AngLo[Axis] = std::clamp<btScalar>(D.RotateLowerLimit.V[Axis], -SIMD_PI, SIMD_PI);
      AngHi[Axis] = std::clamp<btScalar>(D.RotateUpperLimit.V[Axis], -SIMD_PI, SIMD_PI);
      if (D.TranslateLowerLimit.V[Axis] > D.TranslateUpperLimit.V[Axis])
        LinLo[Axis] = 1, LinHi[Axis] = 0;
      if (D.RotateLowerLimit.V[Axis] > D.RotateUpperLimit.V[Axis]) AngLo[Axis] = 1, AngHi[Axis] = 0;
    }
    C->setLinearLowerLimit(LinLo);
    C->setLinearUpperLimit(LinHi);
    C->setAngularLowerLimit(AngLo);
    C->setAngularUpperLimit(AngHi);
    for (int Axis = 0; Axis < 6; ++Axis) {
      const float K =
          Axis < 3 ? D.TranslationSpringConstant.V[Axis] : D.RotationSpringConstant.V[Axis - 3];
      const bool Locked =
          Axis < 3 ? LinLo[Axis] == LinHi[Axis] : AngLo[Axis - 3] == AngHi[Axis - 3];
      if (Locked) {
        // Bullet drops a limit's row in a step that finds the axis exactly at it, which happens
        // once a locked axis has settled: the body falls free for that step and is jerked back.
        // A motor holding the axis still keeps it held in those steps (a spring cannot move it).
        if (Axis < 3) {
          btTranslationalLimitMotor& M = *C->getTranslationalLimitMotor();
          M.m_enableMotor[Axis] = true;
          M.m_targetVelocity[Axis] = 0;
          M.m_maxMotorForce[Axis] = LockForce;
        } else {
          btRotationalLimitMotor& M = *C->getRotationalLimitMotor(Axis - 3);
          M.m_enableMotor = true;
          M.m_targetVelocity = 0;
          M.m_maxMotorForce = LockForce;
        }
      } else if (std::isfinite(K) && K != 0.0f) {
        C->enableSpring(Axis, true);
        C->setStiffness(Axis, std::min(std::fabs(K), 1.0e6f));
      }
    }
    C->setEquilibriumPoint();
    W.World.addConstraint(C.get(), true);
    W.Joints.push_back(std::move(C));
  }
  W.Moved.assign(static_cast<size_t>(BoneCount), 0);
  for (const int K : W.Order) {
    if (K < 0 || K >= BoneCount) continue;
    const int P = W.Parent[K];
    W.Moved[K] = W.BoneBody[K] >= 0 || (P >= 0 && P < BoneCount && W.Moved[P]);
  }
  if (ANote) Notes.Flush(*ANote);
}

TPmxPhysics::~TPmxPhysics() = default;

void TPmxPhysics::Reset(std::span<const TMatrix4f> AGlobals) {
  // A new world: nothing of the past carries over (contact caches, the broadphase's order, the
  // solver's and the joints' warm starts), so a reset at the same pose always ends the same.
  {
    const std::vector<int> Parent = FImpl->Parent, Order = FImpl->Order;
    Build(Parent, Order, nullptr);
  }
  TImpl& W = *FImpl;
  for (TImpl::TBody& B : W.Bodies) {
    if (!B.Body) continue;
    btTransform T;
    if (!W.Target(B, AGlobals, T)) T = B.Body->getWorldTransform();
    if (!FiniteTransform(T)) T = B.Offset;
    W.PutAt(B, T);
  }
  W.Carry = 0.0;
  for (TImpl::TBody& B : W.Bodies)
    if (B.Body && B.Dynamic)
      B.Body->setDamping(std::max(B.Body->getLinearDamping(), btScalar(SettleDamping)),
                         std::max(B.Body->getAngularDamping(), btScalar(SettleDamping)));
  for (int I = 0; I < PhysicsSettleSteps; ++I) W.Step();
  for (size_t I = 0; I < W.Bodies.size(); ++I)
    if (W.Bodies[I].Body && W.Bodies[I].Dynamic) W.SetDamping(I, FPmx.RigidBodyList()[I]);
  // What has come to rest sleeps at once (not after Bullet's two seconds): a pose that stands
  // still then shows no motion at all; the next move of a followed bone wakes everything.
  const btScalar Slow = SleepSpeed * WorldScale;
  for (TImpl::TBody& B : W.Bodies) {
    if (!B.Body) continue;
    if (B.Dynamic && (B.Body->getLinearVelocity().length2() >= Slow * Slow ||
                      B.Body->getAngularVelocity().length2() >= SleepTurnSpeed * SleepTurnSpeed))
      continue;
    B.Body->setActivationState(ISLAND_SLEEPING);
    if (B.Dynamic) {
      B.Body->setLinearVelocity(btVector3(0, 0, 0));
      B.Body->setAngularVelocity(btVector3(0, 0, 0));
    }
  }
}

std::span<const int> TPmxPhysics::Update(std::span<TMatrix4f> AGlobals, double ASeconds) {
  TImpl& W = *FImpl;
  if (std::isfinite(ASeconds) && ASeconds > 0.0) W.Carry += ASeconds;
  int Steps = static_cast<int>(W.Carry / PhysicsStepSeconds);
  W.Carry -= Steps * PhysicsStepSeconds;
  if (Steps > MaxStepsPerUpdate) Steps = MaxStepsPerUpdate;

  // Bone-following bodies: eased from their last pose to the bones' over the steps.
  bool Moved = false;
  for (TImpl::TBody& B : W.Bodies) {
    if (!B.Body || B.Dynamic) continue;
    btTransform T;
    if (W.Target(B, AGlobals, T)) B.To = T;
    const btQuaternion Turn = B.To.getRotation() - B.From.getRotation();
    if ((B.To.getOrigin() - B.From.getOrigin()).length2() > StillDistance * StillDistance ||
        Turn.length2() > StillTurn * StillTurn)
      Moved = true;
    if (Steps == 0) {
      B.Body->setWorldTransform(B.To);
      B.Motion->setWorldTransform(B.To);
      B.From = B.To;
    }
  }
  if (Moved) W.WakeAll();
  for (int S = 0; S < Steps; ++S) {
    const btScalar F = btScalar(S + 1) / btScalar(Steps);
    for (TImpl::TBody& B : W.Bodies) {
      if (!B.Body || B.Dynamic) continue;
      btTransform T;
      T.setOrigin(B.From.getOrigin().lerp(B.To.getOrigin(), F));
      T.setRotation(B.From.getRotation().slerp(B.To.getRotation(), F));
      B.Motion->setWorldTransform(T);
    }
    W.Step();
  }
  if (Steps > 0)
    for (TImpl::TBody& B : W.Bodies)
      if (B.Body && !B.Dynamic) B.From = B.To;

  // Simulated bodies that broke away go back to their bones.
  for (TImpl::TBody& B : W.Bodies) {
    if (!B.Body || !B.Dynamic) continue;
    const btTransform& Now = B.Body->getWorldTransform();
    btTransform T;
    const bool HasTarget = W.Target(B, AGlobals, T);
    if (!HasTarget) T = B.Offset;
    if (!FiniteTransform(Now) ||
        (Now.getOrigin() - T.getOrigin()).length() > btScalar(FarDistance) * WorldScale ||
        !std::isfinite(B.Body->getLinearVelocity().length()) ||
        !std::isfinite(B.Body->getAngularVelocity().length()))
      W.PutAt(B, FiniteTransform(T) ? T : B.Offset);
  }

  // The simulated bodies' bones, and below them every bone keeps its pose relative to its parent.
  W.Changed.clear();
  if (AGlobals.size() != W.Dirty.size()) return W.Changed;
  W.Old.assign(AGlobals.begin(), AGlobals.end());
  std::fill(W.Dirty.begin(), W.Dirty.end(), uint8_t{0});
  for (const int K : W.Order) {
    const int P = W.Parent[K];
    const bool ParentMoved = P >= 0 && W.Dirty[P];
    const int BodyIndex = W.BoneBody[K];
    if (BodyIndex < 0 && !ParentMoved) continue;
    TMatrix4f Posed = W.Old[K];
    if (ParentMoved)
      Posed = MulMatrix4f(MulMatrix4f(W.Old[K], RigidInverse(W.Old[P])), AGlobals[P]);
    if (BodyIndex >= 0) {
      const TImpl::TBody& B = W.Bodies[BodyIndex];
      TMatrix4f M = FromWorld(B.Body->getWorldTransform() * B.Offset.inverse());
      if (B.Mode == 2) M.W = Posed.W;
      if (FiniteMatrix(M)) Posed = M;
    }
    if (!FiniteMatrix(Posed)) continue;
    AGlobals[K] = Posed;
    W.Dirty[K] = 1;
    W.Changed.push_back(K);
  }
  return W.Changed;
}

const std::vector<uint8_t>& TPmxPhysics::MovedBones() const {
  return FImpl->Moved;
}
int TPmxPhysics::BodyCount() const {
  return static_cast<int>(FImpl->Bodies.size());
}
bool TPmxPhysics::HasBody(int ABody) const {
  return ABody >= 0 && ABody < BodyCount() && FImpl->Bodies[ABody].Body != nullptr;
}
bool TPmxPhysics::IsDynamic(int ABody) const {
  return HasBody(ABody) && FImpl->Bodies[ABody].Dynamic;
}
TMatrix4f TPmxPhysics::BodyMatrix(int ABody) const {
  if (!HasBody(ABody)) return IdentityMatrix4f;
  return FromWorld(FImpl->Bodies[ABody].Body->getWorldTransform());
}
int TPmxPhysics::AwakeBodyCount() const {
  int N = 0;
  for (const TImpl::TBody& B : FImpl->Bodies)
    if (B.Body && B.Dynamic && B.Body->isActive()) ++N;
  return N;
}
int TPmxPhysics::ActiveJointCount() const {
  return static_cast<int>(FImpl->Joints.size());
}
long TPmxPhysics::StepCount() const {
  return FImpl->Steps;
}
