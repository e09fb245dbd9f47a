#include "scene/PlaybackClock.h"

#include <algorithm>
#include <cmath>

namespace {

// Further apart than this, the song is taken as it is (it was started late or stalled); closer,
// the clock glides towards it, so that the song's coarse position steps do not shake the dance.
constexpr double kSnapMilliseconds = 100.0;
constexpr double kGlide = 0.1;

}  // namespace

TPlaybackClock::TPlaybackClock(TTimeSource ANow)
    : FNow(ANow ? std::move(ANow) : TTimeSource([] { return 0.0; })) {
  FStartedAt = Now();
}

void TPlaybackClock::SetMotionLength(double AMilliseconds) {
  FMotionLength = std::max(0.0, AMilliseconds);
}

void TPlaybackClock::SetSong(ISongPlayer* ASong, double AOffsetMilliseconds) {
  if (FSong && FSongStarted) FSong->Stop();
  FSongStarted = false;
  FSong = ASong;
  FSongOffset = AOffsetMilliseconds;
  FBase = Wrap(FBase);
  if (FRunning) SyncSong(Position(), true);
}

double TPlaybackClock::Length() const {
  double Result = FMotionLength;
  if (FSong) Result = std::max(Result, FSongOffset + FSong->LengthMilliseconds());
  return std::max(Result, 0.0);
}

double TPlaybackClock::Wrap(double AMilliseconds) const {
  const double L = Length();
  if (L <= 0.0) return std::max(AMilliseconds, 0.0);
  double Result = std::fmod(AMilliseconds, L);
  if (Result < 0.0) Result += L;
  return Result;
}

void TPlaybackClock::Start() {
  if (FRunning) return;
  FStartedAt = Now();
  FRunning = true;
  SyncSong(FBase, true);
}

void TPlaybackClock::Stop() {
  if (!FRunning) return;
  FBase = Position();
  FRunning = false;
  SyncSong(FBase, true);
}

double TPlaybackClock::Position() {
  if (!FRunning) return FBase;
  const double T = Now();
  double P = FBase + (T - FStartedAt);
  const double L = Length();
  bool Jumped = false;
  if (L > 0.0 && P >= L) {
    // Song and dance start over together.
    P = std::fmod(P, L);
    Jumped = true;
  } else if (FSong && FSongStarted && FSong->Playing()) {
    const double SongTime = FSongOffset + FSong->PositionMilliseconds();
    const double Error = SongTime - P;
    P = std::fabs(Error) > kSnapMilliseconds ? SongTime : P + kGlide * Error;
    P = std::max(P, 0.0);
  }
  FBase = P;
  FStartedAt = T;
  SyncSong(P, Jumped);
  return P;
}

void TPlaybackClock::SyncSong(double APosition, bool AJumped) {
  if (!FSong) return;
  const double SongTime = APosition - FSongOffset;
  const bool Inside = SongTime >= 0.0 && SongTime < FSong->LengthMilliseconds();
  if (!FRunning || !Inside) {
    if (FSongStarted) FSong->Stop();
    FSongStarted = false;
    return;
  }
  // A song that ended by itself a little before the loop does stays silent until the loop.
  if (FSongStarted && !AJumped) return;
  FSong->PlayFrom(SongTime);
  FSongStarted = true;
}

void TPlaybackClock::Seek(double AMilliseconds) {
  FBase = Wrap(AMilliseconds);
  FStartedAt = Now();
  SyncSong(FBase, true);
}

void TPlaybackClock::Jump(double ADeltaMilliseconds) {
  Seek(std::max(0.0, Position() + ADeltaMilliseconds));
}

void TPlaybackClock::StepFrames(int ACount) {
  Stop();
  const double Frame = std::round(FBase / kMotionFrameMilliseconds) + ACount;
  Seek(Frame * kMotionFrameMilliseconds);
}

double HeldMotionTime(double APosition, double AMotionLength) {
  if (AMotionLength <= 0.0 || APosition < AMotionLength) return APosition;
  return std::max(0.0, AMotionLength - kMotionFrameMilliseconds);
}
