// UPmxController: the character controller. Turns one PMX model and one VMD motion into posed,
// skinned and morphed geometry (TPmxController on the GL side, TPmxControllerCore on the CPU side)
// and the model's render objects (TPmxVAO, TSimpleVAO, TBoneVAO, TPmxMesh, TPmxPlane, TBone).
// Depends on formats/pmxlib.h, gl/UCommon2.h, shading/UShader.h and the vector math.
#pragma once

#include "character/PmxController.h"           // IWYU pragma: export
#include "character/PmxRenderObjects.h"        // IWYU pragma: export
#include "character/core/PmxControllerCore.h"  // IWYU pragma: export
