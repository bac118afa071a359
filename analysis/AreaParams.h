#pragma once
// The level range of a chart's vertical axis, in dB.

struct AreaParams {
  float minVal = -130.0f;  // level at the bottom of the axis
  float maxVal = -10.0f;   // level at the top of the axis
};
