#include "render/TextureCache.h"

#include <filesystem>
#include <system_error>

std::shared_ptr<TTexture> TTextureCache::Get(GLuint ASampler, const std::string& APath) {
  std::error_code Error;
  std::string Key = std::filesystem::weakly_canonical(APath, Error).string();
  if (Error) Key = std::filesystem::path(APath).lexically_normal().string();
  // Forget what has gone meanwhile, so a long session of replaced models keeps no dead entries.
  std::erase_if(FTextures, [](const auto& AEntry) { return AEntry.second.expired(); });
  const auto Found = FTextures.find(Key);
  if (Found != FTextures.end())
    if (std::shared_ptr<TTexture> Texture = Found->second.lock()) return Texture;
  std::shared_ptr<TTexture> Texture = TTexture::CreateFromFile(ASampler, APath);
  FTextures[Key] = Texture;
  return Texture;
}

int TTextureCache::Count() const {
  int N = 0;
  for (const auto& [Key, Texture] : FTextures) N += !Texture.expired();
  return N;
}
