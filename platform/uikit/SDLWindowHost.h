#pragma once
// Shows a window's composited frames in a desktop window (SDL2), turns the mouse into touches and
// hands the keyboard to UIKeyInput: typed text, Backspace, Delete, Left, Right, Home, End, Return
// and Escape (the last two once per press, not repeated while held). Only used when a display
// exists; without one frames go to PNG files instead.
//
// The desktop window has the window's size in pixels (points times the screen's scale) and
// follows it when it changes; mouse positions are divided by the scale. The desktop window being
// hidden or minimised, and shown or restored again, is reported through onVisibilityChanged.
// An exception from a touch or key handler is logged and the window goes on.
#include <functional>
#include <memory>
#include <string>

#include "platform/uikit/UIWindow.h"

class SDLWindowHost {
 public:
  // Opens the desktop display for the process and keeps it open until closeDisplay: DISPLAY or
  // WAYLAND_DISPLAY names a server that answers and SDL shows windows on it. SDL's offscreen and
  // dummy drivers (its fallbacks when no server answers, or a user's SDL_VIDEODRIVER) show nothing
  // and count as no display. False with the reason in words in *why; true at once when the
  // display is open already.
  // Start-up opens the display once, to learn whether there is one, and the window then opens on
  // that same connection: an X server whose only client leaves resets itself and refuses the next
  // client for a moment, so letting go in between could lose the window.
  static bool openDisplay(std::string* why = nullptr);
  static bool isDisplayOpen();
  // Lets go of the display (nothing when it is not open). Windows still open stop showing.
  static void closeDisplay();

  SDLWindowHost();
  ~SDLWindowHost();
  SDLWindowHost(const SDLWindowHost&) = delete;
  SDLWindowHost& operator=(const SDLWindowHost&) = delete;

  // Opens a desktop window of the window's size in points, on the open display (opening it first
  // when it is not, and then closing it again with the window); false (with the reason) when it
  // cannot.
  bool open(const std::shared_ptr<UIWindow>& window, const std::string& title, std::string* error = nullptr);
  // Composites the window and shows the frame.
  void present();
  // Handles pending desktop events (mouse as touch, keys); false once the user closed the window.
  bool pumpEvents();
  void close();

  // Called with false when the desktop window is hidden or minimised, with true when it is shown
  // or restored again.
  std::function<void(bool visible)> onVisibilityChanged;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
