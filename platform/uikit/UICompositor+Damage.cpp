// What decides how each view is painted and where (a record per view, walking the tree as the
// painting does), and from the records of two frames the rectangles the later one repaints.
#include <algorithm>
#include <cmath>

#include "platform/uikit/UICompositorSupport.h"

namespace uicompositor {

namespace {

// A rectangle of user space under a matrix, as the device pixels it covers (rounded outwards).
PixelRect deviceBox(const cairo_matrix_t& m, const CGRect& r) {
  double xs[4] = {r.origin.x, r.origin.x + r.size.width, r.origin.x, r.origin.x + r.size.width};
  double ys[4] = {r.origin.y, r.origin.y, r.origin.y + r.size.height, r.origin.y + r.size.height};
  double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
  for (int i = 0; i < 4; ++i) {
    double x = xs[i], y = ys[i];
    cairo_matrix_transform_point(&m, &x, &y);
    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
  }
  if (!(x1 > x0) || !(y1 > y0) || !std::isfinite(x0 + y0 + x1 + y1)) return {};
  // Smoothed edges and filtered images may reach a pixel beyond the exact shape.
  auto lo = [](double v) { return static_cast<int>(std::clamp(std::floor(v) - 1, -1e6, 1e6)); };
  auto hi = [](double v) { return static_cast<int>(std::clamp(std::ceil(v) + 1, -1e6, 1e6)); };
  return {lo(x0), lo(y0), hi(x1) - lo(x0), hi(y1) - lo(y0)};
}

// Fewer, larger rectangles: overlapping or touching ones merge; past a handful, or when they
// cover most of the frame, one rectangle around them all.
std::vector<PixelRect> merged(std::vector<PixelRect> rects, const PixelRect& all) {
  bool again = true;
  while (again) {
    again = false;
    for (size_t i = 0; i < rects.size() && !again; ++i) {
      for (size_t j = i + 1; j < rects.size(); ++j) {
        const auto& a = rects[i];
        const auto& b = rects[j];
        if (a.x <= b.x + b.width && b.x <= a.x + a.width && a.y <= b.y + b.height && b.y <= a.y + a.height) {
          rects[i] = unite(a, b);
          rects.erase(rects.begin() + static_cast<long>(j));
          again = true;
          break;
        }
      }
    }
  }
  long area = 0;
  PixelRect around;
  for (const auto& r : rects) {
    area += static_cast<long>(r.width) * r.height;
    around = unite(around, r);
  }
  if (rects.size() > 16 || area > static_cast<long>(all.width) * all.height * 3 / 4) return {around};
  return rects;
}

}  // namespace

void collect(const UIViewRef& view, cairo_matrix_t m, double alpha, double effective, const PixelRect& clip,
             const std::set<const UIView*>& marked, ViewRecords& out, double parentAlpha) {
  ViewRecord r;
  r.parentAlpha = parentAlpha;
  r.view = view;
  CGRect b = view->bounds();
  b.size = view->presentationSize();
  r.bounds = b;
  r.matrix = {m.xx, m.yx, m.xy, m.yy, m.x0, m.y0};
  r.alpha = alpha;
  r.effectiveAlpha = effective;
  const CALayer& layer = *view->layer();
  r.box = deviceBox(m, b);
  if (const auto& path = layer.shadowPath(); path && layer.shadowOpacity() > 0 && layer.shadowColor()) {
    const double radius = std::isfinite(layer.shadowRadius()) ? std::clamp(layer.shadowRadius(), 0.0, 64.0) : 0.0;
    const CGSize offset = layer.shadowOffset();
    auto c = layer.shadowColor()->components();
    r.shadow = {path->origin.x, path->origin.y, path->size.width, path->size.height, offset.width, offset.height,
                radius, layer.shadowOpacity(), c[0] + 2 * c[1] + 4 * c[2], c[3]};
    if (std::isfinite(offset.width) && std::isfinite(offset.height)) {
      r.box = unite(r.box, deviceBox(m, CGRectMake(path->origin.x + offset.width - radius, path->origin.y + offset.height - radius,
                                                  path->size.width + 2 * radius, path->size.height + 2 * radius)));
    }
  }
  r.box = intersect(r.box, clip);
  if (auto bg = view->backgroundColor(); bg && bg->alpha() > 0) r.background = bg->components();
  r.contents = layer.contents();
  if (auto gl = dynamic_cast<const CAEAGLLayer*>(&layer)) {
    r.gl = true;
    r.presents = gl->presentedAsRead().count;
  }
  r.marked = marked.count(view.get()) > 0;
  r.cornerRadius = layer.cornerRadius();
  r.clips = view->clipsToBounds();
  r.order = out.size();
  const PixelRect childClip = r.clips ? intersect(clip, deviceBox(m, b)) : clip;
  out[view.get()] = std::move(r);

  for (const auto& child : view->subviews()) {
    double childAlpha = child->presentationAlpha();
    if (child->isHidden() || childAlpha <= 0) continue;
    CGRect cb = child->bounds();
    cb.size = child->presentationSize();
    CGAffineTransform t = child->presentationTransform();
    CGPoint c = child->presentationCenter();
    cairo_matrix_t cm = m;
    cairo_matrix_translate(&cm, c.x, c.y);
    cairo_matrix_t tm;
    cairo_matrix_init(&tm, t.a, t.b, t.c, t.d, t.tx, t.ty);
    cairo_matrix_multiply(&cm, &tm, &cm);
    cairo_matrix_translate(&cm, -cb.origin.x - cb.size.width / 2, -cb.origin.y - cb.size.height / 2);
    collect(child, cm, childAlpha, effective * childAlpha, childClip, marked, out, effective);
  }
}

bool covers(const std::vector<PixelRect>& rects, const PixelRect& box) {
  for (const auto& r : rects) {
    if (intersect(r, box) == box) return true;
  }
  return false;
}

bool overlaps(const std::vector<PixelRect>& rects, const PixelRect& box) {
  for (const auto& r : rects) {
    if (intersect(r, box).width > 0) return true;
  }
  return false;
}

bool covers(const ViewRecord& r, const PixelRect& rect) {
  const auto& m = r.matrix;  // xx, yx, xy, yy, x0, y0
  if (r.cornerRadius != 0 || m[1] != 0 || m[2] != 0 || !(m[0] > 0) || !(m[3] > 0)) return false;
  const double x0 = m[0] * r.bounds.origin.x + m[4], y0 = m[3] * r.bounds.origin.y + m[5];
  const double x1 = x0 + m[0] * r.bounds.size.width, y1 = y0 + m[3] * r.bounds.size.height;
  return x0 <= rect.x && y0 <= rect.y && x1 >= rect.x + rect.width && y1 >= rect.y + rect.height;
}

std::vector<PixelRect> damagedRects(const ViewRecords& now, const ViewRecords& previous, const Underlay& under,
                                    const PixelRect& all, std::optional<PixelRect>* presentedOverUnderlay) {
  std::vector<PixelRect> rects;
  auto add = [&](const PixelRect& r) {
    PixelRect inside = intersect(r, all);
    if (inside.width > 0) rects.push_back(inside);
  };
  for (const auto& [view, record] : now) {
    auto old = previous.find(view);
    const bool known =
        old != previous.end() && !old->second.view.expired() && old->second.view.lock() == record.view.lock();
    if (!known) {
      add(record.box);
      if (old != previous.end()) add(old->second.box);
    } else if (record.marked || !record.samePaint(old->second)) {
      ViewRecord unchanged = old->second;
      unchanged.presents = record.presents;
      if (under.valid && view == under.view && !record.marked && record.samePaint(unchanged)) {
        *presentedOverUnderlay = record.box;
        continue;
      }
      add(record.box);
      add(old->second.box);
    }
  }
  for (const auto& [view, record] : previous) {
    if (!now.count(view)) add(record.box);
  }
  rects = merged(std::move(rects), all);
  // Anything else repainted under the box puts the view's box through the whole repaint.
  if (*presentedOverUnderlay && overlaps(rects, **presentedOverUnderlay)) {
    rects.push_back(**presentedOverUnderlay);
    rects = merged(std::move(rects), all);
    presentedOverUnderlay->reset();
  }
  return rects;
}

const ViewRecord* underlayToKeep(const ViewRecords& now, const std::vector<PixelRect>& rects, const PixelRect& all) {
  const ViewRecord* keep = nullptr;
  for (const auto& [view, record] : now) {
    if (!record.gl || record.parentAlpha != 1 || record.box.width <= 0 || record.box.height <= 0) continue;
    if (intersect(record.box, all) != record.box || !covers(rects, record.box)) continue;
    if (!keep || static_cast<long>(record.box.width) * record.box.height > static_cast<long>(keep->box.width) * keep->box.height)
      keep = &record;
  }
  return keep;
}

// Whether every pixel of the frame comes out opaque: some view, at full alpha down the tree, paints
// an opaque background over all of it, and no clipping view above it cuts into that. Whatever is
// painted over it is painted with Cairo's OVER, which keeps an opaque pixel opaque.
bool paintsOpaque(const ViewRecords& records, const PixelRect& all) {
  for (const auto& [view, r] : records) {
    if (!r.background || (*r.background)[3] != 1 || r.alpha != 1 || r.effectiveAlpha != 1 || !covers(r, all))
      continue;
    auto owner = r.view.lock();
    if (!owner) continue;
    bool cut = false;
    for (auto up = owner->superview(); up && !cut; up = up->superview()) {
      if (!up->clipsToBounds()) continue;
      auto it = records.find(up.get());
      cut = it == records.end() || !covers(it->second, all);
    }
    if (!cut) return true;
  }
  return false;
}

}  // namespace uicompositor
