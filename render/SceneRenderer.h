// TSceneRenderer: draws a scene with GL: the two programs, the shadow map, the light, the one
// ground plane and one TModelDrawing per model, each placed by its model's placement. Every output
// (the window, both headsets, the offline render) draws through it: a shadow pass, then the lit,
// outline and bone-overlay passes for each view. The ground is drawn only while no model is a
// stage (a stage receives the shadows instead); the light's frustum is fitted to the dancers at
// every shadow pass. Depends on render/ModelDrawing, scene (the models), shading and gl.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gl/UCommon2.h"
#include "render/ModelDrawing.h"
#include "scene/Scene.h"
#include "shading/UShader.h"

// Where the light stands at start (it looks at the origin).
inline const TVector3f kDefaultLightPosition{{5.0f, 10.0f, 10.0f}};

class TSceneRenderer {
 public:
  // Makes the programs and the shadow framebuffer, and sets the background white. ABaseDir
  // ("/"-terminated) holds the shared toon ramps.
  TSceneRenderer(TOpenGL* AOpenGL, std::string ABaseDir);
  // The drawings go first (their items refer to their textures), then the programs.
  ~TSceneRenderer();
  TSceneRenderer(const TSceneRenderer&) = delete;
  TSceneRenderer& operator=(const TSceneRenderer&) = delete;

  // A drawing for AModel, built now but not yet drawn (the error, with nothing changed, when
  // its textures cannot be made); hand it to AddDrawing once the model is in the scene. Its
  // images come from the renderer's texture cache: drawings of one file share one texture.
  std::unique_ptr<TModelDrawing> MakeDrawing(TSceneModel& AModel);
  void AddDrawing(std::unique_ptr<TModelDrawing> ADrawing);
  // Drops the drawing of AModel (which must still exist); nothing when it has none.
  void RemoveDrawingOf(const TSceneModel* AModel);
  // A drawing for every model of AScene that has none.
  void AddDrawingsFor(TScene& AScene);
  const std::vector<std::unique_ptr<TModelDrawing>>& Drawings() const { return FDrawings; }
  // The drawing of AModel, or nullptr.
  TModelDrawing* DrawingOf(const TSceneModel* AModel) const;

  // The ground is drawn (and receives the shadow): there is a drawing and none is a stage's.
  bool GroundShown() const;
  const TTextureCache& Textures() const { return FTextures; }

  TLight& Light() { return FLight; }
  // Moves the light sideways (the arrow keys).
  void StepLight(float ADeltaX);
  // B: the bone overlay of AModel on or off (nothing without a drawing of it).
  void ToggleBoneOverlay(const TSceneModel* AModel);

  // Fits the light's frustum to the shown dancers (FitShadowFrustum), then draws the depth of
  // every model, placed, from the light into the shadow map (the ground casts onto nothing).
  void ShadowPass();
  // The light's frustum around the shown dancers (the models that are not stages), placed, its
  // depth range reaching the stages or the ground behind them, drawn into a corner of the map of
  // at most 1024 texels along its longer side; the default frustum and the whole map without one.
  void FitShadowFrustum();
  // The lit and outline passes and the bone overlay seen through AView and AProjection, into the
  // bound framebuffer's current viewport of AViewportWidth x AViewportHeight pixels (the outline
  // and the sphere maps depend on them).
  void MainPass(const TMatrix4f& AView, const TMatrix4f& AProjection, int AViewportWidth,
                int AViewportHeight);
  // One whole frame of one view: the shadow pass, then ATarget bound, cleared and given the
  // whole AWidth x AHeight viewport, then the main pass.
  void DrawFrame(TFrameBufferObject& ATarget, int AWidth, int AHeight, const TMatrix4f& AView,
                 const TMatrix4f& AProjection);

  TMainProgram& Program() { return *FProgram; }
  const TShadowFBO& ShadowMap() const { return *FShadowFBO; }
  TBoneProgram& BoneProgram() { return *FBoneProgram; }

 private:
  TOpenGL* FOpenGL;
  std::string FBaseDir;
  TLight FLight;
  std::unique_ptr<TMainProgram> FProgram;
  std::unique_ptr<TBoneProgram> FBoneProgram;
  std::unique_ptr<TShadowFBO> FShadowFBO;
  TTextureCache FTextures;
  // The corner of the shadow map the fitted frustum is drawn into.
  int FShadowViewportWidth = 0, FShadowViewportHeight = 0;
  // The corner of the map the last shadow pass drew into (the whole map before the first: its
  // contents are unknown until cleared once).
  int FShadowDrawnWidth = 1 << 30, FShadowDrawnHeight = 1 << 30;
  std::vector<std::unique_ptr<TModelDrawing>> FDrawings;
  TPmxPlane* FGround = nullptr;  // owned by the main program's items; made with the first model
};

// Reads the bound read framebuffer's AWidth x AHeight pixels from its corner into APixels, rows
// tightly packed, bottom row first, 3 bytes a pixel in AFormat (GL_RGB or GL_BGR).
void ReadFramePixels(int AWidth, int AHeight, GLenum AFormat, std::vector<std::uint8_t>& APixels);
