// Whole-file reads for the readers, plus the stream error they share.
#include "formats/FileBytes.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "formats/ByteStream.h"
#include "math/Errors.h"

void RaiseStreamReadError() {
  throw Exception(StreamReadErrorMessage);
}

namespace {

[[noreturn]] void RaiseOpenError(const std::string& AFileName, int AError) {
  throw Exception("Cannot open file \"" + AFileName + "\". " + std::strerror(AError));
}

}  // namespace

std::vector<uint8_t> ReadFileBytes(const std::string& AFileName) {
  std::unique_ptr<FILE, int (*)(FILE*)> File(std::fopen(AFileName.c_str(), "rb"), &std::fclose);
  if (!File) RaiseOpenError(AFileName, errno);
  std::vector<uint8_t> Bytes;
  // The size is only a hint: reading goes on in chunks to the real end, so pipes and files that
  // change while being read work too.
  struct stat Info;
  if (fstat(fileno(File.get()), &Info) == 0 && S_ISREG(Info.st_mode) && Info.st_size > 0)
    Bytes.reserve(static_cast<size_t>(Info.st_size));
  uint8_t Chunk[65536];
  for (;;) {
    const size_t N = std::fread(Chunk, 1, sizeof(Chunk), File.get());
    Bytes.insert(Bytes.end(), Chunk, Chunk + N);
    if (N < sizeof(Chunk)) break;
  }
  if (std::ferror(File.get())) RaiseOpenError(AFileName, errno ? errno : EIO);
  return Bytes;
}
