// quenlor-inspect on a PMD model: the document the viewer sees (the PMX it describes), marked as
// read from a PMD; a broken PMD is named with the reader's message.
#include <gtest/gtest.h>

#include "formats/PmdWriter.h"
#include "tests/formats/FormatsTestUtil.h"
#include "tests/formats/InspectorProcess.h"

TEST(InspectorPmd, PrintsThePmdModelAsThePmxItDescribes) {
  TPmdBuilder B;
  B.Model.Name = "古いモデル";
  B.AddBone("左足", NewVector3f(0, 10, 2));
  B.AddBone("左ひざ", NewVector3f(0, 5, 2), 0, pbkIKLinked);
  B.AddBone("左足首", NewVector3f(0, 1, 2), 1);
  B.AddBone("左足ＩＫ", NewVector3f(0, 1, 2), PmdNoBone, pbkIK);
  B.AddIK(3, 2, {1, 0}, 20, 0.25f);
  B.AddMaterial(0, "face.bmp*face.sph", 3);
  // The file name says nothing: the signature decides.
  const std::string Path = TempPath("inspect_model.bin");
  WriteBytesToFile(Path, B.Build());
  const TInspectorRun R = Inspect(Path);
  EXPECT_EQ(R.ExitCode, 0) << R.Err;
  for (const char* Part :
       {"\"format\": \"pmd\"", "\"modelNameJp\": \"古いモデル\"", "\"encoding\": \"UTF-8\"",
        "\"face.bmp\"", "\"face.sph\"", "\"sharedToonTextureIndex\": 3", "\"loopCount\": 20",
        "\"axisType\": \"flowedX\"", "\"upperLimit\": [3.14159"})
    EXPECT_NE(R.Out.find(Part), std::string::npos) << "missing: " << Part << "\n" << R.Out;
  std::remove(Path.c_str());

  B.Model.IKs[0].Target = 9;
  const std::string Bad = TempPath("inspect_bad.pmd");
  WriteBytesToFile(Bad, B.Build());
  const TInspectorRun E = Inspect(Bad);
  EXPECT_EQ(E.ExitCode, 1);
  EXPECT_NE(E.Err.find("Cannot read model \"" + Bad +
                       "\": PMD index out of range: IK chain 0: target bone index 9 "
                       "(the model has 4 bones)"),
            std::string::npos)
      << E.Err;
  std::remove(Bad.c_str());
}
