#include "platform/uikit/SDLWindowHost.h"

#include <SDL.h>
#include <cairo.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/foundation/NSLog.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UIKeyInput.h"

struct SDLWindowHost::Impl {
  std::weak_ptr<UIWindow> window;
  SDL_Window* sdlWindow = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int textureW = 0, textureH = 0;
  int windowW = 0, windowH = 0;
  double scale = 1;
  bool ownsDisplay = false;  // open() opened the display itself: close() lets go of it
  bool visible = true;
};

namespace {
// Delivers one pointer event; a handler's exception must not end the window.
template <class F>
void deliver(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    NSLog("SDLWindowHost: a touch handler raised: %s", e.what());
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
  impl_->renderer = SDL_CreateRenderer(impl_->sdlWindow, -1, 0);
  if (!impl_->renderer) {
    if (error) *error = SDL_GetError();
    close();
    return false;
  }
  impl_->window = window;
  SDL_StartTextInput();  // typed text reaches the text field being edited (UIKeyInput)
  return true;
}

void SDLWindowHost::present() {
  auto window = impl_->window.lock();
  if (!window || !impl_->renderer) return;
  if (!impl_->visible) return;  // nothing to show while hidden or minimised
  auto frame = UICompositor::render(window);
  if (!frame) return;
  if (frame->width() != impl_->windowW || frame->height() != impl_->windowH) {
    // The window changed size (the interface turned): the desktop window follows.
    impl_->windowW = frame->width();
    impl_->windowH = frame->height();
    SDL_SetWindowSize(impl_->sdlWindow, impl_->windowW, impl_->windowH);
  }
  if (!impl_->texture || impl_->textureW != frame->width() || impl_->textureH != frame->height()) {
    if (impl_->texture) SDL_DestroyTexture(impl_->texture);
    impl_->texture = SDL_CreateTexture(impl_->renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                       frame->width(), frame->height());
    impl_->textureW = frame->width();
    impl_->textureH = frame->height();
    if (!impl_->texture) return;
  }
  cairo_surface_flush(frame->surface());
  SDL_UpdateTexture(impl_->texture, nullptr, cairo_image_surface_get_data(frame->surface()),
                    cairo_image_surface_get_stride(frame->surface()));
  SDL_SetRenderDrawColor(impl_->renderer, 0, 0, 0, 255);
  SDL_RenderClear(impl_->renderer);
  SDL_RenderCopy(impl_->renderer, impl_->texture, nullptr, nullptr);
  SDL_RenderPresent(impl_->renderer);
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
          case SDL_WINDOWEVENT_EXPOSED: setVisible(true); break;
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
      case SDL_KEYDOWN:
        if (e.key.keysym.sym == SDLK_BACKSPACE) deliver([] { UIKeyInput::typeBackspace(); });
        else if (e.key.keysym.sym == SDLK_RETURN || e.key.keysym.sym == SDLK_KP_ENTER) deliver([] { UIKeyInput::typeReturn(); });
        else if (e.key.keysym.sym == SDLK_ESCAPE) deliver([] { UIKeyInput::typeEscape(); });
        break;
      default: break;
    }
  }
  return running;
}

void SDLWindowHost::close() {
  if (impl_->texture) SDL_DestroyTexture(impl_->texture);
  if (impl_->renderer) SDL_DestroyRenderer(impl_->renderer);
  if (impl_->sdlWindow) SDL_DestroyWindow(impl_->sdlWindow);
  impl_->texture = nullptr;
  impl_->renderer = nullptr;
  impl_->sdlWindow = nullptr;
  if (impl_->ownsDisplay) closeDisplay();
  impl_->ownsDisplay = false;
}
