#pragma once
// The progress and status display: one shared overlay over the key window, a dark rounded box in
// the middle holding an indefinite spinner, or an info or success mark, with an optional status
// text under it. Touches pass through it to the screen below.
//
// - show: the spinner, no text; it stays until dismiss.
// - dismiss: hides the overlay at once (no fade, no completion).
// - showInfoWithStatus / showSuccessWithStatus: the mark and the text; the overlay hides itself
//   (fading out) after displayDurationForString: the text's length in characters × 0.06 + 0.5 s,
//   clamped between the minimum dismiss time (5 s unless set) and the maximum (unlimited unless
//   set); with no text, after the minimum. A new show replaces what is shown and its timer.
//
// Everything runs on the main thread: calls made elsewhere are carried to the main queue. The
// spinner turns and the timers run on the main run loop's clock. The desktop has no haptic
// engine, so the marks come without haptic feedback.
#include <memory>
#include <optional>
#include <string>

class UIView;

class StatusOverlay {
 public:
  enum class Kind { None, Spinner, Info, Success };

  static void show();
  static void dismiss();
  static void showInfoWithStatus(const std::string& status);
  static void showSuccessWithStatus(const std::optional<std::string>& status = std::nullopt);

  // How long an info or success overlay with this text stays.
  static double displayDurationForString(const std::optional<std::string>& status);
  static void setMinimumDismissTimeInterval(double seconds);
  static void setMaximumDismissTimeInterval(double seconds);  // infinity: unlimited
  static double minimumDismissTimeInterval();
  static double maximumDismissTimeInterval();

  // What is shown now (main thread).
  static bool isVisible();
  static Kind kind();
  static std::optional<std::string> status();
  // The overlay's view (made on first use), for drawing checks.
  static std::shared_ptr<UIView> view();

  // Back to a new process's state: hidden, default times.
  static void resetForTesting();
};
