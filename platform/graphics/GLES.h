#pragma once
// OpenGL ES 1.1 with the framebuffer-object extension. The extension's entry points are not
// exported by the GL library; this layer resolves them through EGL and provides them under their
// usual names (they do nothing when no GL is available).
#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES 1
#endif
#include <GLES/gl.h>
#include <GLES/glext.h>
