// E2EProcess: what the end-to-end suites share to drive the real viewer: the build's bin folder,
// shell commands with their output, xdotool calls, polling for a condition and the viewer process
// itself. Header-only.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace e2e {

inline const std::filesystem::path kBin = std::filesystem::path(QUENLOR_BINARY_DIR) / "bin";

// Runs a shell command and returns its standard output without the trailing newline.
inline std::string Shell(const std::string& ACommand) {
  std::string Out;
  if (FILE* Pipe = popen(ACommand.c_str(), "r")) {
    std::array<char, 512> Buffer;
    while (fgets(Buffer.data(), Buffer.size(), Pipe)) Out += Buffer.data();
    pclose(Pipe);
  }
  while (!Out.empty() && (Out.back() == '\n' || Out.back() == '\r')) Out.pop_back();
  return Out;
}

inline void Xdo(const std::string& AArgs) {
  Shell("xdotool " + AArgs + " 2>/dev/null");
}

// Polls ACondition every 100 ms until it holds or ATimeout has passed; a last look decides.
inline bool WaitFor(const std::function<bool()>& ACondition, std::chrono::milliseconds ATimeout) {
  const auto End = std::chrono::steady_clock::now() + ATimeout;
  while (std::chrono::steady_clock::now() < End) {
    if (ACondition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return ACondition();
}

// One viewer process started in its own working directory with its standard error in a file; it
// is killed if it still runs when the object goes. AEnvironment holds names and values; a null
// value unsets the variable.
class TViewerProcess {
 public:
  TViewerProcess(const std::filesystem::path& AExe, const std::filesystem::path& AWorkDir,
                 const std::filesystem::path& AStderr,
                 const std::vector<std::pair<std::string, const char*>>& AEnvironment,
                 const std::vector<std::string>& AArgs)
      : FWorkDir(AWorkDir), FStderr(AStderr) {
    std::filesystem::create_directories(FWorkDir);
    FPid = fork();
    if (FPid == 0) {
      if (chdir(FWorkDir.c_str()) != 0) _exit(126);
      if (!freopen(FStderr.c_str(), "w", stderr)) _exit(126);
      for (const auto& [Name, Value] : AEnvironment)
        if (Value)
          setenv(Name.c_str(), Value, 1);
        else
          unsetenv(Name.c_str());
      std::vector<char*> Argv{const_cast<char*>(AExe.c_str())};
      for (const std::string& Arg : AArgs) Argv.push_back(const_cast<char*>(Arg.c_str()));
      Argv.push_back(nullptr);
      execv(AExe.c_str(), Argv.data());
      _exit(127);
    }
  }
  TViewerProcess(const TViewerProcess&) = delete;
  TViewerProcess& operator=(const TViewerProcess&) = delete;
  ~TViewerProcess() {
    if (FPid > 0 && !FExited) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
    }
  }

  bool Alive() {
    if (FExited) return false;
    if (waitpid(FPid, &FStatus, WNOHANG) == FPid) FExited = true;
    return !FExited;
  }
  // The exit status (128 + the signal for a killed process), or -1 when it did not end in time.
  int WaitForExit(std::chrono::milliseconds ATimeout) {
    WaitFor([&] { return !Alive(); }, ATimeout);
    if (!FExited) return -1;
    return WIFEXITED(FStatus) ? WEXITSTATUS(FStatus) : 128 + WTERMSIG(FStatus);
  }
  std::string Stderr() const {
    std::ifstream In(FStderr);
    return std::string((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  }
  std::vector<std::filesystem::path> ScreenShots() const {
    std::vector<std::filesystem::path> Result;
    for (const auto& E : std::filesystem::directory_iterator(FWorkDir))
      if (E.path().filename().string().rfind("ScreenShot_", 0) == 0) Result.push_back(E.path());
    return Result;
  }
  // The process's visible window whose caption starts with APrefix ("Pos: " once frames run);
  // empty when none shows in time or the process ends.
  std::string FindWindow(const std::string& APrefix, std::chrono::milliseconds ATimeout) {
    WaitFor(
        [&] {
          if (!Alive()) return true;
          std::istringstream Ids(
              Shell("xdotool search --onlyvisible --pid " + std::to_string(FPid) + " 2>/dev/null"));
          for (std::string Id; Ids >> Id;)
            if (Shell("xdotool getwindowname " + Id + " 2>/dev/null").rfind(APrefix, 0) == 0) {
              FWindow = Id;
              return true;
            }
          return false;
        },
        ATimeout);
    return FWindow;
  }
  pid_t Pid() const { return FPid; }

 protected:
  std::filesystem::path FWorkDir, FStderr;
  pid_t FPid = -1;
  bool FExited = false;
  int FStatus = 0;
  std::string FWindow;
};

}  // namespace e2e
