#include "gl/BufferObjects.h"

template class TBufferObject<std::uint32_t>;
template class TBufferObject<float>;

TVertexArrayObject::TVertexArrayObject() {
  glGenVertexArrays(1, &FHandle);
}
TVertexArrayObject::~TVertexArrayObject() {
  glDeleteVertexArrays(1, &FHandle);
}
void TVertexArrayObject::Bind() {
  glBindVertexArray(FHandle);
}
void TVertexArrayObject::Unbind() {
  glBindVertexArray(0);
}

TRenderBufferObject::TRenderBufferObject(GLenum AFormat, int AWidth, int AHeight) {
  glGenRenderbuffers(1, &FHandle);
  glBindRenderbuffer(GL_RENDERBUFFER, FHandle);
  glRenderbufferStorage(GL_RENDERBUFFER, AFormat, AWidth, AHeight);
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
}
TRenderBufferObject::~TRenderBufferObject() {
  glDeleteRenderbuffers(1, &FHandle);
}
void TRenderBufferObject::Bind() {
  glBindRenderbuffer(GL_RENDERBUFFER, FHandle);
}
void TRenderBufferObject::Unbind() {
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
}
