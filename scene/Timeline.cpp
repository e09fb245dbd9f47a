#include "scene/Timeline.h"

bool TimelineKeyDown(std::uint16_t AKey, TPlaybackClock& AClock) {
  switch (AKey) {
    case VK_HOME:
      AClock.Seek(0.0);
      return true;
    case VK_PRIOR:
      AClock.Jump(-kTimelineJumpMilliseconds);
      return true;
    case VK_NEXT:
      AClock.Jump(kTimelineJumpMilliseconds);
      return true;
    case VK_OEM_COMMA:
      AClock.StepFrames(-1);
      return true;
    case VK_OEM_PERIOD:
      AClock.StepFrames(1);
      return true;
    default:
      return false;
  }
}
