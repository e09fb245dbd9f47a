// TProgram: one GLSL program built from a vertex and a fragment source, the owner of the render
// items drawn with it. Part of the UCommon2 module; depends on gl/RenderContext, gl/RenderItems.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "gl/BufferObjects.h"
#include "gl/RenderContext.h"
#include "gl/RenderItems.h"
#include "math/VectorTypes.h"

enum TProgramSubroutineType {
  stVertex,
  stTessControl,
  stTessEvaluation,
  stGeometry,
  stFragment,
  stCompute
};

constexpr GLenum ShaderStage(TProgramSubroutineType AType) {
  switch (AType) {
    case stVertex:
      return GL_VERTEX_SHADER;
    case stTessControl:
      return GL_TESS_CONTROL_SHADER;
    case stTessEvaluation:
      return GL_TESS_EVALUATION_SHADER;
    case stGeometry:
      return GL_GEOMETRY_SHADER;
    case stFragment:
      return GL_FRAGMENT_SHADER;
    case stCompute:
      return GL_COMPUTE_SHADER;
  }
  return GL_VERTEX_SHADER;
}

class TProgram {
 public:
  // Compiles and links the two sources and makes the program current. Throws Exception with
  // "Vertex shader compiling error" / "Fragment shader compiling error" + "\r\n---\r\n" + the
  // driver's log, or "Program link error"; whatever was built is deleted first.
  TProgram(TOpenGL* AOwner, const std::string& AVertexShader, const std::string& AFragmentShader);
  // Deletes the shaders and the program, then frees every item.
  virtual ~TProgram();
  TProgram(const TProgram&) = delete;
  TProgram& operator=(const TProgram&) = delete;

  // Makes the program current; glUseProgram is issued only when another program was current.
  virtual void Activate();
  // Renders every item in list order; the caller activates the program first.
  void Render(const TMatrix4f& AMVPMatrix);

  GLint GetUniformLocation(const std::string& AName) const;
  GLint GetAttribLocation(const std::string& AName) const;
  GLuint GetSubroutineIndex(TProgramSubroutineType AType, const std::string& AName) const;
  // Binds ABuffer and points the named attribute at it: ASize components of AType, tightly packed.
  void RegisterAttrib(const std::string& AName, std::shared_ptr<IBufferObject> ABuffer, GLint ASize,
                      GLenum AType);

  // Uploads the matrix untransposed to "MVPMatrix"; the program must be current.
  void SetMVPMatrix(const TMatrix4f& AValue);

  std::vector<std::unique_ptr<TRenderItem>>& Items() { return FItems; }
  const std::vector<std::unique_ptr<TRenderItem>>& Items() const { return FItems; }
  TOpenGL* Owner() const { return FOwner; }
  GLuint Handle() const { return FHandle; }

 protected:
  TOpenGL* FOwner;
  GLuint FHandle = 0;
  GLuint FVertexShader = 0;
  GLuint FFragmentShader = 0;
  std::vector<std::unique_ptr<TRenderItem>> FItems;
  GLint FMVPMatrixLocation = -1;

 private:
  void DeleteNames();
};
