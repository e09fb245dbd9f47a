// UCommon2: the OpenGL foundation every drawing part uses: the rendering context TOpenGL, shared
// buffers / vertex arrays / renderbuffers, textures, render targets, render items and programs.
// Depends on gl/loader (libepoxy), SDL2 and the vector math.
#pragma once

#include "gl/BufferObjects.h"  // IWYU pragma: export
#include "gl/FrameBuffers.h"   // IWYU pragma: export
#include "gl/OpenGLContext.h"  // IWYU pragma: export
#include "gl/Program.h"        // IWYU pragma: export
#include "gl/RenderContext.h"  // IWYU pragma: export
#include "gl/RenderItems.h"    // IWYU pragma: export
#include "gl/Textures.h"       // IWYU pragma: export
