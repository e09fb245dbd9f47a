// TTextureCache: one GL texture per image file for every drawing of the scene, so that a model
// loaded twice (or two models naming one file) uploads it once. The cache only remembers the
// textures: the drawings hold them, and a texture goes with the last drawing using it.
// Depends on gl/Textures.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "gl/Textures.h"

class TTextureCache {
 public:
  // The texture of the file at APath (made with ASampler and kept while anyone holds it); a file
  // that cannot be read throws the reader's error and is not remembered. Paths naming the same
  // file through "." or ".." or links share one texture.
  std::shared_ptr<TTexture> Get(GLuint ASampler, const std::string& APath);
  // How many textures are alive.
  int Count() const;

 private:
  std::map<std::string, std::weak_ptr<TTexture>> FTextures;
};
