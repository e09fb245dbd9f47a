#include "shell/OfflineRender.h"

#include <signal.h>
#include <stb/stb_image_write.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <vector>

#include "gl/OpenGLContext.h"
#include "gl/UCommon2.h"
#include "gl/loader/OpenGLApis.h"
#include "math/Errors.h"
#include "shell/Application.h"
#include "shell/EncoderProcess.h"
#include "shell/ViewerScene.h"

namespace fs = std::filesystem;

namespace {

// One argument for /bin/sh: single-quoted, a quote inside closed, escaped and reopened.
std::string Quoted(const std::string& AText) {
  std::string Result = "'";
  for (char C : AText) Result += C == '\'' ? std::string("'\\''") : std::string(1, C);
  return Result + "'";
}

std::string Seconds(double AValue) {
  char Buffer[32];
  std::snprintf(Buffer, sizeof Buffer, "%.3f", AValue);
  return Buffer;
}

// The signal that asked the render to stop (SIGINT, SIGTERM), 0 while none did.
volatile std::sig_atomic_t StopSignal = 0;

void OnStopSignal(int ASignal) {
  StopSignal = ASignal;
}

// While a render runs: Ctrl+C and SIGTERM stop it between two frames (SDL's own handlers would
// only queue a quit event that nobody reads), and SIGPIPE is ignored so that an encoder that
// ended shows as a failed write. The previous handlers come back when it goes.
class TRenderSignals {
 public:
  TRenderSignals() {
    StopSignal = 0;
    struct sigaction Stop {};
    Stop.sa_handler = OnStopSignal;
    sigemptyset(&Stop.sa_mask);
    sigaction(SIGINT, &Stop, &FOldInt);
    sigaction(SIGTERM, &Stop, &FOldTerm);
    struct sigaction Ignore {};
    Ignore.sa_handler = SIG_IGN;
    sigemptyset(&Ignore.sa_mask);
    sigaction(SIGPIPE, &Ignore, &FOldPipe);
  }
  ~TRenderSignals() {
    sigaction(SIGINT, &FOldInt, nullptr);
    sigaction(SIGTERM, &FOldTerm, nullptr);
    sigaction(SIGPIPE, &FOldPipe, nullptr);
  }
  TRenderSignals(const TRenderSignals&) = delete;
  TRenderSignals& operator=(const TRenderSignals&) = delete;

 private:
  struct sigaction FOldInt {};
  struct sigaction FOldTerm {};
  struct sigaction FOldPipe {};
};

// The progress bar on stderr, redrawn at most four times a second; Break ends its line so that
// what follows starts on a line of its own.
class TProgress {
 public:
  TProgress(std::string APrefix, std::int64_t ATotal)
      : FPrefix(std::move(APrefix)), FTotal(ATotal) {}
  void Show(std::int64_t ADone) {
    const auto Now = std::chrono::steady_clock::now();
    if (Now - FShown < std::chrono::milliseconds(250) && ADone != FTotal) return;
    FShown = Now;
    const double Elapsed = std::chrono::duration<double>(Now - FStarted).count();
    std::fprintf(stderr, "\r%s%s", FPrefix.c_str(),
                 ProgressLine(ADone, FTotal, Elapsed > 0.0 ? ADone / Elapsed : 0.0).c_str());
    std::fflush(stderr);
    FOnLine = true;
  }
  void Break() {
    if (FOnLine) std::fprintf(stderr, "\n");
    FOnLine = false;
  }

 private:
  std::string FPrefix;
  std::int64_t FTotal;
  std::chrono::steady_clock::time_point FStarted = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point FShown{};
  bool FOnLine = false;
};

const char* SignalName(int ASignal) {
  return ASignal == SIGINT ? "SIGINT" : ASignal == SIGTERM ? "SIGTERM" : "a signal";
}

}  // namespace

std::string OutputFileProblem(const std::string& AOut) {
  const fs::path Out(AOut);
  const fs::path Folder = Out.has_parent_path() ? Out.parent_path() : fs::path(".");
  std::error_code Error;
  if (!fs::exists(Folder, Error)) return "the folder \"" + Folder.string() + "\" does not exist";
  if (!fs::is_directory(Folder, Error)) return "\"" + Folder.string() + "\" is not a folder";
  if (fs::is_directory(Out, Error)) return "it is a folder";
  if (access(Folder.c_str(), W_OK | X_OK) != 0)
    return "the folder \"" + Folder.string() + "\" cannot be written (" + std::strerror(errno) +
           ")";
  if (fs::exists(Out, Error) && access(Out.c_str(), W_OK) != 0)
    return std::string("it cannot be written (") + std::strerror(errno) + ")";
  return {};
}

TRenderFrames RenderFrames(double AFromSeconds, double AToSeconds, double ALengthMilliseconds,
                           int AFps) {
  // The dance's end is the end, also for a --to past it (a dance of no length has no end).
  const double Length = ALengthMilliseconds / 1000.0;
  double To = AToSeconds >= 0.0 ? AToSeconds : Length;
  if (ALengthMilliseconds > 0.0) To = std::min(To, Length);
  TRenderFrames Frames;
  // Whole frames whose time n / fps lies in [from, to); a hair of tolerance against the decimal
  // seconds of the command line (1.1 s at 30 frames per second is frame 33, not 34).
  Frames.First = static_cast<std::int64_t>(std::ceil(AFromSeconds * AFps - 1e-9));
  const auto End = static_cast<std::int64_t>(std::ceil(To * AFps - 1e-9));
  Frames.Count = std::max<std::int64_t>(0, End - Frames.First);
  return Frames;
}

bool IsVideoOutput(const std::string& AOut) {
  std::string Ext = fs::path(AOut).extension().string();
  for (char& C : Ext) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return Ext == ".mp4";
}

std::string FindProgram(const std::string& AName) {
  const char* Path = std::getenv("PATH");
  std::istringstream Dirs(Path ? Path : "");
  for (std::string Dir; std::getline(Dirs, Dir, ':');) {
    if (Dir.empty()) continue;
    const fs::path Candidate = fs::path(Dir) / AName;
    if (access(Candidate.c_str(), X_OK) == 0) return Candidate.string();
  }
  return {};
}

std::string FfmpegCommand(const std::string& AFfmpeg, int AWidth, int AHeight, int AFps,
                          const std::string& ASong, double ASongAtStart, double ADurationSeconds,
                          const std::string& AOut) {
  std::string Command = Quoted(AFfmpeg) + " -hide_banner -loglevel error -y -f rawvideo" +
                        " -pix_fmt rgb24 -s " + std::to_string(AWidth) + "x" +
                        std::to_string(AHeight) + " -r " + std::to_string(AFps) + " -i -";
  if (!ASong.empty()) {
    // The song's time at the first frame: skip into it, or delay it when it starts later.
    if (ASongAtStart >= 0.0)
      Command += " -ss " + Seconds(ASongAtStart / 1000.0);
    else
      Command += " -itsoffset " + Seconds(-ASongAtStart / 1000.0);
    Command += " -i " + Quoted(ASong) + " -map 0:v -map 1:a -c:a aac -b:a 192k";
  }
  // GL's rows run bottom-up.
  Command += " -vf vflip -c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p -t " +
             Seconds(ADurationSeconds) + " -movflags +faststart " + Quoted(AOut);
  return Command;
}

std::string RenderFfmpegCommand(const TViewerOptions& AOptions, const std::string& AFfmpeg,
                                int AWidth, int AHeight, const TRenderFrames& AFrames,
                                const std::string& ASong, double ASongOffsetMs) {
  // A song that starts later than the dance is that much behind the dance's time.
  const double First = static_cast<double>(AFrames.First) * 1000.0 / AOptions.Fps;
  return FfmpegCommand(AFfmpeg, AWidth, AHeight, AOptions.Fps, ASong, First - ASongOffsetMs,
                       static_cast<double>(AFrames.Count) / AOptions.Fps, AOptions.RenderOut);
}

std::string ProgressLine(std::int64_t ADone, std::int64_t ATotal, double AFramesPerSecond) {
  constexpr int kBar = 30;
  const int Filled = ATotal > 0 ? static_cast<int>(ADone * kBar / ATotal) : kBar;
  const double Left = AFramesPerSecond > 0.0 ? (ATotal - ADone) / AFramesPerSecond : 0.0;
  const long LeftSeconds = std::lround(Left);
  char Buffer[160];
  std::snprintf(Buffer, sizeof Buffer, "[%s%s] %lld/%lld frames  %.1f frames/s  %ld:%02ld left",
                std::string(Filled, '#').c_str(), std::string(kBar - Filled, '.').c_str(),
                static_cast<long long>(ADone), static_cast<long long>(ATotal), AFramesPerSecond,
                LeftSeconds / 60, LeftSeconds % 60);
  return Buffer;
}

namespace {

// The hidden window that carries the GL context (the offscreen driver draws nothing on screen).
class TContextWindow {
 public:
  TContextWindow(int AWidth, int AHeight)
      : FWindow(CreateGLWindow("Quenlor", 0, 0, AWidth, AHeight, SDL_WINDOW_HIDDEN)) {}
  ~TContextWindow() { SDL_DestroyWindow(FWindow); }
  TContextWindow(const TContextWindow&) = delete;
  TContextWindow& operator=(const TContextWindow&) = delete;
  SDL_Window* Handle() const { return FWindow; }

 private:
  SDL_Window* FWindow;
};

// The picture is drawn anti-aliased off screen (the headless surface claims samples but draws
// without them); a driver without room for it leaves the window's framebuffer in use.
std::unique_ptr<TFrameBufferObject> RenderTarget(int AWidth, int AHeight) {
  try {
    return std::make_unique<TSupersampledFBO>(AWidth, AHeight);
  } catch (const Exception& E) {
    std::fprintf(stderr, "Quenlor: %s Rendering without anti-aliasing.\n", E.what());
    return std::make_unique<TFrameBufferObject>();
  }
}

// The render: the scene and its renderer on an offscreen context, the frames before the range
// posed for the physics, then the range drawn into PNGs or the encoder. Returns 0, or 130 after a
// stop signal; throws the reason of a failure.
int RenderFramesOf(const TViewerOptions& AOptions, const std::string& AFfmpeg) {
  const int Width = AOptions.Width, Height = AOptions.Height;
  const TContextWindow Window(Width, Height);
  TOpenGL OpenGL(Window.Handle());
  // Declared after the context: the scene's drawings go before it.
  TViewerScene Viewer(AOptions, ExecutableDirectory());
  Application.Guarded([&] { Viewer.Load(&OpenGL); });
  // A file that could not be read has been reported; there is nothing to render. (A song that
  // cannot be played has been reported too, and the dance renders without it.)
  TScene& Scene = Viewer.Scene();
  if (!Scene.Model() || !Viewer.Renderer()) return 1;
  TViewerState Eye;
  Eye.Position.Y = 1.7f;
  const TRenderFrames Frames =
      RenderFrames(AOptions.FromSeconds, AOptions.ToSeconds, Scene.Clock().Length(), AOptions.Fps);
  if (Frames.Count == 0) throw Exception("Nothing to render: the range holds no frame");
  const std::unique_ptr<TFrameBufferObject> Target = RenderTarget(Width, Height);
  auto* Supersampled = dynamic_cast<TSupersampledFBO*>(Target.get());
  // The dance, its camera and the physics at AMilliseconds, drawn and read back into ARgb.
  auto RenderFrame = [&](double AMilliseconds, std::vector<std::uint8_t>& ARgb) {
    Scene.AdvanceTo(AMilliseconds, Eye.Position, true);
    TMatrix4f View, Projection;
    DesktopView(Scene, Eye, Width, Height, View, Projection);
    Viewer.Renderer()->DrawFrame(*Target, Width, Height, View, Projection);
    if (Supersampled) {
      Supersampled->ReadRgb(ARgb);
    } else {
      glReadBuffer(GL_BACK);
      ReadFramePixels(Width, Height, GL_RGB, ARgb);
    }
  };

  std::unique_ptr<TEncoderProcess> Encoder;
  if (!AFfmpeg.empty()) {
    const std::string Song = Viewer.Song() ? Viewer.Song()->FileName() : std::string();
    Encoder = std::make_unique<TEncoderProcess>(
        RenderFfmpegCommand(AOptions, AFfmpeg, Width, Height, Frames, Song, Viewer.SongOffsetMs()));
  } else {
    fs::create_directories(AOptions.RenderOut);
  }

  // The physics carries its history: the frames before the range are posed and stepped as a
  // render of the whole dance would, without drawing (which costs far more than the pose), so
  // that any range shows what the whole dance shows.
  if (Frames.First > 0) {
    TProgress Settle("Physics up to --from ", Frames.First);
    for (std::int64_t N = 0; N < Frames.First && !StopSignal; ++N) {
      Scene.AdvanceTo(static_cast<double>(N) * 1000.0 / AOptions.Fps, Eye.Position, true);
      Settle.Show(N + 1);
    }
    Settle.Break();
  }

  stbi_flip_vertically_on_write(1);
  stbi_write_png_compression_level = 2;
  std::vector<std::uint8_t> Rgb;
  TProgress Progress("", Frames.Count);
  std::int64_t Done = 0;
  try {
    for (; Done < Frames.Count && !StopSignal; ++Done) {
      const std::int64_t N = Frames.First + Done;
      RenderFrame(static_cast<double>(N) * 1000.0 / AOptions.Fps, Rgb);
      if (Encoder) {
        if (!Encoder->Write(Rgb.data(), Rgb.size())) {
          Encoder->Finish();
          const std::string Said = Encoder->Messages();
          throw Exception("ffmpeg stopped taking frames after " + std::to_string(Done) +
                          " while writing \"" + AOptions.RenderOut + "\"" +
                          (Said.empty() ? std::string() : ":\n" + Said));
        }
      } else {
        char Name[32];
        std::snprintf(Name, sizeof Name, "%06lld.png", static_cast<long long>(N));
        const fs::path File = fs::path(AOptions.RenderOut) / Name;
        if (!stbi_write_png(File.c_str(), Width, Height, 3, Rgb.data(), Width * 3))
          throw Exception("Cannot write \"" + File.string() + "\"");
      }
      Progress.Show(Done + 1);
    }
  } catch (...) {
    Progress.Break();
    throw;
  }
  Progress.Break();
  // Closing the encoder's input lets it finish the file, also after a stop.
  if (Encoder && !Encoder->Finish() && Done > 0) {
    const std::string Said = Encoder->Messages();
    throw Exception("ffmpeg failed writing \"" + AOptions.RenderOut + "\"" +
                    (Said.empty() ? std::string() : ":\n" + Said));
  }
  if (!StopSignal) return 0;
  if (Done == 0)
    std::fprintf(stderr, "Quenlor: stopped by %s before the first frame\n", SignalName(StopSignal));
  else
    std::fprintf(stderr, "Quenlor: stopped by %s; %s holds the %lld frames rendered (%s to %s s)\n",
                 SignalName(StopSignal), AOptions.RenderOut.c_str(), static_cast<long long>(Done),
                 Seconds(Frames.First / double(AOptions.Fps)).c_str(),
                 Seconds((Frames.First + Done) / double(AOptions.Fps)).c_str());
  return 130;
}

}  // namespace

int RunOfflineRender(TViewerOptions AOptions) {
  const bool Video = IsVideoOutput(AOptions.RenderOut);
  std::string Ffmpeg;
  if (Video) {
    Ffmpeg = FindProgram("ffmpeg");
    if (Ffmpeg.empty()) {
      std::fprintf(stderr,
                   "Quenlor: writing %s needs ffmpeg (Debian's package ffmpeg), which is not "
                   "installed; --render into a folder writes PNGs without it\n",
                   AOptions.RenderOut.c_str());
      return 1;
    }
    // Said now, before any frame is drawn, rather than by ffmpeg once the frames arrive.
    const std::string Problem = OutputFileProblem(AOptions.RenderOut);
    if (!Problem.empty()) {
      std::fprintf(stderr, "Quenlor: cannot write \"%s\": %s\n", AOptions.RenderOut.c_str(),
                   Problem.c_str());
      return 1;
    }
  }
  if (AOptions.Width <= 0) {
    AOptions.Width = 1920;
    AOptions.Height = 1080;
  }
  // No display, no headset, no sound: the offscreen driver on EGL and a silent audio device that
  // still tells the song's length.
  AOptions.Headset = THeadsetChoice::hcOff;
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  Application.SetOnReport(
      [](const std::string& AMessage) { std::fprintf(stderr, "Quenlor: %s\n", AMessage.c_str()); });
  try {
    Application.Initialize();
  } catch (...) {
    Application.HandleException();
    return 1;
  }
  int Status = 1;
  {
    // After SDL's start-up, which installs handlers of its own.
    const TRenderSignals Signals;
    Application.Guarded([&] { Status = RenderFramesOf(AOptions, Ffmpeg); });
  }
  Application.SetOnReport(nullptr);
  Application.Finalize();
  return Status;
}
