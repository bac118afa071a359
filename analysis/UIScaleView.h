#pragma once
// A view that draws a chart scale: the choice of a label step, the first multiplier of a
// logarithmic decade and the label text are shared by the container's axes and the sonogram's
// frequency scale.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/uikit/UIView.h"

class UIScaleView : public UIView {
 public:
  using UIView::UIView;

  // getStepWithStart:AndEnd:Count: — a 1, 2 or 5 times a power of ten step giving about `count`
  // labels over the range; the whole range for a count below 3. A range that is empty, reversed or
  // not finite gives 0, which callers treat as "no labels".
  static float getStepWithStart(float start, float end, int32_t count);
  // getMinLogCoeff: — the first multiplier of each decade: 1 for 12 labels or more, 2 for 8 to 11,
  // 5 for fewer.
  static int32_t getMinLogCoeff(int32_t count);
  // formatLabel: — "%.f" of the value; from 1000 up "%.fk" of the value in thousands.
  static std::string formatLabel(float value);

  // The frequencies a logarithmic axis from 30 Hz labels, in increasing order: every decade from
  // 1 Hz to 10 kHz with the multipliers 1, 2, 5 from the first one `count` asks for (at 1 Hz the
  // multiplier 1 is taken as 2); only those of 30 Hz and above.
  static std::vector<float> logLabelFrequencies(int32_t count);
  // The evenly stepped frequencies of a linear axis: from the first multiple of `step` at or above
  // 30 Hz (30 itself for a count below 3) up to 22,050 Hz, stopping before the first one above
  // 20 kHz when the count is 3 or more.
  static std::vector<float> linearLabelFrequencies(float step, int32_t count);

  // Rounding of every scale coordinate: to the nearest integer, halves away from zero.
  static double roundCoord(double value);

  // Where a label's text `length` long starts (its left or top edge) when it is wanted at `start`
  // along a view `extent` long: moved inward only as far as it takes to lie whole inside the view;
  // a text longer than the view starts at the view's edge.
  static double keepInside(double start, double length, double extent);

  // The most labels or grid lines one scale draws; an absurd range or count cannot make a
  // drawing pass run away.
  static constexpr int kMaxMarks = 2000;
};
