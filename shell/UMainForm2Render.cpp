// TForm2's offline frame for --render (OfflineRender.cpp): the dance, its camera and the physics
// at an exact time, drawn anti-aliased off screen and read back before the swap.
#include <algorithm>
#include <cstdio>

#include "gl/UCommon2.h"
#include "gl/loader/OpenGLApis.h"
#include "math/Errors.h"
#include "shell/UMainForm2.h"

void TForm2::PoseOfflineFrame(double AMilliseconds) {
  FDanceTime = AMilliseconds;
  FEnableMotion = true;
  // The camera too: the face turns to it when eye tracking is on.
  if (CameraPlaying()) UpdateCamera();
  PoseFrame();
}

void TForm2::UseAntiAliasedTarget() {
  int Width = 0, Height = 0;
  ClientSize(Width, Height);
  if (!FDefaultFBO || !FOpenGL || Width <= 0 || Height <= 0) return;
  const auto* Target = dynamic_cast<const TSupersampledFBO*>(FDefaultFBO.get());
  if (Target && Target->Width() == Width && Target->Height() == Height) return;
  // The headless surface claims samples but draws without them, so the picture is drawn off
  // screen; a driver without room for it leaves the window's framebuffer in use.
  try {
    FDefaultFBO = std::make_unique<TSupersampledFBO>(Width, Height);
  } catch (const Exception& E) {
    std::fprintf(stderr, "Quenlor: %s Rendering without anti-aliasing.\n", E.what());
    FDefaultFBO = std::make_unique<TFrameBufferObject>();
  }
}

void TForm2::RenderOfflineFrame(double AMilliseconds, std::vector<std::uint8_t>& ARgb) {
  UseAntiAliasedTarget();
  FDanceTime = AMilliseconds;
  FEnableMotion = true;
  if (CameraPlaying()) UpdateCamera();
  FCapture = &ARgb;
  struct TDone {
    std::vector<std::uint8_t>*& Capture;
    ~TDone() { Capture = nullptr; }
  } Done{FCapture};
  RenderDesktopFrame();
}

void TForm2::CaptureFrame() {
  if (auto* Target = dynamic_cast<TSupersampledFBO*>(FDefaultFBO.get())) {
    Target->ReadRgb(*FCapture);
    return;
  }
  int Width = 0, Height = 0;
  ClientSize(Width, Height);
  FCapture->resize(static_cast<std::size_t>(std::max(Width, 0)) * std::max(Height, 0) * 3);
  if (FCapture->empty()) return;
  GLint Pack = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &Pack);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, Width, Height, GL_RGB, GL_UNSIGNED_BYTE, FCapture->data());
  glPixelStorei(GL_PACK_ALIGNMENT, Pack);
}
