#include "gl/Program.h"

#include "math/Errors.h"

namespace {

// The shader's info log: empty unless GL reports more than the terminating NUL.
std::string ShaderLog(GLuint AShader) {
  GLint Length = 0;
  glGetShaderiv(AShader, GL_INFO_LOG_LENGTH, &Length);
  if (Length <= 1) return {};
  std::string Buffer(static_cast<size_t>(Length), '\0');
  glGetShaderInfoLog(AShader, Length, nullptr, Buffer.data());
  Buffer.resize(Buffer.find('\0') == std::string::npos ? Buffer.size() : Buffer.find('\0'));
  return Buffer;
}

// Creates and compiles a shader into AShader (kept there also on failure, for deletion).
void CompileShader(GLenum AStage, const std::string& ASource, const char* APrefix,
                   GLuint& AShader) {
  AShader = glCreateShader(AStage);
  const GLchar* Text = ASource.c_str();
  glShaderSource(AShader, 1, &Text, nullptr);
  glCompileShader(AShader);
  GLint Status = GL_FALSE;
  glGetShaderiv(AShader, GL_COMPILE_STATUS, &Status);
  if (Status == GL_FALSE)
    throw Exception(std::string(APrefix) + "\r\n---\r\n" + ShaderLog(AShader));
}

}  // namespace

TProgram::TProgram(TOpenGL* AOwner, const std::string& AVertexShader,
                   const std::string& AFragmentShader)
    : FOwner(AOwner) {
  try {
    CompileShader(GL_VERTEX_SHADER, AVertexShader, "Vertex shader compiling error", FVertexShader);
    CompileShader(GL_FRAGMENT_SHADER, AFragmentShader, "Fragment shader compiling error",
                  FFragmentShader);
    FHandle = glCreateProgram();
    glAttachShader(FHandle, FVertexShader);
    glAttachShader(FHandle, FFragmentShader);
    glLinkProgram(FHandle);
    GLint Status = GL_FALSE;
    glGetProgramiv(FHandle, GL_LINK_STATUS, &Status);
    if (Status == GL_FALSE) throw Exception("Program link error");
  } catch (...) {
    DeleteNames();
    throw;
  }
  // Inside the constructor this is always TProgram::Activate: a derived class's uploads could not
  // run yet anyway, as its locations are looked up after this.
  TProgram::Activate();
  FMVPMatrixLocation = GetUniformLocation("MVPMatrix");
}

TProgram::~TProgram() {
  DeleteNames();
  // Forget the cached current program: a later program allocated at this address must still be
  // made current.
  if (FOwner && FOwner->CurrentProgram() == this) FOwner->SetCurrentProgram(nullptr);
  FItems.clear();
}

void TProgram::DeleteNames() {
  glDeleteShader(FVertexShader);
  glDeleteShader(FFragmentShader);
  glDeleteProgram(FHandle);
  FVertexShader = FFragmentShader = FHandle = 0;
}

void TProgram::Activate() {
  if (FOwner->CurrentProgram() != this) {
    FOwner->SetCurrentProgram(this);
    glUseProgram(FHandle);
  }
}

void TProgram::Render(const TMatrix4f& AMVPMatrix) {
  for (const auto& Item : FItems) Item->Render(AMVPMatrix);
}

GLint TProgram::GetUniformLocation(const std::string& AName) const {
  return glGetUniformLocation(FHandle, AName.c_str());
}

GLint TProgram::GetAttribLocation(const std::string& AName) const {
  return glGetAttribLocation(FHandle, AName.c_str());
}

GLuint TProgram::GetSubroutineIndex(TProgramSubroutineType AType, const std::string& AName) const {
  return glGetSubroutineIndex(FHandle, ShaderStage(AType), AName.c_str());
}

void TProgram::RegisterAttrib(const std::string& AName, std::shared_ptr<IBufferObject> ABuffer,
                              GLint ASize, GLenum AType) {
  ABuffer->Bind();
  const GLint Location = GetAttribLocation(AName);
  // A name the driver does not know has location -1; GL would reject it as index 0xFFFFFFFF.
  if (Location < 0) return;
  glVertexAttribPointer(static_cast<GLuint>(Location), ASize, AType, GL_FALSE, 0, nullptr);
  glEnableVertexAttribArray(static_cast<GLuint>(Location));
}

void TProgram::SetMVPMatrix(const TMatrix4f& AValue) {
  glUniformMatrix4fv(FMVPMatrixLocation, 1, GL_FALSE, AValue.V);
}
