#include "scene/SceneFile.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "formats/FileBytes.h"

// Only the parser is used: the formatters would only add to the build.
#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

namespace fs = std::filesystem;

namespace {

// ---- Reading ----

// "a string", "an integer", ... for "<key> is a string, expected ...".
const char* TypeName(const toml::node& ANode) {
  switch (ANode.type()) {
    case toml::node_type::table:
      return "a table";
    case toml::node_type::array:
      return "an array";
    case toml::node_type::string:
      return "a string";
    case toml::node_type::integer:
      return "an integer";
    case toml::node_type::floating_point:
      return "a float";
    case toml::node_type::boolean:
      return "a boolean";
    case toml::node_type::date:
      return "a date";
    case toml::node_type::time:
      return "a time";
    case toml::node_type::date_time:
      return "a date-time";
    default:
      return "nothing";
  }
}

class TSceneReader {
 public:
  explicit TSceneReader(const std::string& ASourcePath) : FSource(ASourcePath) {
    std::error_code Error;
    const fs::path Absolute = fs::absolute(fs::path(ASourcePath), Error);
    FFolder = (Error ? fs::path(ASourcePath) : Absolute).parent_path();
  }

  [[noreturn]] void Fail(const toml::source_region& AAt, const std::string& AText) const {
    throw ESceneFileError(FSource + ":" + std::to_string(AAt.begin.line) + ": " + AText);
  }

  // A path from the file: relative ones start from the file's folder.
  std::string Resolve(const std::string& APath) const {
    if (APath.empty()) return APath;
    const fs::path Path(APath);
    return (Path.is_absolute() ? Path : FFolder / Path).lexically_normal().string();
  }

  std::string PathOf(const toml::node& ANode, const std::string& AName, const char* AWhat) const {
    const auto* Text = ANode.as_string();
    if (!Text)
      Fail(ANode.source(),
           AName + " is " + TypeName(ANode) + ", expected a string (" + AWhat + ")");
    return Resolve(Text->get());
  }

  // A number that fits T and is finite; integers are numbers too.
  template <typename T>
  T NumberOf(const toml::node& ANode, const std::string& AName, const char* AExpected) const {
    double Value;
    if (const auto* I = ANode.as_integer())
      Value = static_cast<double>(I->get());
    else if (const auto* F = ANode.as_floating_point())
      Value = F->get();
    else
      Fail(ANode.source(), AName + " is " + TypeName(ANode) + ", expected " + AExpected);
    const T Result = static_cast<T>(Value);
    if (!std::isfinite(Result))
      Fail(ANode.source(), AName + " is not a finite number, expected " + AExpected);
    return Result;
  }

  TSceneEntry Entry(const toml::node& ANode, bool AStage) const {
    const std::string Kind = AStage ? "[[stage]]" : "[[model]]";
    const auto* Table = ANode.as_table();
    if (!Table)
      Fail(ANode.source(), std::string("an item of ") + (AStage ? "stage" : "model") + " is " +
                               TypeName(ANode) + ", expected a table " + Kind);
    TSceneEntry Entry;
    Entry.Stage = AStage;
    bool HasFile = false;
    for (const auto& [Key, Value] : *Table) {
      const std::string Name(Key.str());
      if (Name == "file") {
        Entry.Path = PathOf(Value, Name, AStage ? "the stage's model file" : "the model file");
        HasFile = true;
      } else if (Name == "motions") {
        const auto* List = Value.as_array();
        if (!List)
          Fail(Value.source(),
               "motions is " + std::string(TypeName(Value)) + ", expected an array of strings");
        for (std::size_t I = 0; I < List->size(); ++I) {
          const toml::node& Item = *List->get(I);
          const std::string ItemName = "motions[" + std::to_string(I) + "]";
          std::string Path = PathOf(Item, ItemName, "a motion file");
          if (Path.empty()) Fail(Item.source(), ItemName + " is empty, expected a motion file");
          Entry.MotionPaths.push_back(std::move(Path));
        }
      } else if (Name == "at") {
        const auto* List = Value.as_array();
        if (!List)
          Fail(Value.source(),
               "at is " + std::string(TypeName(Value)) + ", expected an array of 3 numbers");
        if (List->size() != 3)
          Fail(Value.source(),
               "at has " + std::to_string(List->size()) + " items, expected 3 numbers");
        for (std::size_t I = 0; I < 3; ++I)
          Entry.Placement.At[I] =
              NumberOf<float>(*List->get(I), "at[" + std::to_string(I) + "]", "a number");
      } else if (Name == "yaw") {
        Entry.Placement.YawDegrees = NumberOf<float>(Value, Name, "a number of degrees");
      } else {
        Fail(Key.source(),
             "unknown key \"" + Name + "\" in " + Kind + ", expected file, motions, at or yaw");
      }
    }
    if (!HasFile) Fail(ANode.source(), "no file in " + Kind + ", expected file = \"<path>\"");
    return Entry;
  }

  TSceneDescription Scene(const toml::table& ARoot) const {
    TSceneDescription Scene;
    Scene.Named = true;
    // Tables are maps: the entries are put back in file order by where each one starts.
    struct TPlaced {
      toml::source_position At;
      TSceneEntry Entry;
    };
    std::vector<TPlaced> Entries;
    for (const auto& [Key, Value] : ARoot) {
      const std::string Name(Key.str());
      if (Name == "song") {
        Scene.SongPath = PathOf(Value, Name, "the song file");
      } else if (Name == "camera") {
        Scene.CameraPath = PathOf(Value, Name, "the camera motion file");
      } else if (Name == "song_offset_ms") {
        Scene.SongOffsetMs = NumberOf<double>(Value, Name, "a number of milliseconds");
      } else if (Name == "model" || Name == "stage") {
        const auto* List = Value.as_array();
        if (!List)
          Fail(Value.source(), Name + " is " + TypeName(Value) + ", expected [[" + Name + "]]");
        for (const toml::node& Item : *List)
          Entries.push_back({Item.source().begin, Entry(Item, Name == "stage")});
      } else if (Value.is_table() || Value.is_array_of_tables()) {
        const std::string Header = Value.is_table() ? "[" + Name + "]" : "[[" + Name + "]]";
        Fail(Key.source(), "unknown table " + Header + ", expected [[model]] or [[stage]]");
      } else {
        Fail(Key.source(), "unknown key \"" + Name +
                               "\", expected song, song_offset_ms, camera, [[model]] or [[stage]]");
      }
    }
    std::stable_sort(Entries.begin(), Entries.end(), [](const TPlaced& A, const TPlaced& B) {
      return std::tie(A.At.line, A.At.column) < std::tie(B.At.line, B.At.column);
    });
    for (TPlaced& Placed : Entries) Scene.Models.push_back(std::move(Placed.Entry));
    return Scene;
  }

 private:
  std::string FSource;
  fs::path FFolder;
};

// ---- Writing ----

// A TOML basic string: UTF-8 as it is, quotes, backslashes and control characters escaped.
std::string Quoted(std::string_view AText) {
  std::string Out = "\"";
  for (const char C : AText) {
    const auto Byte = static_cast<unsigned char>(C);
    if (C == '"' || C == '\\') {
      Out += '\\';
      Out += C;
    } else if (Byte < 0x20 || Byte == 0x7F) {
      char Escape[8];
      std::snprintf(Escape, sizeof Escape, "\\u%04X", Byte);
      Out += Escape;
    } else {
      Out += C;
    }
  }
  return Out + "\"";
}

// The shortest text that reads back (as a TOML float, a double, then converted to T) to AValue,
// always with a point or an exponent so that TOML reads a float.
template <typename T>
std::string NumberText(T AValue) {
  char Buffer[64];
  auto Shortest = [&](auto AOf) {
    const auto End = std::to_chars(Buffer, Buffer + sizeof Buffer, AOf).ptr;
    return std::string(Buffer, End);
  };
  std::string Text = Shortest(AValue);
  // The file's reader rounds twice (to a double, then to T): when the shortest text of a float
  // lands on the wrong side of that, the double's own shortest text is exact.
  if (static_cast<T>(std::strtod(Text.c_str(), nullptr)) != AValue)
    Text = Shortest(static_cast<double>(AValue));
  if (Text.find_first_of(".e") == std::string::npos) Text += ".0";
  return Text;
}

class TSceneWriter {
 public:
  explicit TSceneWriter(const std::string& AScenePath) : FScenePath(AScenePath) {
    FFolder = Absolute(AScenePath).parent_path();
  }

  // Forward slashes, relative to the scene's folder where there is such a form.
  std::string PathText(const std::string& APath) const {
    if (APath.empty()) return Quoted(APath);
    const fs::path Path = Absolute(APath);
    const fs::path Relative = Path.lexically_relative(FFolder);
    return Quoted((Relative.empty() ? Path : Relative).generic_string());
  }

  template <typename T>
  std::string Number(T AValue, const char* AName) const {
    if (!std::isfinite(AValue))
      throw ESceneFileError(FScenePath + ": " + AName + " is not a finite number, expected one");
    return NumberText(AValue);
  }

  std::string Text(const TSceneDescription& AScene) const {
    std::string Out;
    if (!AScene.SongPath.empty()) Out += "song = " + PathText(AScene.SongPath) + "\n";
    if (AScene.SongOffsetMs != 0.0)
      Out += "song_offset_ms = " + Number(AScene.SongOffsetMs, "song_offset_ms") + "\n";
    if (!AScene.CameraPath.empty()) Out += "camera = " + PathText(AScene.CameraPath) + "\n";
    for (const TSceneEntry& Entry : AScene.Models) {
      if (!Out.empty()) Out += "\n";
      Out += Entry.Stage ? "[[stage]]\n" : "[[model]]\n";
      Out += "file = " + PathText(Entry.Path) + "\n";
      if (!Entry.MotionPaths.empty()) {
        Out += "motions = [";
        for (std::size_t I = 0; I < Entry.MotionPaths.size(); ++I)
          Out += (I ? ", " : "") + PathText(Entry.MotionPaths[I]);
        Out += "]\n";
      }
      const TModelPlacement& P = Entry.Placement;
      if (P.At != TModelPlacement().At)
        Out += "at = [" + Number(P.At[0], "at") + ", " + Number(P.At[1], "at") + ", " +
               Number(P.At[2], "at") + "]\n";
      if (P.YawDegrees != 0.0f) Out += "yaw = " + Number(P.YawDegrees, "yaw") + "\n";
    }
    return Out;
  }

 private:
  static fs::path Absolute(const std::string& APath) {
    std::error_code Error;
    const fs::path Result = fs::absolute(fs::path(APath), Error);
    return (Error ? fs::path(APath) : Result).lexically_normal();
  }

  std::string FScenePath;
  fs::path FFolder;
};

[[noreturn]] void RaiseWriteError(const std::string& APath, int AError) {
  throw ESceneFileError("Cannot write file \"" + APath + "\". " + std::strerror(AError));
}

}  // namespace

TSceneDescription ParseSceneText(std::string_view AText, const std::string& ASourcePath) {
  const TSceneReader Reader(ASourcePath);
  toml::table Root;
  try {
    Root = toml::parse(AText, std::string_view(ASourcePath));
  } catch (const toml::parse_error& E) {
    Reader.Fail(E.source(), std::string(E.description()));
  }
  return Reader.Scene(Root);
}

TSceneDescription ReadSceneFile(const std::string& APath) {
  std::vector<uint8_t> Bytes;
  try {
    Bytes = ReadFileBytes(APath);
  } catch (const Exception& E) {
    throw ESceneFileError(E.what());
  }
  return ParseSceneText(std::string_view(reinterpret_cast<const char*>(Bytes.data()), Bytes.size()),
                        APath);
}

std::string SceneFileText(const TSceneDescription& AScene, const std::string& AScenePath) {
  return TSceneWriter(AScenePath).Text(AScene);
}

void WriteSceneFile(const TSceneDescription& AScene, const std::string& APath) {
  const std::string Text = SceneFileText(AScene, APath);
  // Beside the file, so that the rename stays on one file system.
  const std::string Temporary = APath + ".saving." + std::to_string(getpid());
  FILE* File = std::fopen(Temporary.c_str(), "wb");
  if (!File) RaiseWriteError(APath, errno);
  const bool Written = std::fwrite(Text.data(), 1, Text.size(), File) == Text.size();
  int Error = Written ? 0 : (errno ? errno : EIO);
  if (std::fclose(File) != 0 && Error == 0) Error = errno ? errno : EIO;
  if (Error != 0) {
    std::remove(Temporary.c_str());
    RaiseWriteError(APath, Error);
  }
  if (std::rename(Temporary.c_str(), APath.c_str()) != 0) {
    const int Error = errno;
    std::remove(Temporary.c_str());
    RaiseWriteError(APath, Error);
  }
}
