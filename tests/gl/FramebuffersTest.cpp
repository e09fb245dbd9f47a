// Render targets on the real driver: window framebuffer, colour target with its BMP screenshot,
// the shadow map target and its depth-to-grey mapping.
#include <gmock/gmock.h>

#include "tests/gl/GLCoreFixture.h"

namespace {

using FrameBuffersTest = TOpenGLTest;

GLint Integer(GLenum AName) {
  GLint Value = -1;
  glGetIntegerv(AName, &Value);
  return Value;
}

TEST_F(FrameBuffersTest, PlainFramebufferStandsForTheWindow) {
  TColorFBO Other(FGL->Sampler(), 4, 4);
  TFrameBufferObject Window;
  EXPECT_EQ(Window.Handle(), 0u);
  Other.Bind();
  ASSERT_EQ(static_cast<GLuint>(Integer(GL_FRAMEBUFFER_BINDING)), Other.Handle());
  Window.Bind();
  EXPECT_EQ(Integer(GL_FRAMEBUFFER_BINDING), 0);
  Other.Bind();
  Window.Unbind();
  EXPECT_EQ(Integer(GL_FRAMEBUFFER_BINDING), 0);
  Window.SetViewport(1, 2, 30, 40);
  GLint Viewport[4];
  glGetIntegerv(GL_VIEWPORT, Viewport);
  EXPECT_THAT(Viewport, ::testing::ElementsAre(1, 2, 30, 40));
}

TEST_F(FrameBuffersTest, ClearMasksMapToGLBitsAndClearOnlyThoseBuffers) {
  struct {
    TClearMasks Mask;
    GLbitfield Bits;
  } const Cases[] = {{{}, 0},
                     {{cmColor}, 0x4000},
                     {{cmDepth}, 0x100},
                     {{cmStencil}, 0x400},
                     {{cmColor, cmDepth}, 0x4100},
                     {{cmDepth, cmColor, cmStencil}, 0x4500}};
  for (const auto& C : Cases) EXPECT_EQ(C.Mask.GLBits(), C.Bits);

  TColorFBO Target(FGL->Sampler(), 2, 2);
  Target.Bind();
  Target.SetViewport(0, 0, 2, 2);
  FGL->SetColor(0x0000FF);  // red
  Target.Clear({cmColor});
  FGL->SetColor(0xFF0000);  // blue, but only depth is cleared
  Target.Clear({cmDepth});
  Target.Clear({});
  EXPECT_THAT(ReadPixel(1, 1), ::testing::ElementsAre(1.0f, 0.0f, 0.0f, 1.0f));
  Target.Clear({cmColor, cmDepth});
  EXPECT_THAT(ReadPixel(1, 1), ::testing::ElementsAre(0.0f, 0.0f, 1.0f, 1.0f));
}

TEST_F(FrameBuffersTest, ColorTargetIsCompleteWithTextureAndDepthBufferAndLeftUnbound) {
  TColorFBO Target(FGL->Sampler(), 20, 10);
  EXPECT_EQ(Integer(GL_FRAMEBUFFER_BINDING), 0);
  EXPECT_EQ(Target.Width(), 20);
  EXPECT_EQ(Target.Height(), 10);
  EXPECT_EQ(Target.Texture().Sampler(), FGL->Sampler());
  Target.Bind();
  EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
  GLint Name = 0, Type = 0;
  glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                                        GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &Name);
  EXPECT_EQ(static_cast<GLuint>(Name), Target.Texture().Handle());
  glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT,
                                        GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE, &Type);
  glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT,
                                        GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &Name);
  EXPECT_EQ(Type, GL_RENDERBUFFER);
  EXPECT_EQ(static_cast<GLuint>(Name), Target.RenderBuffer()->GetHandle());
  GLint DepthBits = 0;
  glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT,
                                        GL_FRAMEBUFFER_ATTACHMENT_DEPTH_SIZE, &DepthBits);
  EXPECT_EQ(DepthBits, 24);
  Target.Unbind();
}

TEST_F(FrameBuffersTest, ColorTargetSavesA24BitBmpWithGLBottomRowAtTheBottom) {
  TColorFBO Target(FGL->Sampler(), 3, 2);
  // GL row 0 (bottom) then GL row 1 (top), RGBA.
  const std::uint8_t Pixels[2][3][4] = {
      {{10, 20, 30, 255}, {40, 50, 60, 128}, {70, 80, 90, 0}},
      {{110, 120, 130, 255}, {140, 150, 160, 255}, {170, 180, 190, 255}}};
  glBindTexture(GL_TEXTURE_2D, Target.Texture().Handle());
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 3, 2, GL_RGBA, GL_UNSIGNED_BYTE, Pixels);
  glBindTexture(GL_TEXTURE_2D, 0);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);  // SaveImage must read rows tightly packed regardless

  // The extension does not matter: the file is a BMP.
  const auto Path = TempFile("color_target_png");
  const auto PngNamed = Path.string() + ".png";
  Target.SaveImage(PngNamed);
  const TBmpFile Bmp = ReadBmp(PngNamed);
  std::filesystem::remove(PngNamed);

  ASSERT_EQ(Bmp.Bytes.size(), 54u + 2 * 12);  // rows of 9 bytes padded to 12
  EXPECT_EQ(Bmp.Bytes[0], 'B');
  EXPECT_EQ(Bmp.Bytes[1], 'M');
  EXPECT_EQ(Bmp.U32(2), Bmp.Bytes.size());
  EXPECT_EQ(Bmp.Width(), 3);
  EXPECT_EQ(Bmp.Height(), 2);
  EXPECT_EQ(Bmp.U16(28), 24);  // bits per pixel
  EXPECT_EQ(Bmp.U32(30), 0u);  // uncompressed
  for (int Row = 0; Row < 2; ++Row)
    for (int X = 0; X < 3; ++X) {
      const auto& P = Pixels[1 - Row][X];  // picture row 0 (top) is GL row 1
      EXPECT_THAT(Bmp.Pixel(X, Row), ::testing::ElementsAre(P[2], P[1], P[0]))
          << "column " << X << " row " << Row;
    }
}

TEST_F(FrameBuffersTest, ShadowTargetIsA4096DepthTextureBoundOnUnit2) {
  glActiveTexture(GL_TEXTURE0);
  auto Owned = std::make_unique<TShadowFBO>();
  TShadowFBO& Shadow = *Owned;
  EXPECT_EQ(Shadow.Width(), 4096);
  EXPECT_EQ(Shadow.Height(), 4096);
  EXPECT_EQ(Integer(GL_FRAMEBUFFER_BINDING), 0);
  EXPECT_EQ(Integer(GL_ACTIVE_TEXTURE), GL_TEXTURE2);

  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, 0);
  glActiveTexture(GL_TEXTURE2);
  glBindTexture(GL_TEXTURE_2D, 0);
  glActiveTexture(GL_TEXTURE0);
  Shadow.Bind();
  EXPECT_EQ(static_cast<GLuint>(Integer(GL_FRAMEBUFFER_BINDING)), Shadow.Handle());
  EXPECT_EQ(Integer(GL_ACTIVE_TEXTURE), GL_TEXTURE2);
  EXPECT_EQ(static_cast<GLuint>(Integer(GL_TEXTURE_BINDING_2D)), Shadow.DepthTexture());
  EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
  EXPECT_EQ(Integer(GL_DRAW_BUFFER0), GL_NONE);

  GLint Width = 0, Height = 0, Format = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &Width);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &Height);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &Format);
  EXPECT_EQ(Width, 4096);
  EXPECT_EQ(Height, 4096);
  EXPECT_EQ(Format, GL_DEPTH_COMPONENT24);
  Shadow.Unbind();
}

TEST(ShadowDepthToGrey, DepthsFrom088To1SpanBlackToWhiteAndBelowClampToBlack) {
  struct {
    float Depth;
    int Grey;
  } const Cases[] = {{0.88f, 0},   {0.9f, 42}, {0.94f, 127}, {0.95f, 148}, {1.0f, 255},
                     {0.8799f, 0}, {0.5f, 0},  {0.0f, 0},    {0.97f, 191}};
  for (const auto& C : Cases)
    EXPECT_EQ(TShadowFBO::DepthToGrey(C.Depth), C.Grey) << "depth " << C.Depth;
}

}  // namespace
