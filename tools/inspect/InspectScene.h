// InspectScene: a scene file as the viewer resolves it, as the inspector's JSON document. Depends
// on the scene file reader and the JSON writer.
#pragma once

#include "scene/SceneDescription.h"
#include "tools/inspect/JsonWriter.h"

// The camera, the song and its offset, then every model and stage in order with its motions and
// placement; every path absolute, a missing camera or song null.
void WriteScene(TJsonWriter& J, const TSceneDescription& AScene);
