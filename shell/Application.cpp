#include "shell/Application.h"

#include <cstdio>
#include <string>

#include "math/Errors.h"

TApplication Application;

void TApplication::Initialize() {
  if (FInitialized) return;
  if (SDL_Init(SDL_INIT_VIDEO) != 0) throw Exception(std::string("SDL: ") + SDL_GetError());
  FInitialized = true;
}

void TApplication::Finalize() {
  if (!FInitialized) return;
  SDL_Quit();
  FInitialized = false;
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
