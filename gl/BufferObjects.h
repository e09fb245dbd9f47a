// Shared GL buffers, vertex arrays and renderbuffers: each object owns one GL name and deletes it
// when its last std::shared_ptr holder lets go. Part of the UCommon2 module; needs a current
// context for every call. Depends on gl/loader.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "gl/loader/OpenGLApis.h"

enum TBufferType { btArray, btElementArray };
enum TBufferUsage { buStream, buStatic, buDynamic };
enum TBufferAccess { baReadOnly, baWriteOnly, baReadWrite };

constexpr GLenum BufferTarget(TBufferType AType) {
  return AType == btArray ? GL_ARRAY_BUFFER : GL_ELEMENT_ARRAY_BUFFER;
}
constexpr GLenum BufferUsage(TBufferUsage AUsage) {
  return AUsage == buStream   ? GL_STREAM_DRAW
         : AUsage == buStatic ? GL_STATIC_DRAW
                              : GL_DYNAMIC_DRAW;
}
constexpr GLenum BufferAccess(TBufferAccess AAccess) {
  return AAccess == baReadOnly    ? GL_READ_ONLY
         : AAccess == baWriteOnly ? GL_WRITE_ONLY
                                  : GL_READ_WRITE;
}

// A GL name holder is neither copyable nor movable: the name has one owner, shared by pointer.
class TGLNameHolder {
 protected:
  TGLNameHolder() = default;
  ~TGLNameHolder() = default;

 public:
  TGLNameHolder(const TGLNameHolder&) = delete;
  TGLNameHolder& operator=(const TGLNameHolder&) = delete;
};

class IBufferObject {
 public:
  virtual ~IBufferObject() = default;
  virtual void Bind() = 0;
  // Binds, then maps the whole buffer; returns what GL returns (nullptr when it refuses).
  virtual void* Map(TBufferAccess AAccess) = 0;
  // Unmaps the buffer bound to this buffer's target (callers Map right before).
  virtual void Unmap() = 0;
  virtual GLuint Handle() const = 0;
  virtual TBufferType Type() const = 0;
};

// A buffer of T (uint32_t index data or float vertex data). Creating it leaves it bound to its
// target; created while a vertex array is bound, an element buffer joins that array's state.
template <class T>
class TBufferObject final : public IBufferObject, private TGLNameHolder {
 public:
  TBufferObject(TBufferType AType, std::span<const T> AData, TBufferUsage AUsage) : FType(AType) {
    glGenBuffers(1, &FHandle);
    glBindBuffer(BufferTarget(FType), FHandle);
    glBufferData(BufferTarget(FType), static_cast<GLsizeiptr>(AData.size_bytes()),
                 AData.empty() ? nullptr : AData.data(), BufferUsage(AUsage));
  }
  ~TBufferObject() override { glDeleteBuffers(1, &FHandle); }

  void Bind() override { glBindBuffer(BufferTarget(FType), FHandle); }
  void* Map(TBufferAccess AAccess) override {
    Bind();
    return glMapBuffer(BufferTarget(FType), BufferAccess(AAccess));
  }
  void Unmap() override { glUnmapBuffer(BufferTarget(FType)); }
  GLuint Handle() const override { return FHandle; }
  TBufferType Type() const override { return FType; }

 private:
  TBufferType FType;
  GLuint FHandle = 0;
};

// Creates a shared buffer from a contiguous range of T.
template <class T>
std::shared_ptr<IBufferObject> NewBufferObject(TBufferType AType, std::span<const T> AData,
                                               TBufferUsage AUsage) {
  return std::make_shared<TBufferObject<T>>(AType, AData, AUsage);
}

class IVertexArrayObject {
 public:
  virtual ~IVertexArrayObject() = default;
  virtual void Bind() = 0;
  virtual void Unbind() = 0;
  virtual GLuint Handle() const = 0;
};

// One GL vertex array; the model's vertex arrays derive from it.
class TVertexArrayObject : public IVertexArrayObject, private TGLNameHolder {
 public:
  TVertexArrayObject();
  ~TVertexArrayObject() override;
  void Bind() override;
  void Unbind() override;
  GLuint Handle() const override { return FHandle; }

 protected:
  GLuint FHandle = 0;
};

class IRenderBufferObject {
 public:
  virtual ~IRenderBufferObject() = default;
  virtual GLuint GetHandle() const = 0;
  virtual void Bind() = 0;
  virtual void Unbind() = 0;
};

// A renderbuffer of one internal format and size; left unbound after creation.
class TRenderBufferObject final : public IRenderBufferObject, private TGLNameHolder {
 public:
  TRenderBufferObject(GLenum AFormat, int AWidth, int AHeight);
  ~TRenderBufferObject() override;
  GLuint GetHandle() const override { return FHandle; }
  void Bind() override;
  void Unbind() override;

 private:
  GLuint FHandle = 0;
};
