#include "platform/uikit/UIWebView.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/uikit/UIApplication.h"

namespace {

constexpr int64_t kFileDoesNotExist = -1100;  // NSURLErrorFileDoesNotExist

bool hasScheme(const std::string& address, const char* scheme) { return address.rfind(scheme, 0) == 0; }

std::string withoutFragment(const std::string& address) { return address.substr(0, address.find_first_of("?#")); }

std::string fragmentOf(const std::string& address) {
  auto hash = address.find('#');
  return hash == std::string::npos ? "" : address.substr(hash + 1);
}

// Reads a page with the size limit; the reason in *error when it cannot. A FIFO or a device named
// as a page is refused unread: reading it could hold the main thread for good.
std::optional<std::string> readPage(const std::string& path, std::string* error) {
  std::string text, why;
  switch (ns::readFile(path, HTMLPageRenderer::kMaxPageBytes, &text, &why)) {
    case ns::FileRead::Read: return text;
    case ns::FileRead::Missing: *error = "no such page"; break;
    case ns::FileRead::TooLarge:
      *error = "the page is larger than " + std::to_string(HTMLPageRenderer::kMaxPageBytes) + " bytes";
      break;
    case ns::FileRead::Unreadable: *error = "the page cannot be read: " + why; break;
  }
  return std::nullopt;
}

}  // namespace

UIWebView::UIWebView(const CGRect& frame) : UIView(frame) {}
UIWebView::~UIWebView() = default;

std::optional<std::string> UIWebView::filePathForAddress(const std::string& address) {
  std::string ref = withoutFragment(address);
  if (ref.empty()) return std::nullopt;
  if (hasScheme(ref, "file://")) return ref.substr(7);
  if (hasScheme(ref, "file:")) return ref.substr(5);
  auto colon = ref.find(':');
  if (colon != std::string::npos && ref.find('/') > colon) return std::nullopt;  // an address of another kind
  if (ref[0] == '/') return ref;
  return (std::filesystem::path(NSBundle::mainBundle().bundlePath()) / ref).lexically_normal().string();
}

void UIWebView::loadRequest(const NSURLRequest& request) {
  request_ = request;
  loading_ = true;
  const uint64_t generation = ++generation_;
  if (auto d = delegate()) d->webViewDidStartLoad(*this);
  std::weak_ptr<UIView> weak = weak_from_this();
  NSRunLoop::main().performBlock([weak, generation] {
    if (auto self = std::static_pointer_cast<UIWebView>(weak.lock())) self->finishLoad(generation);
  });
}

void UIWebView::loadHTMLString(const std::string& html, const std::string& baseDirectory) {
  ++generation_;
  request_ = NSURLRequest("file://" + (std::filesystem::path(baseDirectory) / "").string());
  loading_ = false;
  showPage(html, baseDirectory, request_->URL());
}

void UIWebView::finishLoad(uint64_t generation) {
  if (generation != generation_ || !loading_ || !request_) return;
  loading_ = false;
  const std::string address = request_->URL();
  auto path = filePathForAddress(address);
  if (!path) {
    fail(address, NSURLErrorUnsupportedURL, "only pages on this computer can be shown");
    return;
  }
  std::string error;
  auto html = readPage(*path, &error);
  if (!html) {
    fail(address, kFileDoesNotExist, error);
    return;
  }
  showPage(*html, std::filesystem::path(*path).parent_path().string(), address);
}

void UIWebView::showPage(const std::string& html, const std::string& baseDirectory, const std::string& address) {
  std::string error;
  if (!renderer_.load(html, baseDirectory, &error)) {
    fail(address, NSURLErrorCannotDecodeContentData, error);
    return;
  }
  pageDirectory_ = baseDirectory;
  offset_ = {0, 0};
  renderer_.layout(bounds().size);
  if (auto anchor = fragmentOf(address); !anchor.empty()) {
    if (auto top = renderer_.anchorTop(anchor)) setContentOffset({0, *top});
  }
  setNeedsDisplay();
  if (auto d = delegate()) d->webViewDidFinishLoad(*this);
}

void UIWebView::fail(const std::string& address, int64_t code, const std::string& reason) {
  NSLog("UIWebView: cannot load %s: %s", address.c_str(), reason.c_str());
  renderer_.clear();
  offset_ = {0, 0};
  setNeedsDisplay();
  Value info = Value::object();
  info[NSLocalizedDescriptionKey] = "The page couldn't be loaded.";
  info[NSLocalizedFailureReasonErrorKey] = reason;
  info[NSURLErrorFailingURLStringErrorKey] = address;
  auto error = NSError::errorWithDomain(NSURLErrorDomain, code, info);
  if (auto d = delegate()) d->webViewDidFailLoadWithError(*this, error);
}

CGSize UIWebView::contentSize() {
  renderer_.layout(bounds().size);
  return renderer_.contentSize();
}

double UIWebView::maxOffsetY() { return std::max(0.0, contentSize().height - bounds().size.height); }

void UIWebView::setContentOffset(CGPoint offset) {
  double y = std::isfinite(offset.y) ? std::clamp(offset.y, 0.0, maxOffsetY()) : 0.0;
  if (y == offset_.y) return;
  offset_ = {0, y};
  setNeedsDisplay();
}

void UIWebView::layoutSubviews() {
  UIView::layoutSubviews();
  // A new width lays the page out again; the offset stays within the new page.
  renderer_.layout(bounds().size);
  offset_.y = std::clamp(offset_.y, 0.0, maxOffsetY());
  setNeedsDisplay();
}

void UIWebView::drawRect(const CGRect& rect) {
  CGContextRef context = UIGraphicsGetCurrentContext();
  if (!context) return;
  renderer_.layout(bounds().size);
  cairo_t* cr = context->cairo();
  cairo_save(cr);
  cairo_translate(cr, bounds().origin.x, bounds().origin.y);
  renderer_.draw(cr, offset_, bounds().size);
  cairo_restore(cr);
}

void UIWebView::followLink(const std::string& address) {
  if (address.empty()) return;
  if (address[0] == '#') {
    if (auto top = renderer_.anchorTop(address.substr(1))) setContentOffset({0, *top});
    return;
  }
  if (hasScheme(address, "http://") || hasScheme(address, "https://") || hasScheme(address, "mailto:")) {
    UIApplication::sharedApplication().openURL(address);
    return;
  }
  // Another page next to this one.
  std::string target = address;
  if (!hasScheme(address, "file:") && address[0] != '/') {
    target = "file://" + (std::filesystem::path(pageDirectory_) / address).lexically_normal().string();
  }
  if (filePathForAddress(target)) {
    loadRequest(NSURLRequest(target));
  } else {
    NSLog("UIWebView: a link to %s is not followed", address.c_str());
  }
}

// ---- Touches: drag to scroll, tap to follow a link ----

void UIWebView::touchesBegan(const UITouchSet& touches, const UIEvent*) {
  if (touches.empty()) return;
  touching_ = true;
  dragging_ = false;
  touchStart_ = touches.front()->locationInView(this);
  offsetAtTouch_ = offset_;
}

void UIWebView::touchesMoved(const UITouchSet& touches, const UIEvent*) {
  if (!touching_ || touches.empty()) return;
  CGPoint p = touches.front()->locationInView(this);
  // Locations are in bounds coordinates, which do not move when the page scrolls (the offset is
  // the renderer's, not the bounds' origin).
  double dy = p.y - touchStart_.y;
  if (!dragging_ && std::hypot(p.x - touchStart_.x, dy) > kDragThreshold) dragging_ = true;
  if (dragging_) setContentOffset({0, offsetAtTouch_.y - dy});
}

void UIWebView::touchesEnded(const UITouchSet& touches, const UIEvent*) {
  if (!touching_ || touches.empty()) return;
  touching_ = false;
  if (dragging_) return;
  CGPoint p = touches.front()->locationInView(this);
  renderer_.layout(bounds().size);
  if (auto link = renderer_.linkAt({p.x + offset_.x, p.y + offset_.y})) followLink(*link);
}

void UIWebView::touchesCancelled(const UITouchSet&, const UIEvent*) {
  touching_ = false;
  dragging_ = false;
}
