#include "overlays/StatusOverlay.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/graphics/NSAttributedString.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/uikit/UIWindow.h"

namespace {

constexpr double kDefaultMinimumDismiss = 5.0;
constexpr double kFadeDuration = 0.15;
constexpr double kMinBox = 100;
constexpr double kMaxTextWidth = 200;
constexpr double kMark = 30;
constexpr double kSpinnerTurnSeconds = 1.0;

// The box and what it holds, drawn with Cairo: the spinner (a ring with a gap that turns), the
// info mark (an "i" in a circle) or the success mark (a tick), and the text.
class OverlayView : public UIView {
 public:
  StatusOverlay::Kind kind = StatusOverlay::Kind::None;
  std::optional<std::string> status;
  double spinnerAngle = 0;

  OverlayView() { setUserInteractionEnabled(false); }

  NSAttributedString text() const {
    NSAttributes a;
    a.font = UIFont::fontWithName("Avenir-Medium", 15);
    a.foregroundColor = UIColor::whiteColor();
    a.alignment = NSTextAlignment::Center;
    return NSAttributedString(status.value_or(""), a);
  }

  // The box in the view's middle, sized to the mark and the text.
  CGRect box() const {
    const bool hasText = status && !status->empty();
    const CGSize t = hasText ? text().sizeAtScale(kMaxTextWidth, contentScaleFactor()) : CGSize{0, 0};
    const double w = std::max(kMinBox, std::ceil(t.width) + 32);
    const double h = std::max(kMinBox, kMark + 40 + (hasText ? std::ceil(t.height) + 12 : 0));
    const CGRect b = bounds();
    return CGRectMake(std::floor(CGRectGetMidX(b) - w / 2), std::floor(CGRectGetMidY(b) - h / 2), w, h);
  }

  void drawRect(const CGRect&) override {
    CGContextRef c = UIGraphicsGetCurrentContext();
    if (!c || kind == StatusOverlay::Kind::None) return;
    const CGRect r = box();
    UIColorSetFill(UIColor::colorWithWhite(0.08, 0.86));
    UIBezierPath::bezierPathWithRoundedRect(r, 14)->fill();
    const bool hasText = status && !status->empty();
    const NSAttributedString t = text();
    const CGSize ts = hasText ? t.size(kMaxTextWidth, c) : CGSize{0, 0};
    const double contentHeight = kMark + (hasText ? 12 + ts.height : 0);
    const double markY = CGRectGetMidY(r) - contentHeight / 2 + kMark / 2;
    const double cx = CGRectGetMidX(r);
    cairo_t* cr = c->cairo();
    cairo_save(cr);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_source_rgba(cr, 1, 1, 1, 1);
    const double radius = kMark / 2 - 2;
    switch (kind) {
      case StatusOverlay::Kind::Spinner: {
        cairo_set_line_width(cr, 3);
        cairo_set_source_rgba(cr, 1, 1, 1, 0.18);
        cairo_arc(cr, cx, markY, radius, 0, 2 * M_PI);
        cairo_stroke(cr);
        cairo_set_source_rgba(cr, 1, 1, 1, 1);
        cairo_arc(cr, cx, markY, radius, spinnerAngle, spinnerAngle + 1.4 * M_PI);
        cairo_stroke(cr);
        break;
      }
      case StatusOverlay::Kind::Info: {
        cairo_set_line_width(cr, 2.2);
        cairo_arc(cr, cx, markY, radius, 0, 2 * M_PI);
        cairo_stroke(cr);
        cairo_arc(cr, cx, markY - radius * 0.45, 1.9, 0, 2 * M_PI);
        cairo_fill(cr);
        cairo_set_line_width(cr, 3);
        cairo_move_to(cr, cx, markY - radius * 0.1);
        cairo_line_to(cr, cx, markY + radius * 0.55);
        cairo_stroke(cr);
        break;
      }
      case StatusOverlay::Kind::Success: {
        cairo_set_line_width(cr, 2.2);
        cairo_arc(cr, cx, markY, radius, 0, 2 * M_PI);
        cairo_stroke(cr);
        cairo_set_line_width(cr, 3);
        cairo_move_to(cr, cx - radius * 0.45, markY + radius * 0.02);
        cairo_line_to(cr, cx - radius * 0.1, markY + radius * 0.38);
        cairo_line_to(cr, cx + radius * 0.5, markY - radius * 0.32);
        cairo_stroke(cr);
        break;
      }
      case StatusOverlay::Kind::None: break;
    }
    cairo_restore(cr);
    if (hasText) t.drawInContext(c, {cx - kMaxTextWidth / 2, markY + kMark / 2 + 12}, kMaxTextWidth);
  }
};

struct State {
  std::shared_ptr<OverlayView> view;
  NSTimerRef dismissTimer, spinTimer;
  double minimumDismiss = kDefaultMinimumDismiss;
  double maximumDismiss = std::numeric_limits<double>::infinity();
  uint64_t generation = 0;  // bumped by every show and dismiss, so a stale fade-out does nothing
};

State& state() {
  static State* s = new State();
  return *s;
}

// Runs the block now on the main thread, or from the main queue when called elsewhere.
void onMain(std::function<void()> block) {
  if (NSRunLoop::isMainThread()) block();
  else DispatchQueue::main()->async(std::move(block));
}

size_t characterCount(const std::string& text) {
  size_t count = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++count;
  return count;
}

std::shared_ptr<OverlayView> overlayView() {
  State& s = state();
  if (!s.view) s.view = std::make_shared<OverlayView>();
  return s.view;
}

void stopTimers() {
  State& s = state();
  if (s.dismissTimer) s.dismissTimer->invalidate();
  if (s.spinTimer) s.spinTimer->invalidate();
  s.dismissTimer.reset();
  s.spinTimer.reset();
}

void hideNow() {
  State& s = state();
  ++s.generation;
  stopTimers();
  auto view = overlayView();
  view->removeAllAnimations();
  view->kind = StatusOverlay::Kind::None;
  view->status.reset();
  view->removeFromSuperview();
}

// Puts the overlay over the key window, in front of everything there.
void present(StatusOverlay::Kind kind, const std::optional<std::string>& status) {
  State& s = state();
  ++s.generation;
  stopTimers();
  auto view = overlayView();
  view->removeAllAnimations();
  view->kind = kind;
  view->status = status;
  view->setAlpha(1);
  view->setNeedsDisplay();
  if (auto window = UIWindow::keyWindow()) {
    view->setFrame(window->bounds());
    view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    window->addSubview(view);
  }
  if (kind == StatusOverlay::Kind::Spinner) {
    const double start = Clock::monotonic();
    s.spinTimer = NSTimer::scheduledTimerWithTimeInterval(1.0 / 30, true, [start](NSTimer&) {
      auto v = overlayView();
      const double turns = (Clock::monotonic() - start) / kSpinnerTurnSeconds;
      v->spinnerAngle = 2 * M_PI * (turns - std::floor(turns));
      v->setNeedsDisplay();
    });
    return;
  }
  const uint64_t generation = s.generation;
  s.dismissTimer = NSTimer::scheduledTimerWithTimeInterval(
      StatusOverlay::displayDurationForString(status), false, [generation](NSTimer&) {
        if (state().generation != generation) return;
        auto v = overlayView();
        UIView::animateWithDuration(kFadeDuration, 0, UIViewAnimationOptionCurveEaseIn, [&] { v->setAlpha(0); },
                                    [generation](bool) {
                                      if (state().generation == generation) hideNow();
                                    });
      });
}

}  // namespace

void StatusOverlay::show() {
  onMain([] { present(Kind::Spinner, std::nullopt); });
}

void StatusOverlay::dismiss() {
  onMain([] { hideNow(); });
}

void StatusOverlay::showInfoWithStatus(const std::string& status) {
  onMain([status] { present(Kind::Info, status); });
}

void StatusOverlay::showSuccessWithStatus(const std::optional<std::string>& status) {
  onMain([status] { present(Kind::Success, status); });
}

double StatusOverlay::displayDurationForString(const std::optional<std::string>& status) {
  const State& s = state();
  if (!status) return s.minimumDismiss;
  const double duration = double(characterCount(*status)) * 0.06 + 0.5;
  return std::min(std::max(duration, s.minimumDismiss), s.maximumDismiss);
}

void StatusOverlay::setMinimumDismissTimeInterval(double seconds) {
  if (std::isfinite(seconds) && seconds >= 0) state().minimumDismiss = seconds;
}

void StatusOverlay::setMaximumDismissTimeInterval(double seconds) {
  if (!std::isnan(seconds) && seconds >= 0) state().maximumDismiss = seconds;
}

double StatusOverlay::minimumDismissTimeInterval() { return state().minimumDismiss; }
double StatusOverlay::maximumDismissTimeInterval() { return state().maximumDismiss; }

bool StatusOverlay::isVisible() { return overlayView()->kind != Kind::None; }
StatusOverlay::Kind StatusOverlay::kind() { return overlayView()->kind; }
std::optional<std::string> StatusOverlay::status() { return overlayView()->status; }
std::shared_ptr<UIView> StatusOverlay::view() { return overlayView(); }

void StatusOverlay::resetForTesting() {
  hideNow();
  state().minimumDismiss = kDefaultMinimumDismiss;
  state().maximumDismiss = std::numeric_limits<double>::infinity();
}
