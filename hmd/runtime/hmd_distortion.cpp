// The distortion pass: each eye's picture is drawn into its half of the window through the lens
// model (barrel pre-distortion, lateral chromatic aberration, vignette, time warp), with the safety
// notice over it while it shows. Uses a program, vertex array and sampler of its own and puts back
// the GL state it touches.
#include <SDL.h>
#include <epoxy/gl.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "hmd/runtime/hmd_device.h"

namespace hmdsim {

namespace {

// --- The safety notice's text, set in a 5 x 7 pixel font into a 1-bit bitmap ---

struct Glyph {
  char Ch;
  const char* Rows[7];
};

constexpr Glyph kGlyphs[] = {
    {'A', {"01110", "10001", "10001", "11111", "10001", "10001", "10001"}},
    {'B', {"11110", "10001", "10001", "11110", "10001", "10001", "11110"}},
    {'C', {"01110", "10001", "10000", "10000", "10000", "10001", "01110"}},
    {'D', {"11100", "10010", "10001", "10001", "10001", "10010", "11100"}},
    {'E', {"11111", "10000", "10000", "11110", "10000", "10000", "11111"}},
    {'F', {"11111", "10000", "10000", "11110", "10000", "10000", "10000"}},
    {'G', {"01110", "10001", "10000", "10111", "10001", "10001", "01111"}},
    {'H', {"10001", "10001", "10001", "11111", "10001", "10001", "10001"}},
    {'I', {"01110", "00100", "00100", "00100", "00100", "00100", "01110"}},
    {'K', {"10001", "10010", "10100", "11000", "10100", "10010", "10001"}},
    {'L', {"10000", "10000", "10000", "10000", "10000", "10000", "11111"}},
    {'N', {"10001", "10001", "11001", "10101", "10011", "10001", "10001"}},
    {'O', {"01110", "10001", "10001", "10001", "10001", "10001", "01110"}},
    {'P', {"11110", "10001", "10001", "11110", "10000", "10000", "10000"}},
    {'R', {"11110", "10001", "10001", "11110", "10100", "10010", "10001"}},
    {'S', {"01111", "10000", "10000", "01110", "00001", "00001", "11110"}},
    {'T', {"11111", "00100", "00100", "00100", "00100", "00100", "00100"}},
    {'U', {"10001", "10001", "10001", "10001", "10001", "10001", "01110"}},
    {'W', {"10001", "10001", "10001", "10101", "10101", "10101", "01010"}},
    {'Y', {"10001", "10001", "01010", "00100", "00100", "00100", "00100"}},
    {'.', {"00000", "00000", "00000", "00000", "00000", "01100", "01100"}},
};

constexpr const char* kNoticeLines[] = {
    "HEALTH AND SAFETY WARNING",        "", "READ THE SAFETY GUIDE",        "BEFORE USE.",
    "TAKE A BREAK IF YOU FEEL UNWELL.", "", "PRESS ANY KEY TO ACKNOWLEDGE",
};

constexpr int kNoticeColumns = 32;  // characters per line at most
constexpr int kNoticeBitsWide = kNoticeColumns * 6;
constexpr int kNoticeWords = (kNoticeBitsWide + 31) / 32;  // 32-bit words per bitmap row
constexpr int kNoticeRows = 7 * 9;

// Row 0 is the top line's top pixel row.
std::vector<GLuint> NoticeBitmap() {
  std::vector<GLuint> Bits(kNoticeRows * kNoticeWords, 0);
  int Line = 0;
  for (const char* Text : kNoticeLines) {
    const std::string S = Text;
    const int Left = (kNoticeColumns - int(S.size())) * 3;  // centred
    for (int C = 0; C < int(S.size()) && C < kNoticeColumns; ++C) {
      for (const Glyph& G : kGlyphs) {
        if (G.Ch != S[C]) continue;
        for (int Y = 0; Y < 7; ++Y)
          for (int X = 0; X < 5; ++X)
            if (G.Rows[Y][X] == '1') {
              const int Bx = Left + C * 6 + X, By = Line * 9 + Y;
              Bits[By * kNoticeWords + Bx / 32] |= 1u << (Bx % 32);
            }
      }
    }
    ++Line;
  }
  return Bits;
}

const char* kVertexShader = R"(#version 330 core
out vec2 vScreen;
void main() {
  // One triangle that covers the viewport.
  vec2 P = vec2(float((gl_VertexID << 1) & 2), float(gl_VertexID & 2));
  vScreen = P;
  gl_Position = vec4(P * 2.0 - 1.0, 0.0, 1.0);
}
)";

// The switches of one program variant. They are compile-time constants in the shader so that the
// compiler drops what a frame does not use: a software rasteriser runs both sides of a branch.
constexpr unsigned kHasTexture = 1, kChromatic = 2, kVignette = 4, kFlipInput = 8, kHq = 16,
                   kNotice = 32, kVariantCount = 64;

std::string FragmentShader(unsigned AVariant) {
  auto Switch = [&](const char* AName, unsigned ABit) {
    return std::string("const bool ") + AName + " = " + (AVariant & ABit ? "true" : "false") +
           ";\n";
  };
  return std::string("#version 330 core\n") + Switch("uHasTexture", kHasTexture) +
         Switch("uChromatic", kChromatic) + Switch("uVignette", kVignette) +
         Switch("uFlipInput", kFlipInput) + Switch("uHq", kHq) + Switch("uNotice", kNotice) +
         std::string(R"(
in vec2 vScreen;
out vec4 FragColor;
uniform sampler2D uEyeTexture;
uniform vec2 uLensCentre;   // panel pixels inside the eye's half
uniform vec4 uFov;          // up, down, left, right tangents of the picture
uniform vec4 uTexRect;      // the picture inside the texture: x, y, width, height (0..1)
uniform mat3 uTimeWarp;     // current view direction -> direction in the drawn picture
uniform uint uNoticeBits[)") +
         std::to_string(kNoticeRows * kNoticeWords) + R"(];

const vec2 kEyePanel = vec2()" +
         std::to_string(kEyePanelWidth) + ".0, " + std::to_string(kPanelHeight) + R"(.0);
const float kUnit = )" +
         std::to_string(kLensUnitPixels) + R"(;
const float kScale = )" +
         std::to_string(kLensScale) + R"(;
const float kK1 = )" +
         std::to_string(kK1) + R"(, kK2 = )" + std::to_string(kK2) + R"(;
const vec2 kRed = vec2()" +
         std::to_string(kRedScale) + ", " + std::to_string(kRedScaleR2) +
         R"();
const vec2 kBlue = vec2()" +
         std::to_string(kBlueScale) + ", " + std::to_string(kBlueScaleR2) + R"();
const int kWords = )" +
         std::to_string(kNoticeWords) + R"(;
const ivec2 kBits = ivec2()" +
         std::to_string(kNoticeBitsWide) + ", " + std::to_string(kNoticeRows) + R"();

// One colour channel of the drawn picture in the direction of tangent T, faded at its edges.
float Channel(vec2 T, int C) {
  vec3 Dir = uTimeWarp * vec3(T, -1.0);
  if (Dir.z > -1e-4) return 0.0;
  vec2 Tw = Dir.xy / -Dir.z;
  vec2 Uv = (Tw + uFov.zy) / (uFov.zx + uFov.wy);
  float Edge = min(min(Uv.x, 1.0 - Uv.x), min(Uv.y, 1.0 - Uv.y));
  if (Edge < 0.0) return 0.0;
  float Weight = uVignette ? smoothstep(0.0, 0.02, Edge) : 1.0;
  if (uFlipInput) Uv.y = 1.0 - Uv.y;
  // Stay half a texel inside the eye's rectangle so the other eye never bleeds in.
  vec2 Half = 0.5 / vec2(textureSize(uEyeTexture, 0));
  vec2 Tc = clamp(uTexRect.xy + Uv * uTexRect.zw, uTexRect.xy + Half,
                  uTexRect.xy + uTexRect.zw - Half);
  return texture(uEyeTexture, Tc)[C] * Weight;
}

bool NoticeBit(ivec2 P) {
  uint Word = uNoticeBits[P.y * kWords + (P.x >> 5)];
  return ((Word >> uint(P.x & 31)) & 1u) != 0u;
}

// The safety notice, fixed in front of the eye: a framed panel with text.
vec4 Notice(vec2 T) {
  vec2 Lo = vec2(-0.56, -0.34), Hi = vec2(0.56, 0.34);
  if (any(lessThan(T, Lo)) || any(greaterThan(T, Hi))) return vec4(0.0);
  float Frame = min(min(T.x - Lo.x, Hi.x - T.x), min(T.y - Lo.y, Hi.y - T.y));
  if (Frame < 0.015) return vec4(1.0, 0.72, 0.1, 1.0);
  vec3 Colour = vec3(0.05, 0.09, 0.22);
  float TextWidth = (Hi.x - Lo.x) * 0.9;
  vec2 TextSize = vec2(TextWidth, TextWidth * float(kBits.y) / float(kBits.x));
  vec2 Q = (T - vec2(Lo.x + (Hi.x - Lo.x - TextSize.x) * 0.5, -TextSize.y * 0.5)) / TextSize;
  if (all(greaterThanEqual(Q, vec2(0.0))) && all(lessThan(Q, vec2(1.0)))) {
    ivec2 P = ivec2(Q.x * float(kBits.x), (1.0 - Q.y) * float(kBits.y));
    if (NoticeBit(clamp(P, ivec2(0), kBits - 1))) Colour = P.y < 9 ? vec3(1.0, 0.72, 0.1) : vec3(0.95);
  }
  return vec4(Colour, 0.94);
}

// The drawn picture seen in the direction of tangent T, each colour at its own magnification.
vec3 Picture(vec2 T, float R2) {
  vec3 Scale = uChromatic ? vec3(kRed.x + kRed.y * R2, 1.0, kBlue.x + kBlue.y * R2) : vec3(1.0);
  return vec3(Channel(T * Scale.r, 0), Channel(T * Scale.g, 1), Channel(T * Scale.b, 2));
}

void main() {
  vec2 D = (vScreen * kEyePanel - uLensCentre) / kUnit;
  float R2 = dot(D, D);
  if (R2 > 1.0) {
    FragColor = vec4(0.0, 0.0, 0.0, 1.0);  // outside the lens aperture
    return;
  }
  // The lens: tangent of the direction this panel point shows.
  vec2 T = D * kScale * (1.0 + kK1 * R2 + kK2 * R2 * R2);
  vec3 Colour = vec3(0.0);
  if (uHasTexture) {
    if (uHq) {
      // Two samples per pixel on its diagonal (the 2x multisample pattern): the lens stretches
      // the picture unevenly, this keeps thin lines from flickering.
      vec2 Offset = (dFdx(T) + dFdy(T)) * 0.25;
      Colour = 0.5 * (Picture(T - Offset, R2) + Picture(T + Offset, R2));
    } else {
      Colour = Picture(T, R2);
    }
  }
  if (uNotice) {
    vec4 N = Notice(T);
    Colour = mix(Colour, N.rgb, N.a);
  }
  // With the vignette the rim of the lens fades out.
  if (uVignette) Colour *= smoothstep(1.0, 0.94, sqrt(R2));
  FragColor = vec4(Colour, 1.0);
}
)";
}

GLuint CompileShader(GLenum AType, const std::string& ASource) {
  const GLuint Shader = glCreateShader(AType);
  const char* Text = ASource.c_str();
  glShaderSource(Shader, 1, &Text, nullptr);
  glCompileShader(Shader);
  GLint Ok = 0;
  glGetShaderiv(Shader, GL_COMPILE_STATUS, &Ok);
  if (!Ok) {
    char Log[2048] = {};
    glGetShaderInfoLog(Shader, sizeof(Log) - 1, nullptr, Log);
    SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "hmd runtime: distortion shader: %s", Log);
    glDeleteShader(Shader);
    return 0;
  }
  return Shader;
}

// The GL state the pass changes, read before and written back after it.
struct SavedState {
  GLint Program, VertexArray, ActiveTexture, Texture0, Sampler0, DrawFramebuffer;
  GLint Viewport[4];
  GLboolean ColorMask[4];
  GLfloat ClearColor[4];
  GLint PolygonMode[2];
  std::array<GLboolean, 7> Enabled;
};

constexpr std::array<GLenum, 7> kCapabilities = {
    GL_SCISSOR_TEST, GL_DEPTH_TEST,       GL_STENCIL_TEST,      GL_BLEND,
    GL_CULL_FACE,    GL_FRAMEBUFFER_SRGB, GL_RASTERIZER_DISCARD};

SavedState Save() {
  SavedState S{};
  glGetIntegerv(GL_CURRENT_PROGRAM, &S.Program);
  glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &S.VertexArray);
  glGetIntegerv(GL_ACTIVE_TEXTURE, &S.ActiveTexture);
  glActiveTexture(GL_TEXTURE0);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &S.Texture0);
  glGetIntegerv(GL_SAMPLER_BINDING, &S.Sampler0);
  glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &S.DrawFramebuffer);
  glGetIntegerv(GL_VIEWPORT, S.Viewport);
  glGetBooleanv(GL_COLOR_WRITEMASK, S.ColorMask);
  glGetFloatv(GL_COLOR_CLEAR_VALUE, S.ClearColor);
  S.PolygonMode[0] = S.PolygonMode[1] = GL_FILL;
  glGetIntegerv(GL_POLYGON_MODE, S.PolygonMode);
  for (std::size_t I = 0; I < kCapabilities.size(); ++I)
    S.Enabled[I] = glIsEnabled(kCapabilities[I]);
  return S;
}

void Restore(const SavedState& S) {
  for (std::size_t I = 0; I < kCapabilities.size(); ++I) {
    if (S.Enabled[I])
      glEnable(kCapabilities[I]);
    else
      glDisable(kCapabilities[I]);
  }
  glPolygonMode(GL_FRONT_AND_BACK, GLenum(S.PolygonMode[0]));
  glClearColor(S.ClearColor[0], S.ClearColor[1], S.ClearColor[2], S.ClearColor[3]);
  glColorMask(S.ColorMask[0], S.ColorMask[1], S.ColorMask[2], S.ColorMask[3]);
  glViewport(S.Viewport[0], S.Viewport[1], S.Viewport[2], S.Viewport[3]);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, GLuint(S.DrawFramebuffer));
  glBindSampler(0, GLuint(S.Sampler0));
  glBindTexture(GL_TEXTURE_2D, GLuint(S.Texture0));
  glActiveTexture(GLenum(S.ActiveTexture));
  glBindVertexArray(GLuint(S.VertexArray));
  glUseProgram(GLuint(S.Program));
}

}  // namespace

// One compiled variant of the distortion program and its uniform locations.
struct Variant {
  GLuint Program = 0;
  bool Tried = false;  // built (or failed to build) already
  GLint LensCentre = -1, Fov = -1, TexRect = -1, TimeWarp = -1;
};

struct DistortionRenderer::Impl {
  SDL_GLContext Context = nullptr;  // where the objects below live
  GLuint VertexArray = 0, Sampler = 0;
  std::array<Variant, kVariantCount> Variants{};

  void Release() {
    // Only in the context they were made in; a context that is gone took them with it.
    if (Context && SDL_GL_GetCurrentContext() == Context) {
      for (Variant& V : Variants)
        if (V.Program) glDeleteProgram(V.Program);
      if (VertexArray) glDeleteVertexArrays(1, &VertexArray);
      if (Sampler) glDeleteSamplers(1, &Sampler);
    }
    Variants = {};
    VertexArray = Sampler = 0;
    Context = nullptr;
  }

  // The shared objects in the current context; false without one.
  bool Prepare() {
    SDL_GLContext Current = SDL_GL_GetCurrentContext();
    if (!Current) return false;
    if (Current == Context) return true;
    Release();
    Context = Current;
    glGenVertexArrays(1, &VertexArray);
    glGenSamplers(1, &Sampler);
    glSamplerParameteri(Sampler, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glSamplerParameteri(Sampler, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glSamplerParameteri(Sampler, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glSamplerParameteri(Sampler, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return true;
  }

  // The variant's program, built on first use and bound; null when it does not build.
  const Variant* Use(unsigned AVariant) {
    Variant& V = Variants[AVariant];
    if (!V.Tried) {
      V.Tried = true;
      V.Program = Build(AVariant);
      if (V.Program) {
        V.LensCentre = glGetUniformLocation(V.Program, "uLensCentre");
        V.Fov = glGetUniformLocation(V.Program, "uFov");
        V.TexRect = glGetUniformLocation(V.Program, "uTexRect");
        V.TimeWarp = glGetUniformLocation(V.Program, "uTimeWarp");
        glUseProgram(V.Program);
        glUniform1i(glGetUniformLocation(V.Program, "uEyeTexture"), 0);
        if (AVariant & kNotice) {
          // The notice text goes in once; uniforms stay with the program.
          const std::vector<GLuint> Bits = NoticeBitmap();
          glUniform1uiv(glGetUniformLocation(V.Program, "uNoticeBits"), GLsizei(Bits.size()),
                        Bits.data());
        }
      }
    }
    if (!V.Program) return nullptr;
    glUseProgram(V.Program);
    return &V;
  }

  static GLuint Build(unsigned AVariant) {
    const GLuint Vs = CompileShader(GL_VERTEX_SHADER, kVertexShader);
    const GLuint Fs = CompileShader(GL_FRAGMENT_SHADER, FragmentShader(AVariant));
    if (!Vs || !Fs) {
      if (Vs) glDeleteShader(Vs);
      if (Fs) glDeleteShader(Fs);
      return 0;
    }
    GLuint Program = glCreateProgram();
    glAttachShader(Program, Vs);
    glAttachShader(Program, Fs);
    glLinkProgram(Program);
    glDeleteShader(Vs);
    glDeleteShader(Fs);
    GLint Linked = 0;
    glGetProgramiv(Program, GL_LINK_STATUS, &Linked);
    if (!Linked) {
      SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "hmd runtime: distortion program did not link");
      glDeleteProgram(Program);
      return 0;
    }
    return Program;
  }
};

DistortionRenderer::DistortionRenderer() : FImpl(std::make_unique<Impl>()) {}

DistortionRenderer::~DistortionRenderer() {
  FImpl->Release();
}

bool DistortionRenderer::Draw(const FrameDraw& AFrame) {
  if (!FImpl->Prepare()) return false;
  Impl& G = *FImpl;
  const SavedState Saved = Save();
  for (GLenum Cap : kCapabilities) glDisable(Cap);
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  glViewport(0, 0, AFrame.WindowWidth, AFrame.WindowHeight);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  // sRGB eye textures are decoded when sampled; the window then encodes the linear result.
  if (AFrame.SRGB) glEnable(GL_FRAMEBUFFER_SRGB);
  if (!AFrame.DisplayOff) {
    glBindVertexArray(G.VertexArray);
    glActiveTexture(GL_TEXTURE0);
    glBindSampler(0, G.Sampler);
    const unsigned Common = (AFrame.Chromatic ? kChromatic : 0) |
                            (AFrame.Vignette ? kVignette : 0) |
                            (AFrame.FlipInput ? kFlipInput : 0) | (AFrame.HqDistortion ? kHq : 0) |
                            (AFrame.Notice ? kNotice : 0);
    for (const EyeDraw& Eye : AFrame.Eyes) {
      if (Eye.Viewport[2] <= 0 || Eye.Viewport[3] <= 0) continue;
      const bool HasTexture = Eye.Texture != 0 && glIsTexture(Eye.Texture);
      const Variant* V = G.Use(Common | (HasTexture ? kHasTexture : 0));
      if (!V) continue;
      glBindTexture(GL_TEXTURE_2D, HasTexture ? Eye.Texture : 0);
      glUniform2f(V->LensCentre, Eye.LensCentreX, kPanelHeight * 0.5f);
      glUniform4f(V->Fov, Eye.Fov.UpTan, Eye.Fov.DownTan, Eye.Fov.LeftTan, Eye.Fov.RightTan);
      glUniform4fv(V->TexRect, 1, Eye.TexRect);
      glUniformMatrix3fv(V->TimeWarp, 1, GL_FALSE, Eye.TimeWarp);
      glViewport(Eye.Viewport[0], Eye.Viewport[1], Eye.Viewport[2], Eye.Viewport[3]);
      glDrawArrays(GL_TRIANGLES, 0, 3);
    }
  }
  if (AFrame.Restore) Restore(Saved);
  return true;
}

}  // namespace hmdsim
