// TForm2's files after start-up (a model, a motion or a song dropped on the window, and the song
// of the command line) and F1's on-screen display. Each file is read completely before anything
// of the scene changes, so that a file that fails leaves the scene as it was.
#include <filesystem>

#include "character/UPmxController.h"
#include "math/Errors.h"
#include "math/VectorGeometry.h"
#include "shading/UShader.h"
#include "shell/Overlay.h"
#include "shell/SongPlayer.h"
#include "shell/UMainForm2.h"

void TForm2::DropFile(const std::string& APath) {
  const std::string Name = std::filesystem::path(APath).filename().string();
  // The caption says what is loading until the next frame writes the position again.
  SDL_SetWindowTitle(FWindow, ("Loading " + Name + " ...").c_str());
  Application.Guarded([&] {
    switch (KindOfFile(APath)) {
      case TFileKind::fkModel:
        ReplaceModel(APath);
        break;
      case TFileKind::fkMotion:
        AddMotionFile(APath);
        break;
      case TFileKind::fkSong:
        LoadSong(APath);
        break;
      case TFileKind::fkUnknown:
        throw Exception("\"" + Name +
                        "\" is not a model (.pmx), a motion (.vmd) or a song (WAV, OGG, MP3, "
                        "FLAC)");
    }
  });
}

void TForm2::ReplaceModel(const std::string& APath) {
  if (!FOpenGL) throw Exception("No scene to load \"" + APath + "\" into");
  // A whole new character with programs of its own; the old one goes only once this stands.
  auto Program = std::make_unique<TMainProgram>(FOpenGL.get());
  auto BoneProgram = std::make_unique<TBoneProgram>(FOpenGL.get());
  Program->Light().SetPosition(FProgram ? FProgram->Light().Position()
                                        : NewVector3f(5.0f, 10.0f, 10.0f));
  auto Controller = std::make_unique<TPmxController>(
      FOpenGL.get(), Program.get(), BoneProgram.get(), APath, std::string(), FBaseDirectory);
  if (FMotion) LoadMotionInto(*Controller, *FMotion);
  // The old programs before the old controller, as at shut-down.
  FProgram.reset();
  FBoneProgram.reset();
  FPmxController.reset();
  FProgram = std::move(Program);
  FBoneProgram = std::move(BoneProgram);
  FPmxController = std::move(Controller);
  FModelPath = APath;
  FPoseDue = true;
  if (!IsHeadsetMode()) LoadCamera(FCameraFile.get());
}

void TForm2::AddMotionFile(const std::string& APath) {
  auto File = std::make_unique<TVmd>();
  File->LoadFromFile(APath);
  const bool HasCamera = !File->CameraMotions().empty();
  TMotionSet Motions = std::move(FMotions);
  Motions.AddOrReplace(APath, std::move(File));
  SetMotions(std::move(Motions));
  // Camera keys in the dropped file take the camera over from a camera file.
  if (HasCamera) FCameraFile.reset();
  if (!IsHeadsetMode()) LoadCamera(FCameraFile.get());
  FClock.Seek(FClock.Position());
}

void TForm2::LoadSong(const std::string& APath) {
  // Without an audio device the dance goes on silently (said once on stderr).
  if (!TSongPlayer::OpenAudio()) return;
  auto Song = std::make_unique<TSongPlayer>(APath);
  FClock.SetSong(nullptr, 0.0);
  FSong = std::move(Song);
  FClock.SetSong(FSong.get(), FOptions.AudioOffsetMs);
}

// ---------------------------------------------------------------------------------------------
// The on-screen display

bool TForm2::OverlayVisible() const {
  return FOverlay && FOverlay->Visible();
}

void TForm2::ToggleOverlay() {
  if (!FOverlay) FOverlay = std::make_unique<TOverlay>();
  FOverlay->Toggle();
}

void TForm2::CountFrame(std::uint32_t ANow) {
  ++FFpsFrames;
  const std::uint32_t Span = ANow - FFpsSince;
  if (Span >= 1000u) {
    FFps = FFpsFrames * 1000.0 / Span;
    FFpsFrames = 0;
    FFpsSince = ANow;
  }
}

void TForm2::DrawOverlay() {
  if (!OverlayVisible() || IsHeadsetMode() || !FDefaultFBO) return;
  TOverlayInfo Info;
  Info.TimeMilliseconds = FDanceTime;
  Info.LengthMilliseconds = FClock.Length();
  Info.FramesPerSecond = FFps;
  Info.Playing = FEnableMotion;
  if (FPmxController) {
    Info.ModelName = FPmxController->Pmx().ModelNameJp();
    Info.Physics = FPmxController->PhysicsEnabled() ? 1 : 0;
  }
  if (Info.ModelName.empty())
    Info.ModelName = std::filesystem::path(FModelPath).filename().string();
  for (const std::string& File : FMotions.FileNames())
    Info.MotionNames.push_back(std::filesystem::path(File).filename().string());
  if (FSong) Info.SongName = std::filesystem::path(FSong->FileName()).filename().string();
  int Width = 0, Height = 0;
  ClientSize(Width, Height);
  FOverlay->Draw(Info, Width, Height);
}
