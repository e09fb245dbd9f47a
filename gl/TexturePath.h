// TexturePath: finds a model's texture file from the path stored in the model. Models are authored
// on a case-insensitive file system with "\" separators; only files inside the model's folder are
// opened. Depends on the C++ standard library (std::filesystem) only.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

// Resolves ATexturePath (as stored in the model, "\" or "/" separated, UTF-8) against the model's
// folder AModelDir. "\" becomes "/"; when the exact path names no regular file, each component is
// matched without regard to case against the entries of its directory. Returns the path of the
// regular file found, or nothing when there is none, when the stored path is empty, absolute
// (also "C:..." drive paths) or climbs out of the folder with "..".
std::optional<std::filesystem::path> ResolveModelTexturePath(const std::filesystem::path& AModelDir,
                                                             const std::string& ATexturePath);

// Case folding used for the comparison: ASCII, Latin-1, Greek, Cyrillic and full-width Latin
// letters fold to lower case; everything else (Japanese included) compares as it is.
std::string FoldCase(const std::string& AText);
