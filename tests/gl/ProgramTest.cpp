// TProgram on the real driver: compile and link messages, cleanup after failure, the
// current-program cache, locations, attribute registration, and the owned item list.
#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "tests/gl/GLCoreFixture.h"

namespace {

using ProgramTest = TOpenGLTest;

const char* const kVertex = R"(#version 430
uniform mat4 MVPMatrix;
in vec3 VertexPosition;
void main() { gl_Position = MVPMatrix * vec4(VertexPosition, 1.0); }
)";
const char* const kFragment = R"(#version 430
out vec4 FragColor;
void main() { FragColor = vec4(1.0); }
)";
const char* const kBroken = R"(#version 430
void main() { this is not GLSL; }
)";

// The driver's own log for a source that fails to compile.
std::string DriverLog(GLenum AStage, const char* ASource) {
  const GLuint Shader = glCreateShader(AStage);
  glShaderSource(Shader, 1, &ASource, nullptr);
  glCompileShader(Shader);
  GLint Length = 0;
  glGetShaderiv(Shader, GL_INFO_LOG_LENGTH, &Length);
  std::string Log(static_cast<std::size_t>(Length > 0 ? Length : 1), '\0');
  glGetShaderInfoLog(Shader, Length, nullptr, Log.data());
  glDeleteShader(Shader);
  return Log.c_str();
}

// Shader and program names alive in the context (this test creates no others).
int LiveShaderObjects() {
  int Count = 0;
  for (GLuint Name = 1; Name < 256; ++Name) Count += glIsShader(Name) + glIsProgram(Name);
  return Count;
}

TEST_F(ProgramTest, CompileAndLinkFailuresCarryTheirExactMessageAndLeaveNothingBehind) {
  struct {
    const char* Vertex;
    const char* Fragment;
    std::string Expected;
  } const Cases[] = {
      {kBroken, kFragment,
       std::string("Vertex shader compiling error\r\n---\r\n") +
           DriverLog(GL_VERTEX_SHADER, kBroken)},
      {kVertex, kBroken,
       std::string("Fragment shader compiling error\r\n---\r\n") +
           DriverLog(GL_FRAGMENT_SHADER, kBroken)},
      // Declared but never defined: compiles, fails to link.
      {kVertex,
       "#version 430\nout vec4 FragColor;\nvec4 Missing();\nvoid main() { FragColor = Missing(); "
       "}\n",
       "Program link error"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Expected);
    try {
      TProgram Program(FGL.get(), C.Vertex, C.Fragment);
      ADD_FAILURE() << "no error";
    } catch (const Exception& E) {
      EXPECT_EQ(std::string(E.what()), C.Expected);
    }
    EXPECT_EQ(LiveShaderObjects(), 0);
    EXPECT_EQ(FGL->CurrentProgram(), nullptr);
  }
  // The compile logs themselves are not empty on this driver.
  EXPECT_GT(DriverLog(GL_VERTEX_SHADER, kBroken).size(), 0u);
}

TEST_F(ProgramTest, ConstructionLeavesTheProgramCurrentWithMVPMatrixResolved) {
  TProgram Program(FGL.get(), kVertex, kFragment);
  GLint Current = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &Current);
  EXPECT_EQ(static_cast<GLuint>(Current), Program.Handle());
  EXPECT_EQ(FGL->CurrentProgram(), &Program);
  EXPECT_GE(Program.GetUniformLocation("MVPMatrix"), 0);
  EXPECT_EQ(Program.GetUniformLocation("NoSuchUniform"), -1);
  EXPECT_GE(Program.GetAttribLocation("VertexPosition"), 0);
  EXPECT_EQ(Program.GetAttribLocation("NoSuchAttribute"), -1);
  EXPECT_TRUE(Program.Items().empty());

  TMatrix4f M;
  for (int i = 0; i < 16; ++i) M.V[i] = static_cast<float>(i + 1);
  Program.SetMVPMatrix(M);  // uploaded untransposed: memory order is GL's order
  GLfloat Back[16];
  glGetUniformfv(Program.Handle(), Program.GetUniformLocation("MVPMatrix"), Back);
  EXPECT_THAT(Back, ::testing::ElementsAreArray(M.V));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ProgramTest, ActivateIssuesUseProgramOnlyWhenTheProgramChanges) {
  TProgram A(FGL.get(), kVertex, kFragment);
  TProgram B(FGL.get(), kVertex, kFragment);
  auto Current = [] {
    GLint Value = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &Value);
    return static_cast<GLuint>(Value);
  };
  ASSERT_EQ(Current(), B.Handle());
  A.Activate();
  EXPECT_EQ(Current(), A.Handle());
  // Switch GL behind the cache's back: activating the cached program again issues nothing.
  glUseProgram(0);
  A.Activate();
  EXPECT_EQ(Current(), 0u);
  B.Activate();
  EXPECT_EQ(Current(), B.Handle());
  A.Activate();
  EXPECT_EQ(Current(), A.Handle());
}

TEST_F(ProgramTest, FreeingTheCurrentProgramClearsTheCache) {
  auto A = std::make_unique<TProgram>(FGL.get(), kVertex, kFragment);
  ASSERT_EQ(FGL->CurrentProgram(), A.get());
  A.reset();
  EXPECT_EQ(FGL->CurrentProgram(), nullptr);
  // The next program often reuses the freed address; it must still become current.
  auto B = std::make_unique<TProgram>(FGL.get(), kVertex, kFragment);
  GLint Value = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &Value);
  EXPECT_EQ(static_cast<GLuint>(Value), B->Handle());
}

TEST_F(ProgramTest, RegisterAttribPointsTheAttributeAtTheBuffer) {
  TProgram Program(FGL.get(), kVertex, kFragment);
  TVertexArrayObject Vao;
  Vao.Bind();
  const float Positions[] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  auto Buffer = NewBufferObject<float>(btArray, Positions, buStatic);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  Program.RegisterAttrib("VertexPosition", Buffer, 3, GL_FLOAT);
  const GLuint Location = static_cast<GLuint>(Program.GetAttribLocation("VertexPosition"));
  struct {
    GLenum Name;
    GLint Value;
  } const Expected[] = {
      {GL_VERTEX_ATTRIB_ARRAY_ENABLED, 1},
      {GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING, static_cast<GLint>(Buffer->Handle())},
      {GL_VERTEX_ATTRIB_ARRAY_SIZE, 3},
      {GL_VERTEX_ATTRIB_ARRAY_TYPE, GL_FLOAT},
      {GL_VERTEX_ATTRIB_ARRAY_NORMALIZED, 0},
      {GL_VERTEX_ATTRIB_ARRAY_STRIDE, 0}};
  for (const auto& E : Expected) {
    GLint Value = -1;
    glGetVertexAttribiv(Location, E.Name, &Value);
    EXPECT_EQ(Value, E.Value) << "0x" << std::hex << E.Name;
  }
  // An unknown name changes nothing and raises no GL error.
  Program.RegisterAttrib("NoSuchAttribute", Buffer, 3, GL_FLOAT);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  Vao.Unbind();
}

// An item that logs its draws and its destruction.
struct TLogItem : TRenderItem {
  TLogItem(std::vector<std::string>& ALog, std::string AName)
      : FLog(ALog), FName(std::move(AName)) {}
  ~TLogItem() override { FLog.push_back("free " + FName); }
  void DoRender(const TMatrix4f& AMVPMatrix) override {
    FLog.push_back("draw " + FName + " " + std::to_string(static_cast<int>(AMVPMatrix.V[12])));
  }
  std::vector<std::string>& FLog;
  std::string FName;
};

TEST_F(ProgramTest, RenderDrawsVisibleItemsInListOrderAndFreeingTheProgramFreesThem) {
  std::vector<std::string> Log;
  {
    TProgram Program(FGL.get(), kVertex, kFragment);
    Program.Render(IdentityMatrix4f);  // empty list: nothing
    for (const char* Name : {"a", "b", "c"})
      Program.Items().push_back(std::make_unique<TLogItem>(Log, Name));
    Program.Items()[1]->SetVisible(false);
    TMatrix4f M = IdentityMatrix4f;
    M.V[12] = 7;
    Program.Render(M);
    Program.Items()[1]->SetVisible(true);
    Program.Items()[0]->SetVisible(false);
    Program.Render(M);
  }
  EXPECT_THAT(Log, ::testing::ElementsAre("draw a 7", "draw c 7", "draw b 7", "draw c 7", "free a",
                                          "free b", "free c"));
}

}  // namespace
