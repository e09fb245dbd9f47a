#include "shell/Application.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "math/Errors.h"
#include "shell/CommandLine.h"

TApplication Application;

void TApplication::Initialize() {
  if (FInitialized) return;
  if (SDL_Init(SDL_INIT_VIDEO) != 0) throw Exception(std::string("SDL: ") + SDL_GetError());
  // Without a display server SDL falls back to drivers that show nothing; a viewer running there
  // unseen could never be ended from the keyboard. Only an explicit choice of them is honoured.
  const char* Driver = SDL_GetCurrentVideoDriver();
  const char* Chosen = SDL_getenv("SDL_VIDEODRIVER");
  if (Driver && (!Chosen || !*Chosen) &&
      (std::strcmp(Driver, "offscreen") == 0 || std::strcmp(Driver, "dummy") == 0)) {
    SDL_Quit();
    throw Exception(
        "No display found: the viewer needs an X11 or Wayland session (DISPLAY is not set)");
  }
  FInitialized = true;
}

void TApplication::Finalize() {
  if (!FInitialized) return;
  SDL_Quit();
  FInitialized = false;
}

void TApplication::FitToScreen(int& AWidth, int& AHeight) {
  // The window opens at the top-left corner, on the first display.
  SDL_Rect Usable{0, 0, 0, 0};
  if (SDL_GetDisplayUsableBounds(0, &Usable) != 0) return;
  int Width = AWidth, Height = AHeight;
  if (!FitSizeToScreen(Width, Height, Usable.w, Usable.h)) return;
  std::fprintf(stderr,
               "Quenlor: a %dx%d window does not fit the screen's %dx%d; it opens at %dx%d\n",
               AWidth, AHeight, Usable.w, Usable.h, Width, Height);
  std::fflush(stderr);
  AWidth = Width;
  AHeight = Height;
}

void TApplication::Run() {
  if (FMainWindow) SDL_ShowWindow(FMainWindow);
  SDL_Event Event;
  while (!FTerminated) {
    while (!FTerminated && SDL_PollEvent(&Event)) {
      if (Event.type == SDL_QUIT) {
        Terminate();
        break;
      }
      if (FOnEvent) Guarded([&] { FOnEvent(Event); });
    }
    if (FTerminated) break;
    bool Done = true;
    if (FOnIdle) Guarded([&] { FOnIdle(Done); });
    // Without a hook (or when it is content) the loop blocks until something happens, as a
    // message loop does; an event that arrives meanwhile is handled on the next pass.
    if (Done && !FTerminated) SDL_WaitEvent(nullptr);
  }
}

void TApplication::ShowException(const std::string& AMessage) {
  if (FOnReport) {
    FOnReport(AMessage);
    return;
  }
  std::fprintf(stderr, "Quenlor: %s\n", AMessage.c_str());
  std::fflush(stderr);
  // A box needs a video subsystem; without one stderr is the whole report.
  if (FInitialized)
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Quenlor", AMessage.c_str(), FMainWindow);
}

void TApplication::HandleException() {
  try {
    throw;
  } catch (const std::exception& E) {
    ShowException(E.what());
  } catch (...) {
    ShowException("Unknown error");
  }
}
