// View animations: recording the changes made inside an animation block and computing the values
// on screen from the run loop's clock.
#include <algorithm>
#include <cmath>

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/uikit/UIView.h"
#include "platform/uikit/UIViewAnimationState.h"

namespace {

using uikit_detail::AnimationContext;
using uikit_detail::Track;

AnimationContext* current = nullptr;  // main thread only
int withoutAnimation = 0;

// Progress 0..1 along the timing curve for the elapsed fraction t in 0..1.
double curveValue(const AnimationContext& a, double t) {
  t = std::clamp(t, 0.0, 1.0);
  if (a.spring) {
    // A damped oscillation that settles at 1; damping 1 is the critically damped case.
    double zeta = std::clamp(a.damping, 0.05, 1.0);
    double omega = 12.0;
    if (t >= 1) return 1;
    if (zeta >= 1) return 1 - (1 + omega * t) * std::exp(-omega * t);
    double wd = omega * std::sqrt(1 - zeta * zeta);
    double v = 1 - std::exp(-zeta * omega * t) * (std::cos(wd * t) + zeta * omega / wd * std::sin(wd * t));
    return v;
  }
  switch (a.curve & (0xF << 16)) {
    case UIViewAnimationOptionCurveLinear: return t;
    case UIViewAnimationOptionCurveEaseIn: return t * t;
    case UIViewAnimationOptionCurveEaseOut: return 1 - (1 - t) * (1 - t);
    default: return t * t * (3 - 2 * t);
  }
}

double mix(double a, double b, double k) { return a + (b - a) * k; }
CGPoint mix(CGPoint a, CGPoint b, double k) { return {mix(a.x, b.x, k), mix(a.y, b.y, k)}; }
CGSize mix(CGSize a, CGSize b, double k) { return {mix(a.width, b.width, k), mix(a.height, b.height, k)}; }
CGAffineTransform mix(const CGAffineTransform& a, const CGAffineTransform& b, double k) {
  return {mix(a.a, b.a, k), mix(a.b, b.b, k), mix(a.c, b.c, k), mix(a.d, b.d, k), mix(a.tx, b.tx, k), mix(a.ty, b.ty, k)};
}

// The value of a track now, or none when it is over.
template <class T>
std::optional<T> sample(const std::optional<Track<T>>& track) {
  if (!track) return std::nullopt;
  double now = Clock::monotonic();
  const auto& t = track->timing;
  if (now >= t.start + t.duration) return std::nullopt;
  if (now <= t.start) return track->from;
  return mix(track->from, track->to, curveValue(t, (now - t.start) / t.duration));
}

void run(double duration, double delay, uint32_t options, bool spring, double damping,
         const std::function<void()>& animations, std::function<void(bool)> completion) {
  AnimationContext context;
  context.duration = std::isfinite(duration) && duration > 0 ? duration : 0;
  double wait = std::isfinite(delay) && delay > 0 ? delay : 0;
  context.start = Clock::monotonic() + wait;
  context.curve = options;
  context.spring = spring;
  context.damping = damping;
  AnimationContext* outer = current;
  current = context.duration > 0 && withoutAnimation == 0 ? &context : nullptr;
  try {
    if (animations) animations();
  } catch (...) {
    current = outer;
    throw;
  }
  current = outer;
  if (completion) {
    // Finished when the time is over, as the platform reports it: on the main run loop.
    NSTimer::scheduledTimerWithTimeInterval(context.duration + wait, false,
                                            [completion = std::move(completion)](NSTimer&) { completion(true); });
  }
}

}  // namespace

void UIView::animateWithDuration(double duration, double delay, uint32_t options, const std::function<void()>& animations,
                                 std::function<void(bool)> completion) {
  run(duration, delay, options, false, 1, animations, std::move(completion));
}

void UIView::animateWithDuration(double duration, const std::function<void()>& animations,
                                 std::function<void(bool)> completion) {
  run(duration, 0, UIViewAnimationOptionCurveEaseInOut, false, 1, animations, std::move(completion));
}

void UIView::animateWithDurationSpring(double duration, double delay, double damping, double velocity, uint32_t options,
                                       const std::function<void()>& animations, std::function<void(bool)> completion) {
  run(duration, delay, options, true, std::isfinite(damping) ? damping : 1, animations, std::move(completion));
}

void UIView::performWithoutAnimation(const std::function<void()>& block) {
  ++withoutAnimation;
  AnimationContext* outer = current;
  current = nullptr;
  try {
    if (block) block();
  } catch (...) {
    current = outer;
    --withoutAnimation;
    throw;
  }
  current = outer;
  --withoutAnimation;
}

void UIView::applyCenter(CGPoint center) {
  if (current && center != center_) {
    if (!animations_) animations_ = std::make_unique<Animations>();
    animations_->center = Track<CGPoint>{presentationCenter(), center, *current};
  }
  if (center != center_) layoutInputsChanged();
  center_ = center;
}

void UIView::applySize(CGSize size) {
  if (current && size != bounds_.size) {
    if (!animations_) animations_ = std::make_unique<Animations>();
    animations_->size = Track<CGSize>{presentationSize(), size, *current};
  }
}

void UIView::setAlpha(double alpha) {
  double a = std::isfinite(alpha) ? std::clamp(alpha, 0.0, 1.0) : 1.0;
  if (current && a != alpha_) {
    if (!animations_) animations_ = std::make_unique<Animations>();
    animations_->alpha = Track<double>{presentationAlpha(), a, *current};
  }
  alpha_ = a;
}

void UIView::setTransform(const CGAffineTransform& transform) {
  if (current && !(transform == transform_)) {
    if (!animations_) animations_ = std::make_unique<Animations>();
    animations_->transform = Track<CGAffineTransform>{presentationTransform(), transform, *current};
  }
  if (!(transform == transform_)) layoutInputsChanged();
  transform_ = transform;
}

CGPoint UIView::presentationCenter() const {
  if (animations_) {
    if (auto v = sample(animations_->center)) return *v;
  }
  return center_;
}

CGSize UIView::presentationSize() const {
  if (animations_) {
    if (auto v = sample(animations_->size)) return *v;
  }
  return bounds_.size;
}

double UIView::presentationAlpha() const {
  if (animations_) {
    if (auto v = sample(animations_->alpha)) return *v;
  }
  return alpha_;
}

CGAffineTransform UIView::presentationTransform() const {
  if (animations_) {
    if (auto v = sample(animations_->transform)) return *v;
  }
  return transform_;
}

CGRect UIView::presentationFrame() const {
  CGSize s = presentationSize();
  CGRect local = CGRectMake(-s.width / 2, -s.height / 2, s.width, s.height);
  CGRect r = CGRectApplyAffineTransform(local, presentationTransform());
  CGPoint c = presentationCenter();
  r.origin.x += c.x;
  r.origin.y += c.y;
  return r;
}

bool UIView::hasRunningAnimations() const {
  if (!animations_) return false;
  return sample(animations_->center) || sample(animations_->size) || sample(animations_->alpha) ||
         sample(animations_->transform);
}

void UIView::removeAllAnimations() { animations_.reset(); }

// A view that goes takes its subtree's place in the trees (and its constraints) with it.
UIView::~UIView() { layoutInputsChanged(); }
