// pmxlib: readers for PMX models (TPmx), VMD motions (TVmd) and VPD poses (read as motions),
// converting both into the system's
// right-handed frame (positions x 0.1, Z mirrored) while reading, plus the text decoding they
// need (UTF-16LE, UTF-8, code page 932). Depends on math (VectorTypes) and glibc iconv.
#pragma once

#include "formats/ByteStream.h"
#include "formats/FileBytes.h"
#include "formats/Pmx.h"
#include "formats/PmxSettings.h"
#include "formats/TextDecoding.h"
#include "formats/Vmd.h"
