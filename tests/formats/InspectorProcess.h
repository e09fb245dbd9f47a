// Runs the built quenlor-inspect as a real process and captures its exit code, stdout and stderr,
// for the inspector's tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

struct TInspectorRun {
  int ExitCode;
  std::string Out, Err;
};

inline std::string SlurpFile(const std::string& APath) {
  std::ifstream In(APath, std::ios::binary);
  std::stringstream S;
  S << In.rdbuf();
  return S.str();
}

// AArguments go through the shell as written (quote what the shell would split).
inline TInspectorRun Inspect(const std::string& AArguments) {
  // CTest runs each case as its own process, possibly side by side: one pair of files each.
  const std::string Base = testing::TempDir() + "inspect." + std::to_string(getpid());
  const std::string Out = Base + ".out", Err = Base + ".err";
  const std::string Command = std::string(QUENLOR_BINARY_DIR) + "/bin/quenlor-inspect " +
                              AArguments + " >" + Out + " 2>" + Err;
  const int Status = std::system(Command.c_str());
  TInspectorRun Result{WIFEXITED(Status) ? WEXITSTATUS(Status) : -1, SlurpFile(Out),
                       SlurpFile(Err)};
  std::remove(Out.c_str());
  std::remove(Err.c_str());
  return Result;
}
