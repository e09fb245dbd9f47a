#include "gl/FrameBuffers.h"

#include <cstring>
#include <vector>

#include "math/Errors.h"

// ---- TFrameBufferObject ----

void TFrameBufferObject::Bind() {
  glBindFramebuffer(GL_FRAMEBUFFER, FHandle);
}
void TFrameBufferObject::Unbind() {
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}
void TFrameBufferObject::Clear(TClearMasks AMask) {
  glClear(AMask.GLBits());
}
void TFrameBufferObject::SetViewport(int AX, int AY, int AWidth, int AHeight) {
  glViewport(AX, AY, AWidth, AHeight);
}

// ---- TColorFBO ----

TColorFBO::TColorFBO(GLuint ASampler, int AWidth, int AHeight) : FWidth(AWidth), FHeight(AHeight) {
  glGenFramebuffers(1, &FHandle);
  try {
    Bind();
    FTexture = TTexture::CreateBlank(ASampler, FWidth, FHeight);
    glFramebufferTexture(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, FTexture->Handle(), 0);
    FRenderBuffer = std::make_shared<TRenderBufferObject>(GL_DEPTH_COMPONENT24, FWidth, FHeight);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                              FRenderBuffer->GetHandle());
    Unbind();
  } catch (...) {
    glDeleteFramebuffers(1, &FHandle);
    throw;
  }
}

TColorFBO::~TColorFBO() {
  glDeleteFramebuffers(1, &FHandle);
  FTexture.reset();
  FRenderBuffer.reset();
}

void TColorFBO::SaveImage(const std::filesystem::path& AFileName) const {
  TBitmap Bitmap(FWidth, FHeight, pf24bit);
  const std::size_t RowBytes = static_cast<std::size_t>(FWidth) * 3;
  std::vector<std::uint8_t> Buffer(RowBytes * static_cast<std::size_t>(FHeight));
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glBindTexture(GL_TEXTURE_2D, FTexture->Handle());
  glGetTexImage(GL_TEXTURE_2D, 0, GL_BGR, GL_UNSIGNED_BYTE, Buffer.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  // GL's first row is the bottom one; the bitmap's row 0 is the top.
  for (int r = 0; r < FHeight; ++r)
    std::memcpy(Bitmap.ScanLine(r),
                Buffer.data() + RowBytes * static_cast<std::size_t>(FHeight - 1 - r), RowBytes);
  Bitmap.SaveToFile(AFileName);
}

// ---- TSupersampledFBO ----

namespace {

GLuint NewRenderbuffer(GLenum AFormat, int AWidth, int AHeight) {
  GLuint Name = 0;
  glGenRenderbuffers(1, &Name);
  glBindRenderbuffer(GL_RENDERBUFFER, Name);
  glRenderbufferStorage(GL_RENDERBUFFER, AFormat, AWidth, AHeight);
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
  return Name;
}

}  // namespace

TSupersampledFBO::TSupersampledFBO(int AWidth, int AHeight) : FWidth(AWidth), FHeight(AHeight) {
  try {
    const int W = FWidth * kFactor, H = FHeight * kFactor;
    FColor = NewRenderbuffer(GL_RGBA8, W, H);
    FDepth = NewRenderbuffer(GL_DEPTH_COMPONENT24, W, H);
    glGenFramebuffers(1, &FHandle);
    glBindFramebuffer(GL_FRAMEBUFFER, FHandle);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, FColor);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, FDepth);
    const GLenum Status = glCheckFramebufferStatus(GL_FRAMEBUFFER);

    FResolveColor = NewRenderbuffer(GL_RGBA8, FWidth, FHeight);
    glGenFramebuffers(1, &FResolve);
    glBindFramebuffer(GL_FRAMEBUFFER, FResolve);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, FResolveColor);
    if (Status != GL_FRAMEBUFFER_COMPLETE ||
        glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
      throw Exception("The anti-aliased framebuffer is not complete.");
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
  } catch (...) {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    DeleteNames();
    throw;
  }
}

TSupersampledFBO::~TSupersampledFBO() {
  DeleteNames();
}

void TSupersampledFBO::DeleteNames() {
  glDeleteFramebuffers(1, &FHandle);
  glDeleteFramebuffers(1, &FResolve);
  glDeleteRenderbuffers(1, &FColor);
  glDeleteRenderbuffers(1, &FDepth);
  glDeleteRenderbuffers(1, &FResolveColor);
  FHandle = FResolve = FColor = FDepth = FResolveColor = 0;
}

void TSupersampledFBO::SetViewport(int AX, int AY, int AWidth, int AHeight) {
  glViewport(AX * kFactor, AY * kFactor, AWidth * kFactor, AHeight * kFactor);
}

void TSupersampledFBO::ReadRgb(std::vector<std::uint8_t>& ARgb) {
  ARgb.resize(static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(FHeight) * 3);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, FHandle);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, FResolve);
  // A linear read at the shared corner of each 2 x 2 block is the mean of its four pixels.
  glBlitFramebuffer(0, 0, kFactor * FWidth, kFactor * FHeight, 0, 0, FWidth, FHeight,
                    GL_COLOR_BUFFER_BIT, GL_LINEAR);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, FResolve);
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  GLint Pack = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &Pack);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, FWidth, FHeight, GL_RGB, GL_UNSIGNED_BYTE, ARgb.data());
  glPixelStorei(GL_PACK_ALIGNMENT, Pack);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

// ---- TShadowFBO ----

TShadowFBO::TShadowFBO() {
  try {
    glGenTextures(1, &FTexture);
    glBindTexture(GL_TEXTURE_2D, FTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT24, FWidth, FHeight, 0, GL_DEPTH_COMPONENT,
                 GL_UNSIGNED_BYTE, nullptr);
    glActiveTexture(GL_TEXTURE2);
    glBindTexture(GL_TEXTURE_2D, FTexture);

    glGenFramebuffers(1, &FHandle);
    glBindFramebuffer(GL_FRAMEBUFFER, FHandle);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, FTexture, 0);
    const GLenum DrawBuffers[1] = {GL_NONE};
    glDrawBuffers(1, DrawBuffers);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
      throw Exception("Framebuffer is not complete.");
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
  } catch (...) {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    DeleteNames();
    throw;
  }
}

TShadowFBO::~TShadowFBO() {
  DeleteNames();
}

void TShadowFBO::DeleteNames() {
  glDeleteTextures(1, &FTexture);
  glDeleteFramebuffers(1, &FHandle);
  FTexture = 0;
  FHandle = 0;
}

void TShadowFBO::Bind() {
  TFrameBufferObject::Bind();
  BindTexture();
}

void TShadowFBO::BindTexture() {
  glActiveTexture(GL_TEXTURE2);
  glBindTexture(GL_TEXTURE_2D, FTexture);
}

std::uint8_t TShadowFBO::DepthToGrey(float ADepth) {
  const float Near = 0.88f;
  const float V = (ADepth - Near) / (1.0f - Near) * 255.0f;
  // Depths below 0.88 would wrap around in the low 8 bits; they show as black instead.
  if (!(V > 0.0f)) return 0;
  return static_cast<std::uint8_t>(static_cast<int>(V) & 0xFF);
}

void TShadowFBO::SaveImage(const std::filesystem::path& AFileName) const {
  TBitmap Bitmap(FWidth, FHeight, pf24bit);
  const std::size_t Width = static_cast<std::size_t>(FWidth);
  std::vector<float> Depths(Width * static_cast<std::size_t>(FHeight));
  glBindTexture(GL_TEXTURE_2D, FTexture);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT, GL_FLOAT, Depths.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  for (int r = 0; r < FHeight; ++r) {
    const float* Row = Depths.data() + Width * static_cast<std::size_t>(FHeight - 1 - r);
    std::uint8_t* Out = Bitmap.ScanLine(r);
    for (std::size_t x = 0; x < Width; ++x) {
      const std::uint8_t Grey = DepthToGrey(Row[x]);
      Out[3 * x] = Grey;
      Out[3 * x + 1] = Grey;
      Out[3 * x + 2] = Grey;
    }
  }
  Bitmap.SaveToFile(AFileName);
}
