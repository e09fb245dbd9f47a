// TForm2's offline frame for --render (OfflineRender.cpp): the dance, its camera and the physics
// at an exact time, read back from the frame before it is swapped.
#include <algorithm>

#include "gl/loader/OpenGLApis.h"
#include "shell/UMainForm2.h"

void TForm2::RenderOfflineFrame(double AMilliseconds, std::vector<std::uint8_t>& ARgb) {
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
