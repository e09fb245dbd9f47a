#include "shell/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

namespace {

std::string LowerExtension(const std::string& APath) {
  std::string Ext = std::filesystem::path(APath).extension().string();
  std::transform(Ext.begin(), Ext.end(), Ext.begin(),
                 [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
  return Ext;
}

// A whole-string decimal number; strtod alone would take "12abc" as 12.
bool ParseNumber(const std::string& AText, double& AValue) {
  if (AText.empty() || std::isspace(static_cast<unsigned char>(AText[0]))) return false;
  errno = 0;
  char* End = nullptr;
  const double Value = std::strtod(AText.c_str(), &End);
  if (errno != 0 || End != AText.c_str() + AText.size() || !std::isfinite(Value)) return false;
  AValue = Value;
  return true;
}

bool ParseSize(const std::string& AText, int& AWidth, int& AHeight) {
  const std::size_t X = AText.find_first_of("xX");
  if (X == std::string::npos) return false;
  double W = 0, H = 0;
  const std::string WText = AText.substr(0, X), HText = AText.substr(X + 1);
  // Digits only: no signs, fractions or exponents in a pixel count.
  auto Digits = [](const std::string& S) {
    return !S.empty() && S.size() <= 5 &&
           std::all_of(S.begin(), S.end(), [](unsigned char C) { return std::isdigit(C); });
  };
  if (!Digits(WText) || !Digits(HText) || !ParseNumber(WText, W) || !ParseNumber(HText, H))
    return false;
  if (W < 1 || H < 1 || W > 16384 || H > 16384) return false;
  AWidth = static_cast<int>(W);
  AHeight = static_cast<int>(H);
  return true;
}

// The keys --help lists, as the README's key table names them, in its order.
struct TKeyHelp {
  const char* Keys;
  const char* Action;
};
constexpr TKeyHelp kKeys[] = {
    {"W / Up, S / Down, A, D (held)", "walk forward / back, step left / right (Shift: faster)"},
    {"6 / 5", "raise / lower the viewer"},
    {"mouse", "look around"},
    {"Left / Right", "move the light"},
    {"P", "play / pause the dance and the song"},
    {"Home", "back to the start"},
    {"Page Up / Page Down", "5 s back / forward"},
    {", / .", "one frame back / forward (pauses first)"},
    {"F1", "on-screen display"},
    {"C", "motion camera / walking"},
    {"E", "she turns her face to you"},
    {"B", "bones of the selected model"},
    {"Tab", "select the next model"},
    {"Delete", "remove the selected model"},
    {"O", "orbit view (drag turns, Shift+drag pans, wheel zooms) / walking"},
    {"Ctrl+S", "save the scene (a .toml scene file; the caption says where)"},
    {"M", "multisampling on / off"},
    {"X", "physics on / off (hair, skirt and ribbons swing)"},
    {"Print Screen", "screenshot (BMP in the working folder)"},
    {"Esc, Ctrl+Q", "quit"},
    {"R, double-click", "headset mode: recentre; full screen on the headset's monitor"},
};

}  // namespace

namespace {

// A model, a motion or a song by its name: what a bare argument is taken as.
bool IsFileArgument(const std::string& AArg) {
  const std::string Ext = LowerExtension(AArg);
  return Ext == ".pmx" || Ext == ".pmd" || Ext == ".vmd" || Ext == ".vpd" || Ext == ".toml" ||
         IsSongFile(AArg);
}

// "X,Y,Z" or "X,Y,Z,YAW": model units and degrees.
bool ParsePlacement(const std::string& AText, TModelPlacement& APlacement) {
  std::vector<double> Values;
  std::size_t Start = 0;
  while (true) {
    const std::size_t Comma = AText.find(',', Start);
    double Value = 0;
    if (!ParseNumber(AText.substr(Start, Comma - Start), Value) || std::fabs(Value) > 1e6)
      return false;
    Values.push_back(Value);
    if (Comma == std::string::npos) break;
    Start = Comma + 1;
  }
  if (Values.size() != 3 && Values.size() != 4) return false;
  for (int I = 0; I < 3; ++I) APlacement.At[I] = static_cast<float>(Values[I]);
  APlacement.YawDegrees = Values.size() == 4 ? static_cast<float>(Values[3]) : 0.0f;
  return true;
}

}  // namespace

bool FitSizeToScreen(int& AWidth, int& AHeight, int AScreenWidth, int AScreenHeight) {
  if (AScreenWidth <= 0 || AScreenHeight <= 0) return false;
  if (AWidth <= AScreenWidth && AHeight <= AScreenHeight) return false;
  // The side that overshoots more becomes the screen's; the other follows in proportion, rounded
  // down (in whole numbers: a ratio in floating point could round the limiting side below it).
  const std::int64_t W = AWidth, H = AHeight;
  if (W * AScreenHeight > H * AScreenWidth) {
    AWidth = AScreenWidth;
    AHeight = static_cast<int>(std::max<std::int64_t>(1, H * AScreenWidth / W));
  } else {
    AHeight = AScreenHeight;
    AWidth = static_cast<int>(std::max<std::int64_t>(1, W * AScreenHeight / H));
  }
  return true;
}

TViewerOptions ParseCommandLine(const std::vector<std::string>& AArgs) {
  TViewerOptions Options;
  bool FilesOnly = false;  // after "--" every argument is a file
  bool Placed = false;     // the last model has its --at
  auto StartModel = [&](const std::string& APath, bool AStage) {
    TSceneEntry Entry;
    Entry.Path = APath;
    Entry.Stage = AStage;
    Options.Models.push_back(std::move(Entry));
    Placed = false;
  };
  for (std::size_t I = 0; I < AArgs.size(); ++I) {
    const std::string& Arg = AArgs[I];
    if (!FilesOnly && Arg == "--") {
      FilesOnly = true;
      continue;
    }
    if (!FilesOnly && Arg.size() > 1 && Arg[0] == '-') {
      std::string Name = Arg, Inline;
      bool HasInline = false;
      if (const std::size_t Eq = Arg.find('=');
          Eq != std::string::npos && Arg.rfind("--", 0) == 0) {
        Name = Arg.substr(0, Eq);
        Inline = Arg.substr(Eq + 1);
        HasInline = true;
      }
      // The option's value: after '=' or the next argument.
      auto Value = [&]() -> std::string {
        if (HasInline) return Inline;
        if (I + 1 >= AArgs.size()) throw EUsageError(Name + " needs a value");
        return AArgs[++I];
      };
      auto NoValue = [&] {
        if (HasInline) throw EUsageError(Name + " takes no value");
      };
      if (Name == "--help" || Name == "-h") {
        NoValue();
        Options.ShowHelp = true;
      } else if (Name == "--version") {
        NoValue();
        Options.ShowVersion = true;
      } else if (Name == "--stage") {
        const std::string V = Value();
        if (KindOfFile(V) != TFileKind::fkModel)
          throw EUsageError("--stage wants a model (.pmx or .pmd): " + V);
        StartModel(V, true);
      } else if (Name == "--at") {
        const std::string V = Value();
        if (Options.Models.empty() || Options.Models.back().Path.empty())
          throw EUsageError("--at places the model named before it: " + V);
        if (Placed) throw EUsageError("one --at for each model: " + V);
        if (!ParsePlacement(V, Options.Models.back().Placement))
          throw EUsageError("--at wants X,Y,Z or X,Y,Z,YAW (model units, degrees), not '" + V +
                            "'");
        Placed = true;
      } else if (Name == "--camera") {
        Options.CameraPath = Value();
      } else if (Name == "--audio") {
        const std::string V = Value();
        if (!IsSongFile(V)) throw EUsageError(std::string(kSongKindsMessage) + ": " + V);
        if (!Options.AudioPath.empty()) throw EUsageError("only one song: " + V);
        Options.AudioPath = V;
      } else if (Name == "--audio-offset") {
        const std::string V = Value();
        if (!ParseNumber(V, Options.AudioOffsetMs) || std::fabs(Options.AudioOffsetMs) > 3.6e6)
          throw EUsageError("--audio-offset wants milliseconds, not '" + V + "'");
      } else if (Name == "--size") {
        const std::string V = Value();
        if (!ParseSize(V, Options.Width, Options.Height))
          throw EUsageError("--size wants WIDTHxHEIGHT in pixels (1 to 16384), not '" + V + "'");
      } else if (Name == "--fullscreen") {
        NoValue();
        Options.FullScreen = true;
      } else if (Name == "--headset") {
        // The kind is optional: a following option or file is not one, any other word is.
        std::string Backend;
        if (HasInline)
          Backend = Inline;
        else if (I + 1 < AArgs.size() && !AArgs[I + 1].empty() && AArgs[I + 1][0] != '-' &&
                 !IsFileArgument(AArgs[I + 1]))
          Backend = AArgs[++I];
        if (Backend.empty())
          Options.Headset = THeadsetChoice::hcAuto;
        else if (Backend == "openxr")
          Options.Headset = THeadsetChoice::hcOpenXR;
        else if (Backend == "legacy")
          Options.Headset = THeadsetChoice::hcLegacy;
        else
          throw EUsageError("unknown headset kind '" + Backend +
                            "': --headset takes openxr or legacy");
      } else if (Name == "--no-headset") {
        NoValue();
        Options.Headset = THeadsetChoice::hcOff;
      } else if (Name == "--render") {
        Options.RenderOut = Value();
        if (Options.RenderOut.empty()) throw EUsageError("--render needs a folder or a .mp4 file");
      } else if (Name == "--fps") {
        const std::string V = Value();
        if (V == "30")
          Options.Fps = 30;
        else if (V == "60")
          Options.Fps = 60;
        else
          throw EUsageError("--fps wants 30 or 60, not '" + V + "'");
      } else if (Name == "--from" || Name == "--to") {
        const std::string V = Value();
        double Seconds = 0;
        if (!ParseNumber(V, Seconds) || Seconds < 0)
          throw EUsageError(Name + " wants seconds (0 or more), not '" + V + "'");
        (Name == "--from" ? Options.FromSeconds : Options.ToSeconds) = Seconds;
      } else {
        throw EUsageError("unknown option " + Name);
      }
      continue;
    }
    const std::string Ext = LowerExtension(Arg);
    if (KindOfFile(Arg) == TFileKind::fkModel) {
      StartModel(Arg, false);
    } else if (Ext == ".vmd" || Ext == ".vpd") {
      // Motions (and poses, motions of one frame) before any model are the default character's.
      if (Options.Models.empty()) StartModel("", false);
      Options.Models.back().MotionPaths.push_back(Arg);
    } else if (Ext == ".toml") {
      if (!Options.ScenePath.empty()) throw EUsageError("only one scene file: " + Arg);
      Options.ScenePath = Arg;
    } else if (IsSongFile(Arg)) {
      if (!Options.AudioPath.empty()) throw EUsageError("only one song: " + Arg);
      Options.AudioPath = Arg;
    } else {
      throw EUsageError(
          "not a model (.pmx or .pmd), a motion (.vmd), a pose (.vpd), a scene (.toml) or a song "
          "(WAV, OGG, MP3, FLAC): " +
          Arg);
    }
  }
  // A scene file names the models, the camera and the song itself.
  if (!Options.ScenePath.empty() &&
      (!Options.Models.empty() || !Options.CameraPath.empty() || !Options.AudioPath.empty()))
    throw EUsageError("a scene file opens alone, without models, motions, camera or song: " +
                      Options.ScenePath);
  if (Options.ToSeconds >= 0 && Options.ToSeconds <= Options.FromSeconds)
    throw EUsageError("--to must be later than --from");
  if (!Options.Rendering() && (Options.ToSeconds >= 0 || Options.FromSeconds > 0))
    throw EUsageError("--from and --to belong to --render");
  if (Options.Rendering() && Options.FullScreen)
    throw EUsageError("--fullscreen has no meaning with --render");
  return Options;
}

std::string UsageText() {
  return "Usage: quenlor [MODEL.pmx [--at X,Y,Z[,YAW]] [MOTION.vmd ...] ...]\n"
         "               [--stage STAGE.pmx [--at X,Y,Z[,YAW]] [MOTION.vmd ...] ...]\n"
         "               [--camera CAMERA.vmd] [--audio SONG] [--audio-offset MS]\n"
         "               [--size WxH] [--fullscreen]\n"
         "               [--headset [openxr|legacy] | --no-headset]\n"
         "       quenlor SCENE.toml [options]\n"
         "       quenlor --render OUT [--fps 30|60] [--size WxH] [--from S] [--to S] [files as "
         "above]\n"
         "       quenlor --help | --version\n"
         "\n"
         "Without files the viewer opens mmd/model/model.pmx and mmd/motion/motion.vmd beside\n"
         "itself. A model is a .pmx or .pmd file. Each model starts a dancer (--stage a stage)\n"
         "and the motions after it are hers; motions before any model go to that default\n"
         "character. --at places the model before it\n"
         "(model units; YAW in degrees about the vertical). Several motions merge (a body and a\n"
         "facial motion); camera keys in any of them drive the camera. A pose (.vpd) goes where a\n"
         "motion goes and holds the bones and morphs it names. A scene file (.toml) holds\n"
         "all of these. SONG is WAV, OGG, MP3 or FLAC; a positive --audio-offset starts it\n"
         "later than the dance. --render OUT writes numbered PNGs into the folder OUT, or a video\n"
         "when OUT ends in .mp4 (needs ffmpeg), without a window.\n";
}

std::string KeyTable() {
  std::string Table = "Keys:\n";
  for (const TKeyHelp& K : kKeys) {
    std::string Line = std::string("  ") + K.Keys;
    Line.resize(std::max<std::size_t>(Line.size() + 2, 34), ' ');
    Table += Line + K.Action + "\n";
  }
  return Table +
         "Files dropped on the window: a .pmx replaces the selected model (with Shift held, it is\n"
         "added), a .vmd adds its motion to the selected model (a .vpd its pose), a .toml opens "
         "that\n"
         "scene, a song becomes the music.\n";
}

int HandleCommandLine(int AArgc, const char* const* AArgv, TViewerOptions& AOptions) {
  std::vector<std::string> Args;
  for (int I = 1; I < AArgc; ++I) Args.emplace_back(AArgv[I]);
  try {
    AOptions = ParseCommandLine(Args);
  } catch (const EUsageError& E) {
    std::cerr << "quenlor: " << E.what() << "\n" << UsageText();
    std::cerr.flush();
    return 2;
  }
  if (AOptions.ShowHelp) {
    std::cout << UsageText() << "\n" << KeyTable();
    std::cout.flush();
    return 0;
  }
  if (AOptions.ShowVersion) {
    std::cout << "quenlor " << kQuenlorVersion << "\n";
    std::cout.flush();
    return 0;
  }
  return -1;
}
