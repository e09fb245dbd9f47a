// Timeline: the keys that move the dance's clock: Home restarts, PageUp and PageDown jump 5 s,
// comma and period step one frame (pausing first). Part of the scene; depends on PlaybackClock.
#pragma once

#include <cstdint>

#include "scene/PlaybackClock.h"

// Virtual-key codes of the timeline's keys and the overlay's.
enum : std::uint16_t {
  VK_PRIOR = 33,
  VK_NEXT = 34,
  VK_HOME = 36,
  VK_F1 = 112,
  VK_OEM_COMMA = 188,
  VK_OEM_PERIOD = 190,
};

inline constexpr double kTimelineJumpMilliseconds = 5000.0;

// Moves AClock for AKey; false (and nothing moved) for any other key.
bool TimelineKeyDown(std::uint16_t AKey, TPlaybackClock& AClock);
