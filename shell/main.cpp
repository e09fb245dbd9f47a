// quenlor: the viewer's program entry: the command line, the runtime binding, the application
// object, the main window and the message loop, in that order (the TGA format registers itself
// with its module).
#include <cstdio>
#include <memory>

#include "hmd/HmdRuntime.h"
#include "shell/Application.h"
#include "shell/CommandLine.h"
#include "shell/OfflineRender.h"
#include "shell/UMainForm2.h"

int main(int argc, char** argv) {
  TViewerOptions Options;
  // Help, version and usage errors end here, before any window or runtime.
  if (const int Status = HandleCommandLine(argc, argv, Options); Status >= 0) return Status;
  // The runtime binding's life spans the program's: it starts before any window (and masks the
  // floating-point exceptions) and ends after the window is gone.
  THmdRuntimeLifetime Runtime;
  // --render draws without a window or display and ends.
  if (Options.Rendering()) return RunOfflineRender(Options);
  try {
    Application.Initialize();
  } catch (...) {
    Application.HandleException();
    return 1;
  }
  int ExitCode = 0;
  {
    // Without a window (no display, no GL pixel format) there is nothing to run.
    std::unique_ptr<TForm2> Form;
    if (Application.Guarded([&] { Form = std::make_unique<TForm2>(Options); }))
      Application.Run();
    else
      ExitCode = 1;
  }
  Application.Finalize();
  return ExitCode;
}
