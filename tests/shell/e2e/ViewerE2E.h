// ViewerE2E: what the desktop end-to-end suites share: the viewer process with its window,
// screenshots read back, the test fixture with its install folders, and the error box.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stb/stb_image.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/shell/E2EPicture.h"
#include "tests/shell/E2EProcess.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace viewer_e2e {

using e2e::kBin;
using e2e::Shell;
using e2e::Xdo;

// A screenshot read back: an RGB picture, row 0 at the top.
using TPixels = e2e::TPicture;
using e2e::ReadBmp;

inline bool Near(const e2e::TRgb& A, int R, int G, int B, int ATolerance) {
  return std::abs(A[0] - R) <= ATolerance && std::abs(A[1] - G) <= ATolerance &&
         std::abs(A[2] - B) <= ATolerance;
}

template <class TPred>
inline int Count(const TPixels& P, TPred APred, int X0 = 0, int Y0 = 0, int X1 = -1, int Y1 = -1) {
  if (X1 < 0) X1 = P.Width;
  if (Y1 < 0) Y1 = P.Height;
  int N = 0;
  for (int Y = Y0; Y < Y1; ++Y)
    for (int X = X0; X < X1; ++X) N += APred(P.At(X, Y)) ? 1 : 0;
  return N;
}

// One viewer process, started from its own folder with its own working directory.
class TViewer : public e2e::TViewerProcess {
 public:
  // AExe is the viewer inside a folder laid out like bin/; screenshots land in AWorkDir, standard
  // error beside it (so that a test may take the directory away). AArgs follow the program name.
  TViewer(const fs::path& AExe, const fs::path& AWorkDir,
          const std::vector<std::pair<std::string, std::string>>& AEnvironment = {},
          const std::vector<std::string>& AArgs = {})
      : TViewerProcess(AExe, AWorkDir, AWorkDir.string() + ".stderr.txt", Values(AEnvironment),
                       AArgs) {}

  // The main window: the process's visible window whose caption shows the position.
  std::string FindMainWindow(std::chrono::milliseconds ATimeout = 20s) {
    return FindWindow("Pos: ", ATimeout);
  }
  void Focus() { Xdo("windowfocus --sync " + FWindow); }
  std::string Caption() { return Shell("xdotool getwindowname " + FWindow + " 2>/dev/null"); }
  // Z of "Pos: (x, y, z)".
  float CaptionZ() {
    const std::string C = Caption();
    float X = 0, Y = 0, Z = 0;
    std::sscanf(C.c_str(), "Pos: (%f, %f, %f)", &X, &Y, &Z);
    return Z;
  }

  // Presses Print Screen and returns the new screenshot (empty when none appears).
  fs::path ScreenShot() {
    std::vector<fs::path> Before = ScreenShots();
    Focus();
    Xdo("key Print");
    const auto End = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < End) {
      for (const fs::path& P : ScreenShots())
        if (std::find(Before.begin(), Before.end(), P) == Before.end()) {
          std::this_thread::sleep_for(200ms);  // let the writer finish
          return P;
        }
      std::this_thread::sleep_for(50ms);
    }
    return {};
  }
  // The exit status, or -1 when the process did not end in time.
  int WaitForExit(std::chrono::milliseconds ATimeout = 10s) {
    return TViewerProcess::WaitForExit(ATimeout);
  }

 private:
  // The environment as the process starts it: values pointing into AEnvironment's strings.
  static std::vector<std::pair<std::string, const char*>> Values(
      const std::vector<std::pair<std::string, std::string>>& AEnvironment) {
    std::vector<std::pair<std::string, const char*>> Result;
    for (const auto& [Name, Value] : AEnvironment) Result.emplace_back(Name, Value.c_str());
    return Result;
  }
};

class ViewerEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    ASSERT_TRUE(fs::exists(kBin / "quenlor"));
    FRoot = fs::temp_directory_path() /
            ("quenlor_e2e_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FRoot);
    fs::create_directories(FRoot);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(FRoot);
  }
  // A copy of bin/ without the given parts, folders or files (the executable finds its files
  // beside itself).
  fs::path InstallWithout(const std::vector<std::string>& AMissing) {
    const fs::path Dir = FRoot / "install";
    fs::create_directories(Dir);
    fs::copy(kBin / "quenlor", Dir / "quenlor");
    for (const char* Part : {"Toon", "mmd/model", "mmd/motion"}) {
      if (std::find(AMissing.begin(), AMissing.end(), Part) != AMissing.end()) continue;
      fs::create_directories(Dir / Part);
      fs::copy(kBin / Part, Dir / Part, fs::copy_options::recursive);
    }
    for (const std::string& Part : AMissing) fs::remove(Dir / Part);
    return Dir / "quenlor";
  }
  // The default character without its camera: the viewer walks from the start, at (0, 1.7, 2).
  fs::path Walking() { return InstallWithout({"mmd/motion/camera.vmd"}); }
  fs::path FRoot;
};

// The default camera's first key: the eye 4 m in front of her at 1.35 m (she stands at z -2.5).
constexpr const char* kCameraStartCaption = "Pos: (0.00, 1.35, 1.50)";

// The region around the character in the default view (window 960 x 540).
constexpr int kCharX0 = 400, kCharX1 = 560, kCharY0 = 250, kCharY1 = 530;

// Finds SDL's error box: a visible window titled "Quenlor" (the main window is not mapped yet while
// start-up reports). Its title is only in the UTF-8 name property, so all visible windows are read.
inline std::string FindErrorBox(TViewer& AViewer, int ATries) {
  for (int I = 0; I < ATries && AViewer.Alive(); ++I) {
    std::istringstream Ids(Shell("xdotool search --onlyvisible --class '.*' 2>/dev/null"));
    for (std::string Id; Ids >> Id;)
      if (Shell("xdotool getwindowname " + Id + " 2>/dev/null") == "Quenlor") return Id;
    std::this_thread::sleep_for(100ms);
  }
  return {};
}

// Changed pixels in the box around her (the ground and sky far from her never change).
// Differing pixels inside the box [AX0, AX1) x [AY0, AY1); -1 when the sizes differ.
inline int DifferentPixelsIn(const TPixels& A, const TPixels& B, int AX0, int AY0, int AX1,
                             int AY1) {
  if (A.Width != B.Width || A.Height != B.Height) return -1;
  int N = 0;
  for (int Y = AY0; Y < AY1; ++Y)
    for (int X = AX0; X < AX1; ++X) N += A.At(X, Y) != B.At(X, Y);
  return N;
}

inline int DifferentPixelsNearHer(const TPixels& A, const TPixels& B) {
  if (A.Width != B.Width || A.Height != B.Height) return -1;
  int N = 0;
  for (int Y = kCharY0 - 100; Y < kCharY1; ++Y)
    for (int X = kCharX0 - 100; X < kCharX1 + 100; ++X) N += A.At(X, Y) != B.At(X, Y);
  return N;
}

}  // namespace viewer_e2e
