#include "gl/RenderItems.h"

#include "gl/Program.h"
#include "gl/Textures.h"
#include "math/VectorGeometry.h"

TMesh::TMesh(TProgram* AProgram, std::shared_ptr<IVertexArrayObject> AVAO,
             std::span<const std::uint32_t> AIndices, TTexture* ATexture)
    : FProgram(AProgram),
      FVAO(std::move(AVAO)),
      FTexture(ATexture),
      FArrayCount(static_cast<int>(AIndices.size())),
      FIndexBuffer(NewBufferObject<std::uint32_t>(btElementArray, AIndices, buStatic)) {}

void TMesh::DoRender(const TMatrix4f& AMVPMatrix) {
  FProgram->SetMVPMatrix(AMVPMatrix);
  if (FTexture) {
    glActiveTexture(GL_TEXTURE0);
    FTexture->Bind(0);
  }
  FVAO->Bind();
  FIndexBuffer->Bind();
  glDrawElements(GL_TRIANGLES, FArrayCount, GL_UNSIGNED_INT, nullptr);
  glBindVertexArray(0);
}

void TModel::DoRender(const TMatrix4f& AMVPMatrix) {
  const TMatrix4f M = MulMatrix4f(TranslationMatrix4f(FPosition), AMVPMatrix);
  for (const auto& Mesh : FItems) Mesh->Render(M);
}
