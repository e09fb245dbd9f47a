// E2EProcess: what the end-to-end suites share to drive the real viewer: the build's bin folder,
// shell commands with their output, xdotool calls and polling for a condition. Header-only.
#pragma once

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

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

inline void Xdo(const std::string& AArgs) { Shell("xdotool " + AArgs + " 2>/dev/null"); }

// Polls ACondition every 100 ms until it holds or ATimeout has passed; a last look decides.
inline bool WaitFor(const std::function<bool()>& ACondition, std::chrono::milliseconds ATimeout) {
  const auto End = std::chrono::steady_clock::now() + ATimeout;
  while (std::chrono::steady_clock::now() < End) {
    if (ACondition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return ACondition();
}

}  // namespace e2e
