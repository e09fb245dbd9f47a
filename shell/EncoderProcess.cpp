#include "shell/EncoderProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "math/Errors.h"

extern char** environ;

namespace {

// One argument for /bin/sh: single-quoted, a quote inside closed, escaped and reopened.
std::string ShellQuoted(const std::string& AText) {
  std::string Result = "'";
  for (char C : AText) Result += C == '\'' ? std::string("'\\''") : std::string(1, C);
  return Result + "'";
}

// Whole lines of AText from the end, at most AMaxBytes of them.
std::string LastLines(std::string AText, std::size_t AMaxBytes) {
  while (!AText.empty() && (AText.back() == '\n' || AText.back() == '\r')) AText.pop_back();
  if (AText.size() <= AMaxBytes) return AText;
  const std::size_t Start = AText.find('\n', AText.size() - AMaxBytes);
  return Start == std::string::npos ? AText.substr(AText.size() - AMaxBytes)
                                    : AText.substr(Start + 1);
}

}  // namespace

TEncoderProcess::TEncoderProcess(const std::string& ACommand) {
  std::string Template =
      (std::filesystem::temp_directory_path() / "quenlor-encoder-XXXXXX").string();
  const int Log = mkstemp(Template.data());
  if (Log < 0)
    throw Exception(std::string("Cannot make a file for ffmpeg's messages: ") +
                    std::strerror(errno));
  close(Log);
  FMessagesFile = Template;
  const std::string Command = ACommand + " 2>" + ShellQuoted(FMessagesFile);

  int Pipe[2];
  if (pipe2(Pipe, O_CLOEXEC) != 0) {
    std::filesystem::remove(FMessagesFile);
    throw Exception(std::string("Cannot make a pipe for ffmpeg: ") + std::strerror(errno));
  }
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_adddup2(&Actions, Pipe[0], STDIN_FILENO);
  posix_spawnattr_t Attributes;
  posix_spawnattr_init(&Attributes);
  posix_spawnattr_setpgroup(&Attributes, 0);
  // The viewer ignores SIGPIPE while it renders; the encoder gets the usual dispositions.
  sigset_t Defaults;
  sigemptyset(&Defaults);
  sigaddset(&Defaults, SIGPIPE);
  sigaddset(&Defaults, SIGINT);
  sigaddset(&Defaults, SIGTERM);
  posix_spawnattr_setsigdefault(&Attributes, &Defaults);
  posix_spawnattr_setflags(&Attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
  const char* Argv[] = {"/bin/sh", "-c", Command.c_str(), nullptr};
  const int Error =
      posix_spawn(&FPid, "/bin/sh", &Actions, &Attributes, const_cast<char* const*>(Argv), environ);
  posix_spawn_file_actions_destroy(&Actions);
  posix_spawnattr_destroy(&Attributes);
  close(Pipe[0]);
  if (Error != 0) {
    close(Pipe[1]);
    FPid = -1;
    std::filesystem::remove(FMessagesFile);
    throw Exception(std::string("Cannot start ffmpeg: ") + std::strerror(Error));
  }
  FInput = Pipe[1];
}

TEncoderProcess::~TEncoderProcess() {
  Finish();
  std::error_code Ignored;
  std::filesystem::remove(FMessagesFile, Ignored);
}

bool TEncoderProcess::Write(const std::uint8_t* AData, std::size_t ASize) {
  if (FInput < 0) return false;
  while (ASize > 0) {
    const ssize_t N = write(FInput, AData, ASize);
    if (N < 0) {
      // A signal (Ctrl+C) interrupts the write; the frame is finished all the same, so that the
      // encoder never gets a part of one.
      if (errno == EINTR) continue;
      return false;
    }
    AData += N;
    ASize -= static_cast<std::size_t>(N);
  }
  return true;
}

bool TEncoderProcess::Finish() {
  if (FInput >= 0) {
    close(FInput);
    FInput = -1;
  }
  if (FPid > 0) {
    int Status = 0;
    pid_t Ended;
    do Ended = waitpid(FPid, &Status, 0);
    while (Ended < 0 && errno == EINTR);
    FSucceeded = Ended == FPid && WIFEXITED(Status) && WEXITSTATUS(Status) == 0;
    FPid = -1;
  }
  return FSucceeded;
}

std::string TEncoderProcess::Messages() const {
  std::ifstream In(FMessagesFile, std::ios::binary);
  std::ostringstream Text;
  Text << In.rdbuf();
  return LastLines(Text.str(), 600);
}
