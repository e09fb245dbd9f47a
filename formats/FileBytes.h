// The readers' thin file layer: a whole file into memory. Depends on math/Errors.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The file's bytes. Fails with an Exception naming the file and the system's reason, e.g.
// "Cannot open file "x.pmx". No such file or directory".
std::vector<uint8_t> ReadFileBytes(const std::string& AFileName);
