// TOpenGL: owner of the window's rendering context, the two samplers and the fixed drawing state.
// Part of the UCommon2 module; depends on SDL2 and gl/OpenGLContext.
#pragma once

#include <SDL.h>

#include <cstdint>

#include "gl/loader/OpenGLApis.h"

class TProgram;

// Colour as 0x00BBGGRR: red in the low byte.
using TColor = std::uint32_t;

class TOpenGL {
 public:
  // Opens the context on the window (which CreateGLWindow made), makes it current, creates the
  // samplers and sets the fixed drawing state. Throws Exception when the driver cannot serve.
  explicit TOpenGL(SDL_Window* AWindowHandle);
  // Deletes the samplers and the context. Every other GL object must be gone before.
  ~TOpenGL();
  TOpenGL(const TOpenGL&) = delete;
  TOpenGL& operator=(const TOpenGL&) = delete;

  TColor Color() const { return FColor; }
  // Sets the clear colour (red, green, blue of the value, opaque); no GL call when unchanged.
  void SetColor(TColor AValue);

  GLuint Sampler() const { return FSampler; }
  GLuint ShadowSampler() const { return FShadowSampler; }
  SDL_Window* WindowHandle() const { return FWindowHandle; }
  SDL_GLContext RenderingContext() const { return FRC; }

  // The program last made current by TProgram::Activate (nullptr when none).
  TProgram* CurrentProgram() const { return FCurrentProgram; }
  void SetCurrentProgram(TProgram* AProgram) { FCurrentProgram = AProgram; }

 private:
  SDL_Window* FWindowHandle = nullptr;
  SDL_GLContext FRC = nullptr;
  GLuint FSampler = 0;
  GLuint FShadowSampler = 0;
  TColor FColor = 0;
  TProgram* FCurrentProgram = nullptr;
};
