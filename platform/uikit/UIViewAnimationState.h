#pragma once
// The animation state a view keeps per animated property (internal to the UI kit).
#include <cstdint>
#include <optional>

#include "platform/graphics/CGGeometry.h"
#include "platform/uikit/UIView.h"

namespace uikit_detail {

// The timing of the block being run, if any.
struct AnimationContext {
  double start = 0;     // monotonic seconds at which the movement begins (after the delay)
  double duration = 0;  // seconds
  uint32_t curve = UIViewAnimationOptionCurveEaseInOut;
  bool spring = false;
  double damping = 1;
};


template <class T>
struct Track {
  T from{}, to{};
  AnimationContext timing;
};

}  // namespace uikit_detail

struct UIView::Animations {
  std::optional<uikit_detail::Track<CGPoint>> center;
  std::optional<uikit_detail::Track<CGSize>> size;
  std::optional<uikit_detail::Track<double>> alpha;
  std::optional<uikit_detail::Track<CGAffineTransform>> transform;
};
