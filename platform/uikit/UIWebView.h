#pragma once
// A web view for the application's own pages. It loads an HTML page from a file (a "file:"
// address, or a relative one, which is resolved against the main bundle's folder as pages the
// application ships are) and shows it rendered (HTMLPageRenderer: litehtml, Cairo and Pango) at
// the view's width over its background. The page scrolls vertically by dragging. A tap on a link
// follows it: "#name" scrolls to the anchor, another page of the bundle loads in the view, and an
// address of another site (http, https, mailto) goes to the desktop's browser through
// UIApplication::openURL.
//
// Loading runs on the main run loop after loadRequest returns, as the platform's does; the
// delegate hears of the end. A page that cannot be read (missing, too large, nested too deep, an
// address of another kind) is logged and leaves the view empty. Main thread only.
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NSError.h"
#include "platform/network/NSURLSession.h"
#include "platform/uikit/HTMLPageRenderer.h"
#include "platform/uikit/UIView.h"

class UIWebView;

class UIWebViewDelegate {
 public:
  virtual ~UIWebViewDelegate() = default;
  virtual void webViewDidStartLoad(UIWebView& webView) {}
  virtual void webViewDidFinishLoad(UIWebView& webView) {}
  virtual void webViewDidFailLoadWithError(UIWebView& webView, const NSErrorRef& error) {}
};

class UIWebView : public UIView {
 public:
  explicit UIWebView(const CGRect& frame = CGRectZero);
  ~UIWebView() override;

  std::shared_ptr<UIWebViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<UIWebViewDelegate>& delegate) { delegate_ = delegate; }

  // Starts loading the request's page; what was shown stays until the load ends.
  void loadRequest(const NSURLRequest& request);
  // Shows the text as a page whose relative links are in `baseDirectory`.
  void loadHTMLString(const std::string& html, const std::string& baseDirectory);
  bool isLoading() const { return loading_; }
  // The request of the page shown or being loaded; none before the first load.
  const std::optional<NSURLRequest>& request() const { return request_; }
  // The page's title; empty without a page.
  std::string pageTitle() const { return renderer_.title(); }
  bool hasPage() const { return renderer_.hasPage(); }

  // Scrolling: the page point shown at the view's top-left corner, kept between the top and the
  // page's end.
  CGPoint contentOffset() const { return offset_; }
  void setContentOffset(CGPoint offset);
  CGSize contentSize();

  // Follows a link as a tap on it does (see above).
  void followLink(const std::string& address);

  // Where the page is resolved to on disk for a request address; none for other addresses.
  static std::optional<std::string> filePathForAddress(const std::string& address);

  void drawRect(const CGRect& rect) override;
  void layoutSubviews() override;
  void touchesBegan(const UITouchSet& touches, const UIEvent* event) override;
  void touchesMoved(const UITouchSet& touches, const UIEvent* event) override;
  void touchesEnded(const UITouchSet& touches, const UIEvent* event) override;
  void touchesCancelled(const UITouchSet& touches, const UIEvent* event) override;

  // How far a touch moves before it scrolls instead of tapping (points).
  static constexpr double kDragThreshold = 6;

 private:
  void finishLoad(uint64_t generation);
  void fail(const std::string& address, int64_t code, const std::string& reason);
  void showPage(const std::string& html, const std::string& baseDirectory, const std::string& address);
  double maxOffsetY();

  std::weak_ptr<UIWebViewDelegate> delegate_;
  HTMLPageRenderer renderer_;
  std::optional<NSURLRequest> request_;
  std::string pageDirectory_;
  bool loading_ = false;
  uint64_t generation_ = 0;
  CGPoint offset_{0, 0};
  // The touch in progress: where it went down (view coordinates) and whether it scrolls.
  CGPoint touchStart_{0, 0};
  CGPoint offsetAtTouch_{0, 0};
  bool dragging_ = false;
  bool touching_ = false;
};
