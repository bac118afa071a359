#include "platform/uikit/UICompositor.h"

#include <cairo.h>

#include <cmath>
#include <optional>
#include <set>

#include "platform/uikit/UICompositorSupport.h"

using namespace uicompositor;

UICompositor::UICompositor() : state_(std::make_unique<State>()) {}
UICompositor::~UICompositor() = default;

namespace {

// Repaints the damaged rectangles of the frame: cleared, then the whole tree painted through them.
// When they hold the kept GL view whole, in two passes, keeping what lies under it between them;
// a new present over an unchanged underlay puts the underlay back and paints the view and what
// lies over it (its box joins the rectangles).
void repaint(CGBitmapContext& frame, UICompositor::State& state, const UIViewRef& root, double scale, bool painted,
             std::vector<PixelRect>& rects, const ViewRecord* kept, const UIView* keptView,
             const std::optional<PixelRect>& presentedOverUnderlay) {
  Underlay& under = state.underlay;
  const PixelRect all{0, 0, frame.width(), frame.height()};
  // The underlay's GL view composed straight over it when it can be; true when it was.
  auto composeDirect = [&]() {
    auto record = state.previous.find(under.view);
    auto view = under.owner.lock();
    if (record == state.previous.end() || !view) return false;
    auto gl = std::dynamic_pointer_cast<CAEAGLLayer>(view->layer());
    if (!gl) return false;
    auto image = directImageRect(record->second, *view, *gl, state.previous, all);
    if (!image) return false;
    composeOverUnderlay(frame, under, gl->presentedAsRead(), *image);
    return true;
  };
  const CGRect b = root->bounds();
  for (auto& [layer, image] : state.glImages) image.used = false;
  cairo_t* cr = frame.context()->cairo();
  auto paint = [&](const std::vector<PixelRect>& clip, bool clear, PaintRange* range) {
    cairo_save(cr);
    cairo_identity_matrix(cr);
    for (const auto& r : clip) cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    cairo_clip(cr);
    if (clear) {
      cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
      cairo_paint(cr);
      cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    }
    cairo_scale(cr, scale, scale);
    cairo_translate(cr, -b.origin.x, -b.origin.y);
    if (painted) paintView(cr, *root, root->alpha(), &state.glImages, range);
    cairo_restore(cr);
  };
  if (!rects.empty()) {
    if (kept) {
      PaintRange below{0, 0, kept->order};
      paint(rects, true, &below);
      cairo_surface_flush(frame.surface());
      under.view = keptView;
      under.owner = kept->view;
      under.box = kept->box;
      under.order = kept->order;
      copyBox(frame, kept->box, under.pixels, true);
      under.valid = true;
      const bool direct = composeDirect();
      cairo_surface_mark_dirty(frame.surface());
      PaintRange above{0, direct ? kept->order + 1 : kept->order, SIZE_MAX};
      paint(rects, false, &above);
    } else {
      paint(rects, true, nullptr);
    }
  }
  if (presentedOverUnderlay) {
    // A new present over an unchanged underlay: the underlay back, then the view and what lies over it.
    cairo_surface_flush(frame.surface());
    const bool direct = composeDirect();
    if (!direct) copyBox(frame, under.box, under.pixels, false);
    cairo_surface_mark_dirty(frame.surface());
    PaintRange above{0, direct ? under.order + 1 : under.order, SIZE_MAX};
    paint({under.box}, false, &above);
    rects.push_back(under.box);
  }
  cairo_surface_flush(frame.surface());
  releaseUnusedGLImages(state.glImages);
}

}  // namespace

void UICompositor::setTarget(const Target& target) {
  if (target == target_) return;
  // The pixels composed into last may be going away: nothing is read from them again.
  if (inTarget_) frame_.reset();
  inTarget_ = false;
  target_ = target;
}

bool UICompositor::ensureFrame(int width, int height, double scale, bool intoTarget) {
  intoTarget = intoTarget && target_.pixels && target_.width == width && target_.height == height;
  if (frame_ && frame_->width() == width && frame_->height() == height && scale_ == scale && inTarget_ == intoTarget)
    return true;
  frame_.reset();
  if (intoTarget) frame_ = CGBitmapContext::createForData(target_.pixels, width, height, target_.stride, scale);
  inTarget_ = frame_ != nullptr;
  if (!frame_) frame_ = CGBitmapContext::create(width, height, scale);
  scale_ = scale;
  full_ = true;
  if (frame_) return true;
  state_->previous.clear();
  state_->underlay = {};
  return false;
}

const std::vector<UICompositor::PixelRect>& UICompositor::update(const UIViewRef& root, double scale) {
  damage_.clear();
  if (!root) return damage_;
  if (!(scale > 0)) scale = root->contentScaleFactor();
  root->layoutIfNeeded();
  std::set<const UIView*> marked;
  displayTree(root, &marked);
  const CGRect b = root->bounds();
  const int w = static_cast<int>(std::lround(b.size.width * scale));
  const int h = static_cast<int>(std::lround(b.size.height * scale));
  const PixelRect all{0, 0, w, h};
  const bool painted = !root->isHidden() && root->alpha() > 0;

  ViewRecords now;
  if (painted && w > 0 && h > 0) {
    cairo_matrix_t m;
    cairo_matrix_init_scale(&m, scale, scale);
    cairo_matrix_translate(&m, -b.origin.x, -b.origin.y);
    collect(root, m, root->alpha(), root->alpha(), all, marked, now);
  }
  if (!ensureFrame(w, h, scale, target_.pixels && paintsOpaque(now, all))) return damage_;
  Underlay& under = state_->underlay;
  if (under.valid) {
    auto it = now.find(under.view);
    under.valid = it != now.end() && it->second.view.lock() == under.owner.lock() && it->second.box == under.box &&
                  it->second.order == under.order && it->second.parentAlpha == 1;
  }
  std::optional<PixelRect> presentedOverUnderlay;
  std::vector<PixelRect> rects =
      full_ ? std::vector<PixelRect>{all} : damagedRects(now, state_->previous, under, all, &presentedOverUnderlay);
  // None is kept while the kept underlay is still to be used in this frame.
  const ViewRecord* keep =
      painted && !rects.empty() && !presentedOverUnderlay ? underlayToKeep(now, rects, all) : nullptr;
  if (!rects.empty() && !keep && overlaps(rects, under.box)) under.valid = false;
  const std::optional<ViewRecord> kept = keep ? std::optional<ViewRecord>(*keep) : std::nullopt;
  const UIView* keptView = keep ? keep->view.lock().get() : nullptr;
  state_->previous = std::move(now);
  full_ = false;
  if (rects.empty() && !presentedOverUnderlay) return damage_;
  repaint(*frame_, *state_, root, scale, painted, rects, kept ? &*kept : nullptr, keptView, presentedOverUnderlay);
  damage_ = std::move(rects);
  return damage_;
}

std::unique_ptr<CGBitmapContext> UICompositor::render(const UIViewRef& root, double scale) {
  if (!root) return nullptr;
  if (!(scale > 0)) scale = root->contentScaleFactor();
  root->layoutIfNeeded();
  displayTree(root);
  CGRect b = root->bounds();
  int w = static_cast<int>(std::lround(b.size.width * scale));
  int h = static_cast<int>(std::lround(b.size.height * scale));
  auto image = CGBitmapContext::create(w, h, scale);
  if (!image) return nullptr;
  cairo_t* cr = image->context()->cairo();
  cairo_save(cr);
  cairo_translate(cr, -b.origin.x, -b.origin.y);
  if (!root->isHidden() && root->alpha() > 0) paintView(cr, *root, root->alpha(), nullptr);
  cairo_restore(cr);
  return image;
}

bool UICompositor::writePNG(const UIViewRef& root, const std::string& path, std::string* error, double scale) {
  auto image = render(root, scale);
  if (!image) {
    if (error) *error = "the view has no area to render";
    return false;
  }
  return image->writePNG(path, error);
}
