// TApplication: the viewer's application object over SDL2: the message loop with its idle hook,
// the quit request and the default error report (a message box plus stderr).
// Part of the UMainForm2 module; depends on SDL2 only.
#pragma once

#include <SDL.h>

#include <exception>
#include <functional>
#include <string>

class TApplication {
 public:
  // The idle hook sets ADone to false to be called again as soon as the queue is empty; left true,
  // the loop waits for the next event first.
  using TIdleEvent = std::function<void(bool& ADone)>;
  using TEventHandler = std::function<void(const SDL_Event& AEvent)>;

  // Starts SDL's video subsystem. Throws Exception with SDL's reason when it cannot.
  void Initialize();
  // Shuts SDL down again (after the main window is gone).
  void Finalize();

  // The window that parents error boxes and is shown when the loop starts (may be null).
  void SetMainWindow(SDL_Window* AWindow) { FMainWindow = AWindow; }
  SDL_Window* MainWindow() const { return FMainWindow; }
  void SetOnEvent(TEventHandler AHandler) { FOnEvent = std::move(AHandler); }
  void SetOnIdle(TIdleEvent AHandler) { FOnIdle = std::move(AHandler); }
  bool HasIdleHook() const { return static_cast<bool>(FOnIdle); }

  // Shows the main window, then dispatches events and calls the idle hook until Terminate.
  // An exception that escapes a handler or the hook goes to HandleException; the loop goes on.
  void Run();
  // Requests quit: the loop ends after the current dispatch.
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }

  // The default error report: the message in an error box (when one can be shown) and on stderr;
  // to AHandler instead while one is set (tests that drive the form in-process).
  void ShowException(const std::string& AMessage);
  void SetOnReport(std::function<void(const std::string&)> AHandler) {
    FOnReport = std::move(AHandler);
  }
  // Reports the exception that is being handled (call from a catch block).
  void HandleException();

  // Shrinks a window size asked for to the usable area of the first display, keeping its shape
  // (FitSizeToScreen), and says so on stderr in one line. Needs Initialize.
  static void FitToScreen(int& AWidth, int& AHeight);

  // Runs AProc and reports anything it throws; true when it returned normally.
  template <typename TProc>
  bool Guarded(TProc&& AProc) {
    try {
      AProc();
      return true;
    } catch (...) {
      HandleException();
      return false;
    }
  }

 private:
  SDL_Window* FMainWindow = nullptr;
  TEventHandler FOnEvent;
  TIdleEvent FOnIdle;
  std::function<void(const std::string&)> FOnReport;
  bool FTerminated = false;
  bool FInitialized = false;
};

// The one application object of the process.
extern TApplication Application;
