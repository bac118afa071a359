#pragma once
// The GL context of GL views: a real OpenGL ES 1.1 context from Mesa through EGL, without a
// window (surfaceless; the machine may have no GPU, then Mesa's software rasteriser draws).
// Views render into framebuffer objects whose colour storage comes from their CAEAGLLayer;
// presenting reads the pixels back into the layer for the compositor.
//
// Where GL cannot be had (no EGL display, no driver, or switched off), creating a context gives
// none and callers go on without drawing.
#include <memory>
#include <string>

#include "platform/graphics/CALayer.h"
#include "platform/graphics/GLES.h"

enum EAGLRenderingAPI { kEAGLRenderingAPIOpenGLES1 = 1, kEAGLRenderingAPIOpenGLES2 = 2 };

class EAGLContext;
using EAGLContextRef = std::shared_ptr<EAGLContext>;

class EAGLContext {
 public:
  // initWithAPI: — none when the API is not OpenGL ES 1 or GL is not available.
  static EAGLContextRef initWithAPI(EAGLRenderingAPI api);
  static bool setCurrentContext(const EAGLContextRef& context);  // none releases the current one
  static EAGLContextRef currentContext();

  // Whether a context can be made: false when the driver is missing or GL is switched off
  // (the environment variable SPECTRUM_ANALYSER_NO_GL, or setAvailableForTesting(false)).
  static bool isAvailable();
  static void setAvailableForTesting(bool available);
  // renderbufferStorage:fromDrawable: — allocates the bound renderbuffer's colour storage with the
  // layer's pixel size and remembers the layer as the renderbuffer's drawable.
  bool renderbufferStorage(GLenum target, const std::shared_ptr<CAEAGLLayer>& drawable);
  // presentRenderbuffer: — reads the bound framebuffer's pixels into the bound renderbuffer's layer.
  // False when this is not the current context or the renderbuffer has no drawable.
  bool presentRenderbuffer(GLenum target);

  ~EAGLContext();
  EAGLContext(const EAGLContext&) = delete;
  EAGLContext& operator=(const EAGLContext&) = delete;

 private:
  EAGLContext() = default;
  friend struct EAGLContextAccess;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
