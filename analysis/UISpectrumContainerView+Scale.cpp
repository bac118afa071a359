// The container's axes in graph mode: level labels and ticks at the left, frequency labels and
// ticks below, the level and frequency grid and the frame around the chart area.
#include <cmath>

#include "analysis/UISpectrumContainerView.h"
#include "analysis/Octave.h"

namespace {
// log10(22050 / 30): the decades a logarithmic axis spans from 30 Hz to 22,050 Hz.
const double kLogSpan = std::log10(735.0);
const double kLog30 = std::log10(30.0);

// The full-octave band table the octave scales label, read once.
const std::vector<Octave>& fullOctaveTable() {
  static const std::vector<Octave> table = Octave::parseOctavesResources("1");
  return table;
}
}  // namespace

NSTextAttributes UISpectrumContainerView::horizontalAttrsDictionary() const {
  return NSTextAttributes{axisLablesFont, axisLabelsColor, 1.0};
}

NSTextAttributes UISpectrumContainerView::verticalAttrsDictionary() const {
  return NSTextAttributes{axisVerticalLablesFont, axisVerticalLabelsColor, 1.0};
}

void UISpectrumContainerView::drawRect(const CGRect& rect) {
  if (needShowScale_) {
    drawScale(rect);
  } else {
    drawSonogramBg(rect);
  }
}

// Where each label's text goes: level labels right-aligned left of the plot, frequency labels
// centred under their place, each kept whole inside the view when its place lies inside it.
// Measured at the view's scale, which its backing is drawn at: the widths at a scale of 1 differ.
void UISpectrumContainerView::placeLabelTexts(ScalePlan& plan, double W, double H) const {
  const double L = currentLeftPadding_;
  const NSTextAttributes vertical = verticalAttrsDictionary();
  for (auto& label : plan.levelLabels) {
    const CGSize size = NSStringSizeWithAttributesAtScale(label.text, vertical, contentScaleFactor());
    const double top = label.y - size.height / 2;
    const bool inside = label.y >= 0 && label.y <= H;
    label.origin = {L - size.width - 6, inside ? keepInside(top, size.height, H) : top};
  }
  const NSTextAttributes horizontal = horizontalAttrsDictionary();
  for (auto& label : plan.frequencyLabels) {
    const CGSize size = NSStringSizeWithAttributesAtScale(label.text, horizontal, contentScaleFactor());
    const double left = label.x - size.width / 2;
    const bool inside = label.x >= 0 && label.x <= W;  // 50k, beyond the axis, stays clipped away
    label.origin = {inside ? keepInside(left, size.width, W) : left, label.y};
  }
}

// The frequency grid: every 1-9 of each decade on a log scale, a third of a label step on a linear
// one, and a line per band on the octave scales (every third stronger, but for sixth octaves).
void UISpectrumContainerView::addFrequencyGrid(ScalePlan& plan, double W, double H, double xScale, double fStep) const {
  const double L = currentLeftPadding_;
  const double a = static_cast<float>(axisWidth);
  auto addFrequencyLine = [&](double x, double width, bool antialias) {
    plan.frequencyGrid.push_back({{x, 20}, {x, H}, width, antialias});
  };
  if (scaleType_ == 1) {
    for (double m = 1; m <= 22050; m *= 10) {
      for (int c = 1; c <= 9; ++c) {
        const double f = m * c;
        if (f < 30) continue;
        addFrequencyLine(roundCoord((std::log10(f) - kLog30) * xScale + L), subAxisWidth, true);
      }
    }
  } else if (scaleType_ == 0) {
    const double s = fStep / 3;
    if (s > 0) {
      const double f0 = horizontalLabelsCount >= 3 ? fStep * std::ceil(30 / fStep) : 30;
      const double e0 = horizontalLabelsCount >= 3 ? s * std::ceil(30 / s) : f0;
      for (int k = 0; k < kMaxMarks; ++k) {
        const double e = e0 + s * k;
        if (e > 22050) break;
        addFrequencyLine(roundCoord(xScale * e + L), subAxisWidth, true);
      }
    }
  } else if (scaleType_ >= 2 && scaleType_ <= 4 && spectrumView_) {
    const auto& table = spectrumView_->getCurrentOctaves();
    const double n = static_cast<double>(table.size());
    const bool sixth = spectrumView_->scaleType() == 4;
    for (size_t i = 0; i < table.size(); ++i) {
      const double x = roundCoord(L + a / 2 + (i + 0.5) * (W - L - a) / n);
      const bool strong = (i + 1) % 3 == 0 && !sixth;
      addFrequencyLine(x, strong ? subAxisWidth : subAxisWidth / 2, strong);
    }
  }
}

UISpectrumContainerView::ScalePlan UISpectrumContainerView::computeScale(const CGRect& rect) {
  ScalePlan plan;
  const double W = rect.size.width, H = rect.size.height;
  const double L = currentLeftPadding_;
  const double min = areaParams_.minVal, max = areaParams_.maxVal;
  const double a = static_cast<float>(axisWidth);
  const double halfA = roundCoord(a / 2);

  const double xScale = scaleType_ == 1 ? (W - L) / kLogSpan : (W - L) / 22020.0;
  const double dBStep = getStepWithStart(areaParams_.minVal, areaParams_.maxVal, verticalLabelsCount);
  const double fStep = getStepWithStart(0, 22050, horizontalLabelsCount);
  // An empty or reversed level range has no vertical scale: no level labels and no level grid.
  const bool levelsUsable = dBStep > 0 && max > min;
  const double yScale = levelsUsable ? (H - 20) / (max - min) : 0;
  const double d0 = verticalLabelsCount >= 3 && levelsUsable ? dBStep * std::ceil(min / dBStep) : min;

  // 1. Level labels.
  if (levelsUsable) {
    for (int k = 0; k < kMaxMarks; ++k) {
      const double d = d0 + dBStep * k;
      if (d > max) break;
      const double y = roundCoord(H - (yScale * (d - min) + 20));
      plan.levelLabels.push_back({formatLabel(static_cast<float>(d)), static_cast<float>(d), L, y});
    }
  }

  // 2. Frequency labels.
  auto addFrequencyLabel = [&](double f, double x) {
    plan.frequencyLabels.push_back({formatLabel(static_cast<float>(f)), static_cast<float>(f), x, H - 14});
  };
  if (scaleType_ == 1) {
    for (float f : logLabelFrequencies(horizontalLabelsCount)) {
      addFrequencyLabel(f, roundCoord((std::log10(f) - kLog30) * xScale + L));
    }
  } else if (scaleType_ == 0) {
    for (float f : linearLabelFrequencies(static_cast<float>(fStep), horizontalLabelsCount)) {
      addFrequencyLabel(f, roundCoord(xScale * f + L));
    }
  } else if (scaleType_ >= 2 && scaleType_ <= 4) {
    const auto& table = fullOctaveTable();
    const double n = static_cast<double>(table.size());
    for (size_t i = 0; i < table.size(); ++i) {
      addFrequencyLabel(table[i].midFreq(), roundCoord(L + (i + 0.5) * (W - L) / n));
    }
  }

  placeLabelTexts(plan, W, H);

  // 4. Level grid (flipped: y up from the bottom edge, the chart's bottom at 20).
  if (levelsUsable) {
    const double s = dBStep / 3;
    const double g0 = verticalLabelsCount >= 3 ? s * std::ceil(min / s) : d0;
    for (int k = 0; k < kMaxMarks; ++k) {
      const double g = g0 + s * k;
      if (g > max) break;
      const double y = roundCoord(yScale * (g - min) + 20);
      plan.levelGrid.push_back({{L, y}, {W, y}, subAxisWidthHorizontal, false});
    }
  }

  addFrequencyGrid(plan, W, H, xScale, fStep);

  // 6. Frame: bottom, left, right, top.
  plan.frame.push_back({{L - halfA, 20}, {W + halfA, 20}, a, true});
  plan.frame.push_back({{L, 20}, {L, H}, a, true});
  plan.frame.push_back({{W, 20}, {W, H}, a, true});
  plan.frame.push_back({{L - halfA, H}, {W + halfA, H}, a, true});
  return plan;
}

void UISpectrumContainerView::drawScale(const CGRect& rect) {
  CGContextRef c = UIGraphicsGetCurrentContext();
  if (!c) return;
  const ScalePlan plan = computeScale(rect);
  const double H = rect.size.height;
  const double L = currentLeftPadding_;

  auto strokeLine = [c](CGPoint from, CGPoint to, const UIColorRef& color, double width) {
    CGContextSetStrokeColorWithColor(c, color);
    CGContextSetLineWidth(c, width);
    CGContextBeginPath(c);
    CGContextMoveToPoint(c, from.x, from.y);
    CGContextAddLineToPoint(c, to.x, to.y);
    CGContextStrokePath(c);
  };

  const NSTextAttributes vertical = verticalAttrsDictionary();
  for (const auto& label : plan.levelLabels) {
    NSStringDrawAtPointInContext(c, label.text, label.origin, vertical);
    strokeLine({L, label.y}, {L - 3, label.y}, subAxisColor, subAxisWidth);
  }
  const NSTextAttributes horizontal = horizontalAttrsDictionary();
  for (const auto& label : plan.frequencyLabels) {
    NSStringDrawAtPointInContext(c, label.text, label.origin, horizontal);
    strokeLine({label.x, H - 20}, {label.x, H - 17}, subAxisColor, subAxisWidth);
  }

  CGContextSaveGState(c);
  CGContextScaleCTM(c, 1, -1);
  CGContextTranslateCTM(c, 0, -bounds().size.height);
  for (const auto& line : plan.levelGrid) {
    CGContextSetShouldAntialias(c, line.antialias);
    strokeLine(line.from, line.to, subAxisColorHorizontal, line.width);
  }
  for (const auto& line : plan.frequencyGrid) {
    CGContextSetShouldAntialias(c, line.antialias);
    strokeLine(line.from, line.to, subAxisColor, line.width);
  }
  CGContextSetShouldAntialias(c, true);
  for (const auto& line : plan.frame) strokeLine(line.from, line.to, axisColor, line.width);
  CGContextRestoreGState(c);
}
