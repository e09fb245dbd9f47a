// The simulated headset's frame on the real GL driver: hmd_EndFrame draws both eye pictures
// through the lenses into the window, with the safety notice until it is dismissed.
#include <cmath>
#include <string>

#include "tests/hmd/HmdTestSupport.h"

namespace {

// Half the panel: one window pixel is two panel pixels.
constexpr int kW = 960, kH = 540;
// Recommended eye texture size of the simulated headset, both eyes side by side.
constexpr int kTexW = 2340, kTexH = 1440, kEyeW = 1170;
// Lens centres in window pixels (the left lens 490 panel pixels from the panel's left edge, the
// right one as far from the right edge), at half height.
constexpr int kLeftLensX = 245, kRightLensX = 715, kLensY = 270;

constexpr Rgb kLeftColour{200, 60, 30}, kRightColour{30, 180, 90};

class Distortion : public ::testing::Test {
 protected:
  void SetUp() override {
    FHandle = hmd_Create(0);
    ASSERT_NE(FHandle, nullptr);
    ASSERT_TRUE(hmd_ConfigureTracking(FHandle, 0x70, 0));
    Configure(0x18B);
  }
  void TearDown() override { hmd_Destroy(FHandle); }

  void Configure(unsigned ACaps) {
    hmdRenderAPIConfig Config{};
    Config.Header.API = hmdRenderAPI_OpenGL;
    Config.Header.RTSize = {kW, kH};
    Config.Header.Multisample = 1;
    Config.PlatformData[0] = reinterpret_cast<uintptr_t>(FContext.Window());
    hmdEyeRenderDesc Desc[2];
    ASSERT_TRUE(hmd_ConfigureRendering(FHandle, &Config, ACaps, FHandle->DefaultEyeFov, Desc));
  }

  // One frame of the shared texture (left eye in its left half, right eye in its right half).
  PixelImage Frame(GLuint ATexture, const hmdPosef* APoses = nullptr) {
    hmdTexture Eyes[2] = {};
    for (int E = 0; E < 2; ++E) {
      Eyes[E].Header.API = hmdRenderAPI_OpenGL;
      Eyes[E].Header.TextureSize = {kTexW, kTexH};
      Eyes[E].Header.RenderViewport = {{E * kEyeW, 0}, {kEyeW, kTexH}};
      Eyes[E].PlatformData[0] = ATexture;
    }
    const hmdPosef Identity[2] = {IdentityPose(), IdentityPose()};
    hmd_BeginFrame(FHandle, 0);
    hmd_EndFrame(FHandle, APoses ? APoses : Identity, Eyes);
    return ReadWindow(kW, kH);
  }

  // Centre of the picture's brightness in one channel along a window row, between two columns.
  static double Centroid(const PixelImage& AImage, int ARow, int AX0, int AX1, int AChannel) {
    double Sum = 0, Weighted = 0;
    for (int X = AX0; X < AX1; ++X) {
      const Rgb P = AImage.At(X, ARow);
      const int V = AChannel == 0 ? P.R : AChannel == 1 ? P.G : P.B;
      const double W = V > 40 ? V - 40 : 0;  // above the dark background
      Sum += W;
      Weighted += W * X;
    }
    return Sum > 0 ? Weighted / Sum : -1;
  }

  // The left eye shows a white vertical line at 85% of its width (to the right of the lens
  // centre), on dark grey.
  static PixelImage LineImage() {
    PixelImage Image(kTexW, kTexH);
    Image.Fill(0, kTexW, {20, 20, 20});
    Image.Fill(990, 998, {255, 255, 255});
    return Image;
  }

  ScopedDeviceEnv FEnv{std::string("simulated")};
  GLTestContext FContext{kW, kH};
  hmdHandle FHandle = nullptr;
};

bool NoticeBackground(Rgb A) {
  return A.R < 50 && A.G < 60 && A.B > A.R + 15;
}

int CountWhite(const PixelImage& AImage, int ACx, int ACy, int ARadius) {
  int N = 0;
  for (int Y = ACy - ARadius; Y <= ACy + ARadius; ++Y)
    for (int X = ACx - ARadius; X <= ACx + ARadius; ++X) {
      const Rgb P = AImage.At(X, Y);
      N += P.R > 200 && P.G > 200 && P.B > 200;
    }
  return N;
}

TEST_F(Distortion, BothEyesShowThroughTheirLensesWithBlackOutsideAndTheNoticeUntilDismissed) {
  PixelImage Picture(kTexW, kTexH);
  Picture.Fill(0, kEyeW, kLeftColour);
  Picture.Fill(kEyeW, kTexW, kRightColour);
  EyeTextureObject Texture(Picture);

  ASSERT_TRUE(hmd_GetHSWDisplayState(FHandle));
  const PixelImage WithNotice = Frame(Texture.Name());
  // The notice: a dark panel with light text straight ahead in each eye.
  for (int Cx : {kLeftLensX, kRightLensX}) {
    EXPECT_TRUE(NoticeBackground(WithNotice.At(Cx, kLensY + 74))) << Cx;
    EXPECT_GT(CountWhite(WithNotice, Cx, kLensY, 60), 20) << Cx;
  }

  EXPECT_TRUE(hmd_DismissHSWDisplay(FHandle));
  EXPECT_FALSE(hmd_DismissHSWDisplay(FHandle)) << "already dismissed";
  EXPECT_FALSE(hmd_GetHSWDisplayState(FHandle));
  const PixelImage Image = Frame(Texture.Name());

  struct Probe {
    int X, Y;
    bool Black;
    Rgb Colour;
    const char* Where;
  } Probes[] = {
      {kLeftLensX, kLensY, false, kLeftColour, "left lens centre"},
      {kLeftLensX, kLensY + 74, false, kLeftColour, "left, where the notice was"},
      {kLeftLensX, 500, false, kLeftColour, "left, high in the lens"},
      {100, kLensY, false, kLeftColour, "left, outer side"},
      {kRightLensX, kLensY, false, kRightColour, "right lens centre"},
      {kRightLensX, 40, false, kRightColour, "right, low in the lens"},
      {860, kLensY, false, kRightColour, "right, outer side"},
      {0, 0, true, {}, "bottom-left corner"},
      {kW - 1, kH - 1, true, {}, "top-right corner"},
      {0, kH - 1, true, {}, "top-left corner"},
      {kW - 1, 0, true, {}, "bottom-right corner"},
      {470, kLensY, true, {}, "between the lenses, left of the middle"},
      {490, kLensY, true, {}, "between the lenses, right of the middle"},
      {kLeftLensX, kH - 4, true, {}, "above the left picture"},
      {kRightLensX, 3, true, {}, "below the right picture"},
  };
  for (const Probe& P : Probes) {
    const Rgb C = Image.At(P.X, P.Y);
    if (P.Black)
      EXPECT_TRUE(IsBlack(C)) << P.Where << ": " << C.R << " " << C.G << " " << C.B;
    else
      EXPECT_TRUE(ColourIs(C, P.Colour, 4)) << P.Where;
  }
  // The picture is lens-shaped: its corners are cut off while its edges' middles show.
  EXPECT_TRUE(IsBlack(Image.At(15, 40))) << "left picture's lower outer corner";
  EXPECT_FALSE(IsBlack(Image.At(15, kLensY))) << "left picture's outer edge at lens height";
}

TEST_F(Distortion, StraightLinesBendOutwardsLikeABarrel) {
  Configure(0x100);  // high-quality distortion only: no colour fringes, no vignette
  ASSERT_TRUE(hmd_DismissHSWDisplay(FHandle));
  EyeTextureObject Texture(LineImage());
  const PixelImage Image = Frame(Texture.Name());
  const double Middle = Centroid(Image, kLensY, 300, 470, 1);
  const double Above = Centroid(Image, kLensY + 150, 300, 470, 1);
  const double Below = Centroid(Image, kLensY - 150, 300, 470, 1);
  ASSERT_GT(Middle, 0);
  ASSERT_GT(Above, 0);
  ASSERT_GT(Below, 0);
  // The line is right of the lens centre; it lies furthest out at lens height.
  EXPECT_GT(Middle - Above, 8) << Middle << " " << Above;
  EXPECT_NEAR(Above, Below, 1.0);
}

TEST_F(Distortion, ChromaticCorrectionShiftsBlueInwardsOfRed) {
  ASSERT_TRUE(hmd_DismissHSWDisplay(FHandle));
  EyeTextureObject Texture(LineImage());
  Configure(0x100);
  const PixelImage Plain = Frame(Texture.Name());
  const double PlainRed = Centroid(Plain, kLensY, 300, 470, 0);
  const double PlainBlue = Centroid(Plain, kLensY, 300, 470, 2);
  EXPECT_NEAR(PlainRed, PlainBlue, 0.3);
  Configure(0x101);
  const PixelImage Fringed = Frame(Texture.Name());
  const double Red = Centroid(Fringed, kLensY, 300, 470, 0);
  const double Blue = Centroid(Fringed, kLensY, 300, 470, 2);
  EXPECT_GT(Red - Blue, 1.0) << Red << " " << Blue;
}

TEST_F(Distortion, TimeWarpTurnsThePictureByTheHeadsTurnSinceItWasDrawn) {
  Configure(0x102);  // time warp, chromatic
  ASSERT_TRUE(hmd_DismissHSWDisplay(FHandle));
  EyeTextureObject Texture(LineImage());
  const PixelImage Still = Frame(Texture.Name());
  // Poses never set (all zeros, as before the first drawn frame) mean no turn, not a broken frame.
  const hmdPosef Zero[2] = {};
  const PixelImage Unset = Frame(Texture.Name(), Zero);
  EXPECT_EQ(Unset.Data, Still.Data);

  // The head has turned left since the picture was drawn looking ahead: the world moves right.
  hmd_SetSimulatedHeadPose(FHandle, {QuatAboutAxis(0, 1, 0, 0.05f), {0, 0, 0}});
  const PixelImage Turned = Frame(Texture.Name());
  const double Before = Centroid(Still, kLensY, 300, 480, 1);
  const double After = Centroid(Turned, kLensY, 300, 480, 1);
  EXPECT_GT(After - Before, 5) << Before << " " << After;

  // Drawn with the turned pose, nothing is left to correct.
  const hmdPosef Current[2] = {hmd_GetEyePose(FHandle, hmdEye_Left),
                               hmd_GetEyePose(FHandle, hmdEye_Right)};
  const PixelImage Caught = Frame(Texture.Name(), Current);
  EXPECT_NEAR(Centroid(Caught, kLensY, 300, 480, 1), Before, 0.1);
}

TEST_F(Distortion, FlipInputReadsPicturesStoredTopRowFirst) {
  ASSERT_TRUE(hmd_DismissHSWDisplay(FHandle));
  // Bottom rows (GL's first) red, top rows blue.
  PixelImage Picture(kTexW, kTexH);
  for (int Y = 0; Y < kTexH; ++Y)
    for (int X = 0; X < kTexW; ++X)
      Picture.Set(X, Y, Y < kTexH / 2 ? Rgb{220, 0, 0} : Rgb{0, 0, 220});
  EyeTextureObject Texture(Picture);
  struct Case {
    unsigned Caps;
    Rgb Upper, Lower;
  } Cases[] = {{0x0, {0, 0, 220}, {220, 0, 0}}, {0x20, {220, 0, 0}, {0, 0, 220}}};
  for (const Case& C : Cases) {
    Configure(C.Caps);
    const PixelImage Image = Frame(Texture.Name());
    for (int X : {kLeftLensX, kRightLensX}) {
      EXPECT_TRUE(ColourIs(Image.At(X, kLensY + 120), C.Upper, 2)) << C.Caps << " " << X;
      EXPECT_TRUE(ColourIs(Image.At(X, kLensY - 120), C.Lower, 2)) << C.Caps << " " << X;
    }
  }
}

TEST_F(Distortion, TheFrameLeavesTheApplicationsGlStateAsItWas) {
  const char* Vs = "#version 330 core\nvoid main() { gl_Position = vec4(0.0); }\n";
  const char* Fs = "#version 330 core\nout vec4 C;\nvoid main() { C = vec4(1.0); }\n";
  GLuint Program = glCreateProgram();
  for (auto [Type, Source] : {std::pair{GL_VERTEX_SHADER, Vs}, std::pair{GL_FRAGMENT_SHADER, Fs}}) {
    GLuint S = glCreateShader(Type);
    glShaderSource(S, 1, &Source, nullptr);
    glCompileShader(S);
    glAttachShader(Program, S);
    glDeleteShader(S);
  }
  glLinkProgram(Program);
  GLuint Vao, Fbo, Tex, Sampler;
  glGenVertexArrays(1, &Vao);
  glGenFramebuffers(1, &Fbo);
  glGenTextures(1, &Tex);
  glGenSamplers(1, &Sampler);

  glUseProgram(Program);
  glBindVertexArray(Vao);
  glBindFramebuffer(GL_FRAMEBUFFER, Fbo);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, Tex);
  glBindSampler(0, Sampler);
  glActiveTexture(GL_TEXTURE2);
  glViewport(3, 4, 50, 60);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  glEnable(GL_BLEND);
  glEnable(GL_SCISSOR_TEST);
  glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
  glColorMask(GL_TRUE, GL_FALSE, GL_TRUE, GL_TRUE);

  PixelImage Picture(kTexW, kTexH);
  EyeTextureObject Texture(Picture);
  glActiveTexture(GL_TEXTURE2);
  hmdTexture Eyes[2] = {};
  for (int E = 0; E < 2; ++E) {
    Eyes[E].Header = {hmdRenderAPI_OpenGL, {kTexW, kTexH}, {{E * kEyeW, 0}, {kEyeW, kTexH}}};
    Eyes[E].PlatformData[0] = Texture.Name();
  }
  const hmdPosef Poses[2] = {IdentityPose(), IdentityPose()};
  hmd_EndFrame(FHandle, Poses, Eyes);

  GLint I = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &I);
  EXPECT_EQ(GLuint(I), Program);
  glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &I);
  EXPECT_EQ(GLuint(I), Vao);
  glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &I);
  EXPECT_EQ(GLuint(I), Fbo);
  glGetIntegerv(GL_ACTIVE_TEXTURE, &I);
  EXPECT_EQ(I, GL_TEXTURE2);
  glActiveTexture(GL_TEXTURE0);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &I);
  EXPECT_EQ(GLuint(I), Tex);
  glGetIntegerv(GL_SAMPLER_BINDING, &I);
  EXPECT_EQ(GLuint(I), Sampler);
  GLint Viewport[4];
  glGetIntegerv(GL_VIEWPORT, Viewport);
  EXPECT_EQ(Viewport[0], 3);
  EXPECT_EQ(Viewport[1], 4);
  EXPECT_EQ(Viewport[2], 50);
  EXPECT_EQ(Viewport[3], 60);
  for (GLenum Cap : {GL_DEPTH_TEST, GL_CULL_FACE, GL_BLEND, GL_SCISSOR_TEST})
    EXPECT_TRUE(glIsEnabled(Cap)) << Cap;
  GLfloat Clear[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, Clear);
  EXPECT_EQ(Clear[0], 1.0f);
  GLboolean Mask[4];
  glGetBooleanv(GL_COLOR_WRITEMASK, Mask);
  EXPECT_FALSE(Mask[1]);

  glUseProgram(0);
  glBindVertexArray(0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glBindSampler(0, 0);
  glDeleteProgram(Program);
  glDeleteVertexArrays(1, &Vao);
  glDeleteFramebuffers(1, &Fbo);
  glDeleteTextures(1, &Tex);
  glDeleteSamplers(1, &Sampler);
}

TEST_F(Distortion, MissingOrForeignTexturesShowBlackLensesNotAFault) {
  ASSERT_TRUE(hmd_DismissHSWDisplay(FHandle));
  hmdTexture Eyes[2] = {};
  Eyes[0].Header = {hmdRenderAPI_OpenGL, {kTexW, kTexH}, {{0, 0}, {kEyeW, kTexH}}};
  Eyes[0].PlatformData[0] = 987654;  // no such texture
  Eyes[1].Header = {hmdRenderAPI_D3D11, {kTexW, kTexH}, {{kEyeW, 0}, {kEyeW, kTexH}}};
  const hmdPosef Poses[2] = {IdentityPose(), IdentityPose()};
  hmd_EndFrame(FHandle, Poses, Eyes);
  hmd_EndFrame(FHandle, nullptr, nullptr);
  const PixelImage Image = ReadWindow(kW, kH);
  EXPECT_TRUE(IsBlack(Image.At(kLeftLensX, kLensY)));
  EXPECT_TRUE(IsBlack(Image.At(kRightLensX, kLensY)));
}

}  // namespace
