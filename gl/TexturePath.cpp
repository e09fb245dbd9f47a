#include "gl/TexturePath.h"

#include <algorithm>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Lower case of one code point for the scripts that have case; others unchanged.
char32_t FoldCodePoint(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 0x20;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;     // Latin-1
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;  // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;                // Cyrillic Ѐ..Џ
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 0x20;              // full-width A..Z
  return c;
}

void AppendUtf8(std::string& AOut, char32_t c) {
  if (c < 0x80) {
    AOut += char(c);
  } else if (c < 0x800) {
    AOut += char(0xC0 | (c >> 6));
    AOut += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    AOut += char(0xE0 | (c >> 12));
    AOut += char(0x80 | ((c >> 6) & 0x3F));
    AOut += char(0x80 | (c & 0x3F));
  } else {
    AOut += char(0xF0 | (c >> 18));
    AOut += char(0x80 | ((c >> 12) & 0x3F));
    AOut += char(0x80 | ((c >> 6) & 0x3F));
    AOut += char(0x80 | (c & 0x3F));
  }
}

bool IsRegularFile(const fs::path& APath) {
  std::error_code ec;
  return fs::is_regular_file(APath, ec);
}

bool IsDirectory(const fs::path& APath) {
  std::error_code ec;
  return fs::is_directory(APath, ec);
}

// The entry of ADir whose name equals AName without regard to case; the exact name wins, then the
// first in sorted order, so the choice does not depend on the directory's listing order.
std::optional<fs::path> FindEntry(const fs::path& ADir, const std::string& AName) {
  std::error_code ec;
  if (fs::symlink_status(ADir / AName, ec).type() != fs::file_type::not_found && !ec)
    return ADir / AName;
  const std::string key = FoldCase(AName);
  std::vector<std::string> matches;
  for (fs::directory_iterator it(ADir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (FoldCase(name) == key) matches.push_back(name);
  }
  if (matches.empty()) return std::nullopt;
  return ADir / *std::min_element(matches.begin(), matches.end());
}

}  // namespace

std::string FoldCase(const std::string& AText) {
  std::string out;
  out.reserve(AText.size());
  for (std::size_t i = 0; i < AText.size();) {
    const unsigned char b = static_cast<unsigned char>(AText[i]);
    int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > AText.size()) {
      out += AText[i++];  // not UTF-8: keep the byte
      continue;
    }
    char32_t c = len == 1 ? b : b & (0x3F >> (len - 1));
    bool valid = true;
    for (int k = 1; k < len; ++k) {
      const unsigned char t = static_cast<unsigned char>(AText[i + k]);
      if ((t & 0xC0) != 0x80) valid = false;
      c = (c << 6) | (t & 0x3F);
    }
    if (!valid) {
      out += AText[i++];
      continue;
    }
    AppendUtf8(out, FoldCodePoint(c));
    i += len;
  }
  return out;
}

std::optional<fs::path> ResolveModelTexturePath(const fs::path& AModelDir,
                                                const std::string& ATexturePath) {
  std::string stored = ATexturePath;
  std::replace(stored.begin(), stored.end(), '\\', '/');
  if (stored.empty() || stored[0] == '/') return std::nullopt;
  // "C:/..." names a drive of the authoring system: outside the folder.
  if (stored.size() >= 2 && stored[1] == ':' &&
      ((stored[0] >= 'A' && stored[0] <= 'Z') || (stored[0] >= 'a' && stored[0] <= 'z')))
    return std::nullopt;

  // Split into components, dropping empty and "." ones; ".." removes the previous component and
  // makes the path missing when there is none left to remove.
  std::vector<std::string> parts;
  for (std::size_t start = 0; start <= stored.size();) {
    std::size_t end = stored.find('/', start);
    if (end == std::string::npos) end = stored.size();
    const std::string part = stored.substr(start, end - start);
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  if (parts.empty()) return std::nullopt;

  fs::path exact = AModelDir;
  for (const std::string& part : parts) exact /= part;
  if (IsRegularFile(exact)) return exact;

  fs::path found = AModelDir;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (!IsDirectory(found)) return std::nullopt;
    const std::optional<fs::path> next = FindEntry(found, parts[i]);
    if (!next) return std::nullopt;
    found = *next;
  }
  if (IsRegularFile(found)) return found;
  return std::nullopt;
}
