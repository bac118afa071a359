#include "platform/uikit/SDLWindowHost.h"

#include <SDL.h>
#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/accelerate/VectorClones.h"
#include "platform/foundation/NSLog.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UIKeyInput.h"

struct SDLWindowHost::Impl {
  std::weak_ptr<UIWindow> window;
  SDL_Window* sdlWindow = nullptr;
  // Frames are composed incrementally and only their changed rectangles are copied into the
  // desktop window's surface and shown.
  UICompositor compositor;
  bool presentAll = true;  // the desktop window needs the whole frame (new, exposed, resized)
  std::chrono::steady_clock::time_point lastFrame{};
  int windowW = 0, windowH = 0;
  double scale = 1;
  bool ownsDisplay = false;  // open() opened the display itself: close() lets go of it
  bool visible = true;
};

namespace {
// Delivers one pointer or key event; a handler's exception must not end the window.
template <class F>
void deliver(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    NSLog("SDLWindowHost: an input handler raised: %s", e.what());
  }
}

// A key pressed (or repeated while held) that is not text: the editing keys of a text field, and
// Return and Escape. Those two act on their first press only: a Return held down must not also
// answer the dialog its first press brought up.
void deliverKey(const SDL_KeyboardEvent& key) {
  switch (key.keysym.sym) {
    case SDLK_BACKSPACE: UIKeyInput::typeBackspace(); break;
    case SDLK_DELETE: UIKeyInput::typeDelete(); break;
    case SDLK_LEFT: UIKeyInput::typeCaretMove(UITextCaretMove::Left); break;
    case SDLK_RIGHT: UIKeyInput::typeCaretMove(UITextCaretMove::Right); break;
    case SDLK_HOME: UIKeyInput::typeCaretMove(UITextCaretMove::Home); break;
    case SDLK_END: UIKeyInput::typeCaretMove(UITextCaretMove::End); break;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      if (!key.repeat) UIKeyInput::typeReturn();
      break;
    case SDLK_ESCAPE:
      if (!key.repeat) UIKeyInput::typeEscape();
      break;
    default: break;
  }
}

// Whether openDisplay succeeded and closeDisplay has not run since (main thread only).
bool displayOpen = false;

void stopVideo() {
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  // The last user of SDL lets go of what it keeps for the process (its D-Bus connection).
  if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
}

// Starts SDL's video for the display the environment names; false with the reason in words. SDL
// left to itself falls back to its offscreen driver when no server answers, and a window on it is
// never seen: only the drivers of a desktop display count.
bool startVideo(std::string* why) {
  const char* x = std::getenv("DISPLAY");
  const char* wl = std::getenv("WAYLAND_DISPLAY");
  const bool hasX = x && *x, hasWayland = wl && *wl;
  if (!hasX && !hasWayland) {
    if (why) *why = "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    return false;
  }
  // The drivers of the servers the environment names, Wayland first; SDL_VIDEODRIVER still wins.
  SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, hasWayland && hasX ? "wayland,x11" : hasX ? "x11" : "wayland",
                          SDL_HINT_DEFAULT);
  std::string named;
  if (hasWayland) named += std::string("WAYLAND_DISPLAY \"") + wl + "\"";
  if (hasX) named += std::string(named.empty() ? "" : " and ") + "DISPLAY \"" + x + "\"";
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    if (why) *why = "no display: " + named + " names no display server that answers (" + SDL_GetError() + ")";
    return false;
  }
  const char* driver = SDL_GetCurrentVideoDriver();
  const std::string name = driver ? driver : "";
  if (name != "x11" && name != "wayland") {
    stopVideo();
    if (why) *why = "no display: SDL's video driver \"" + name + "\" shows no window";
    return false;
  }
  return true;
}

}  // namespace

bool SDLWindowHost::openDisplay(std::string* why) {
  if (displayOpen) return true;
  displayOpen = startVideo(why);
  return displayOpen;
}

bool SDLWindowHost::isDisplayOpen() { return displayOpen; }

void SDLWindowHost::closeDisplay() {
  if (!displayOpen) return;
  displayOpen = false;
  stopVideo();
}

SDLWindowHost::SDLWindowHost() : impl_(std::make_unique<Impl>()) {}
SDLWindowHost::~SDLWindowHost() { close(); }

bool SDLWindowHost::open(const std::shared_ptr<UIWindow>& window, const std::string& title, std::string* error) {
  if (!window) {
    if (error) *error = "no window to show";
    return false;
  }
  // The window only shows composited frames: SDL's own GL renderer gains nothing and, on some X
  // servers, clashes with the GL context the views render with. A user's own setting still wins.
  SDL_SetHintWithPriority(SDL_HINT_RENDER_DRIVER, "software", SDL_HINT_DEFAULT);
  SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
  if (!isDisplayOpen()) {
    if (!openDisplay(error)) return false;
    impl_->ownsDisplay = true;
  }
  CGRect b = window->bounds();
  impl_->scale = window->contentScaleFactor();
  impl_->windowW = static_cast<int>(std::lround(b.size.width * impl_->scale));
  impl_->windowH = static_cast<int>(std::lround(b.size.height * impl_->scale));
  impl_->sdlWindow = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, impl_->windowW,
                                      impl_->windowH, 0);
  if (!impl_->sdlWindow) {
    if (error) *error = SDL_GetError();
    close();
    return false;
  }
  impl_->window = window;
  SDL_StartTextInput();  // typed text reaches the text field being edited (UIKeyInput)
  return true;
}

namespace {
// One row of the frame made opaque: a premultiplied pixel's colour already is its colour over
// black, so only its alpha changes (an opaque pixel stays as it is).
SA_VECTOR_CLONES void copyRowOverBlack(const uint32_t* __restrict in, uint32_t* __restrict out, int count) {
  for (int x = 0; x < count; ++x) out[x] = 0xff000000u | in[x];
}

// Writes a rectangle of the composed frame (premultiplied ARGB) as it shows over black. `out`
// points at the rectangle's first pixel, rows `pitch` bytes apart.
void copyRect(const CGBitmapContext& frame, const SDL_Rect& r, uint8_t* out, int pitch) {
  const auto* src = cairo_image_surface_get_data(frame.surface());
  const int srcStride = cairo_image_surface_get_stride(frame.surface());
  for (int y = 0; y < r.h; ++y) {
    const auto* in = reinterpret_cast<const uint32_t*>(src + static_cast<size_t>(r.y + y) * srcStride) + r.x;
    copyRowOverBlack(in, reinterpret_cast<uint32_t*>(out + static_cast<size_t>(y) * pitch), r.w);
  }
}

// Whether the window's surface keeps pixels as the frame does (X servers of 24 and 32 bits do).
bool keepsFramePixels(const SDL_Surface* surface) {
  const SDL_PixelFormat* f = surface->format;
  return f->BytesPerPixel == 4 && f->Rmask == 0x00ff0000u && f->Gmask == 0x0000ff00u && f->Bmask == 0x000000ffu;
}

// Into the window's surface: directly when it keeps pixels as the frame does, else through SDL's
// conversion.
void presentRect(const CGBitmapContext& frame, SDL_Surface* surface, const SDL_Rect& r) {
  auto* pixels = static_cast<uint8_t*>(surface->pixels);
  const SDL_PixelFormat* f = surface->format;
  if (keepsFramePixels(surface)) {
    copyRect(frame, r, pixels + static_cast<size_t>(r.y) * surface->pitch + static_cast<size_t>(r.x) * 4, surface->pitch);
    return;
  }
  std::vector<uint8_t> argb(static_cast<size_t>(r.w) * r.h * 4);
  copyRect(frame, r, argb.data(), r.w * 4);
  SDL_ConvertPixels(r.w, r.h, SDL_PIXELFORMAT_ARGB8888, argb.data(), r.w * 4, f->format,
                    pixels + static_cast<size_t>(r.y) * surface->pitch + static_cast<size_t>(r.x) * f->BytesPerPixel,
                    surface->pitch);
}
}  // namespace

void SDLWindowHost::present() {
  auto window = impl_->window.lock();
  if (!window || !impl_->sdlWindow) return;
  if (!impl_->visible) return;  // nothing to show while hidden or minimised
  // A desktop display shows at most about 60 frames a second: composing more often shows nothing
  // more (the main loop comes by about a hundred times a second).
  const auto now = std::chrono::steady_clock::now();
  if (now - impl_->lastFrame < std::chrono::microseconds(16000) && !impl_->presentAll) return;
  impl_->lastFrame = now;
  // An opaque frame is composed straight into the window's surface, where it persists from frame
  // to frame (until a resize makes SDL replace the surface), instead of being copied there: what
  // the copy writes for an opaque pixel is the pixel as it is.
  SDL_Surface* target = SDL_GetWindowSurface(impl_->sdlWindow);
  void* targetPixels = target ? target->pixels : nullptr;
  if (target && keepsFramePixels(target) && !SDL_MUSTLOCK(target)) {
    impl_->compositor.setTarget({static_cast<uint8_t*>(targetPixels), target->w, target->h, target->pitch});
  } else {
    impl_->compositor.setTarget({});
  }
  const auto& damage = impl_->compositor.update(window);
  const CGBitmapContext* frame = impl_->compositor.frame();
  if (!frame) return;
  if (frame->width() != impl_->windowW || frame->height() != impl_->windowH) {
    // The window changed size (the interface turned): the desktop window follows.
    impl_->windowW = frame->width();
    impl_->windowH = frame->height();
    SDL_SetWindowSize(impl_->sdlWindow, impl_->windowW, impl_->windowH);
    impl_->presentAll = true;
    if (impl_->compositor.framesIntoTarget()) {
      // The resize may have replaced the surface composed into: nothing is read from it, and the
      // next frame is composed whole into the surface of the new size.
      impl_->compositor.setTarget({});
      return;
    }
  }
  if (damage.empty() && !impl_->presentAll) return;
  SDL_Surface* surface = SDL_GetWindowSurface(impl_->sdlWindow);
  if (!surface) return;
  if (impl_->compositor.framesIntoTarget()) {
    if (surface != target || surface->pixels != targetPixels) {  // not expected: nothing resized since
      impl_->compositor.setTarget({});
      impl_->presentAll = true;
      return;
    }
    // The frame is in the surface already: it is only shown.
    if (impl_->presentAll) SDL_UpdateWindowSurface(impl_->sdlWindow);
    else {
      std::vector<SDL_Rect> rects;
      for (const auto& d : damage) rects.push_back({d.x, d.y, d.width, d.height});
      SDL_UpdateWindowSurfaceRects(impl_->sdlWindow, rects.data(), static_cast<int>(rects.size()));
    }
    impl_->presentAll = false;
    return;
  }
  std::vector<SDL_Rect> rects;
  auto add = [&](int x, int y, int w, int h) {
    SDL_Rect r{std::max(0, x), std::max(0, y), 0, 0};
    r.w = std::min({x + w, surface->w, frame->width()}) - r.x;
    r.h = std::min({y + h, surface->h, frame->height()}) - r.y;
    if (r.w > 0 && r.h > 0) rects.push_back(r);
  };
  // A surface of another size than the frame (a resize on its way) is filled as far as it goes,
  // and the whole frame is shown again once the sizes agree.
  const bool whole = impl_->presentAll;
  if (whole) add(0, 0, surface->w, surface->h);
  else for (const auto& d : damage) add(d.x, d.y, d.width, d.height);
  impl_->presentAll = surface->w != frame->width() || surface->h != frame->height();
  if (rects.empty()) return;
  if (SDL_MUSTLOCK(surface)) SDL_LockSurface(surface);
  for (const auto& r : rects) presentRect(*frame, surface, r);
  if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  if (whole) SDL_UpdateWindowSurface(impl_->sdlWindow);
  else SDL_UpdateWindowSurfaceRects(impl_->sdlWindow, rects.data(), static_cast<int>(rects.size()));
}

bool SDLWindowHost::pumpEvents() {
  auto window = impl_->window.lock();
  if (!impl_->sdlWindow) return false;
  SDL_Event e;
  bool running = true;
  const double k = impl_->scale > 0 ? impl_->scale : 1;
  auto setVisible = [this](bool visible) {
    if (visible == impl_->visible) return;
    impl_->visible = visible;
    if (onVisibilityChanged) deliver([&] { onVisibilityChanged(visible); });
  };
  while (SDL_PollEvent(&e)) {
    double t = e.common.timestamp / 1000.0;
    switch (e.type) {
      case SDL_QUIT: running = false; break;
      case SDL_WINDOWEVENT:
        switch (e.window.event) {
          case SDL_WINDOWEVENT_HIDDEN:
          case SDL_WINDOWEVENT_MINIMIZED: setVisible(false); break;
          case SDL_WINDOWEVENT_SHOWN:
          case SDL_WINDOWEVENT_RESTORED:
          case SDL_WINDOWEVENT_EXPOSED:
            impl_->presentAll = true;  // the desktop window's content is to be shown again whole
            setVisible(true);
            break;
          case SDL_WINDOWEVENT_SIZE_CHANGED:
            // SDL replaces the window's surface at its next use: the frame composed into it goes.
            impl_->compositor.setTarget({});
            impl_->presentAll = true;
            break;
          case SDL_WINDOWEVENT_CLOSE: running = false; break;
          default: break;
        }
        break;
      case SDL_MOUSEBUTTONDOWN:
        if (window && e.button.button == SDL_BUTTON_LEFT) {
          deliver([&] { window->touchDown({e.button.x / k, e.button.y / k}, t); });
        }
        break;
      case SDL_MOUSEMOTION:
        if (window && (e.motion.state & SDL_BUTTON_LMASK)) {
          deliver([&] { window->touchMove({e.motion.x / k, e.motion.y / k}, t); });
        }
        break;
      case SDL_MOUSEBUTTONUP:
        if (window && e.button.button == SDL_BUTTON_LEFT) {
          deliver([&] { window->touchUp({e.button.x / k, e.button.y / k}, t); });
        }
        break;
      case SDL_TEXTINPUT: deliver([&] { UIKeyInput::typeText(e.text.text); }); break;
      case SDL_KEYDOWN: deliver([&] { deliverKey(e.key); }); break;
      default: break;
    }
  }
  return running;
}

void SDLWindowHost::close() {
  impl_->compositor.setTarget({});  // the window's surface goes with it
  if (impl_->sdlWindow) SDL_DestroyWindow(impl_->sdlWindow);
  impl_->sdlWindow = nullptr;
  impl_->presentAll = true;
  if (impl_->ownsDisplay) closeDisplay();
  impl_->ownsDisplay = false;
}
