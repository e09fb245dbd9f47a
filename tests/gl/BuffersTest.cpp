// Shared buffers, vertex arrays and renderbuffers on the real driver: sizes, bindings, and that the
// GL name goes exactly when the last holder lets go.
#include <gmock/gmock.h>

#include <functional>
#include <vector>

#include "tests/gl/GLCoreFixture.h"

namespace {

using BuffersTest = TOpenGLTest;

GLint BufferParameter(GLenum ATarget, GLenum AName) {
  GLint Value = -1;
  glGetBufferParameteriv(ATarget, AName, &Value);
  return Value;
}

TEST_F(BuffersTest, BufferUploadsFourBytesPerElementAndStaysBound) {
  const std::vector<float> Twelve(12, 1.5f);
  TBufferObject<float> Vertices(btArray, Twelve, buDynamic);
  GLint Bound = 0;
  glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &Bound);
  EXPECT_EQ(static_cast<GLuint>(Bound), Vertices.Handle());
  EXPECT_EQ(BufferParameter(GL_ARRAY_BUFFER, GL_BUFFER_SIZE), 48);
  EXPECT_EQ(BufferParameter(GL_ARRAY_BUFFER, GL_BUFFER_USAGE), GL_DYNAMIC_DRAW);

  TBufferObject<float> Empty(btArray, std::span<const float>(), buStream);
  EXPECT_EQ(BufferParameter(GL_ARRAY_BUFFER, GL_BUFFER_SIZE), 0);
  EXPECT_EQ(BufferParameter(GL_ARRAY_BUFFER, GL_BUFFER_USAGE), GL_STREAM_DRAW);

  const std::uint32_t Indices[] = {7, 8, 9};
  TBufferObject<std::uint32_t> Elements(btElementArray, Indices, buStatic);
  glGetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &Bound);
  EXPECT_EQ(static_cast<GLuint>(Bound), Elements.Handle());
  EXPECT_EQ(BufferParameter(GL_ELEMENT_ARRAY_BUFFER, GL_BUFFER_SIZE), 12);
  EXPECT_EQ(BufferParameter(GL_ELEMENT_ARRAY_BUFFER, GL_BUFFER_USAGE), GL_STATIC_DRAW);
}

TEST_F(BuffersTest, MapBindsAndExposesTheWholeBufferForEachAccess) {
  const std::vector<float> Data = {1, 2, 3, 4};
  TBufferObject<float> A(btArray, Data, buDynamic);
  TBufferObject<float> B(btArray, Data, buDynamic);  // now B is bound
  auto* Write = static_cast<float*>(A.Map(baWriteOnly));
  ASSERT_NE(Write, nullptr);
  EXPECT_EQ(BufferParameter(GL_ARRAY_BUFFER, GL_BUFFER_ACCESS), GL_WRITE_ONLY);
  Write[2] = 30;
  A.Unmap();
  auto* Read = static_cast<const float*>(A.Map(baReadOnly));
  ASSERT_NE(Read, nullptr);
  EXPECT_EQ(BufferParameter(GL_ARRAY_BUFFER, GL_BUFFER_ACCESS), GL_READ_ONLY);
  EXPECT_THAT(std::vector<float>(Read, Read + 4), ::testing::ElementsAre(1, 2, 30, 4));
  A.Unmap();
  EXPECT_NE(B.Map(baReadWrite), nullptr);
  EXPECT_EQ(BufferParameter(GL_ARRAY_BUFFER, GL_BUFFER_ACCESS), GL_READ_WRITE);
  B.Unmap();
}

// One row per wrapper kind: how to make one, how to ask GL whether its name is alive.
struct TNameCase {
  const char* Kind;
  std::function<std::shared_ptr<void>(GLuint&)> Make;
  GLboolean (*IsAlive)(GLuint);
};

TEST_F(BuffersTest, EachWrapperDeletesItsNameExactlyOnceWithItsLastHolder) {
  const float Data[] = {1, 2, 3};
  const TNameCase Cases[] = {
      {"buffer",
       [&](GLuint& AName) {
         auto B = NewBufferObject<float>(btArray, Data, buStatic);
         AName = B->Handle();
         return std::shared_ptr<void>(B);
       },
       [](GLuint N) { return glIsBuffer(N); }},
      {"vertex array",
       [](GLuint& AName) {
         auto V = std::make_shared<TVertexArrayObject>();
         V->Bind();  // a vertex array name becomes an object on first bind
         V->Unbind();
         AName = V->Handle();
         return std::shared_ptr<void>(V);
       },
       [](GLuint N) { return glIsVertexArray(N); }},
      {"renderbuffer",
       [](GLuint& AName) {
         auto R = std::make_shared<TRenderBufferObject>(GL_DEPTH_COMPONENT24, 8, 8);
         AName = R->GetHandle();
         return std::shared_ptr<void>(R);
       },
       [](GLuint N) { return glIsRenderbuffer(N); }},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Kind);
    GLuint Name = 0;
    std::shared_ptr<void> First = C.Make(Name);
    std::shared_ptr<void> Second = First;
    ASSERT_NE(Name, 0u);
    EXPECT_TRUE(C.IsAlive(Name));
    First.reset();
    EXPECT_TRUE(C.IsAlive(Name)) << "deleted while a holder remains";
    Second.reset();
    EXPECT_FALSE(C.IsAlive(Name)) << "not deleted with the last holder";
    // A new object may get the freed name again; nothing of the old wrapper may touch it.
    GLuint Again = 0;
    std::shared_ptr<void> Fresh = C.Make(Again);
    EXPECT_TRUE(C.IsAlive(Again));
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(BuffersTest, ElementBufferCreatedWhileVertexArrayIsBoundJoinsItsState) {
  TVertexArrayObject Vao;
  Vao.Bind();
  const std::uint32_t Indices[] = {0, 1, 2};
  TBufferObject<std::uint32_t> Elements(btElementArray, Indices, buStatic);
  Vao.Unbind();
  TBufferObject<std::uint32_t> Other(btElementArray, Indices, buStatic);  // bound to VAO 0
  Vao.Bind();
  GLint Bound = 0;
  glGetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &Bound);
  EXPECT_EQ(static_cast<GLuint>(Bound), Elements.Handle());
  GLint BoundVao = 0;
  glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &BoundVao);
  EXPECT_EQ(static_cast<GLuint>(BoundVao), Vao.Handle());
  Vao.Unbind();
  glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &BoundVao);
  EXPECT_EQ(BoundVao, 0);
}

TEST_F(BuffersTest, RenderBufferHasFormatAndSizeAndIsLeftUnbound) {
  TRenderBufferObject Depth(GL_DEPTH_COMPONENT24, 40, 30);
  GLint Bound = -1;
  glGetIntegerv(GL_RENDERBUFFER_BINDING, &Bound);
  EXPECT_EQ(Bound, 0);
  Depth.Bind();
  glGetIntegerv(GL_RENDERBUFFER_BINDING, &Bound);
  EXPECT_EQ(static_cast<GLuint>(Bound), Depth.GetHandle());
  GLint Width = 0, Height = 0, Format = 0;
  glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_WIDTH, &Width);
  glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_HEIGHT, &Height);
  glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_INTERNAL_FORMAT, &Format);
  EXPECT_EQ(Width, 40);
  EXPECT_EQ(Height, 30);
  EXPECT_EQ(Format, GL_DEPTH_COMPONENT24);
  Depth.Unbind();
  glGetIntegerv(GL_RENDERBUFFER_BINDING, &Bound);
  EXPECT_EQ(Bound, 0);
}

}  // namespace
