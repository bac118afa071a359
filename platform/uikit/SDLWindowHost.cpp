#include "platform/uikit/SDLWindowHost.h"

#include <SDL.h>
#include <cairo.h>

#include <cstdlib>
#include <string>

#include "platform/uikit/UICompositor.h"

struct SDLWindowHost::Impl {
  std::weak_ptr<UIWindow> window;
  SDL_Window* sdlWindow = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int textureW = 0, textureH = 0;
  bool initialised = false;
};

namespace {

void stopVideo();

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

namespace {
void stopVideo() {
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  // The last user of SDL lets go of what it keeps for the process (its D-Bus connection).
  if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
}
}  // namespace

bool SDLWindowHost::displayAvailable(std::string* why) {
  if (!startVideo(why)) return false;
  stopVideo();
  return true;
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
  if (!startVideo(error)) return false;
  impl_->initialised = true;
  CGRect b = window->bounds();
  impl_->sdlWindow = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                      static_cast<int>(b.size.width), static_cast<int>(b.size.height),
                                      SDL_WINDOW_ALLOW_HIGHDPI);
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
  return true;
}

void SDLWindowHost::present() {
  auto window = impl_->window.lock();
  if (!window || !impl_->renderer) return;
  auto frame = UICompositor::render(window);
  if (!frame) return;
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
  while (SDL_PollEvent(&e)) {
    double t = e.common.timestamp / 1000.0;
    switch (e.type) {
      case SDL_QUIT: running = false; break;
      case SDL_MOUSEBUTTONDOWN:
        if (window && e.button.button == SDL_BUTTON_LEFT) window->touchDown({double(e.button.x), double(e.button.y)}, t);
        break;
      case SDL_MOUSEMOTION:
        if (window && (e.motion.state & SDL_BUTTON_LMASK)) window->touchMove({double(e.motion.x), double(e.motion.y)}, t);
        break;
      case SDL_MOUSEBUTTONUP:
        if (window && e.button.button == SDL_BUTTON_LEFT) window->touchUp({double(e.button.x), double(e.button.y)}, t);
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
  if (impl_->initialised) stopVideo();
  impl_->initialised = false;
}
