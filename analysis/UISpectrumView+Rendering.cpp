// The GL drawing of graph mode: framebuffer, projection, line traces with fills, octave bars with
// the highlighted bar and hold plates, the peak cross and the touch marker.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "analysis/UISpectrumView.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSLog.h"

namespace {
void setColor(const UIColorRef& color) {
  auto c = color ? color->components() : std::array<double, 4>{0, 0, 0, 0};
  glColor4f(static_cast<GLfloat>(c[0]), static_cast<GLfloat>(c[1]), static_cast<GLfloat>(c[2]), static_cast<GLfloat>(c[3]));
}

void drawVertices(GLenum mode, std::span<const float> vertices) {
  if (vertices.size() < 2) return;
  glVertexPointer(2, GL_FLOAT, 0, vertices.data());
  glDrawArrays(mode, 0, static_cast<GLsizei>(vertices.size() / 2));
}

// Flat shapes in one colour. An opaque colour blended (SRC_ALPHA, ONE_MINUS_SRC_ALPHA) over
// anything gives the colour itself: it is written without the blend, which spares the rasteriser
// reading what lies under every pixel.
void drawOpaqueOrBlended(GLenum mode, std::span<const float> vertices, const UIColorRef& color) {
  setColor(color);
  const bool opaque = color && color->components()[3] == 1.0;
  if (opaque) glDisable(GL_BLEND);
  drawVertices(mode, vertices);
  if (opaque) glEnable(GL_BLEND);
}

// A trace's points, drawn as they are stored: GL reads x and y of each, a point's size apart.
void drawPoints(GLenum mode, std::span<const DisplayPoint> points) {
  static_assert(offsetof(DisplayPoint, x) == 0 && offsetof(DisplayPoint, y) == sizeof(float));
  if (points.empty()) return;
  glVertexPointer(2, GL_FLOAT, sizeof(DisplayPoint), points.data());
  glDrawArrays(mode, 0, static_cast<GLsizei>(points.size()));
}
}  // namespace

void UISpectrumView::layoutSubviews() {
  if (!makeCurrent()) return;
  // A layout is no new sound: the sonogram's columns go into the ring made at the new size.
  std::optional<KeptColumns> columns = spectrumMode != 0 ? keepColumns() : std::nullopt;
  destroyFramebuffer();
  freeSpectrumObjects();
  createFramebuffer();  // a failure here leaves the view running with whatever GL state results
  setupView();
  if (columns) buildRing(&*columns);
  // Redrawn as it is, at the new size (drawView fits the display points to it first): only a new
  // frame adds a column to the sonogram.
  std::optional<std::vector<float>> column;
  column.swap(sonogramData);
  drawView();
  sonogramData.swap(column);
}

void UISpectrumView::drawRect(const CGRect& rect) { CGContextClearRect(UIGraphicsGetCurrentContext(), rect); }

bool UISpectrumView::createFramebuffer() {
  if (!context) return false;
  glGenFramebuffersOES(1, &viewFramebuffer);
  glGenRenderbuffersOES(1, &viewRenderbuffer);
  glBindFramebufferOES(GL_FRAMEBUFFER_OES, viewFramebuffer);
  glBindRenderbufferOES(GL_RENDERBUFFER_OES, viewRenderbuffer);
  context->renderbufferStorage(GL_RENDERBUFFER_OES, eaglLayer());
  glFramebufferRenderbufferOES(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES, GL_RENDERBUFFER_OES, viewRenderbuffer);
  GLint width = 0, height = 0;
  glGetRenderbufferParameterivOES(GL_RENDERBUFFER_OES, GL_RENDERBUFFER_WIDTH_OES, &width);
  glGetRenderbufferParameterivOES(GL_RENDERBUFFER_OES, GL_RENDERBUFFER_HEIGHT_OES, &height);
  backingWidth = width;
  backingHeight = height;
  glGenRenderbuffersOES(1, &depthRenderbuffer);
  glBindRenderbufferOES(GL_RENDERBUFFER_OES, depthRenderbuffer);
  glRenderbufferStorageOES(GL_RENDERBUFFER_OES, GL_DEPTH_COMPONENT16_OES, backingWidth, backingHeight);
  glFramebufferRenderbufferOES(GL_FRAMEBUFFER_OES, GL_DEPTH_ATTACHMENT_OES, GL_RENDERBUFFER_OES, depthRenderbuffer);
  glBindRenderbufferOES(GL_RENDERBUFFER_OES, viewRenderbuffer);
  GLenum status = glCheckFramebufferStatusOES(GL_FRAMEBUFFER_OES);
  if (status != GL_FRAMEBUFFER_COMPLETE_OES) {
    NSLog("failed to make complete framebuffer object %x", status);
    return false;
  }
  // The same colour storage without the depth buffer, for batches of flat, axis-aligned rectangles
  // (the clear, the fills' rectangles, the bars): without a depth buffer the software rasteriser
  // draws those on a much faster path, to the same pixels. Everything else (smoothed lines,
  // slanted slivers, the sonogram) goes through the framebuffer with it, where that path is never
  // taken: on it the coverage of smoothed lines along the view's edge comes out differently.
  glGenFramebuffersOES(1, &flatFramebuffer);
  glBindFramebufferOES(GL_FRAMEBUFFER_OES, flatFramebuffer);
  glFramebufferRenderbufferOES(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES, GL_RENDERBUFFER_OES, viewRenderbuffer);
  if (glCheckFramebufferStatusOES(GL_FRAMEBUFFER_OES) != GL_FRAMEBUFFER_COMPLETE_OES) {
    glDeleteFramebuffersOES(1, &flatFramebuffer);
    flatFramebuffer = 0;
  }
  glBindFramebufferOES(GL_FRAMEBUFFER_OES, viewFramebuffer);
  boundFramebuffer_ = viewFramebuffer;
  return true;
}

void UISpectrumView::useFlatFramebuffer(bool flat) {
  const GLuint wanted = flat && flatFramebuffer ? flatFramebuffer : viewFramebuffer;
  if (wanted == boundFramebuffer_) return;
  // A change of framebuffer ends the rasteriser's batch: each goes on its own path.
  glBindFramebufferOES(GL_FRAMEBUFFER_OES, wanted);
  boundFramebuffer_ = wanted;
}

void UISpectrumView::destroyFramebuffer() {
  if (!context) return;
  freeScrollImage();  // made for the framebuffer's size
  glDeleteFramebuffersOES(1, &viewFramebuffer);
  viewFramebuffer = 0;
  if (flatFramebuffer) {
    glDeleteFramebuffersOES(1, &flatFramebuffer);
    flatFramebuffer = 0;
  }
  boundFramebuffer_ = 0;
  glDeleteRenderbuffersOES(1, &viewRenderbuffer);
  viewRenderbuffer = 0;
  if (depthRenderbuffer) {
    glDeleteRenderbuffersOES(1, &depthRenderbuffer);
    depthRenderbuffer = 0;
  }
}

void UISpectrumView::setupView() {
  if (!makeCurrent()) return;
  glViewport(0, 0, backingWidth, backingHeight);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  // A zero-sized view would give a singular projection; it draws nothing either way.
  if (backingWidth > 0 && backingHeight > 0) glOrthof(0, static_cast<GLfloat>(backingWidth), 0, static_cast<GLfloat>(backingHeight), -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glClearColor(0, 0, 0, 0);
  glEnableClientState(GL_VERTEX_ARRAY);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glEnable(GL_BLEND);
  glEnable(GL_POINT_SMOOTH);
  glHint(GL_POINT_SMOOTH_HINT, GL_NICEST);
  glEnable(GL_LINE_SMOOTH);
  glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
}

void UISpectrumView::drawView() {
  // Without GL (or before the framebuffer exists) a frame is analysed but not drawn.
  if (!makeCurrent() || viewFramebuffer == 0) return;
  // Whatever asks for the drawing (a frame, a layout, levels forgotten, a chart cleared), the points
  // are those of the framebuffer's size. (A frame has made them at that size already.)
  fitDisplayPointsToBacking();
  glBindFramebufferOES(GL_FRAMEBUFFER_OES, viewFramebuffer);
  boundFramebuffer_ = viewFramebuffer;
  glBindRenderbufferOES(GL_RENDERBUFFER_OES, viewRenderbuffer);
  if (spectrumMode != 0) {
    if (!isSpectrogramInited) setupViewForSpectrum();
    if (sonogramLastUpdateTime && Clock::monotonic() - *sonogramLastUpdateTime <= sonogramMinimumUpdateInterval) {
      // Too soon for a column. A framebuffer that holds no image of the ring (one made anew by a
      // layout, or the graph's picture) gets the ring as it stands, so that no empty or foreign
      // picture is shown until the next column.
      if (shownColumn < 0) {
        std::optional<std::vector<float>> column;
        column.swap(sonogramData);
        drawSpectrogram();
        sonogramData.swap(column);
      }
      context->presentRenderbuffer(GL_RENDERBUFFER_OES);
      return;
    }
    drawSpectrogram();
    sonogramLastUpdateTime = Clock::monotonic();
  } else {
    shownColumn = -1;  // the graph is drawn over the sonogram's image
    drawGraph();
  }
  context->presentRenderbuffer(GL_RENDERBUFFER_OES);
}

void UISpectrumView::drawGraph() {
  glClearColor(0, 0, 0, 0);
  // The depth buffer is attached but nothing tests against it: clearing it would be work whose
  // result nothing reads.
  useFlatFramebuffer(true);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_TEXTURE_2D);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glEnableClientState(GL_VERTEX_ARRAY);

  if (scaleType_ == 0 || scaleType_ == 1) setGraphType(0);
  const bool bars = isBarsType();
  if (!bars && needFill && holdMinimum_ && holdMaximum_) fillArray(l_maxesData, &l_minsData, supportFillColor);
  if (!bars && holdMaximum_ && isMaxReady) {
    drawArray(l_maxesData, needFill && !holdMinimum_, supportChartWidth, supportChartColor, supportFillColor);
  }
  if (!bars && holdMinimum_ && isMaxReady) {
    drawArray(l_minsData, needFill && !holdMaximum_, supportChartWidth, supportChartColor, supportFillColor);
  }
  if (bars) {
    drawBars(l_mainData, barsColor, maxBarColor, holdMaximum_ && isMaxReady, l_maxesData, planchesColor);
  } else {
    drawArray(l_mainData, needFill && !holdMinimum_, mainChartWidth, mainChartColor, mainFillColor);
  }

  float px = 0, py = -10000.0f;
  for (const auto& p : l_mainData) {
    if (p.y > py) {
      px = p.x;
      py = p.y;
    }
  }
  // The container sets the cross's colour and width before turning it on; until then it is not
  // drawn. An empty trace has no peak to mark.
  useFlatFramebuffer(false);
  if (graphType_ != 1 && needPeakMarker && peakMarkerColor && peakMarkerWidth && !l_mainData.empty()) {
    glLineWidth(*peakMarkerWidth);
    setColor(peakMarkerColor);
    const float cross[] = {px, 0, px, static_cast<float>(backingHeight), 0, py, static_cast<float>(backingWidth), py};
    drawVertices(GL_LINES, cross);
  }
  if (l_markerPosition >= 0) {
    glLineWidth(markerWidth);
    setColor(markerColor);
    const float m = l_markerPosition;
    const float marker[] = {m, 0, m, static_cast<float>(backingHeight)};
    drawVertices(GL_LINES, marker);
  }
}

void UISpectrumView::drawArray(std::span<const DisplayPoint> points, bool fill, float lineWidth,
                               const UIColorRef& lineColor, const UIColorRef& fillColor) {
  if (points.empty()) return;
  if (fill) fillArray(points, nullptr, fillColor);
  useFlatFramebuffer(false);
  glLineWidth(lineWidth);
  setColor(lineColor);
  drawPoints(GL_LINE_STRIP, points);
}

namespace {

// The triangles of the area between a trace and the bottom edge (or a lower trace), which cover
// the pixels the plain strip (each point's lower and upper end, point after point) covers, and
// each pixel as many times. The rasteriser is slow on the strip's long, two-pixel-wide triangles:
// each group of kGroup segments becomes a rectangle up to its lowest upper point (from its
// highest lower point) and the slivers between that rectangle and the traces. Rectangle and
// slivers meet on horizontal and vertical lines, which the rasteriser splits between them
// exactly; the traces' own edges are the strip's. A group whose traces cross, go below their
// lower end or back in x, or hold a non-finite value is drawn as the strip's own triangles.
// The rectangles go to `rects` (each as two triangles in the order the software rasteriser
// recognises as an axis-aligned rectangle), everything else to `out`.
constexpr size_t kGroup = 16;

void addTriangle(std::vector<float>& out, float x0, float y0, float x1, float y1, float x2, float y2) {
  out.insert(out.end(), {x0, y0, x1, y1, x2, y2});
}

void fillTriangles(std::span<const DisplayPoint> upper, const std::vector<DisplayPoint>* lower, std::vector<float>& rects,
                   std::vector<float>& out) {
  const size_t n = upper.size();
  auto low = [&](size_t i) { return lower && i < lower->size() ? (*lower)[i].y : 0.0f; };
  rects.clear();
  rects.reserve(n / kGroup * 12 + 12);
  out.clear();
  out.reserve(n * 12);
  for (size_t first = 0; first + 1 < n; first += kGroup) {
    const size_t last = std::min(first + kGroup, n - 1);  // the group's points: first .. last
    float top = INFINITY, bottom = -INFINITY;
    bool simple = true;
    for (size_t i = first; i <= last && simple; ++i) {
      const float u = upper[i].y, l = low(i), x = upper[i].x;
      simple = std::isfinite(u) && std::isfinite(l) && std::isfinite(x) && l <= u && (i == first || x > upper[i - 1].x);
      top = std::min(top, u);
      bottom = std::max(bottom, l);
    }
    if (!simple || bottom > top) {
      // The strip's triangles for these segments, each in the strip's own vertex order.
      for (size_t i = first; i < last; ++i) {
        const float x0 = upper[i].x, x1 = upper[i + 1].x;
        addTriangle(out, x0, low(i), x0, upper[i].y, x1, low(i + 1));
        addTriangle(out, x0, upper[i].y, x1, low(i + 1), x1, upper[i + 1].y);
      }
      continue;
    }
    const float left = upper[first].x, right = upper[last].x;
    if (top > bottom) {
      addTriangle(rects, left, bottom, left, top, right, top);
      addTriangle(rects, right, top, right, bottom, left, bottom);
    }
    for (size_t i = first; i < last; ++i) {
      const float x0 = upper[i].x, x1 = upper[i + 1].x;
      const float u0 = upper[i].y, u1 = upper[i + 1].y, l0 = low(i), l1 = low(i + 1);
      if (u0 > top || u1 > top) {
        addTriangle(out, x0, top, x0, u0, x1, top);
        addTriangle(out, x0, u0, x1, top, x1, u1);
      }
      if (l0 < bottom || l1 < bottom) {
        addTriangle(out, x0, l0, x0, bottom, x1, l1);
        addTriangle(out, x0, bottom, x1, l1, x1, bottom);
      }
    }
  }
}

}  // namespace

void UISpectrumView::fillArray(std::span<const DisplayPoint> upper, const std::vector<DisplayPoint>* lower,
                               const UIColorRef& color) {
  if (upper.empty()) return;
  fillTriangles(upper, lower, fillRectVertices_, fillVertices_);
  // The rectangles go as a batch of their own, on the flat framebuffer (see createFramebuffer),
  // before the slivers. They cover no pixel in common, so the order changes nothing drawn.
  useFlatFramebuffer(true);
  drawOpaqueOrBlended(GL_TRIANGLES, fillRectVertices_, color);
  useFlatFramebuffer(false);
  drawOpaqueOrBlended(GL_TRIANGLES, fillVertices_, color);
}

std::vector<float> UISpectrumView::triangulateVertexArray(std::span<const DisplayPoint> upper,
                                                          const std::vector<DisplayPoint>* lower) {
  std::vector<float> strip;
  strip.reserve(upper.size() * 4);
  for (size_t i = 0; i < upper.size(); ++i) {
    // The held lists have equal lengths; a shorter lower list (never expected) falls back to the
    // bottom edge instead of reading past its end.
    float lowerY = lower && i < lower->size() ? (*lower)[i].y : 0.0f;
    strip.insert(strip.end(), {upper[i].x, lowerY, upper[i].x, upper[i].y});
  }
  return strip;
}

void UISpectrumView::drawBars(std::span<const DisplayPoint> P, const UIColorRef& barColor,
                              const UIColorRef& maxBarColor, bool needPlanches,
                              std::span<const DisplayPoint> planches, const UIColorRef& planchesColor) {
  lastHighlightedBar_ = 0;
  // A closing point at each end and at least one band between them; anything shorter has no bar.
  // Without bars (nothing measured since the start) the hold plates are drawn alone, where the
  // held series' bands are.
  const bool withBars = P.size() >= 3;
  const std::span<const DisplayPoint> at = withBars || !needPlanches ? P : planches;
  const size_t m = at.size();
  if (m < 3) return;
  const size_t nb = m - 2;
  const float g = static_cast<float>(getBarSpace());
  const float w = (static_cast<float>(backingWidth) - static_cast<float>(m - 3) * g) / static_cast<float>(nb);

  size_t s = 0;
  float best = std::trunc(at[0].y);
  for (size_t i = 1; withBars && i <= m - 2; ++i) {
    if (l_markerPosition > 0 && P[i].x == l_markerPosition) {
      s = i;
      break;
    }
    if (P[i].y > best) {
      s = i;
      best = std::trunc(P[i].y);
    }
  }
  lastHighlightedBar_ = s;

  // Refilled every frame; their storage stays from frame to frame.
  std::vector<float>& barTriangles = fillVertices_;
  std::vector<float>& highlight = highlightVertices_;
  std::vector<float>& plates = plateVertices_;
  barTriangles.clear();
  highlight.clear();
  plates.clear();
  barTriangles.reserve(nb * 12);
  for (size_t k = 0; k < nb; ++k) {
    const DisplayPoint p = at[k + 1];
    float left = std::max(0.0f, std::ceil(p.x - w / 2));
    float right = std::min(static_cast<float>(backingWidth), std::floor(p.x + w / 2));
    std::vector<float>& target = (k + 1 == s) ? highlight : barTriangles;
    if (withBars) target.insert(target.end(), {left, 0, left, p.y, right, p.y, right, p.y, right, 0, left, 0});
    if (needPlanches && k + 1 < planches.size()) {
      float q = planches[k + 1].y;
      plates.insert(plates.end(), {left, q, right, q});
    }
  }
  useFlatFramebuffer(true);
  drawOpaqueOrBlended(GL_TRIANGLES, barTriangles, barColor);
  if (!highlight.empty()) drawOpaqueOrBlended(GL_TRIANGLES, highlight, maxBarColor);
  if (needPlanches && !plates.empty()) {
    useFlatFramebuffer(false);
    setColor(planchesColor);
    drawVertices(GL_LINES, plates);
  }
}
