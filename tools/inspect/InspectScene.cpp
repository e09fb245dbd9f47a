// The inspector's scene document.
#include "tools/inspect/InspectScene.h"

#include <string>

#include "tools/inspect/InspectDocument.h"

namespace {

void PathOrNull(TJsonWriter& J, const char* AKey, const std::string& APath) {
  J.Key(AKey);
  if (APath.empty())
    J.Null();
  else
    J.String(APath);
}

}  // namespace

void WriteScene(TJsonWriter& J, const TSceneDescription& AScene) {
  J.BeginObject();
  StringMember(J, "format", "scene");
  PathOrNull(J, "camera", AScene.CameraPath);
  PathOrNull(J, "song", AScene.SongPath);
  J.Key("song_offset_ms");
  J.Double(AScene.SongOffsetMs);
  J.Key("models");
  J.BeginArray();
  for (const TSceneEntry& Entry : AScene.Models) {
    J.BeginObject();
    // Empty: the viewer's own default character.
    PathOrNull(J, "file", Entry.Path);
    J.Key("stage");
    J.Bool(Entry.Stage);
    J.Key("motions");
    J.BeginArray(true);
    for (const std::string& Motion : Entry.MotionPaths) J.String(Motion);
    J.EndArray();
    J.Key("at");
    J.Floats(Entry.Placement.At.data(), 3);
    FloatMember(J, "yaw", Entry.Placement.YawDegrees);
    J.EndObject();
  }
  J.EndArray();
  J.EndObject();
}
