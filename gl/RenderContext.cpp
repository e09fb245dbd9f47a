#include "gl/RenderContext.h"

#include "gl/OpenGLContext.h"

TOpenGL::TOpenGL(SDL_Window* AWindowHandle) : FWindowHandle(AWindowHandle) {
  FRC = CreateGLContext(FWindowHandle);

  glGenSamplers(1, &FSampler);
  glSamplerParameteri(FSampler, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glSamplerParameteri(FSampler, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glSamplerParameteri(FSampler, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glSamplerParameteri(FSampler, GL_TEXTURE_MAG_FILTER, GL_LINEAR);

  // Border depth 1.0: a lookup outside the shadow map compares as lit.
  static const GLfloat kBorder[4] = {1.0f, 0.0f, 0.0f, 0.0f};
  glGenSamplers(1, &FShadowSampler);
  glSamplerParameteri(FShadowSampler, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_BORDER);
  glSamplerParameteri(FShadowSampler, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_BORDER);
  glSamplerParameteri(FShadowSampler, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glSamplerParameteri(FShadowSampler, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glSamplerParameterfv(FShadowSampler, GL_TEXTURE_BORDER_COLOR, kBorder);
  glSamplerParameteri(FShadowSampler, GL_TEXTURE_COMPARE_MODE, GL_COMPARE_REF_TO_TEXTURE);
  glSamplerParameteri(FShadowSampler, GL_TEXTURE_COMPARE_FUNC, GL_LESS);

  SetColor(0xFF0000);
  glClearDepth(1.0);
  glEnable(GL_MULTISAMPLE);
  glEnable(GL_LINE_SMOOTH);
  glDepthFunc(GL_LEQUAL);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glEnable(GL_CULL_FACE);
  glFrontFace(GL_CCW);
  glCullFace(GL_BACK);
}

TOpenGL::~TOpenGL() {
  glDeleteSamplers(1, &FShadowSampler);
  glDeleteSamplers(1, &FSampler);
  SDL_GL_MakeCurrent(FWindowHandle, nullptr);
  SDL_GL_DeleteContext(FRC);
}

void TOpenGL::SetColor(TColor AValue) {
  if (AValue == FColor) return;
  FColor = AValue;
  glClearColor(static_cast<GLfloat>(AValue & 0xFF) / 255.0f,
               static_cast<GLfloat>((AValue >> 8) & 0xFF) / 255.0f,
               static_cast<GLfloat>((AValue >> 16) & 0xFF) / 255.0f, 1.0f);
}
