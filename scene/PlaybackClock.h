// PlaybackClock: the dance's clock: play and pause, the timeline's jumps and frame steps, the loop
// over the longer of the motion and the song, and the song as the master clock while it plays.
// Part of the scene; depends on the standard library only (the song behind an interface).
#pragma once

#include <functional>

// The motion's frame: 30 frames per second.
inline constexpr double kMotionFrameMilliseconds = 100.0 / 3.0;

// What the clock needs of a song (TSongPlayer over SDL_mixer; a simulated one in tests).
class ISongPlayer {
 public:
  virtual ~ISongPlayer() = default;
  virtual double LengthMilliseconds() const = 0;
  // Starts playing at AMilliseconds into the song.
  virtual void PlayFrom(double AMilliseconds) = 0;
  // Silent until the next PlayFrom.
  virtual void Stop() = 0;
  // Started and neither stopped nor at its end.
  virtual bool Playing() const = 0;
  // Where the song is now, in milliseconds from its start.
  virtual double PositionMilliseconds() const = 0;
};

class TPlaybackClock {
 public:
  // Milliseconds of a monotonic clock: the shell passes the system's, tests a simulated one.
  // Without one, time stands still (a clock that is only sought, as an offline render's).
  using TTimeSource = std::function<double()>;
  explicit TPlaybackClock(TTimeSource ANow = {});

  // The motion's length; 0 when it has no keys.
  void SetMotionLength(double AMilliseconds);
  // The song (not owned; nullptr: none) and how much later than the dance it starts.
  void SetSong(ISongPlayer* ASong, double AOffsetMilliseconds);
  ISongPlayer* Song() const { return FSong; }
  // The loop: the longer of the motion and the song's end on the dance's time; 0 without either.
  double Length() const;

  bool Running() const { return FRunning; }
  void Start();
  // Holds the position; the song falls silent.
  void Stop();

  // The dance's time now, in [0, Length()); follows the song while it plays and starts, stops
  // and restarts it as the time enters and leaves it. Call once per frame.
  double Position();
  // Moves to AMilliseconds (wrapped into the loop; running or not).
  void Seek(double AMilliseconds);
  // Moves by ADeltaMilliseconds: back before the start stops at the start, forward past the end
  // goes round the loop.
  void Jump(double ADeltaMilliseconds);
  // Pauses, then moves ACount whole motion frames from the nearest frame (wrapping).
  void StepFrames(int ACount);

 private:
  double Now() const { return FNow(); }
  double Wrap(double AMilliseconds) const;
  // Starts or stops the song so that it matches the dance's time APosition.
  void SyncSong(double APosition, bool AJumped);

  TTimeSource FNow;
  ISongPlayer* FSong = nullptr;
  double FSongOffset = 0.0;
  double FMotionLength = 0.0;
  bool FRunning = false;
  double FBase = 0.0;         // the dance's time at FStartedAt
  double FStartedAt = 0.0;    // source time of the last rebase
  bool FSongStarted = false;  // this clock started the song and has not stopped it since
};

// The motion's time at the dance's time APosition: the motion holds its last frame while a longer
// song plays on (the core would otherwise start it over inside the loop).
double HeldMotionTime(double APosition, double AMotionLength);
