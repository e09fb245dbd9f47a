// TEncoderProcess: --render's video encoder (an ffmpeg command line) run by /bin/sh with its input
// on a pipe from the viewer and its messages kept in a file for the error report. Part of the
// shell; POSIX only, no SDL.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

class TEncoderProcess {
 public:
  // Starts ACommand in a process group of its own, so that a Ctrl+C typed in the terminal reaches
  // the viewer alone and the viewer ends the video cleanly. Throws Exception when it cannot start.
  explicit TEncoderProcess(const std::string& ACommand);
  // Closes its input and waits for it, as Finish does.
  ~TEncoderProcess();
  TEncoderProcess(const TEncoderProcess&) = delete;
  TEncoderProcess& operator=(const TEncoderProcess&) = delete;

  // Writes all of AData; false when the encoder takes no more (it has ended). SIGPIPE must be
  // ignored by the caller, or such a write ends the viewer.
  bool Write(const std::uint8_t* AData, std::size_t ASize);
  // Closes its input (the encoder then finishes the file) and waits for it to end; true when it
  // ended with status 0. Later calls return the first one's answer.
  bool Finish();
  // What it wrote on its error output, the last lines, without the final line break.
  std::string Messages() const;

 private:
  pid_t FPid = -1;
  int FInput = -1;
  bool FSucceeded = false;
  std::string FMessagesFile;
};
