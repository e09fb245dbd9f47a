// quenlor: the viewer's program entry. The runtime binding and the TGA registration start with
// their modules; here the application object, the main window and the message loop.
#include <cstdio>
#include <memory>

#include "shell/Application.h"
#include "shell/UMainForm2.h"

int main() {
  try {
    Application.Initialize();
  } catch (...) {
    Application.HandleException();
    return 1;
  }
  {
    std::unique_ptr<TForm2> Form;
    if (Application.Guarded([&] { Form = std::make_unique<TForm2>(); })) Application.Run();
  }
  Application.Finalize();
  return 0;
}
