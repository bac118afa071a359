#pragma once
// One HTML page laid out and drawn: the page's text is parsed and laid out by litehtml (HTML and
// CSS 2 with parts of CSS 3) at a width in points, and drawn through Cairo and Pango, one CSS
// pixel to one point. Fonts named by the page map to the installed families (sans, serif, mono)
// with the weight and style asked for; images and style sheets the page links are read from files
// next to it. The web view (UIWebView) shows a page through this class; it has no view of its own.
//
// Limits, for pages that come from files: the text at most kMaxPageBytes, elements nested at
// most kMaxNesting deep (deeper pages are refused before layout, which recurses per level), at
// most kMaxAttributes attributes in one tag (both measured before the page is parsed), a
// style sheet at most kMaxStyleSheetBytes, at most kMaxStyleSheets sheets read for a page in all
// (linked and imported, so no chain of imports is deeper) and none on a chain of imports that
// already holds it (which ends every import cycle; HTMLStyleSheets), an image at most
// kMaxImagePixels and the page's images at most kMaxPageImagePixels in all, each file decoded
// once for the page (checked from its header before it is decoded, and as PNGFile.h allows;
// HTMLPageImages). A page that is not valid HTML is laid out as far as the parser can make sense
// of it, as browsers do.
// Main thread only (one page at a time per instance).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/graphics/CGGeometry.h"

typedef struct _cairo cairo_t;

class HTMLPageRenderer {
 public:
  static constexpr size_t kMaxPageBytes = 2 << 20;
  static constexpr int kMaxNesting = 200;
  // The HTML parser compares each attribute with all before it in its tag. The help pages write
  // two at most; at 128 a page of kMaxPageBytes made of such tags costs the parser about what
  // parsing any page of that size does, where 20,000 in one tag took it more than a second.
  static constexpr int kMaxAttributes = 128;
  static constexpr size_t kMaxStyleSheetBytes = 512 << 10;
  // The help pages read one sheet; a page of the bundle would hardly read more than a few.
  static constexpr int kMaxStyleSheets = 16;
  static constexpr int64_t kMaxImagePixels = 4096 * 4096;
  // Decoded images take four bytes a pixel: twice the largest single image is 128 MB, room for
  // 46 full-window backgrounds (1136 x 640), where the bundle's pages show a few small images.
  static constexpr int64_t kMaxPageImagePixels = 2 * kMaxImagePixels;

  HTMLPageRenderer();
  ~HTMLPageRenderer();
  HTMLPageRenderer(const HTMLPageRenderer&) = delete;
  HTMLPageRenderer& operator=(const HTMLPageRenderer&) = delete;

  // Parses the page; `baseDirectory` is where its relative links, images and style sheets are.
  // False (with the reason) when the page is refused for its size, nesting or attributes; the
  // renderer is then empty.
  bool load(const std::string& html, const std::string& baseDirectory, std::string* error = nullptr);
  void clear();
  bool hasPage() const;

  // Lays the page out for a viewport of the size (points); cheap when nothing changed.
  void layout(CGSize viewport);
  // The laid-out page's size (points); zero before layout or without a page.
  CGSize contentSize() const;
  // Draws the part of the page at `offset` (the page point shown at the context's origin) into
  // a clip of `visible` size.
  void draw(cairo_t* cr, CGPoint offset, CGSize visible);

  // The page's title (its <title>), empty when it has none.
  const std::string& title() const;
  // A press and release at a page point: the address of the link there (as written in the page),
  // none when the point is not on a link.
  std::optional<std::string> linkAt(CGPoint pagePoint);
  // The page position (top) of the element with the id or anchor name, none when there is none.
  std::optional<double> anchorTop(const std::string& name);

  // Upper bounds, taken before parsing (HTMLPageMeasure), of the element nesting the HTML parser
  // builds from a page's text, counted up to just past kMaxNesting, and of the most attributes in
  // one of its tags, counted up to just past kMaxAttributes.
  static int nestingDepth(const std::string& html);
  static int mostAttributes(const std::string& html);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
