#include "shell/SongPlayer.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "math/Errors.h"
#include "shell/CommandLine.h"

namespace {

enum class TAudioState { asClosed, asOpen, asMissing };
TAudioState GAudio = TAudioState::asClosed;

double SteadyMilliseconds() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

bool TSongPlayer::OpenAudio() {
  if (GAudio != TAudioState::asClosed) return GAudio == TAudioState::asOpen;
  std::string Reason;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    Reason = SDL_GetError();
  } else {
    Mix_Init(MIX_INIT_OGG | MIX_INIT_MP3 | MIX_INIT_FLAC);
    if (Mix_OpenAudio(44100, AUDIO_S16SYS, 2, 1024) != 0) {
      Reason = Mix_GetError();
      Mix_Quit();
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
  }
  if (!Reason.empty()) {
    std::fprintf(stderr, "Quenlor: no audio device (%s); playing without sound\n", Reason.c_str());
    std::fflush(stderr);
    GAudio = TAudioState::asMissing;
    return false;
  }
  GAudio = TAudioState::asOpen;
  return true;
}

void TSongPlayer::CloseAudio() {
  if (GAudio == TAudioState::asOpen) {
    Mix_HaltMusic();
    Mix_CloseAudio();
    Mix_Quit();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  GAudio = TAudioState::asClosed;
}

TSongPlayer::TSongPlayer(const std::string& AFileName) : FFileName(AFileName) {
  // A file that is not there or not readable says so, as the model and motion readers do;
  // the decoder's own words (a library's internal name for a format) mean nothing to a user.
  if (std::FILE* File = std::fopen(AFileName.c_str(), "rb"))
    std::fclose(File);
  else
    throw Exception("Cannot open file \"" + AFileName + "\". " + std::strerror(errno));
  FMusic = Mix_LoadMUS(AFileName.c_str());
  if (!FMusic) throw Exception("Cannot play \"" + AFileName + "\": " + kSongKindsMessage);
  const double Seconds = Mix_MusicDuration(FMusic);
  if (Seconds <= 0.0) {
    Mix_FreeMusic(FMusic);
    throw Exception("Cannot play \"" + AFileName + "\". Its length is unknown.");
  }
  FLength = Seconds * 1000.0;
}

TSongPlayer::~TSongPlayer() {
  Stop();
  Mix_FreeMusic(FMusic);
}

void TSongPlayer::PlayFrom(double AMilliseconds) {
  // Fading in over 0 ms starts at the position in one step: no sound from the start slips out
  // before a separate seek would take effect.
  if (Mix_FadeInMusicPos(FMusic, 0, 0, AMilliseconds / 1000.0) == 0) FStarted = true;
  FLastRaw = AMilliseconds;
  FRawAt = SteadyMilliseconds();
  FStep = 0.0;
}

void TSongPlayer::Stop() {
  if (FStarted) Mix_HaltMusic();
  FStarted = false;
}

bool TSongPlayer::Playing() const {
  return FStarted && Mix_PlayingMusic() != 0;
}

double TSongPlayer::PositionMilliseconds() const {
  // The decoder reports where its next chunk starts, a whole chunk (tens of milliseconds) at a
  // time; the chunk before it is the one being heard. So the position heard is the report less a
  // chunk, plus the time since the report, up to a chunk: a smooth clock instead of steps.
  const double Seconds = Mix_GetMusicPosition(FMusic);
  const double Raw = Seconds < 0.0 ? 0.0 : Seconds * 1000.0;
  const double Now = SteadyMilliseconds();
  if (Raw != FLastRaw) {
    if (Raw > FLastRaw && Raw - FLastRaw < 500.0) FStep = Raw - FLastRaw;
    FLastRaw = Raw;
    FRawAt = Now;
  }
  return std::max(0.0, Raw - FStep + std::min(Now - FRawAt, FStep));
}
