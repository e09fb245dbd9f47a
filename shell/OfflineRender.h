// OfflineRender: --render: the dance rendered without a display (SDL's offscreen driver on EGL)
// at exact times, frame n at n / fps, into numbered PNGs or through ffmpeg into an .mp4 with the
// song muxed in, with a progress bar on stderr; Ctrl+C stops it with what was rendered kept. Part
// of the shell; depends on the viewer's scene and its renderer (TViewerScene) on a context of its
// own, stb_image_write and an ffmpeg program for video (TEncoderProcess).
#pragma once

#include <cstdint>
#include <string>

#include "shell/CommandLine.h"

// The frames of a render: frame numbers First .. First + Count - 1 at AFps, those whose time lies
// in [AFromSeconds, AToSeconds); AToSeconds below 0 or past ALengthMilliseconds means
// ALengthMilliseconds (when it is above 0).
struct TRenderFrames {
  std::int64_t First = 0;
  std::int64_t Count = 0;
};
TRenderFrames RenderFrames(double AFromSeconds, double AToSeconds, double ALengthMilliseconds,
                           int AFps);

bool IsVideoOutput(const std::string& AOut);
// Why the file AOut cannot be written ("the folder \"x\" does not exist", ...); empty when it can.
std::string OutputFileProblem(const std::string& AOut);
// The program's path from PATH; empty when it is not there.
std::string FindProgram(const std::string& AName);

// The ffmpeg command that reads raw RGB frames (bottom row first, as GL reads them) from its
// input and writes AOut, with ASong (may be empty) placed so that the song's time ASongAtStart
// (milliseconds, negative: the song starts that much later) plays with the first frame.
std::string FfmpegCommand(const std::string& AFfmpeg, int AWidth, int AHeight, int AFps,
                          const std::string& ASong, double ASongAtStart, double ADurationSeconds,
                          const std::string& AOut);

// The ffmpeg command of a render of AFrames as AOptions ask for it (size AWidth x AHeight, into
// AOptions.RenderOut), with ASong (may be empty) placed by its offset ASongOffsetMs (the command
// line's or the scene file's; positive: later than the dance) against the first frame.
std::string RenderFfmpegCommand(const TViewerOptions& AOptions, const std::string& AFfmpeg,
                                int AWidth, int AHeight, const TRenderFrames& AFrames,
                                const std::string& ASong, double ASongOffsetMs);

// "[#####.....] 150/300 frames  24.1 frames/s  0:06 left".
std::string ProgressLine(std::int64_t ADone, std::int64_t ATotal, double AFramesPerSecond);

// Runs the whole render; returns the exit status: 0, 1 after a message on stderr, or 130 when
// SIGINT or SIGTERM stopped it (what was rendered is kept and said).
int RunOfflineRender(TViewerOptions AOptions);
