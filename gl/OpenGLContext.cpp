#include "gl/OpenGLContext.h"

#include "math/Errors.h"

void SetGLPixelFormatAttributes(bool AMultisample) {
  SDL_GL_ResetAttributes();
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_FRAMEBUFFER_SRGB_CAPABLE, 1);
  SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, AMultisample ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, AMultisample ? 4 : 0);
  // No profile mask and no flags: the plain request yields the newest compatibility context.
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, 0);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, 0);
}

SDL_Window* CreateGLWindow(const char* ATitle, int AX, int AY, int AWidth, int AHeight,
                           Uint32 AFlags) {
  SetGLPixelFormatAttributes(true);
  SDL_Window* Window =
      SDL_CreateWindow(ATitle, AX, AY, AWidth, AHeight, AFlags | SDL_WINDOW_OPENGL);
  if (!Window) {
    SetGLPixelFormatAttributes(false);
    Window = SDL_CreateWindow(ATitle, AX, AY, AWidth, AHeight, AFlags | SDL_WINDOW_OPENGL);
  }
  if (!Window) throw Exception(std::string("The window could not be created: ") + SDL_GetError());
  return Window;
}

int CurrentGLVersion() {
  return epoxy_gl_version();
}

SDL_GLContext CreateGLContext(SDL_Window* AWindow) {
  SetGLPixelFormatAttributes(true);
  SDL_GLContext Context = SDL_GL_CreateContext(AWindow);
  if (!Context) {
    SetGLPixelFormatAttributes(false);
    Context = SDL_GL_CreateContext(AWindow);
  }
  if (!Context)
    throw Exception(std::string("The OpenGL context could not be created: ") + SDL_GetError());
  if (SDL_GL_MakeCurrent(AWindow, Context) != 0) {
    const std::string Reason = SDL_GetError();
    SDL_GL_DeleteContext(Context);
    throw Exception("The OpenGL context could not be made current: " + Reason);
  }
  const int Version = CurrentGLVersion();
  if (Version < kRequiredGLMajor * 10 + kRequiredGLMinor) {
    const char* Text = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    const std::string Offered = Text ? Text : "(none)";
    SDL_GL_MakeCurrent(AWindow, nullptr);
    SDL_GL_DeleteContext(Context);
    throw Exception("OpenGL 4.3 is required, but the driver offers OpenGL " + Offered + ".");
  }
  return Context;
}
