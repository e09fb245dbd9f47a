// OpenGLContext: opens the window's OpenGL context through SDL2 (pixel format, version check).
// The window's pixel format is fixed when SDL creates the window, so the window is made here too.
// Depends on SDL2 and gl/loader.
#pragma once

#include <SDL.h>

#include <string>

#include "gl/loader/OpenGLApis.h"

// The minimum GL version the shading programs need (GLSL 4.30).
inline constexpr int kRequiredGLMajor = 4;
inline constexpr int kRequiredGLMinor = 3;

// Requests the window pixel format: RGBA 8/8/8/8, depth 24, stencil 8, double buffer, sRGB
// capable, 4x multisampling when AMultisample is set; no profile mask, so the driver hands out a
// compatibility context of the newest version it has.
void SetGLPixelFormatAttributes(bool AMultisample);

// Creates an SDL window with SDL_WINDOW_OPENGL added to AFlags and the pixel format above; when
// the multisampled format is refused, retries once without multisampling. Throws Exception with
// SDL's reason when both fail. SDL video must be initialised.
SDL_Window* CreateGLWindow(const char* ATitle, int AX, int AY, int AWidth, int AHeight,
                           Uint32 AFlags);

// Creates a context on AWindow and makes it current (retrying without multisampling when the
// driver refuses the first request). Throws Exception when no context can be made or when it
// offers less than OpenGL 4.3; nothing is left behind in either case.
SDL_GLContext CreateGLContext(SDL_Window* AWindow);

// "major.minor" of the current context, e.g. 45 for 4.5 (epoxy's parse of GL_VERSION).
int CurrentGLVersion();
