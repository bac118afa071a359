#include "platform/graphics/EAGLContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/foundation/ApplicationName.h"

namespace {

struct Display {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLConfig config = nullptr;       // null: contexts without a config
  bool surfaceless = false;         // contexts may be made current without a surface
  bool ok = false;
};

std::atomic<int> availabilityOverride{-1};  // -1 none, 0 off, 1 on

// Mesa's software rasteriser, where there is no GPU, hands each frame to a thread per core by
// default; the views' frames are small, and waking and waiting for those threads costs more CPU
// than drawing in the calling thread (a tenth of the live window's cost in every mode). Set before
// main, while the process has one thread; a value the user gives wins, and GPU drivers ignore it.
[[maybe_unused]] const bool kRasteriseInTheCallingThread = [] {
  setenv("LP_NUM_THREADS", "0", 0);
  return true;
}();

// Mesa keeps compiled shaders in an on-disk cache through a thread of its own at the lowest
// priority, and the process's end waits for that thread: on a machine whose every core is busy
// it gets next to no processor, and an application asked to quit lingers after its window closed
// for as long as the machine stays busy (over ten seconds beside busy loops). Without the cache
// the views' few shaders cost about 0.06 s of processor time at launch on the software
// rasteriser. Set before main, as above; a value the user gives wins.
[[maybe_unused]] const bool kNoShaderCacheThread = [] {
  setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
  return true;
}();

// The extension's entry points, resolved once.
struct OESProcs {
  PFNGLGENFRAMEBUFFERSOESPROC genFramebuffers = nullptr;
  PFNGLBINDFRAMEBUFFEROESPROC bindFramebuffer = nullptr;
  PFNGLDELETEFRAMEBUFFERSOESPROC deleteFramebuffers = nullptr;
  PFNGLGENRENDERBUFFERSOESPROC genRenderbuffers = nullptr;
  PFNGLBINDRENDERBUFFEROESPROC bindRenderbuffer = nullptr;
  PFNGLDELETERENDERBUFFERSOESPROC deleteRenderbuffers = nullptr;
  PFNGLRENDERBUFFERSTORAGEOESPROC renderbufferStorage = nullptr;
  PFNGLFRAMEBUFFERRENDERBUFFEROESPROC framebufferRenderbuffer = nullptr;
  PFNGLGETRENDERBUFFERPARAMETERIVOESPROC getRenderbufferParameteriv = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSOESPROC checkFramebufferStatus = nullptr;
  PFNGLFRAMEBUFFERTEXTURE2DOESPROC framebufferTexture2D = nullptr;
  PFNGLGETFRAMEBUFFERATTACHMENTPARAMETERIVOESPROC getFramebufferAttachmentParameteriv = nullptr;
};
OESProcs procs;

template <typename T>
void resolve(T& slot, const char* name) {
  slot = reinterpret_cast<T>(eglGetProcAddress(name));
}

Display& display() {
  static Display d;
  static std::once_flag once;
  std::call_once(once, [] {
    // GL views keep large images (read-backs, presented and composed frames, textures) that come
    // and go with every layout and change of mode. glibc maps an allocation that large and gives
    // it back when freed, but after the first such free it raises that threshold, and from then on
    // the images are carved from the heap, where what they leave when freed is mostly kept: the
    // process grew by a third over a minute of mode changes. A fixed threshold keeps the images
    // mapped, and the memory goes back when they do.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay) {
      d.display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    }
    EGLint major = 0, minor = 0;
    if (d.display == EGL_NO_DISPLAY || !eglInitialize(d.display, &major, &minor)) {
      d.display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
      if (d.display == EGL_NO_DISPLAY || !eglInitialize(d.display, &major, &minor)) {
        d.display = EGL_NO_DISPLAY;
        return;
      }
    }
    if (!eglBindAPI(EGL_OPENGL_ES_API)) return;
    const char* extensions = eglQueryString(d.display, EGL_EXTENSIONS);
    std::string ext = extensions ? extensions : "";
    d.surfaceless = ext.find("EGL_KHR_surfaceless_context") != std::string::npos;
    bool noConfig = ext.find("EGL_KHR_no_config_context") != std::string::npos ||
                    ext.find("EGL_MESA_configless_context") != std::string::npos;
    if (!noConfig || !d.surfaceless) {
      const EGLint attributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_ES_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                   EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_NONE};
      EGLint count = 0;
      if (!eglChooseConfig(d.display, attributes, &d.config, 1, &count) || count == 0) return;
      d.surfaceless = false;  // a pbuffer per context, made with this config
    }
    resolve(procs.genFramebuffers, "glGenFramebuffersOES");
    resolve(procs.bindFramebuffer, "glBindFramebufferOES");
    resolve(procs.deleteFramebuffers, "glDeleteFramebuffersOES");
    resolve(procs.genRenderbuffers, "glGenRenderbuffersOES");
    resolve(procs.bindRenderbuffer, "glBindRenderbufferOES");
    resolve(procs.deleteRenderbuffers, "glDeleteRenderbuffersOES");
    resolve(procs.renderbufferStorage, "glRenderbufferStorageOES");
    resolve(procs.framebufferRenderbuffer, "glFramebufferRenderbufferOES");
    resolve(procs.getRenderbufferParameteriv, "glGetRenderbufferParameterivOES");
    resolve(procs.checkFramebufferStatus, "glCheckFramebufferStatusOES");
    resolve(procs.framebufferTexture2D, "glFramebufferTexture2DOES");
    resolve(procs.getFramebufferAttachmentParameteriv, "glGetFramebufferAttachmentParameterivOES");
    d.ok = procs.genFramebuffers && procs.bindFramebuffer && procs.deleteFramebuffers && procs.genRenderbuffers &&
           procs.bindRenderbuffer && procs.deleteRenderbuffers && procs.renderbufferStorage &&
           procs.framebufferRenderbuffer && procs.getRenderbufferParameteriv && procs.checkFramebufferStatus;
  });
  return d;
}

thread_local EAGLContextRef current;

}  // namespace

// A layer's colour storage. Mesa's software rasteriser has a much faster path for simple drawing
// (flat colours, blended or not) into an image whose pixels are B, G, R, A, which OpenGL ES 1.1
// renderbuffers cannot have; a texture can (EXT_texture_format_BGRA8888). Where the driver allows
// it, the framebuffer draws into such a texture in place of the renderbuffer's storage, which is
// still allocated (nothing draws into it) so that every query of the renderbuffer answers as
// before. The read-back then copies B, G, R, A as they lie, which is Cairo's own pixel order.
namespace {
struct Drawable {
  std::weak_ptr<CAEAGLLayer> layer;
  GLuint texture = 0;  // 0: the renderbuffer's own storage is drawn into
};
}  // namespace

struct EAGLContext::Impl {
  EGLContext context = EGL_NO_CONTEXT;
  EGLSurface surface = EGL_NO_SURFACE;
  std::map<GLuint, Drawable> drawables;
  int bgraTextures = -1;  // whether B, G, R, A textures can be drawn into and read back; -1 unknown
};

struct EAGLContextAccess {
  static std::map<GLuint, Drawable>* drawables(const EAGLContextRef& context) {
    return context && context->impl_ ? &context->impl_->drawables : nullptr;
  }
};

namespace {

bool hasExtension(const char* name) {
  const auto* all = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
  if (!all) return false;
  const std::string list = std::string(" ") + all + " ";
  return list.find(std::string(" ") + name + " ") != std::string::npos;
}

// The colour texture standing in for a drawable renderbuffer of the current context, or 0.
GLuint colorTextureOf(GLuint renderbuffer) {
  auto* drawables = EAGLContextAccess::drawables(current);
  if (!drawables) return 0;
  auto it = drawables->find(renderbuffer);
  return it == drawables->end() ? 0 : it->second.texture;
}

void forgetColorTexture(GLuint renderbuffer) {
  auto* drawables = EAGLContextAccess::drawables(current);
  if (!drawables) return;
  auto it = drawables->find(renderbuffer);
  if (it == drawables->end() || it->second.texture == 0) return;
  glDeleteTextures(1, &it->second.texture);
  it->second.texture = 0;
}

}  // namespace

bool EAGLContext::isAvailable() {
  int forced = availabilityOverride.load();
  if (forced == 0) return false;
  if (forced < 0) {
    const char* off = std::getenv(kNoGLEnvironmentVariable);
    if (off && *off && std::strcmp(off, "0") != 0) return false;
  }
  return display().ok;
}

void EAGLContext::setAvailableForTesting(bool available) { availabilityOverride = available ? 1 : 0; }

EAGLContextRef EAGLContext::initWithAPI(EAGLRenderingAPI api) {
  if (api != kEAGLRenderingAPIOpenGLES1 || !isAvailable()) return nullptr;
  Display& d = display();
  EAGLContextRef context(new EAGLContext());
  context->impl_ = std::make_unique<Impl>();
  const EGLint attributes[] = {EGL_CONTEXT_CLIENT_VERSION, 1, EGL_NONE};
  context->impl_->context = eglCreateContext(d.display, d.config, EGL_NO_CONTEXT, attributes);
  if (context->impl_->context == EGL_NO_CONTEXT) return nullptr;
  if (!d.surfaceless) {
    const EGLint pbuffer[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
    context->impl_->surface = eglCreatePbufferSurface(d.display, d.config, pbuffer);
    if (context->impl_->surface == EGL_NO_SURFACE) return nullptr;  // the destructor releases the context
  }
  return context;
}

EAGLContext::~EAGLContext() {
  if (!impl_) return;
  Display& d = display();
  if (eglGetCurrentContext() == impl_->context && impl_->context != EGL_NO_CONTEXT) {
    eglMakeCurrent(d.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  }
  if (impl_->surface != EGL_NO_SURFACE) eglDestroySurface(d.display, impl_->surface);
  if (impl_->context != EGL_NO_CONTEXT) eglDestroyContext(d.display, impl_->context);
}

bool EAGLContext::setCurrentContext(const EAGLContextRef& context) {
  if (!context) {
    if (current && display().display != EGL_NO_DISPLAY) {
      eglMakeCurrent(display().display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    current.reset();
    return true;
  }
  if (current == context && eglGetCurrentContext() == context->impl_->context) return true;
  if (!eglMakeCurrent(display().display, context->impl_->surface, context->impl_->surface, context->impl_->context)) {
    return false;
  }
  current = context;
  return true;
}

EAGLContextRef EAGLContext::currentContext() { return current; }

bool EAGLContext::renderbufferStorage(GLenum target, const std::shared_ptr<CAEAGLLayer>& drawable) {
  if (current.get() != this || !drawable || target != GL_RENDERBUFFER_OES) return false;
  GLint bound = 0;
  glGetIntegerv(GL_RENDERBUFFER_BINDING_OES, &bound);
  if (bound == 0) return false;
  // Errors queued before the read would read as its own (a few at most: one per error flag).
  for (int i = 0; i < 8 && glGetError() != GL_NO_ERROR; ++i) {
  }
  const int width = drawable->drawableWidth(), height = drawable->drawableHeight();
  procs.renderbufferStorage(GL_RENDERBUFFER_OES, GL_RGBA8_OES, width, height);
  if (glGetError() != GL_NO_ERROR) return false;
  Drawable& record = impl_->drawables[static_cast<GLuint>(bound)];
  record.layer = drawable;
  if (impl_->bgraTextures < 0) {
    impl_->bgraTextures = procs.framebufferTexture2D && procs.getFramebufferAttachmentParameteriv &&
                          hasExtension("GL_EXT_texture_format_BGRA8888") && hasExtension("GL_EXT_read_format_bgra");
  }
  if (impl_->bgraTextures == 1) {
    // The texture keeps its name when the size changes, so a framebuffer it is attached to keeps it.
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    if (record.texture == 0) glGenTextures(1, &record.texture);
    glBindTexture(GL_TEXTURE_2D, record.texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_BGRA_EXT, width, height, 0, GL_BGRA_EXT, GL_UNSIGNED_BYTE, nullptr);
    const bool made = glGetError() == GL_NO_ERROR;
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
    if (!made) {
      // Drawn into the renderbuffer, as a driver without the texture format would.
      glDeleteTextures(1, &record.texture);
      record.texture = 0;
      impl_->bgraTextures = 0;
    }
  }
  return true;
}

bool EAGLContext::presentRenderbuffer(GLenum target) {
  if (current.get() != this || target != GL_RENDERBUFFER_OES) return false;
  GLint bound = 0;
  glGetIntegerv(GL_RENDERBUFFER_BINDING_OES, &bound);
  auto it = impl_->drawables.find(static_cast<GLuint>(bound));
  if (it == impl_->drawables.end()) return false;
  auto layer = it->second.layer.lock();
  if (!layer) {
    impl_->drawables.erase(it);
    return false;
  }
  GLint width = 0, height = 0;
  procs.getRenderbufferParameteriv(GL_RENDERBUFFER_OES, GL_RENDERBUFFER_WIDTH_OES, &width);
  procs.getRenderbufferParameteriv(GL_RENDERBUFFER_OES, GL_RENDERBUFFER_HEIGHT_OES, &height);
  if (procs.checkFramebufferStatus(GL_FRAMEBUFFER_OES) != GL_FRAMEBUFFER_COMPLETE_OES) return false;
  // Read in the order the framebuffer draws in: its own texture's B, G, R, A, else R, G, B, A.
  bool bgra = false;
  if (it->second.texture != 0) {
    GLint type = 0, name = 0;
    procs.getFramebufferAttachmentParameteriv(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES,
                                              GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE_OES, &type);
    procs.getFramebufferAttachmentParameteriv(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES,
                                              GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME_OES, &name);
    bgra = type == GL_TEXTURE && static_cast<GLuint>(name) == it->second.texture;
  }
  auto& out = layer->presentedForReadBack();
  const bool sameSize = out.width == width && out.height == height;
  out.width = width;
  out.height = height;
  // GL gives the rows bottom first: they are read straight into the layer's image (kept from
  // present to present) and left so; the compositor takes them in that order, and the layer turns
  // them only for a reader that wants them from the top. A read that fails writes nothing: the
  // image stays the last one (or, when the size changed, becomes transparent).
  const size_t size = static_cast<size_t>(width) * 4 * static_cast<size_t>(height);
  out.rgba.resize(size);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  // Errors queued before the read would read as its own (a few at most: one per error flag).
  for (int i = 0; i < 8 && glGetError() != GL_NO_ERROR; ++i) {
  }
  if (size > 0) glReadPixels(0, 0, width, height, bgra ? GL_BGRA_EXT : GL_RGBA, GL_UNSIGNED_BYTE, out.rgba.data());
  if (size > 0 && glGetError() != GL_NO_ERROR) {
    if (!sameSize) {
      std::fill(out.rgba.begin(), out.rgba.end(), 0);
      out.bgra = false;
    }
  } else if (size > 0) {
    out.bottomFirst = true;
    out.bgra = bgra;
  }
  ++out.count;
  return true;
}

// The extension's entry points under their usual names. Without GL they do nothing and report
// nothing, so a caller that skipped the availability check still does not crash.
extern "C" {
void glGenFramebuffersOES(GLsizei n, GLuint* framebuffers) {
  if (procs.genFramebuffers && current) procs.genFramebuffers(n, framebuffers);
  else for (GLsizei i = 0; i < n; ++i) framebuffers[i] = 0;
}
void glBindFramebufferOES(GLenum target, GLuint framebuffer) {
  if (procs.bindFramebuffer && current) procs.bindFramebuffer(target, framebuffer);
}
void glDeleteFramebuffersOES(GLsizei n, const GLuint* framebuffers) {
  if (procs.deleteFramebuffers && current) procs.deleteFramebuffers(n, framebuffers);
}
void glGenRenderbuffersOES(GLsizei n, GLuint* renderbuffers) {
  if (procs.genRenderbuffers && current) procs.genRenderbuffers(n, renderbuffers);
  else for (GLsizei i = 0; i < n; ++i) renderbuffers[i] = 0;
}
void glBindRenderbufferOES(GLenum target, GLuint renderbuffer) {
  if (procs.bindRenderbuffer && current) procs.bindRenderbuffer(target, renderbuffer);
}
void glDeleteRenderbuffersOES(GLsizei n, const GLuint* renderbuffers) {
  if (!procs.deleteRenderbuffers || !current) return;
  for (GLsizei i = 0; i < n; ++i) forgetColorTexture(renderbuffers[i]);
  procs.deleteRenderbuffers(n, renderbuffers);
}
void glRenderbufferStorageOES(GLenum target, GLenum internalformat, GLsizei width, GLsizei height) {
  if (!procs.renderbufferStorage || !current) return;
  // Storage given directly is the renderbuffer's own, not a layer's: it is drawn into itself.
  GLint bound = 0;
  glGetIntegerv(GL_RENDERBUFFER_BINDING_OES, &bound);
  forgetColorTexture(static_cast<GLuint>(bound));
  procs.renderbufferStorage(target, internalformat, width, height);
}
void glFramebufferRenderbufferOES(GLenum target, GLenum attachment, GLenum renderbuffertarget, GLuint renderbuffer) {
  if (!procs.framebufferRenderbuffer || !current) return;
  if (const GLuint texture = attachment == GL_COLOR_ATTACHMENT0_OES ? colorTextureOf(renderbuffer) : 0) {
    procs.framebufferTexture2D(target, attachment, GL_TEXTURE_2D, texture, 0);
    return;
  }
  procs.framebufferRenderbuffer(target, attachment, renderbuffertarget, renderbuffer);
}
void glGetRenderbufferParameterivOES(GLenum target, GLenum pname, GLint* params) {
  if (procs.getRenderbufferParameteriv && current) procs.getRenderbufferParameteriv(target, pname, params);
  else if (params) *params = 0;
}
void glFramebufferTexture2DOES(GLenum target, GLenum attachment, GLenum textarget, GLuint texture, GLint level) {
  if (procs.framebufferTexture2D && current) procs.framebufferTexture2D(target, attachment, textarget, texture, level);
}
void glGetFramebufferAttachmentParameterivOES(GLenum target, GLenum attachment, GLenum pname, GLint* params) {
  if (procs.getFramebufferAttachmentParameteriv && current) {
    procs.getFramebufferAttachmentParameteriv(target, attachment, pname, params);
  } else if (params) {
    *params = 0;
  }
}
GLenum glCheckFramebufferStatusOES(GLenum target) {
  if (procs.checkFramebufferStatus && current) return procs.checkFramebufferStatus(target);
  return 0;
}
}
