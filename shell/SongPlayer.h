// SongPlayer: the music over SDL2_mixer (WAV, OGG, MP3, FLAC) as the dance's clock wants it:
// played from a position, stopped, and asked where it is. The audio device opens once per process;
// without one the viewer plays silently. Part of the shell; depends on SDL2 and SDL2_mixer.
#pragma once

#include <string>

#include "scene/PlaybackClock.h"

struct _Mix_Music;

class TSongPlayer : public ISongPlayer {
 public:
  // Opens the audio device (44.1 kHz, 16-bit stereo) on the first call; false when there is none,
  // with one line on stderr the first time.
  static bool OpenAudio();
  static void CloseAudio();

  // Reads the song; throws Exception naming the file when it cannot be opened, or saying which
  // kinds of file play (kSongKindsMessage) when the decoder cannot read it. Needs OpenAudio.
  explicit TSongPlayer(const std::string& AFileName);
  ~TSongPlayer() override;
  TSongPlayer(const TSongPlayer&) = delete;
  TSongPlayer& operator=(const TSongPlayer&) = delete;

  const std::string& FileName() const { return FFileName; }
  double LengthMilliseconds() const override { return FLength; }
  void PlayFrom(double AMilliseconds) override;
  void Stop() override;
  bool Playing() const override;
  double PositionMilliseconds() const override;

 private:
  std::string FFileName;
  _Mix_Music* FMusic = nullptr;
  double FLength = 0.0;
  bool FStarted = false;
  // The decoder's last report, when it came, and how far its reports step (see
  // PositionMilliseconds).
  mutable double FLastRaw = 0.0;
  mutable double FRawAt = 0.0;
  mutable double FStep = 0.0;
};
