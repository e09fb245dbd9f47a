// TOpenGL on the real driver: version and pixel format, samplers, fixed state, clear colour.
#include <gmock/gmock.h>

#include "tests/gl/GLCoreFixture.h"

namespace {

TEST_F(TOpenGLTest, OpensCompatibilityContextOfAtLeast43WithRequestedPixelFormat) {
  EXPECT_GE(CurrentGLVersion(), 43);
  GLint Profile = 0;
  glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &Profile);
  EXPECT_TRUE(Profile & GL_CONTEXT_COMPATIBILITY_PROFILE_BIT);
  EXPECT_EQ(SDL_GL_GetCurrentContext(), FGL->RenderingContext());

  struct {
    SDL_GLattr Attr;
    int Value;
  } const Expected[] = {{SDL_GL_RED_SIZE, 8},     {SDL_GL_GREEN_SIZE, 8},
                        {SDL_GL_BLUE_SIZE, 8},    {SDL_GL_ALPHA_SIZE, 8},
                        {SDL_GL_DEPTH_SIZE, 24},  {SDL_GL_STENCIL_SIZE, 8},
                        {SDL_GL_DOUBLEBUFFER, 1}, {SDL_GL_MULTISAMPLESAMPLES, 4}};
  // SDL's offscreen driver draws into a single-buffered EGL pbuffer whatever was asked.
  const bool Offscreen = std::string(SDL_GetCurrentVideoDriver()) == "offscreen";
  for (const auto& E : Expected) {
    if (Offscreen && E.Attr == SDL_GL_DOUBLEBUFFER) continue;
    int Value = -1;
    SDL_GL_GetAttribute(E.Attr, &Value);
    EXPECT_EQ(Value, E.Value) << "attribute " << E.Attr;
  }
  GLint Samples = 0;
  glGetIntegerv(GL_SAMPLES, &Samples);
  EXPECT_EQ(Samples, 4);
}

TEST_F(TOpenGLTest, SamplersCarryTheirFixedParameters) {
  struct {
    GLuint Sampler;
    GLenum Param;
    GLint Value;
  } const Expected[] = {
      {FGL->Sampler(), GL_TEXTURE_WRAP_S, GL_REPEAT},
      {FGL->Sampler(), GL_TEXTURE_WRAP_T, GL_REPEAT},
      {FGL->Sampler(), GL_TEXTURE_MIN_FILTER, GL_LINEAR},
      {FGL->Sampler(), GL_TEXTURE_MAG_FILTER, GL_LINEAR},
      {FGL->Sampler(), GL_TEXTURE_COMPARE_MODE, GL_NONE},
      {FGL->ShadowSampler(), GL_TEXTURE_WRAP_S, GL_CLAMP_TO_BORDER},
      {FGL->ShadowSampler(), GL_TEXTURE_WRAP_T, GL_CLAMP_TO_BORDER},
      {FGL->ShadowSampler(), GL_TEXTURE_MIN_FILTER, GL_LINEAR},
      {FGL->ShadowSampler(), GL_TEXTURE_MAG_FILTER, GL_LINEAR},
      {FGL->ShadowSampler(), GL_TEXTURE_COMPARE_MODE, GL_COMPARE_REF_TO_TEXTURE},
      {FGL->ShadowSampler(), GL_TEXTURE_COMPARE_FUNC, GL_LESS},
  };
  EXPECT_NE(FGL->Sampler(), FGL->ShadowSampler());
  for (const auto& E : Expected) {
    EXPECT_TRUE(glIsSampler(E.Sampler));
    GLint Value = -1;
    glGetSamplerParameteriv(E.Sampler, E.Param, &Value);
    EXPECT_EQ(Value, E.Value) << "sampler " << E.Sampler << " parameter 0x" << std::hex << E.Param;
  }
  GLfloat Border[4] = {-1, -1, -1, -1};
  glGetSamplerParameterfv(FGL->ShadowSampler(), GL_TEXTURE_BORDER_COLOR, Border);
  EXPECT_THAT(Border, ::testing::ElementsAre(1.0f, 0.0f, 0.0f, 0.0f));
}

TEST_F(TOpenGLTest, SetsTheFixedDrawingState) {
  for (GLenum Cap : {GL_MULTISAMPLE, GL_LINE_SMOOTH, GL_DEPTH_TEST, GL_BLEND, GL_CULL_FACE})
    EXPECT_TRUE(glIsEnabled(Cap)) << "capability 0x" << std::hex << Cap;
  struct {
    GLenum Name;
    GLint Value;
  } const Expected[] = {{GL_DEPTH_FUNC, GL_LEQUAL},
                        {GL_BLEND_SRC_RGB, GL_SRC_ALPHA},
                        {GL_BLEND_SRC_ALPHA, GL_SRC_ALPHA},
                        {GL_BLEND_DST_RGB, GL_ONE_MINUS_SRC_ALPHA},
                        {GL_BLEND_DST_ALPHA, GL_ONE_MINUS_SRC_ALPHA},
                        {GL_FRONT_FACE, GL_CCW},
                        {GL_CULL_FACE_MODE, GL_BACK}};
  for (const auto& E : Expected) {
    GLint Value = -1;
    glGetIntegerv(E.Name, &Value);
    EXPECT_EQ(Value, E.Value) << "state 0x" << std::hex << E.Name;
  }
  GLfloat Depth = 0;
  glGetFloatv(GL_DEPTH_CLEAR_VALUE, &Depth);
  EXPECT_EQ(Depth, 1.0f);
  // The constructor's colour: pure blue.
  EXPECT_EQ(FGL->Color(), 0xFF0000u);
  GLfloat Clear[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, Clear);
  EXPECT_THAT(Clear, ::testing::ElementsAre(0.0f, 0.0f, 1.0f, 1.0f));
}

TEST_F(TOpenGLTest, ColorIsRedInTheLowByteAndIssuesNoCallWhenUnchanged) {
  struct {
    TColor Value;
    float R, G, B;
  } const Cases[] = {{0x0000FF, 1, 0, 0},
                     {0x00FF00, 0, 1, 0},
                     {0xFFFFFF, 1, 1, 1},
                     {0x123456, 0x56 / 255.0f, 0x34 / 255.0f, 0x12 / 255.0f}};
  for (const auto& C : Cases) {
    FGL->SetColor(C.Value);
    EXPECT_EQ(FGL->Color(), C.Value);
    GLfloat Clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, Clear);
    EXPECT_THAT(Clear, ::testing::ElementsAre(::testing::FloatEq(C.R), ::testing::FloatEq(C.G),
                                              ::testing::FloatEq(C.B), 1.0f));
  }
  // Change the GL value behind the wrapper's back: writing the held value must not touch GL.
  glClearColor(0.25f, 0.25f, 0.25f, 0.25f);
  FGL->SetColor(0x123456);
  GLfloat Clear[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, Clear);
  EXPECT_THAT(Clear, ::testing::ElementsAre(0.25f, 0.25f, 0.25f, 0.25f));
}

TEST(TOpenGLVersion, DriverBelow43FailsNamingTheOfferedVersion) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Runs in a fresh process: Mesa reads its version override once per process.
  EXPECT_EXIT(
      {
        setenv("MESA_GL_VERSION_OVERRIDE", "3.3COMPAT", 1);
        if (!std::getenv("DISPLAY")) setenv("SDL_VIDEODRIVER", "offscreen", 0);
        SDL_InitSubSystem(SDL_INIT_VIDEO);
        SDL_Window* Window = CreateGLWindow("test", 0, 0, 16, 16, SDL_WINDOW_HIDDEN);
        try {
          TOpenGL GL(Window);
        } catch (const Exception& E) {
          const std::string Message = E.what();
          const bool Ok =
              Message.rfind("OpenGL 4.3 is required, but the driver offers OpenGL 3.3", 0) == 0 &&
              SDL_GL_GetCurrentContext() == nullptr;
          std::fprintf(stderr, "%s\n", Message.c_str());
          std::exit(Ok ? 7 : 1);
        }
        std::exit(2);
      },
      ::testing::ExitedWithCode(7), "OpenGL 4.3 is required");
}

}  // namespace
