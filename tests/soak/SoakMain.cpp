// quenlor_soak: the viewer exactly as the shipped entry runs it (same window, scene and message
// loop from quenlor_shell), for the soak test only. It wraps two SDL calls: SDL_GL_SetAttribute, to
// add the debug flag to the context request, and SDL_GL_SwapWindow, to count presented frames. It
// installs a GL debug message callback that counts every error, samples the resident memory, and
// quits after the requested number of frames.
//
//   quenlor_soak FRAMES [MAX_GROWTH_MB]
//
// Prints "soak: frame N rss K kB" every 1000 frames and one summary line with the growth from frame
// 1000 to the end. Exits 0 only when every frame was presented, the context had the debug flag, no
// GL error was reported and the memory held flat: the resident size is sampled every 100 frames
// from frame 1000 on, and the highest sample of the second half of that span is at most
// MAX_GROWTH_MB (default 16) above the highest of the first half. Peaks, not single samples,
// because the resident size swings by tens of megabytes as the window goes full screen and back
// (driver buffers and the allocator's arenas), while a leak lifts every later peak.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "gl/loader/OpenGLApis.h"
#include "hmd/HmdRuntime.h"
#include "shell/Application.h"
#include "shell/UMainForm2.h"

namespace {

long GTargetFrames = 20000;
long GFrames = 0;
long GRssAt1000 = 0;  // kB
long GRssLast = 0;    // at the last frame
long GRssPeak = 0;
long GRssPeakFirstHalf = 0;   // frames 1000 to halfway between there and the end
long GRssPeakSecondHalf = 0;  // the rest
long GErrors = 0;
long GOtherMessages = 0;

long ResidentKB() {
  std::ifstream Statm("/proc/self/statm");
  long Pages = 0, Resident = 0;
  Statm >> Pages >> Resident;
  return Resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void GLAPIENTRY OnGLMessage(GLenum /*ASource*/, GLenum AType, GLuint AId, GLenum ASeverity,
                            GLsizei /*ALength*/, const GLchar* AMessage, const void* /*AUser*/) {
  const bool Error = AType == GL_DEBUG_TYPE_ERROR || AType == GL_DEBUG_TYPE_UNDEFINED_BEHAVIOR;
  if (Error)
    ++GErrors;
  else
    ++GOtherMessages;
  // Every error, and the first few notes of other kinds, with the frame they came in.
  if (Error || GOtherMessages <= 5)
    std::fprintf(stderr, "soak: GL %s 0x%x (severity 0x%x) in frame %ld: %s\n",
                 Error ? "error" : "message", AId, ASeverity, GFrames, AMessage);
}

// Installs the callback on the current context; false when the context is not a debug context.
bool InstallDebugCallback() {
  GLint Flags = 0;
  glGetIntegerv(GL_CONTEXT_FLAGS, &Flags);
  glEnable(GL_DEBUG_OUTPUT);
  glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
  glDebugMessageCallback(OnGLMessage, nullptr);
  glDebugMessageControl(GL_DONT_CARE, GL_DONT_CARE, GL_DONT_CARE, 0, nullptr, GL_TRUE);
  // Anything left in the context's error flag from start-up counts too.
  for (GLenum E = glGetError(); E != GL_NO_ERROR; E = glGetError()) {
    std::fprintf(stderr, "soak: GL error 0x%x pending after start-up\n", E);
    ++GErrors;
  }
  return (Flags & GL_CONTEXT_FLAG_DEBUG_BIT) != 0;
}

}  // namespace

// Every presented frame goes through here: the window's swap in desktop mode, the runtime's
// present in headset mode (the executable exports this symbol, so it wins over SDL's).
extern "C" void SDL_GL_SwapWindow(SDL_Window* AWindow) {
  using TSwap = void (*)(SDL_Window*);
  static const TSwap Real = reinterpret_cast<TSwap>(dlsym(RTLD_NEXT, "SDL_GL_SwapWindow"));
  Real(AWindow);
  ++GFrames;
  if (GFrames % 100 == 0 && GFrames >= 1000) {
    const long Rss = ResidentKB();
    if (GFrames == 1000) GRssAt1000 = Rss;
    if (Rss > GRssPeak) GRssPeak = Rss;
    const long Middle = 1000 + (GTargetFrames - 1000) / 2;
    long& HalfPeak = GFrames <= Middle ? GRssPeakFirstHalf : GRssPeakSecondHalf;
    if (Rss > HalfPeak) HalfPeak = Rss;
    if (GFrames % 1000 == 0) {
      std::printf("soak: frame %ld rss %ld kB\n", GFrames, Rss);
      std::fflush(stdout);
    }
  }
  if (GFrames >= GTargetFrames && GRssLast == 0) {
    GRssLast = ResidentKB();
    Application.Terminate();
  }
}

// The viewer's pixel-format request passes through unchanged, except that every context it asks
// for is a debug context.
extern "C" int SDL_GL_SetAttribute(SDL_GLattr AAttr, int AValue) {
  using TSet = int (*)(SDL_GLattr, int);
  static const TSet Real = reinterpret_cast<TSet>(dlsym(RTLD_NEXT, "SDL_GL_SetAttribute"));
  if (AAttr == SDL_GL_CONTEXT_FLAGS) AValue |= SDL_GL_CONTEXT_DEBUG_FLAG;
  return Real(AAttr, AValue);
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FRAMES [MAX_GROWTH_MB]\n", argv[0]);
    return 2;
  }
  GTargetFrames = std::atol(argv[1]);
  const long MaxGrowthKB = (argc > 2 ? std::atol(argv[2]) : 16) * 1024;
  THmdRuntimeLifetime Runtime;
  try {
    Application.Initialize();
  } catch (...) {
    Application.HandleException();
    return 1;
  }
  bool DebugContext = false;
  {
    std::unique_ptr<TForm2> Form;
    if (!Application.Guarded([&] { Form = std::make_unique<TForm2>(); })) return 1;
    DebugContext = InstallDebugCallback();
    Application.Run();
  }
  Application.Finalize();

  const long RssEnd = GRssLast;
  const long Growth = RssEnd - GRssAt1000;
  const long PeakGrowth = GRssPeakSecondHalf - GRssPeakFirstHalf;
  std::printf(
      "soak: %s mode: %ld frames, debug context %s, %ld GL errors, %ld other GL messages, "
      "rss at frame 1000 %ld kB, at the last frame %ld kB (growth %ld kB), peak %ld kB, "
      "peak of the first half %ld kB, of the second half %ld kB (growth %ld kB)\n",
      getenv("XR_RUNTIME_JSON")      ? "OpenXR"
      : getenv("HMD_RUNTIME_DEVICE") ? "headset"
                                     : "desktop",
      GFrames, DebugContext ? "yes" : "NO", GErrors, GOtherMessages, GRssAt1000, RssEnd, Growth,
      GRssPeak, GRssPeakFirstHalf, GRssPeakSecondHalf, PeakGrowth);
  const bool Ok = GFrames >= GTargetFrames && DebugContext && GErrors == 0 &&
                  GRssPeakFirstHalf > 0 && GRssPeakSecondHalf > 0 && PeakGrowth <= MaxGrowthKB;
  return Ok ? 0 : 1;
}
