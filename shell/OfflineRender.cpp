#include "shell/OfflineRender.h"

#include <stb/stb_image_write.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <vector>

#include "character/UPmxController.h"
#include "math/Errors.h"
#include "shell/Application.h"
#include "shell/SongPlayer.h"
#include "shell/UMainForm2.h"

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

}  // namespace

TRenderFrames RenderFrames(double AFromSeconds, double AToSeconds, double ALengthMilliseconds,
                           int AFps) {
  const double To = AToSeconds >= 0.0 ? AToSeconds : ALengthMilliseconds / 1000.0;
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
  Application.Guarded([&] {
    TForm2 Form(AOptions);
    // A file that could not be read has been reported; there is nothing to render.
    if (!Form.PmxController()) return;
    const TRenderFrames Frames =
        RenderFrames(AOptions.FromSeconds, AOptions.ToSeconds, Form.Clock().Length(), AOptions.Fps);
    if (Frames.Count == 0) throw Exception("Nothing to render: the range holds no frame");
    int Width = 0, Height = 0;
    SDL_GL_GetDrawableSize(Form.Handle(), &Width, &Height);

    FILE* Pipe = nullptr;
    if (Video) {
      const double First = Frames.First * 1000.0 / AOptions.Fps;
      const std::string Song = Form.Song() ? Form.Song()->FileName() : std::string();
      const std::string Command =
          FfmpegCommand(Ffmpeg, Width, Height, AOptions.Fps, Song, First - AOptions.AudioOffsetMs,
                        static_cast<double>(Frames.Count) / AOptions.Fps, AOptions.RenderOut);
      Pipe = popen(Command.c_str(), "w");
      if (!Pipe) throw Exception("Cannot start ffmpeg: " + Command);
    } else {
      fs::create_directories(AOptions.RenderOut);
    }
    struct TClosePipe {
      FILE*& Pipe;
      ~TClosePipe() {
        if (Pipe) pclose(Pipe);
      }
    } ClosePipe{Pipe};

    stbi_flip_vertically_on_write(1);
    stbi_write_png_compression_level = 2;
    std::vector<std::uint8_t> Rgb;
    const auto Started = std::chrono::steady_clock::now();
    auto Shown = Started;
    for (std::int64_t I = 0; I < Frames.Count; ++I) {
      const std::int64_t N = Frames.First + I;
      Form.RenderOfflineFrame(static_cast<double>(N) * 1000.0 / AOptions.Fps, Rgb);
      if (Pipe) {
        if (std::fwrite(Rgb.data(), 1, Rgb.size(), Pipe) != Rgb.size())
          throw Exception("ffmpeg stopped taking frames");
      } else {
        char Name[32];
        std::snprintf(Name, sizeof Name, "%06lld.png", static_cast<long long>(N));
        const fs::path File = fs::path(AOptions.RenderOut) / Name;
        if (!stbi_write_png(File.c_str(), Width, Height, 3, Rgb.data(), Width * 3))
          throw Exception("Cannot write \"" + File.string() + "\"");
      }
      const auto Now = std::chrono::steady_clock::now();
      if (Now - Shown > std::chrono::milliseconds(250) || I + 1 == Frames.Count) {
        Shown = Now;
        const double Elapsed = std::chrono::duration<double>(Now - Started).count();
        std::fprintf(stderr, "\r%s", ProgressLine(I + 1, Frames.Count, (I + 1) / Elapsed).c_str());
        std::fflush(stderr);
      }
    }
    std::fprintf(stderr, "\n");
    if (Pipe) {
      const int Result = pclose(Pipe);
      Pipe = nullptr;
      if (Result != 0) throw Exception("ffmpeg failed writing \"" + AOptions.RenderOut + "\"");
    }
    Status = 0;
  });
  Application.SetOnReport(nullptr);
  Application.Finalize();
  return Status;
}
