// OpenXrSession: the display connection to a headset through OpenXR (the Khronos loader and
// whatever runtime it finds): instance and head-mounted system, the session on the window's GLX
// context, one swapchain per eye, the frame, the eyes' poses and fields of view in a LOCAL space,
// recentring and the window's mirror. Depends on the OpenXR loader, GL through libepoxy, the
// legacy runtime's pose records (hmd/runtime) and math/Errors.h.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "hmd/runtime/hmd_runtime.h"
#include "math/Errors.h"

// An OpenXR call that failed; the message names the call and its result.
class EOpenXrError : public Exception {
 public:
  using Exception::Exception;
};

// Where the session stands, as the runtime's state events left it.
enum class TXrRunState : std::uint8_t {
  xsWaiting,  // created, or idle: nothing to draw yet
  xsRunning,  // begun: frames go to the runtime
  xsExiting,  // ended on the runtime's request (EXITING): headset mode is over
  xsLost      // LOSS_PENDING or a lost instance: headset mode is over
};

class TOpenXrSession {
 public:
  // The loader's active runtime (its own rules: XR_RUNTIME_JSON or the system's active runtime)
  // and its head-mounted system; nullptr with the reason in AWhyNot when there is none.
  static std::unique_ptr<TOpenXrSession> Open(std::string& AWhyNot);
  ~TOpenXrSession();
  TOpenXrSession(const TOpenXrSession&) = delete;
  TOpenXrSession& operator=(const TOpenXrSession&) = delete;

  // With the window's GLX context current: the runtime's GL version requirement, the session,
  // the LOCAL and VIEW spaces and the two eyes' swapchains (sRGB when the runtime offers it
  // first). Throws EOpenXrError.
  void Start();
  // The size of one eye's image.
  hmdSizei EyeSize() const { return FEyeSize; }
  std::int64_t SwapchainFormat() const { return FFormat; }
  const std::string& RuntimeName() const { return FRuntimeName; }

  // Drains the runtime's events: begins the session on READY, ends it on STOPPING. Throws
  // EOpenXrError.
  void PollEvents();
  TXrRunState RunState() const { return FRunState; }
  // Visible or focused: there is a picture to draw.
  bool Visible() const { return FVisible; }

  // Waits for the runtime's frame, begins it and locates both eyes in the LOCAL space; true when
  // the frame is to be drawn. Every BeginFrame is followed by EndFrame. Throws EOpenXrError.
  bool BeginFrame();
  // One eye's located pose (LOCAL space) and field of view as tangents, from the last BeginFrame
  // that located them.
  const hmdPosef& EyePose(int AEye) const { return FEyePose[Eye(AEye)]; }
  const hmdFovPort& EyeFov(int AEye) const { return FEyeFov[Eye(AEye)]; }
  // Copies a rectangle (lower-left corner, GL rows) of the GL texture ATexture into the eye's
  // swapchain image; the frame then carries a projection layer.
  void SubmitEye(int AEye, unsigned ATexture, int AX, int AY);
  // Ends the frame: a projection layer when both eyes were submitted, none otherwise.
  void EndFrame();
  // The LOCAL space made anew at the head's current yaw and position.
  void Recenter();
  // Asks the runtime to end the session (the program is closing).
  void RequestExit();

  // Scales the texture ATexture (both eyes side by side, ASourceWidth x ASourceHeight) into the
  // window's framebuffer of AWidth x AHeight, keeping its shape; GL state the scene relies on is
  // put back.
  void MirrorToWindow(unsigned ATexture, int ASourceWidth, int ASourceHeight, int AWidth,
                      int AHeight);

 private:
  struct TImpl;
  TOpenXrSession();
  static std::size_t Eye(int AEye);

  std::unique_ptr<TImpl> FImpl;
  hmdSizei FEyeSize{0, 0};
  std::int64_t FFormat = 0;
  std::string FRuntimeName;
  TXrRunState FRunState = TXrRunState::xsWaiting;
  bool FVisible = false;
  std::array<hmdPosef, 2> FEyePose{};
  std::array<hmdFovPort, 2> FEyeFov{};
};
