// Render items on the real driver: meshes drawing indexed triangles from a shared vertex array with
// an optional texture, models under a position, visibility, and shared vertex array lifetime.
#include <gmock/gmock.h>

#include <vector>

#include "math/VectorGeometry.h"
#include "tests/gl/GLCoreFixture.h"

namespace {

const char* const kVertex = R"(#version 430
uniform mat4 MVPMatrix;
layout(location = 0) in vec2 VertexPosition;
out vec2 TexCoord;
void main() {
  TexCoord = VertexPosition;
  gl_Position = MVPMatrix * vec4(VertexPosition, 0.0, 1.0);
}
)";
const char* const kFragment = R"(#version 430
uniform sampler2D Texture2D;
in vec2 TexCoord;
out vec4 FragColor;
void main() { FragColor = texture(Texture2D, TexCoord); }
)";

// A mesh that remembers the matrices it was handed.
struct TRecordingMesh : TMesh {
  using TMesh::TMesh;
  void DoRender(const TMatrix4f& AMVPMatrix) override {
    Matrices.push_back(AMVPMatrix);
    TMesh::DoRender(AMVPMatrix);
  }
  std::vector<TMatrix4f> Matrices;
};

class RenderItemsTest : public TOpenGLTest {
 protected:
  void SetUp() override {
    TOpenGLTest::SetUp();
    FProgram = std::make_unique<TProgram>(FGL.get(), kVertex, kFragment);
    FTarget = std::make_unique<TColorFBO>(FGL->Sampler(), 4, 4);
    // Two quads side by side in clip space: left x in [-1, 0], right x in [0, 1].
    const float Positions[] = {-1, -1, 0, -1, 0, 1, -1, 1, 0, -1, 1, -1, 1, 1, 0, 1};
    FVao = std::make_shared<TVertexArrayObject>();
    FVao->Bind();
    auto Buffer = NewBufferObject<float>(btArray, Positions, buStatic);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, nullptr);
    glEnableVertexAttribArray(0);
    FVao->Unbind();
    FRed = SolidTexture(255, 0, 0);
    FGreen = SolidTexture(0, 255, 0);
    FTarget->Bind();
    FTarget->SetViewport(0, 0, 4, 4);
    FGL->SetColor(0x000000);
    FTarget->Clear({cmColor, cmDepth});
  }
  void TearDown() override {
    FTarget.reset();
    FRed.reset();
    FGreen.reset();
    FVao.reset();
    FProgram.reset();
    TOpenGLTest::TearDown();
  }

  std::unique_ptr<TTexture> SolidTexture(std::uint8_t R, std::uint8_t G, std::uint8_t B) {
    TBitmap Bitmap(1, 1, pf32bit);
    std::uint8_t* P = Bitmap.ScanLine(0);
    P[0] = B, P[1] = G, P[2] = R, P[3] = 255;
    return TTexture::CreateFromBitmap(FGL->Sampler(), Bitmap);
  }

  static GLint Integer(GLenum AName) {
    GLint Value = -1;
    glGetIntegerv(AName, &Value);
    return Value;
  }

  std::unique_ptr<TProgram> FProgram;
  std::unique_ptr<TColorFBO> FTarget;
  std::shared_ptr<TVertexArrayObject> FVao;
  std::unique_ptr<TTexture> FRed, FGreen;
  const std::vector<std::uint32_t> FLeft = {0, 1, 2, 0, 2, 3};
  const std::vector<std::uint32_t> FRight = {4, 5, 6, 4, 6, 7};
};

TEST_F(RenderItemsTest, MeshesDrawTheirTrianglesWithTheirTextureOrWhateverUnit0Holds) {
  TMesh Left(FProgram.get(), FVao, FLeft, FRed.get());
  TMesh Right(FProgram.get(), FVao, FRight, nullptr);
  EXPECT_EQ(Left.ArrayCount(), 6);

  glActiveTexture(GL_TEXTURE0);
  FGreen->Bind(0);
  glActiveTexture(GL_TEXTURE3);  // the mesh selects unit 0 itself
  Right.Render(IdentityMatrix4f);
  EXPECT_EQ(Integer(GL_VERTEX_ARRAY_BINDING), 0);
  glActiveTexture(GL_TEXTURE0);
  EXPECT_EQ(static_cast<GLuint>(Integer(GL_TEXTURE_BINDING_2D)), FGreen->Handle());
  glActiveTexture(GL_TEXTURE3);
  Left.Render(IdentityMatrix4f);
  EXPECT_EQ(Integer(GL_VERTEX_ARRAY_BINDING), 0);
  EXPECT_EQ(Integer(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
  EXPECT_EQ(static_cast<GLuint>(Integer(GL_TEXTURE_BINDING_2D)), FRed->Handle());
  EXPECT_EQ(static_cast<GLuint>(Integer(GL_SAMPLER_BINDING)), FGL->Sampler());

  EXPECT_THAT(ReadPixel(0, 1), ::testing::ElementsAre(1.0f, 0.0f, 0.0f, 1.0f));
  EXPECT_THAT(ReadPixel(3, 2), ::testing::ElementsAre(0.0f, 1.0f, 0.0f, 1.0f));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(RenderItemsTest, HiddenAndEmptyMeshesDrawNothing) {
  TMesh Hidden(FProgram.get(), FVao, FLeft, FRed.get());
  TMesh Empty(FProgram.get(), FVao, std::span<const std::uint32_t>(), FRed.get());
  EXPECT_TRUE(Hidden.Visible());
  Hidden.SetVisible(false);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, 0);
  Hidden.Render(IdentityMatrix4f);
  EXPECT_EQ(Integer(GL_TEXTURE_BINDING_2D), 0);  // no GL call at all
  Empty.Render(IdentityMatrix4f);
  EXPECT_EQ(Empty.ArrayCount(), 0);
  EXPECT_EQ(Integer(GL_VERTEX_ARRAY_BINDING), 0);
  for (int X = 0; X < 4; ++X)
    EXPECT_THAT(ReadPixel(X, 1), ::testing::ElementsAre(0.0f, 0.0f, 0.0f, 1.0f));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(RenderItemsTest, ModelAppliesItsPositionBeforeTheCallersMatrix) {
  TModel Model;
  auto* Mesh = new TRecordingMesh(FProgram.get(), FVao, FLeft, FRed.get());
  Model.Items().emplace_back(Mesh);
  TMatrix4f Scale = IdentityMatrix4f;
  Scale.V[5] = 0.5f;  // halve y

  Model.Render(Scale);  // at the origin: exactly the caller's matrix
  ASSERT_EQ(Mesh->Matrices.size(), 1u);
  EXPECT_THAT(Mesh->Matrices[0].V, ::testing::ElementsAreArray(Scale.V));

  Model.SetPosition(TVector3f{{1, 0, 0}});
  FTarget->Clear({cmColor, cmDepth});
  Model.Render(Scale);
  ASSERT_EQ(Mesh->Matrices.size(), 2u);
  const TMatrix4f Expected = MulMatrix4f(TranslationMatrix4f(TVector3f{{1, 0, 0}}), Scale);
  EXPECT_THAT(Mesh->Matrices[1].V, ::testing::ElementsAreArray(Expected.V));
  // The left quad moved right by 1 and was halved in height around the centre.
  EXPECT_THAT(ReadPixel(0, 2), ::testing::ElementsAre(0.0f, 0.0f, 0.0f, 1.0f));
  EXPECT_THAT(ReadPixel(3, 2), ::testing::ElementsAre(1.0f, 0.0f, 0.0f, 1.0f));
  EXPECT_THAT(ReadPixel(3, 0), ::testing::ElementsAre(0.0f, 0.0f, 0.0f, 1.0f));

  Mesh->SetVisible(false);
  Model.Render(Scale);
  EXPECT_EQ(Mesh->Matrices.size(), 2u);
  Model.SetVisible(false);
  Mesh->SetVisible(true);
  Model.Render(Scale);
  EXPECT_EQ(Mesh->Matrices.size(), 2u);
}

TEST_F(RenderItemsTest, SharedVertexArrayLivesUntilItsLastMeshIsFreed) {
  const GLuint Name = FVao->Handle();
  auto A = std::make_unique<TMesh>(FProgram.get(), FVao, FLeft, nullptr);
  auto B = std::make_unique<TMesh>(FProgram.get(), FVao, FRight, nullptr);
  const GLuint IndexA = A->IndexBuffer()->Handle();
  FVao.reset();
  A.reset();
  EXPECT_TRUE(glIsVertexArray(Name));
  EXPECT_FALSE(glIsBuffer(IndexA));
  B->Render(IdentityMatrix4f);
  B.reset();
  EXPECT_FALSE(glIsVertexArray(Name));
}

}  // namespace
