// SceneFile: the scene file, a TOML text that holds a TSceneDescription so that people can write
// scenes by hand and read them in a diff:
//
//   song = "song.ogg"            # optional
//   song_offset_ms = 120         # optional, integer or float
//   camera = "camera.vmd"        # optional
//   [[model]]                    # one table per dancer, in order
//   file = "dancer/dancer.pmx"
//   motions = ["dance.vmd", "face.vmd"]   # optional
//   at = [0.0, 0.0, 0.0]         # optional, model units
//   yaw = 0.0                    # optional, degrees
//   [[stage]]                    # any number, with the same keys as a model
//
// Paths in the file are relative to its folder (absolute ones stay). [[model]] and [[stage]]
// tables may be interleaved: the models come out in the order they stand in the file.
// Part of the scene; depends on formats (file reads) and toml++ (no GL, no SDL).
#pragma once

#include <string>
#include <string_view>

#include "math/Errors.h"
#include "scene/SceneDescription.h"

// Every scene file fault: what() is "<file>:<line>: <what was wrong>, expected <what>", or the
// file layer's message for a file that cannot be read or written.
class ESceneFileError : public Exception {
 public:
  using Exception::Exception;
};

// AText as read from ASourcePath, which names the file in messages and whose folder the relative
// paths start from. Every path in the result is absolute and lexically normal; Named is true. An
// empty `file` is the default character; an empty song or camera is none.
TSceneDescription ParseSceneText(std::string_view AText, const std::string& ASourcePath);

// Reads APath and parses it.
TSceneDescription ReadSceneFile(const std::string& APath);

// The text to save at AScenePath: paths relative to its folder with forward slashes, keys at
// their defaults left out, [[model]] and [[stage]] tables in the scene's order, numbers that read
// back to the same value. Throws for a number that is not finite.
std::string SceneFileText(const TSceneDescription& AScene, const std::string& AScenePath);

// Writes SceneFileText to a file beside APath and renames it over APath, so that a failed save
// leaves the old file whole.
void WriteSceneFile(const TSceneDescription& AScene, const std::string& APath);
