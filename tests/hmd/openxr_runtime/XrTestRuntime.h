// The test OpenXR runtime's inspection calls: what the application submitted (session states,
// frames, the projection layer's views and the eye images read back at xrEndFrame) and the
// scripted head it tracks. A test dlopens the runtime the loader loaded (same path, same
// library) and calls these; nothing else of the runtime is visible. Depends on the OpenXR headers.
#pragma once

#include <openxr/openxr.h>

#include <cstdint>

extern "C" {

// What the runtime recorded since it was loaded or last reset.
struct TXrTestRecord {
  int Frames;       // xrEndFrame calls that succeeded
  int LayerFrames;  // of those, frames that carried a projection layer
  int StateCount;   // session states queued, in order, in States
  int States[32];
  XrCompositionLayerProjectionView Views[2];  // the last projection layer's views
  XrSpace LayerSpace;                         // and its space
  std::int64_t SwapchainFormat;               // the format of the last layer's swapchain
  int EyeWidth[2];
  int EyeHeight[2];
  int SessionsCreated;
  int SessionsDestroyed;
  int InstancesDestroyed;
};

// A copy of the record.
void xrtest_GetRecord(TXrTestRecord* ARecord);
// RGBA rows of one eye's last submitted image, bottom row first; returns the byte count (0 when
// none was submitted), copying at most ACapacity bytes.
int xrtest_GetEyeImage(int AEye, std::uint8_t* AOut, int ACapacity);
// The tracked head in the tracking origin: position in metres, yaw about +Y then pitch about +X
// in degrees.
void xrtest_SetHead(float AX, float AY, float AZ, float AYawDegrees, float APitchDegrees);
// The runtime asks the session to end (as a user leaving the headset's menu would).
void xrtest_RequestExit();
// The runtime hides the session's picture (AVisible 0: focused, visible, then only synchronized,
// as when the user opens the runtime's own menu) or shows it again (synchronized, visible,
// focused).
void xrtest_SetVisible(int AVisible);
// The runtime loses the session (as a headset unplugged would).
void xrtest_LoseSession();
// Forgets the record and puts the head back at the origin.
void xrtest_Reset();
}
