// A PMX model built in code that uses every section and every kind of record, for the reader tests
// and the fuzzers' seed corpus. Depends on the PMX writer only.
#pragma once

#include "formats/PmxWriter.h"

// A model that uses every section and every kind of record: all weight methods (and an unknown
// one), additional UVs, shared and own toons, every bone field, IK with and without limits, every
// morph kind (and an unknown one), display frames, rigid bodies, joints and (for 2.1) soft bodies.
// Values are exact in both frames, so a write / read / write round trip is byte-identical.
TPmxBuilder RichModel(float AVersion = 2.1f);
