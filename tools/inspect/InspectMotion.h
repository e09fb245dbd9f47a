// InspectMotion: a VMD motion or a VPD pose as the readers return them, as the inspector's JSON
// document. Depends
// on the readers and the JSON writer.
#pragma once

#include "formats/pmxlib.h"
#include "tools/inspect/JsonWriter.h"

// The frame count, key counts and names of every section; with AKeys every key as read.
void WriteVmd(TJsonWriter& J, const TVmd& AVmd, bool AKeys);
// A pose: the model it was made on, every bone (name, translation, rotation in the viewer's
// frame) and morph (name, weight) in file order; names whole, not cut to a key's 15 bytes.
void WriteVpd(TJsonWriter& J, const TVpdPose& APose);
