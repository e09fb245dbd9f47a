// GLTestContext: a hidden SDL window with a GL context on the real driver (Mesa llvmpipe), for tests.
// Uses SDL's offscreen video driver unless a display is set up (Xvfb). Header-only: SDL2 + libepoxy.
#pragma once

#include <SDL.h>
#include <epoxy/gl.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

class GLTestWindow {
 public:
  // A window only: for code that builds its own context on it (TOpenGL).
  explicit GLTestWindow(int AWidth = 64, int AHeight = 64) {
    if (!std::getenv("DISPLAY")) setenv("SDL_VIDEODRIVER", "offscreen", 0);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
      throw std::runtime_error(std::string("SDL video: ") + SDL_GetError());
    FWindow = SDL_CreateWindow("test", 0, 0, AWidth, AHeight, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!FWindow) throw std::runtime_error(std::string("SDL window: ") + SDL_GetError());
  }
  ~GLTestWindow() {
    SDL_DestroyWindow(FWindow);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }
  GLTestWindow(const GLTestWindow&) = delete;
  GLTestWindow& operator=(const GLTestWindow&) = delete;
  SDL_Window* Window() const { return FWindow; }

 private:
  SDL_Window* FWindow = nullptr;
};

// A window with a plain compatibility context made current: for tests of single GL wrappers.
class GLTestContext : public GLTestWindow {
 public:
  explicit GLTestContext(int AWidth = 64, int AHeight = 64) : GLTestWindow(AWidth, AHeight) {
    FContext = SDL_GL_CreateContext(Window());
    if (!FContext) throw std::runtime_error(std::string("GL context: ") + SDL_GetError());
    SDL_GL_MakeCurrent(Window(), FContext);
  }
  ~GLTestContext() { SDL_GL_DeleteContext(FContext); }

 private:
  SDL_GLContext FContext = nullptr;
};
