// CommandLine: the viewer's command line: the files to open, the window and headset choices and
// the offline render, parsed into TViewerOptions; the usage text and the key table for --help.
// Part of the shell; depends on the standard library only.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "scene/SceneFiles.h"

inline constexpr const char* kQuenlorVersion = "1.0.0";

// Which headset path the viewer takes: hcAuto asks each backend whether a headset is there (the
// start-up without options), hcOpenXR and hcLegacy ask only that one, hcOff runs in a window.
enum class THeadsetChoice : std::uint8_t { hcAuto, hcOpenXR, hcLegacy, hcOff };

struct TViewerOptions {
  // Models and stages in order, each with its motions (merged in order: a body and a facial
  // motion, say) and placement; an entry without a model file is the default character. None,
  // and no scene file: the fixed folder beside the executable.
  std::vector<TSceneEntry> Models;
  std::string ScenePath;  // a scene file, opened alone
  std::string CameraPath;
  std::string AudioPath;
  double AudioOffsetMs = 0.0;  // positive: the song starts this much later than the dance
  // Client size in pixels; 0 leaves the default (half the monitor, or 1920x1080 when rendering).
  int Width = 0;
  int Height = 0;
  bool FullScreen = false;
  THeadsetChoice Headset = THeadsetChoice::hcAuto;
  // Offline render: a folder for numbered PNGs, or a file ending in .mp4; empty when interactive.
  std::string RenderOut;
  int Fps = 30;
  double FromSeconds = 0.0;
  double ToSeconds = -1.0;  // below 0: the end of the longer of motion and song
  bool ShowHelp = false;
  bool ShowVersion = false;

  bool Rendering() const { return !RenderOut.empty(); }
  bool HasFiles() const { return !Models.empty() || !ScenePath.empty(); }
  // The scene the files name, paths as given.
  TSceneDescription Description() const {
    return {Models, CameraPath, AudioPath, AudioOffsetMs, true};
  }
};

// A command line the viewer cannot follow; what() is the one line shown above the usage.
class EUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Why a file is not taken as a song: the same words whether it came with --audio, bare on the
// command line, dropped on the window, or was refused by the decoder.
inline constexpr const char* kSongKindsMessage =
    "cannot play this kind of file (WAV, OGG, MP3, FLAC are supported)";

// Makes a window size asked for fit a screen of AScreenWidth x AScreenHeight: both sides shrink
// by the same factor (the shape stays), each at least 1 pixel. Returns false when it already
// fits (the size untouched) or the screen's size is unknown (0 or less).
bool FitSizeToScreen(int& AWidth, int& AHeight, int AScreenWidth, int AScreenHeight);

// Parses the arguments after the program name. Files are told apart by their extension (.pmx a
// model, .vmd a motion, IsSongFile a song, .toml a scene file); options take "--name value" or
// "--name=value". Each model file (or --stage FILE) starts a model, and the motions after it are
// its own; --at X,Y,Z[,YAW] places the model before it; motions before any model go to the default
// character. Throws EUsageError.
TViewerOptions ParseCommandLine(const std::vector<std::string>& AArgs);

// The usage lines (--help and usage errors) and the keys the viewer understands.
std::string UsageText();
std::string KeyTable();

// What main does with the command line before any window: prints help, version or a usage error
// and returns the exit status to end with (0 or 2), or -1 to go on with AOptions filled in.
int HandleCommandLine(int AArgc, const char* const* AArgv, TViewerOptions& AOptions);
