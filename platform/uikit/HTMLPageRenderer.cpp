#include "platform/uikit/HTMLPageRenderer.h"

#include <cairo.h>
#include <litehtml.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <vector>

#include "platform/foundation/NSLog.h"
#include "platform/graphics/CairoPaths.h"
#include "platform/graphics/UIFont.h"
#include "platform/uikit/HTMLPageElements.h"
#include "platform/uikit/HTMLPageFiles.h"
#include "platform/uikit/HTMLPageImages.h"
#include "platform/uikit/HTMLPageMeasure.h"
#include "platform/uikit/HTMLStyleSheets.h"

namespace {

// What the page's elements look like before its own style: the usual defaults of HTML, written
// for this renderer (block elements, margins, headings, lists, tables, links).
constexpr const char* kDefaultStyleSheet = R"CSS(
html, address, blockquote, body, dd, div, dl, dt, fieldset, form, frame, frameset, h1, h2, h3, h4, h5, h6,
noframes, ol, p, ul, center, dir, hr, menu, pre, header, footer, section, article, nav, aside, main,
figure, figcaption { display: block; }
head, script, style, title, meta, link, template { display: none; }
html { background: transparent; }
body { margin: 8px; color: black; font-family: sans-serif; font-size: 16px; line-height: 1.3; }
p { margin: 1em 0; }
h1 { font-size: 2em; margin: 0.67em 0; font-weight: bold; }
h2 { font-size: 1.5em; margin: 0.83em 0; font-weight: bold; }
h3 { font-size: 1.17em; margin: 1em 0; font-weight: bold; }
h4 { margin: 1.33em 0; font-weight: bold; }
h5 { font-size: 0.83em; margin: 1.67em 0; font-weight: bold; }
h6 { font-size: 0.67em; margin: 2.33em 0; font-weight: bold; }
b, strong, th { font-weight: bold; }
i, em, cite, var, dfn { font-style: italic; }
u, ins { text-decoration: underline; }
s, strike, del { text-decoration: line-through; }
small { font-size: 0.83em; }
big { font-size: 1.17em; }
sub { vertical-align: sub; font-size: 0.83em; }
sup { vertical-align: super; font-size: 0.83em; }
code, kbd, samp, tt, pre { font-family: monospace; }
pre { white-space: pre; margin: 1em 0; }
blockquote { margin: 1em 40px; }
ul, ol, menu, dir { padding-left: 40px; margin: 1em 0; }
ul { list-style-type: disc; }
ol { list-style-type: decimal; }
ul ul, ol ul { list-style-type: circle; margin: 0; }
ol ol, ul ol { margin: 0; }
li { display: list-item; }
dd { margin-left: 40px; }
a { color: #0000EE; text-decoration: underline; cursor: pointer; }
hr { border: 1px inset gray; margin: 0.5em auto; }
table { display: table; border-collapse: separate; border-spacing: 2px; }
thead { display: table-header-group; vertical-align: middle; }
tbody { display: table-row-group; vertical-align: middle; }
tfoot { display: table-footer-group; vertical-align: middle; }
tr { display: table-row; vertical-align: inherit; }
td, th { display: table-cell; vertical-align: inherit; padding: 1px; }
th { text-align: center; }
caption { display: table-caption; text-align: center; }
col { display: table-column; }
colgroup { display: table-column-group; }
img { display: inline-block; }
br { display: block; }
center { text-align: center; }
)CSS";

struct Font {
  PangoFontDescription* description = nullptr;
  unsigned decoration = 0;
  int ascent = 0, descent = 0, xHeight = 0;
};

struct Clip {
  litehtml::position box;
  litehtml::border_radiuses radius;
};

// The engine's boxes are ints, and a style may put them at the ends of their range (a length of
// 99999999999px): sums of them are taken in double, so that such a box is drawn off the page
// instead of overflowing.
struct Rect {
  double x, y, width, height;
  explicit Rect(const litehtml::position& p) : x(p.x), y(p.y), width(p.width), height(p.height) {}
  Rect(double x, double y, double width, double height) : x(x), y(y), width(width), height(height) {}
};

// Corner radii top-left, top-right, bottom-right, bottom-left (the horizontal ones: corners are drawn round).
using Radii = std::array<double, 4>;

Radii radiiOf(const litehtml::border_radiuses& r) {
  return {double(r.top_left_x), double(r.top_right_x), double(r.bottom_right_x), double(r.bottom_left_x)};
}

void roundedBox(cairo_t* cr, const Rect& p, const Radii& r) {
  auto clampR = [&](double v) { return std::clamp(v, 0.0, std::max(0.0, std::min(p.width, p.height) / 2)); };
  double tl = clampR(r[0]), tr = clampR(r[1]), br = clampR(r[2]), bl = clampR(r[3]);
  if (tl <= 0 && tr <= 0 && br <= 0 && bl <= 0) {
    cairo_rectangle(cr, p.x, p.y, p.width, p.height);
    return;
  }
  cairoAddRoundedRect(cr, p.x, p.y, p.width, p.height, tl, tr, br, bl);
}

void roundedBox(cairo_t* cr, const litehtml::position& p, const litehtml::border_radiuses& r) {
  roundedBox(cr, Rect(p), radiiOf(r));
}

void setColor(cairo_t* cr, const litehtml::web_color& c) {
  cairo_set_source_rgba(cr, c.red / 255.0, c.green / 255.0, c.blue / 255.0, c.alpha / 255.0);
}

}  // namespace

// ---- The engine's drawing and measuring callbacks ----

class PageContainer : public litehtml::document_container {
 public:
  PageContainer() {
    fontMap_ = pango_cairo_font_map_get_default();
    pango_ = pango_font_map_create_context(fontMap_);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    pango_cairo_context_set_font_options(pango_, options);
    cairo_font_options_destroy(options);
  }
  ~PageContainer() { g_object_unref(pango_); }

  std::string title;
  CGSize viewport{0, 0};
  std::optional<std::string> clickedLink;

  // A new page, whose references are relative to `directory`, reads its sheets and images afresh.
  void startPage(const std::string& directory) {
    sheets_.startPage(directory);
    images_.startPage();
  }
  // The page is gone: its images are let go of.
  void endPage() { images_.startPage(); }

  // ---- Fonts and text ----
  litehtml::uint_ptr create_font(const litehtml::tchar_t* faceName, int size, int weight, litehtml::font_style italic,
                                 unsigned int decoration, litehtml::font_metrics* fm) override {
    auto font = std::make_unique<Font>();
    font->description = pango_font_description_new();
    pango_font_description_set_family(font->description, familyFor(faceName ? faceName : "").c_str());
    pango_font_description_set_weight(font->description, static_cast<PangoWeight>(std::clamp(weight, 100, 1000)));
    pango_font_description_set_style(font->description,
                                     italic == litehtml::fontStyleItalic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    pango_font_description_set_absolute_size(font->description, std::clamp(size, 1, 400) * PANGO_SCALE);
    font->decoration = decoration;
    PangoFontMetrics* metrics = pango_context_get_metrics(pango_, font->description, nullptr);
    font->ascent = static_cast<int>(std::ceil(pango_font_metrics_get_ascent(metrics) / double(PANGO_SCALE)));
    font->descent = static_cast<int>(std::ceil(pango_font_metrics_get_descent(metrics) / double(PANGO_SCALE)));
    pango_font_metrics_unref(metrics);
    font->xHeight = std::max(1, static_cast<int>(std::lround(textExtents("x", *font).height * 0.55)));
    if (fm) {
      fm->ascent = font->ascent;
      fm->descent = font->descent;
      fm->height = font->ascent + font->descent;
      fm->x_height = font->xHeight;
      fm->draw_spaces = (decoration & (litehtml::font_decoration_underline | litehtml::font_decoration_linethrough |
                                       litehtml::font_decoration_overline)) != 0;
    }
    return reinterpret_cast<litehtml::uint_ptr>(font.release());
  }

  void delete_font(litehtml::uint_ptr handle) override {
    auto* font = reinterpret_cast<Font*>(handle);
    if (!font) return;
    pango_font_description_free(font->description);
    delete font;
  }

  int text_width(const litehtml::tchar_t* text, litehtml::uint_ptr handle) override {
    auto* font = reinterpret_cast<Font*>(handle);
    if (!font || !text) return 0;
    return static_cast<int>(std::ceil(textExtents(text, *font).width));
  }

  void draw_text(litehtml::uint_ptr hdc, const litehtml::tchar_t* text, litehtml::uint_ptr handle,
                 litehtml::web_color color, const litehtml::position& pos) override {
    auto* cr = reinterpret_cast<cairo_t*>(hdc);
    auto* font = reinterpret_cast<Font*>(handle);
    if (!cr || !font || !text) return;
    PangoLayout* layout = makeLayout(text, *font);
    double baseline = pango_layout_get_baseline(layout) / double(PANGO_SCALE);
    cairo_save(cr);
    applyClips(cr);
    setColor(cr, color);
    cairo_move_to(cr, pos.x, double(pos.y) + font->ascent - baseline);
    pango_cairo_show_layout(cr, layout);
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    double width = logical.width / double(PANGO_SCALE);
    double y = double(pos.y) + font->ascent;
    cairo_set_line_width(cr, 1);
    auto line = [&](double at) {
      cairo_move_to(cr, pos.x, std::floor(at) + 0.5);
      cairo_line_to(cr, pos.x + width, std::floor(at) + 0.5);
      cairo_stroke(cr);
    };
    if (font->decoration & litehtml::font_decoration_underline) line(y + 1.5);
    if (font->decoration & litehtml::font_decoration_linethrough) line(y - font->xHeight / 2.0);
    if (font->decoration & litehtml::font_decoration_overline) line(pos.y);
    cairo_restore(cr);
    g_object_unref(layout);
  }

  int pt_to_px(int pt) const override { return static_cast<int>(std::lround(pt * 96.0 / 72.0)); }
  int get_default_font_size() const override { return 16; }
  const litehtml::tchar_t* get_default_font_name() const override { return "sans-serif"; }

  void transform_text(litehtml::tstring& text, litehtml::text_transform tt) override {
    if (tt == litehtml::text_transform_none || !g_utf8_validate(text.c_str(), -1, nullptr)) return;
    gchar* out = nullptr;
    if (tt == litehtml::text_transform_uppercase) out = g_utf8_strup(text.c_str(), -1);
    else if (tt == litehtml::text_transform_lowercase) out = g_utf8_strdown(text.c_str(), -1);
    if (out) {
      text = out;
      g_free(out);
    } else if (tt == litehtml::text_transform_capitalize && !text.empty()) {
      text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    }
  }

  // ---- Boxes ----
  void draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) override {
    auto* cr = reinterpret_cast<cairo_t*>(hdc);
    if (!cr) return;
    cairo_save(cr);
    applyClips(cr);
    setColor(cr, marker.color);
    const auto& p = marker.pos;
    double cx = p.x + p.width / 2.0, cy = p.y + p.height / 2.0, r = std::max(1.0, std::min(p.width, p.height) / 2.0);
    switch (marker.marker_type) {
      case litehtml::list_style_type_circle:
        cairo_set_line_width(cr, 1);
        cairo_arc(cr, cx, cy, r - 0.5, 0, 2 * M_PI);
        cairo_stroke(cr);
        break;
      case litehtml::list_style_type_square:
        cairo_rectangle(cr, p.x, p.y, p.width, p.height);
        cairo_fill(cr);
        break;
      case litehtml::list_style_type_none: break;
      default:
        cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
        cairo_fill(cr);
        break;
    }
    cairo_restore(cr);
  }

  void load_image(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, bool) override {
    image(src, baseurl);
  }

  void get_image_size(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, litehtml::size& sz) override {
    cairo_surface_t* s = image(src, baseurl);
    sz.width = s ? cairo_image_surface_get_width(s) : 0;
    sz.height = s ? cairo_image_surface_get_height(s) : 0;
  }

  void draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) override {
    auto* cr = reinterpret_cast<cairo_t*>(hdc);
    if (!cr) return;
    cairo_save(cr);
    applyClips(cr);
    roundedBox(cr, bg.border_box, bg.border_radius);
    cairo_clip(cr);
    cairo_rectangle(cr, bg.clip_box.x, bg.clip_box.y, bg.clip_box.width, bg.clip_box.height);
    cairo_clip(cr);
    if (bg.color.alpha > 0) {
      setColor(cr, bg.color);
      cairo_paint(cr);
    }
    if (cairo_surface_t* s = bg.image.empty() ? nullptr : image(bg.image.c_str(), bg.baseurl.c_str())) {
      int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
      if (w > 0 && h > 0 && bg.image_size.width > 0 && bg.image_size.height > 0) {
        cairo_pattern_t* pattern = cairo_pattern_create_for_surface(s);
        cairo_matrix_t m;
        cairo_matrix_init_scale(&m, double(w) / bg.image_size.width, double(h) / bg.image_size.height);
        cairo_matrix_translate(&m, -bg.position_x, -bg.position_y);
        cairo_pattern_set_matrix(pattern, &m);
        bool repeat = bg.repeat != litehtml::background_repeat_no_repeat;
        cairo_pattern_set_extend(pattern, repeat ? CAIRO_EXTEND_REPEAT : CAIRO_EXTEND_NONE);
        cairo_set_source(cr, pattern);
        if (repeat) {
          cairo_paint(cr);
        } else {
          cairo_rectangle(cr, bg.position_x, bg.position_y, bg.image_size.width, bg.image_size.height);
          cairo_fill(cr);
        }
        cairo_pattern_destroy(pattern);
      }
    }
    cairo_restore(cr);
  }

  void draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& b, const litehtml::position& box, bool) override {
    auto* cr = reinterpret_cast<cairo_t*>(hdc);
    if (!cr) return;
    auto visible = [](const litehtml::border& side) {
      return side.width > 0 && side.style != litehtml::border_style_none && side.style != litehtml::border_style_hidden;
    };
    cairo_save(cr);
    applyClips(cr);
    const bool uniform = b.left.width == b.top.width && b.top.width == b.right.width && b.right.width == b.bottom.width &&
                         visible(b.left) && visible(b.top) && visible(b.right) && visible(b.bottom);
    const Rect outer(box);
    const double top = b.top.width, right = b.right.width, bottom = b.bottom.width, left = b.left.width;
    if (uniform) {
      // One ring between the outer and the inner rounded box.
      roundedBox(cr, outer, radiiOf(b.radius));
      const Rect inner(outer.x + left, outer.y + top, outer.width - left - right, outer.height - top - bottom);
      Radii r = radiiOf(b.radius);
      for (double& v : r) v = std::max(0.0, v - left);
      if (inner.width > 0 && inner.height > 0) roundedBox(cr, inner, r);
      cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
      setColor(cr, b.top.color);
      cairo_fill(cr);
    } else {
      auto side = [&](const litehtml::border& s, double x, double y, double w, double h) {
        if (!visible(s)) return;
        setColor(cr, s.color);
        cairo_rectangle(cr, x, y, w, h);
        cairo_fill(cr);
      };
      side(b.top, outer.x, outer.y, outer.width, top);
      side(b.bottom, outer.x, outer.y + outer.height - bottom, outer.width, bottom);
      side(b.left, outer.x, outer.y, left, outer.height);
      side(b.right, outer.x + outer.width - right, outer.y, right, outer.height);
    }
    cairo_restore(cr);
  }

  void set_clip(const litehtml::position& pos, const litehtml::border_radiuses& radius, bool, bool) override {
    clips_.push_back({pos, radius});
  }
  void del_clip() override {
    if (!clips_.empty()) clips_.pop_back();
  }

  // ---- The page and its surroundings ----
  void set_caption(const litehtml::tchar_t* caption) override { title = caption ? caption : ""; }
  void set_base_url(const litehtml::tchar_t*) override {}
  void link(const std::shared_ptr<litehtml::document>&, const litehtml::element::ptr&) override {}
  void on_anchor_click(const litehtml::tchar_t* url, const litehtml::element::ptr&) override {
    if (url) clickedLink = url;
  }
  void set_cursor(const litehtml::tchar_t*) override {}
  void import_css(litehtml::tstring& text, const litehtml::tstring& url, litehtml::tstring& baseurl) override {
    sheets_.readSheet(text, url, baseurl);
  }
  void get_client_rect(litehtml::position& client) const override {
    client = litehtml::position(0, 0, static_cast<int>(viewport.width), static_cast<int>(viewport.height));
  }
  std::shared_ptr<litehtml::element> create_element(const litehtml::tchar_t* tagName, const litehtml::string_map&,
                                                    const std::shared_ptr<litehtml::document>& document) override {
    return htmlpage::createElement(tagName, document);
  }
  void get_media_features(litehtml::media_features& media) const override {
    media.type = litehtml::media_type_screen;
    media.width = media.device_width = static_cast<int>(viewport.width);
    media.height = media.device_height = static_cast<int>(viewport.height);
    media.color = 8;
    media.monochrome = 0;
    media.color_index = 256;
    media.resolution = 96;
  }
  void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override {
    language = "en";
    culture = "";
  }

  void resetClips() { clips_.clear(); }

 private:
  static std::string familyFor(const std::string& faceNames) {
    // The first named family that maps to something; generic names first as CSS says.
    std::string list = faceNames;
    size_t start = 0;
    while (start <= list.size()) {
      size_t comma = list.find(',', start);
      std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == '"' || c == '\''; }), name.end());
      while (!name.empty() && std::isspace(static_cast<unsigned char>(name.front()))) name.erase(name.begin());
      while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
      if (!name.empty()) {
        if (name == "monospace") return "DejaVu Sans Mono";
        if (name == "serif") return "DejaVu Serif";
        if (name == "sans-serif" || name == "system-ui") return "DejaVu Sans";
        return UIFont(name, 12).family();
      }
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    return "DejaVu Sans";
  }

  PangoLayout* makeLayout(const char* text, const Font& font) {
    PangoLayout* layout = pango_layout_new(pango_);
    pango_layout_set_font_description(layout, font.description);
    if (g_utf8_validate(text, -1, nullptr)) {
      pango_layout_set_text(layout, text, -1);
    } else {
      gchar* valid = g_utf8_make_valid(text, -1);
      pango_layout_set_text(layout, valid, -1);
      g_free(valid);
    }
    return layout;
  }

  CGSize textExtents(const char* text, const Font& font) {
    PangoLayout* layout = makeLayout(text, font);
    PangoRectangle ink, logical;
    pango_layout_get_extents(layout, &ink, &logical);
    g_object_unref(layout);
    return {logical.width / double(PANGO_SCALE), ink.height / double(PANGO_SCALE)};
  }

  void applyClips(cairo_t* cr) {
    for (const auto& clip : clips_) {
      roundedBox(cr, clip.box, clip.radius);
      cairo_clip(cr);
    }
  }

  // An image the page names, relative to the page or to the sheet that names it.
  cairo_surface_t* image(const char* src, const char* baseurl) {
    if (!src) return nullptr;
    auto path = htmlpage::localPath(src, sheets_.baseDirectory(baseurl ? baseurl : ""));
    return path ? images_.image(*path, src) : nullptr;
  }

  PangoFontMap* fontMap_;
  PangoContext* pango_;
  std::vector<Clip> clips_;
  HTMLStyleSheets sheets_;
  HTMLPageImages images_;
};

// ---- The renderer ----

struct HTMLPageRenderer::Impl {
  litehtml::context context;
  PageContainer container;
  litehtml::document::ptr document;
  CGSize laidOutFor{-1, -1};

  Impl() { context.load_master_stylesheet(kDefaultStyleSheet); }
};

HTMLPageRenderer::HTMLPageRenderer() : impl_(std::make_unique<Impl>()) {}
HTMLPageRenderer::~HTMLPageRenderer() {
  // The document's fonts are deleted through the container: the document goes first.
  if (impl_) impl_->document.reset();
}

int HTMLPageRenderer::nestingDepth(const std::string& html) {
  return HTMLPageMeasure::of(html, kMaxNesting, kMaxAttributes).nesting;
}

int HTMLPageRenderer::mostAttributes(const std::string& html) {
  return HTMLPageMeasure::of(html, kMaxNesting, kMaxAttributes).mostAttributes;
}

bool HTMLPageRenderer::load(const std::string& html, const std::string& baseDirectory, std::string* error) {
  clear();
  if (html.size() > kMaxPageBytes) {
    if (error) *error = "the page is larger than " + std::to_string(kMaxPageBytes) + " bytes";
    return false;
  }
  const auto measure = HTMLPageMeasure::of(html, kMaxNesting, kMaxAttributes);
  if (measure.nesting > kMaxNesting) {
    if (error) *error = "the page nests elements more than " + std::to_string(kMaxNesting) + " deep";
    return false;
  }
  if (measure.mostAttributes > kMaxAttributes) {
    if (error) *error = "a tag of the page has more than " + std::to_string(kMaxAttributes) + " attributes";
    return false;
  }
  impl_->container.startPage(baseDirectory);
  // The engine reads a C string: a page with a zero byte ends there, as its text would.
  impl_->document = litehtml::document::createFromUTF8(html.c_str(), &impl_->container, &impl_->context);
  if (!impl_->document) {
    if (error) *error = "the page cannot be parsed";
    return false;
  }
  return true;
}

void HTMLPageRenderer::clear() {
  impl_->document.reset();
  impl_->container.endPage();
  impl_->container.title.clear();
  impl_->container.clickedLink.reset();
  impl_->laidOutFor = {-1, -1};
}

bool HTMLPageRenderer::hasPage() const { return impl_->document != nullptr; }

const std::string& HTMLPageRenderer::title() const { return impl_->container.title; }

void HTMLPageRenderer::layout(CGSize viewport) {
  if (!impl_->document) return;
  if (!(viewport.width >= 1) || !std::isfinite(viewport.width)) viewport.width = 1;
  if (!(viewport.height >= 0) || !std::isfinite(viewport.height)) viewport.height = 0;
  viewport.width = std::min(viewport.width, 100000.0);
  viewport.height = std::min(viewport.height, 100000.0);
  if (viewport == impl_->laidOutFor) return;
  impl_->container.viewport = viewport;
  impl_->document->media_changed();
  impl_->document->render(static_cast<int>(viewport.width));
  impl_->laidOutFor = viewport;
}

CGSize HTMLPageRenderer::contentSize() const {
  if (!impl_->document || impl_->laidOutFor.width < 0) return {0, 0};
  return {static_cast<double>(impl_->document->width()), static_cast<double>(impl_->document->height())};
}

void HTMLPageRenderer::draw(cairo_t* cr, CGPoint offset, CGSize visible) {
  if (!impl_->document || !cr || impl_->laidOutFor.width < 0) return;
  impl_->container.resetClips();
  litehtml::position clip(static_cast<int>(std::floor(offset.x)), static_cast<int>(std::floor(offset.y)),
                          static_cast<int>(std::ceil(visible.width)) + 1, static_cast<int>(std::ceil(visible.height)) + 1);
  cairo_save(cr);
  cairo_rectangle(cr, 0, 0, visible.width, visible.height);
  cairo_clip(cr);
  cairo_translate(cr, -offset.x, -offset.y);
  impl_->document->draw(reinterpret_cast<litehtml::uint_ptr>(cr), 0, 0, &clip);
  cairo_restore(cr);
}

std::optional<std::string> HTMLPageRenderer::linkAt(CGPoint p) {
  if (!impl_->document || impl_->laidOutFor.width < 0) return std::nullopt;
  impl_->container.clickedLink.reset();
  litehtml::position::vector redraw;
  int x = static_cast<int>(std::floor(p.x)), y = static_cast<int>(std::floor(p.y));
  impl_->document->on_mouse_over(x, y, x, y, redraw);
  impl_->document->on_lbutton_down(x, y, x, y, redraw);
  impl_->document->on_lbutton_up(x, y, x, y, redraw);
  impl_->document->on_mouse_leave(redraw);
  auto link = impl_->container.clickedLink;
  impl_->container.clickedLink.reset();
  return link;
}

std::optional<double> HTMLPageRenderer::anchorTop(const std::string& name) {
  if (!impl_->document || impl_->laidOutFor.width < 0 || name.empty()) return std::nullopt;
  // Only names made of safe characters go into a selector.
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return std::nullopt;
  }
  auto root = impl_->document->root();
  if (!root) return std::nullopt;
  auto element = root->select_one("#" + name);
  if (!element) element = root->select_one("a[name=" + name + "]");
  if (!element) return std::nullopt;
  return static_cast<double>(element->get_placement().y);
}
