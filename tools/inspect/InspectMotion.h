// InspectMotion: a VMD motion as the reader returns it, as the inspector's JSON document. Depends
// on the readers and the JSON writer.
#pragma once

#include "formats/pmxlib.h"
#include "tools/inspect/JsonWriter.h"

// The frame count, key counts and names of every section; with AKeys every key as read.
void WriteVmd(TJsonWriter& J, const TVmd& AVmd, bool AKeys);
