// Render targets: TFrameBufferObject (the window's own framebuffer when used plainly), TColorFBO
// (an off-screen colour texture with a depth renderbuffer), TSupersampledFBO (an anti-aliased
// off-screen picture) and TShadowFBO (the 4096 x 4096 depth map of the shadow pass). Part of the
// UCommon2 module; depends on gl/BufferObjects, gl/Textures.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <vector>

#include "gl/BufferObjects.h"
#include "gl/Textures.h"

enum TClearMask { cmColor, cmDepth, cmStencil };

// A set of TClearMask values: Clear({cmColor, cmDepth}), Clear({}).
class TClearMasks {
 public:
  constexpr TClearMasks() = default;
  constexpr TClearMasks(std::initializer_list<TClearMask> AMasks) {
    for (TClearMask M : AMasks) FBits |= 1u << M;
  }
  constexpr bool Contains(TClearMask AMask) const { return (FBits >> AMask) & 1u; }
  // The OR of the GL buffer bits of the members.
  constexpr GLbitfield GLBits() const {
    return (Contains(cmColor) ? GL_COLOR_BUFFER_BIT : 0) |
           (Contains(cmDepth) ? GL_DEPTH_BUFFER_BIT : 0) |
           (Contains(cmStencil) ? GL_STENCIL_BUFFER_BIT : 0);
  }

 private:
  unsigned FBits = 0;
};

// Constructed plainly it stands for the window's framebuffer (name 0) and owns no GL name.
class TFrameBufferObject {
 public:
  TFrameBufferObject() = default;
  virtual ~TFrameBufferObject() = default;
  TFrameBufferObject(const TFrameBufferObject&) = delete;
  TFrameBufferObject& operator=(const TFrameBufferObject&) = delete;

  virtual void Bind();
  // Binds the window's framebuffer.
  void Unbind();
  // One glClear of the members' bits on the bound framebuffer (does not bind).
  void Clear(TClearMasks AMask);
  // Sets the GL viewport (does not bind); in the target's own pixels where they are finer.
  virtual void SetViewport(int AX, int AY, int AWidth, int AHeight);

  GLuint Handle() const { return FHandle; }

 protected:
  GLuint FHandle = 0;
};

// An off-screen target: GL_RGBA colour texture (attachment 0) and a GL_DEPTH_COMPONENT24
// renderbuffer of the same size. Not checked for completeness.
class TColorFBO : public TFrameBufferObject {
 public:
  TColorFBO(GLuint ASampler, int AWidth, int AHeight);
  ~TColorFBO() override;

  TTexture& Texture() const { return *FTexture; }
  const std::shared_ptr<IRenderBufferObject>& RenderBuffer() const { return FRenderBuffer; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }

  // Writes the colour texture as a 24-bit BMP (whatever the extension), GL's bottom row at the
  // picture's bottom; alpha is dropped. File errors propagate.
  void SaveImage(const std::filesystem::path& AFileName) const;

 private:
  std::unique_ptr<TTexture> FTexture;
  std::shared_ptr<IRenderBufferObject> FRenderBuffer;
  int FWidth;
  int FHeight;
};

// An anti-aliased picture of AWidth x AHeight pixels: drawn twice as wide and as high (GL_RGBA8
// colour, 24-bit depth) and read back with each 2 x 2 block averaged, four samples a pixel.
// Viewports are given in the picture's pixels. Drawing more pixels gives what multisampling
// gives without depending on the driver's multisampled rasterisation, which llvmpipe gets wrong
// for this scene (outlines and layers lying close together). Throws Exception when the driver
// rejects it; left unbound.
class TSupersampledFBO : public TFrameBufferObject {
 public:
  TSupersampledFBO(int AWidth, int AHeight);
  ~TSupersampledFBO() override;

  void SetViewport(int AX, int AY, int AWidth, int AHeight) override;
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // Reads the picture as RGB, 3 bytes a pixel, bottom row first; leaves the window's framebuffer
  // bound.
  void ReadRgb(std::vector<std::uint8_t>& ARgb);

 private:
  void DeleteNames();

  GLuint FColor = 0;
  GLuint FDepth = 0;
  GLuint FResolve = 0;  // the picture at its own size
  GLuint FResolveColor = 0;
  int FWidth;
  int FHeight;
  static constexpr int kFactor = 2;
};

// The shadow pass's depth-only target; its texture is read on unit 2 through the comparing
// sampler. Throws Exception("Framebuffer is not complete.") when the driver rejects it.
class TShadowFBO : public TFrameBufferObject {
 public:
  TShadowFBO();
  ~TShadowFBO() override;

  // Binds the framebuffer, then the depth texture on unit 2 (which stays the active unit).
  void Bind() override;
  void BindTexture();

  GLuint DepthTexture() const { return FTexture; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }

  // Writes the depths as a 24-bit grey BMP: 0.88 .. 1.0 span black .. white.
  void SaveImage(const std::filesystem::path& AFileName) const;
  // The grey level of one depth: (d - 0.88) / (1 - 0.88) * 255 in floats, truncated; depths
  // below 0.88 give 0.
  static std::uint8_t DepthToGrey(float ADepth);

 private:
  void DeleteNames();

  GLuint FTexture = 0;
  int FWidth = 4096;
  int FHeight = 4096;
};
