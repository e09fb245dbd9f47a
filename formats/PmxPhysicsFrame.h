// Rigid bodies and joints in the viewer's frame. The reader keeps them as the file has them; the
// physics and the inspector convert them here, the way the reader converts bones.
// Depends on formats/Pmx.h only.
#pragma once

#include "formats/Pmx.h"

// Position scaled and Z mirrored, sizes scaled, Euler rotation (Y, X, Z applied in the order Z,
// X, Y) with its X and Y angles negated: under the Z mirror a turn about X or Y changes sign.
TPmxRigidBody RigidBodyInViewerFrame(const TPmxRigidBody& ABody);
// The same for a joint's place; translation limits scaled, and the limits of a mirrored
// component negated with their ends swapped, so that an inverted (free) range stays inverted.
// Spring constants stay as read.
TPmxJoint JointInViewerFrame(const TPmxJoint& AJoint);
