#pragma once
// Views: geometry (frame from centre, bounds and transform, as the phone computes it), the view
// tree, layout and display passes, coordinate conversion, hit testing and touch delivery.
// Content is drawn with Cairo into a backing image per view (drawRect:), or, for GL views, comes
// from their CAEAGLLayer's presented pixels; UICompositor puts a window together.
#include <memory>
#include <vector>

#include "platform/graphics/CALayer.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIColor.h"
#include "platform/uikit/UITouch.h"

class UIView;
class UIWindow;
using UIViewRef = std::shared_ptr<UIView>;

class UIView : public std::enable_shared_from_this<UIView> {
 public:
  UIView();
  explicit UIView(const CGRect& frame);  // initWithFrame:
  virtual ~UIView();
  UIView(const UIView&) = delete;
  UIView& operator=(const UIView&) = delete;

  // Geometry. The frame is derived from centre, bounds size and transform; setting it with a
  // non-identity transform keeps the transform and solves for the bounds size.
  CGRect frame() const;
  virtual void setFrame(const CGRect& frame);
  CGRect bounds() const { return bounds_; }
  virtual void setBounds(const CGRect& bounds);
  CGPoint center() const { return center_; }
  void setCenter(const CGPoint& center) { center_ = center; }
  CGAffineTransform transform() const { return transform_; }
  void setTransform(const CGAffineTransform& transform) { transform_ = transform; }

  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden) { hidden_ = hidden; }
  double alpha() const { return alpha_; }
  void setAlpha(double alpha);
  UIColorRef backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(const UIColorRef& color);
  bool isOpaque() const { return layer()->isOpaque(); }
  void setOpaque(bool opaque) { layer()->setOpaque(opaque); }
  bool clipsToBounds() const { return clipsToBounds_; }
  void setClipsToBounds(bool clips) { clipsToBounds_ = clips; }
  bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
  void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  // Pixels per point of the view's content (the main screen's scale by default).
  double contentScaleFactor() const { return contentScaleFactor_; }
  void setContentScaleFactor(double scale);

  // The backing layer, made on first use by layerClass().
  std::shared_ptr<CALayer> layer() const;

  // The tree.
  std::shared_ptr<UIView> superview() const { return superview_.lock(); }
  const std::vector<UIViewRef>& subviews() const { return subviews_; }
  // The window at the root of the tree, none when the view is not in one.
  std::shared_ptr<UIWindow> window() const;
  void addSubview(const UIViewRef& view);  // moves it to the front (last), from any former parent
  void insertSubview(const UIViewRef& view, size_t index);
  void bringSubviewToFront(const UIViewRef& view);
  void removeFromSuperview();
  bool isDescendantOfView(const UIView* view) const;

  // Layout.
  void setNeedsLayout() { needsLayout_ = true; }
  bool needsLayout() const { return needsLayout_; }
  // Lays out this view when marked, then its subviews, depth first.
  void layoutIfNeeded();
  virtual void layoutSubviews() {}

  // Display.
  void setNeedsDisplay() { needsDisplay_ = true; }
  void setNeedsDisplayInRect(const CGRect&) { needsDisplay_ = true; }
  bool needsDisplay() const { return needsDisplay_; }
  // Draws the content into the current context (bounds coordinates, y down).
  virtual void drawRect(const CGRect& rect);
  // Redraws the backing image when marked; used by the compositor.
  void displayIfNeeded();
  // The backing image of the last display pass; none when the view draws nothing of its own.
  const CGBitmapContext* backingStore() const { return backing_.get(); }

  // Coordinates. A null view means the window (root) coordinates.
  CGPoint convertPointToView(CGPoint point, const UIView* view) const;
  CGPoint convertPointFromView(CGPoint point, const UIView* view) const;
  CGRect convertRectToView(const CGRect& rect, const UIView* view) const;
  CGRect convertRectFromView(const CGRect& rect, const UIView* view) const;
  // From this view's bounds coordinates to its superview's, and back.
  CGPoint pointToSuperview(CGPoint point) const;
  CGPoint pointFromSuperview(CGPoint point) const;

  // Hit testing: the deepest visible, interactive view containing the point (own coordinates).
  virtual UIViewRef hitTest(CGPoint point, const UIEvent* event);
  virtual bool pointInside(CGPoint point, const UIEvent* event) const;

  // Touches; by default passed on to the superview (the next responder).
  virtual void touchesBegan(const UITouchSet& touches, const UIEvent* event);
  virtual void touchesMoved(const UITouchSet& touches, const UIEvent* event);
  virtual void touchesEnded(const UITouchSet& touches, const UIEvent* event);
  virtual void touchesCancelled(const UITouchSet& touches, const UIEvent* event);

 protected:
  // layerClass: the kind of backing layer (CALayer; GL views return a CAEAGLLayer).
  virtual std::shared_ptr<CALayer> makeLayer() const;
  virtual void didMoveToSuperview() {}
  virtual void willMoveToSuperview(UIView* /*newSuperview*/) {}

 private:
  void syncLayer() const;
  std::vector<const UIView*> ancestry() const;  // self first, root last

  CGPoint center_{};
  CGRect bounds_{};
  CGAffineTransform transform_{};
  bool hidden_ = false;
  double alpha_ = 1;
  UIColorRef backgroundColor_;
  bool clipsToBounds_ = false;
  bool userInteractionEnabled_ = true;
  int tag_ = 0;
  double contentScaleFactor_;
  mutable std::shared_ptr<CALayer> layer_;
  std::weak_ptr<UIView> superview_;
  std::vector<UIViewRef> subviews_;
  bool needsLayout_ = true;
  bool needsDisplay_ = true;
  bool drawsNothing_ = false;  // drawRect: is the base one: no backing image is kept
  bool baseDrawCalled_ = false;
  std::unique_ptr<CGBitmapContext> backing_;
};
