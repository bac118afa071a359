#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include <limits>
#include <optional>
#include <sched.h>
#include <sstream>
#include <string>
#include <vector>
#include <utility>

#include "platform/graphics/CGContext.h"
#include "platform/graphics/EAGLContext.h"
#include "platform/graphics/NSAttributedString.h"
#include "platform/graphics/NSStringDrawing.h"
#include "platform/graphics/PNGFile.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/graphics/UIFont.h"
#include "platform/graphics/UIImage.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PNGBuilder.h"

namespace {

TEST(Geometry, TransformsInvertConcatAndBoundRotatedRects) {
  auto rot = CGAffineTransformMakeRotation(-M_PI / 2);
  EXPECT_EQ(rot.a, 0);
  EXPECT_EQ(rot.b, -1);
  auto p = CGPointApplyAffineTransform({10, 0}, rot);
  EXPECT_NEAR(p.x, 0, 1e-12);
  EXPECT_NEAR(p.y, -10, 1e-12);
  auto t = CGAffineTransformConcat(CGAffineTransformMakeScale(2, 3), CGAffineTransformMakeTranslation(5, 7));
  auto q = CGPointApplyAffineTransform({1, 1}, t);
  EXPECT_EQ(q, (CGPoint{7, 10}));
  auto back = CGPointApplyAffineTransform(q, CGAffineTransformInvert(t));
  EXPECT_NEAR(back.x, 1, 1e-12);
  EXPECT_NEAR(back.y, 1, 1e-12);
  // A singular transform cannot be inverted and is returned unchanged.
  auto singular = CGAffineTransformMakeScale(0, 1);
  EXPECT_EQ(CGAffineTransformInvert(singular), singular);
  EXPECT_EQ(CGRectApplyAffineTransform(CGRectMake(0, 0, 40, 10), rot), CGRectMake(0, -40, 10, 40));
  EXPECT_TRUE(CGRectContainsPoint(CGRectMake(0, 0, 10, 10), {0, 0}));
  EXPECT_FALSE(CGRectContainsPoint(CGRectMake(0, 0, 10, 10), {10, 5}));
  EXPECT_EQ(CGRectIntersection(CGRectMake(0, 0, 10, 10), CGRectMake(20, 20, 5, 5)), CGRectZero);
  EXPECT_EQ(CGRectStandardize(CGRectMake(10, 10, -4, -6)), CGRectMake(6, 4, 4, 6));
}

TEST(Color, ComponentsAreClampedAndNaNBecomesZero) {
  auto c = UIColor::colorWithRed(1.5, -1, NAN, 0.25);
  EXPECT_EQ(c->components(), (std::array<double, 4>{1, 0, 0, 0.25}));
  double r = -1, a = -1;
  EXPECT_TRUE(c->getRed(&r, nullptr, nullptr, &a));
  EXPECT_EQ(r, 1);
  EXPECT_EQ(a, 0.25);
}

TEST(Font, PhoneFontNamesMapToInstalledFamiliesWithTheirWeight) {
  auto medium = UIFont::fontWithName("Avenir-Medium", 12);
  ASSERT_TRUE(medium);
  EXPECT_EQ(medium->family(), "DejaVu Sans");
  EXPECT_EQ(medium->weight(), 500);
  auto light = UIFont::fontWithName("HelveticaNeueCyr-UltraLight", 11);
  EXPECT_EQ(light->weight(), 200);
  EXPECT_EQ(light->pointSize(), 11);
  EXPECT_EQ(UIFont::fontWithName("Menlo-Bold", 10)->family(), "DejaVu Sans Mono");
  EXPECT_EQ(UIFont::fontWithName("Menlo-Bold", 10)->weight(), 700);
  EXPECT_EQ(UIFont::fontWithName("", 12), nullptr);
  EXPECT_EQ(UIFont::fontWithName("Avenir-Medium", -3)->pointSize(), 12);
}

TEST(Text, MeasuresByFontSizeAndDrawsInItsColour) {
  NSTextAttributes small{UIFont::fontWithName("Avenir-Medium", 12), UIColor::whiteColor(), 0};
  NSTextAttributes big{UIFont::fontWithName("Avenir-Medium", 24), UIColor::redColor(), 0};
  CGSize s = NSStringSizeWithAttributes("20k", small);
  CGSize b = NSStringSizeWithAttributes("20k", big);
  EXPECT_GT(s.width, 10);
  EXPECT_LT(s.width, 40);
  EXPECT_NEAR(b.width / s.width, 2.0, 0.3);
  EXPECT_EQ(NSStringSizeWithAttributes("", small).width, 0);
  // Invalid UTF-8 is measured with replacements instead of failing.
  EXPECT_GT(NSStringSizeWithAttributes(std::string("a\xff" "b"), small).width, 0);

  auto bitmap = CGBitmapContext::create(60, 40);
  UIGraphicsPushContext(bitmap->context());
  NSStringDrawAtPoint("888", {2, 2}, big);
  UIGraphicsPopContext();
  int red = 0, other = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x) {
      auto p = bitmap->pixel(x, y);
      if (p.a == 255 && p.r == 255 && p.g == 0 && p.b == 0) ++red;
      else if (p.a != 0 && (p.g > 0 || p.b > 0)) ++other;
    }
  EXPECT_GT(red, 30);
  EXPECT_EQ(other, 0);
}

// Text is measured at a scale as it is drawn into a context at that scale: CJK characters (boxes
// without a CJK font), an emoji and a character no font has are wider or narrower at 2 than at 1.
// The default scale is the one set (the screen sets it), 1 until then.
class TextMeasuredAtAScale : public ::testing::Test {
 protected:
  void TearDown() override { NSStringSetDefaultMeasuringScale(1); }
  // "a中文z中🦋", U+10FFFD, "b".
  const std::string mixed = "a\xE4\xB8\xAD\xE6\x96\x87z\xE4\xB8\xAD\xF0\x9F\xA6\x8B\xF4\x8F\xBF\xBD" "b";
  const UIFontRef font = UIFont::fontWithName("Avenir-Medium", 17);
  NSAttributedString text() const {
    NSAttributes a;
    a.font = font;
    return NSAttributedString(mixed, a);
  }
  static std::pair<double, double> pair(CGSize s) { return {s.width, s.height}; }
  // The size measured in a bitmap context at the scale, as drawing into it lays the text out.
  std::pair<double, double> drawnAt(double scale, double wrapWidth = 0) const {
    auto bitmap = CGBitmapContext::create(1, 1, scale);
    return pair(text().size(wrapWidth, bitmap->context()));
  }
};

TEST_F(TextMeasuredAtAScale, MeasuresAsTheTextIsLaidOutInAContextAtThatScale) {
  ASSERT_NE(drawnAt(1).first, drawnAt(2).first) << "the text's width depends on the scale";
  for (double scale : {1.0, 2.0, 3.0}) {
    EXPECT_EQ(pair(text().sizeAtScale(0, scale)), drawnAt(scale)) << scale;
    EXPECT_EQ(pair(text().sizeAtScale(60, scale)), drawnAt(scale, 60)) << "wrapped, at " << scale;
    EXPECT_EQ(pair(NSStringSizeWithAttributesAtScale(mixed, {font, nullptr, 0}, scale)), drawnAt(scale)) << scale;
  }
  EXPECT_GT(text().sizeAtScale(60, 2).height, text().sizeAtScale(0, 2).height) << "wrapped into lines";
}

TEST_F(TextMeasuredAtAScale, WithoutAContextOrAScaleTheDefaultScaleIsUsed) {
  NSStringSetDefaultMeasuringScale(2);
  EXPECT_EQ(NSStringDefaultMeasuringScale(), 2);
  EXPECT_EQ(pair(text().size()), drawnAt(2));
  EXPECT_EQ(pair(NSStringSizeWithAttributes(mixed, {font, nullptr, 0})), drawnAt(2));
  auto bitmap = CGBitmapContext::create(1, 1, 2);
  for (size_t i = 0; i <= text().length(); ++i) {
    EXPECT_EQ(text().caretOffset(i), text().caretOffset(i, bitmap->context())) << "the caret before " << i;
  }
  // A scale that is none measures at the default one.
  for (double none : {0.0, -2.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(pair(text().sizeAtScale(0, none)), drawnAt(2)) << none;
    EXPECT_EQ(pair(NSStringSizeWithAttributesAtScale(mixed, {font, nullptr, 0}, none)), drawnAt(2)) << none;
  }
  NSStringSetDefaultMeasuringScale(3);
  EXPECT_EQ(pair(text().size()), drawnAt(3));
  // A default scale that is none is 1.
  for (double none : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
    NSStringSetDefaultMeasuringScale(none);
    EXPECT_EQ(NSStringDefaultMeasuringScale(), 1) << none;
    EXPECT_EQ(pair(text().size()), drawnAt(1)) << none;
  }
}

TEST(Context, StrokesFillsClearsAndRoundedRects) {
  auto bitmap = CGBitmapContext::create(40, 40, 2);  // 20 × 20 points
  CGContextRef c = bitmap->context();
  UIGraphicsPushContext(c);
  UIColorSetFill(UIColor::blueColor());
  UIBezierPath::bezierPathWithRoundedRect(CGRectMake(0, 0, 20, 20), 8)->fill();
  CGContextSetStrokeColorWithColor(c, UIColor::redColor());
  CGContextSetLineWidth(c, 2);
  CGContextSetShouldAntialias(c, false);
  CGContextBeginPath(c);
  CGContextMoveToPoint(c, 0, 10);
  CGContextAddLineToPoint(c, 20, 10);
  CGContextStrokePath(c);
  CGContextClearRect(c, CGRectMake(15, 15, 5, 5));
  UIGraphicsPopContext();
  EXPECT_EQ(bitmap->pixel(10, 4), (CGBitmapContext::RGBA{0, 0, 255, 255}));   // inside, above the line
  EXPECT_EQ(bitmap->pixel(0, 0).a, 0);                                         // rounded corner
  EXPECT_EQ(bitmap->pixel(20, 20), (CGBitmapContext::RGBA{255, 0, 0, 255}));  // the line, 2 pt = 4 px
  EXPECT_EQ(bitmap->pixel(34, 34).a, 0);                                       // cleared
  EXPECT_EQ(bitmap->pixel(-1, 5).a, 0);                                        // outside the image
  // Calls without a context are ignored.
  CGContextStrokePath(nullptr);
  EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
  EXPECT_EQ(CGBitmapContext::create(0, 10), nullptr);
}

TEST(Image, PngRoundTripAndUnreadableFiles) {
  auto dir = std::filesystem::temp_directory_path() / ("gfx-img-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto bitmap = CGBitmapContext::create(8, 6);
  CGContextSetFillColorWithColor(bitmap->context(), UIColor::greenColor());
  CGContextFillRect(bitmap->context(), CGRectMake(0, 0, 4, 6));
  std::string path = (dir / "half@2x.png").string();
  ASSERT_TRUE(bitmap->writePNG(path));
  auto image = UIImage::imageWithContentsOfFile(path);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->pixelWidth(), 8);
  EXPECT_EQ(image->size(), (CGSize{4, 3}));
  auto out = CGBitmapContext::create(8, 6);
  UIGraphicsPushContext(out->context());
  image->drawInRect(CGRectMake(0, 0, 8, 6));
  UIGraphicsPopContext();
  EXPECT_EQ(out->pixel(1, 1), (CGBitmapContext::RGBA{0, 255, 0, 255}));
  EXPECT_EQ(out->pixel(6, 1).a, 0);

  std::ofstream(dir / "broken.png") << "not a png";
  EXPECT_EQ(UIImage::imageWithContentsOfFile((dir / "broken.png").string()), nullptr);
  EXPECT_EQ(UIImage::imageWithContentsOfFile((dir / "missing.png").string()), nullptr);
  std::string error;
  EXPECT_FALSE(bitmap->writePNG((dir / "no/such/dir/x.png").string(), &error));
  EXPECT_FALSE(error.empty());
  std::filesystem::remove_all(dir);
}

// A PNG of a few tens of kilobytes may declare 16,384 x 16,384 pixels, a gigabyte once decoded: the
// size in its header is checked against the limit before anything is decoded, and the reason is
// logged.
TEST(Image, APNGDeclaringMorePixelsThanTheLimitIsRefusedBeforeItIsDecoded) {
  auto dir = std::filesystem::temp_directory_path() / ("gfx-big-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream((dir / name).string(), std::ios::binary) << bytes;
    return (dir / name).string();
  };
  const std::string huge = testsupport::blackPNG(16384, 16384);
  EXPECT_LT(huge.size(), 40000u);
  const std::string path = write("huge.png", huge);
  {
    testsupport::LogCapture log;
    EXPECT_EQ(UIImage::imageWithContentsOfFile(path), nullptr);
    EXPECT_TRUE(log.contains("16384 x 16384 pixels"));
    EXPECT_TRUE(log.contains("at most 16777216"));
  }
  std::string error;
  EXPECT_EQ(png::readSurface(path, &error), nullptr);
  EXPECT_NE(error.find("four bytes a pixel"), std::string::npos) << error;

  // The limit itself still loads, as does a screen-sized image; a pixel row more does not.
  auto edge = UIImage::imageWithContentsOfFile(write("edge.png", testsupport::blackPNG(4096, 4096)));
  ASSERT_TRUE(edge);
  EXPECT_EQ(edge->pixelWidth(), 4096);
  EXPECT_TRUE(UIImage::imageWithContentsOfFile(write("screen@2x.png", testsupport::blackPNG(1136, 640))));
  EXPECT_EQ(UIImage::imageWithContentsOfFile(write("past.png", testsupport::blackPNG(4096, 4097))), nullptr);
  EXPECT_EQ(UIImage::imageWithContentsOfFile(write("wide.png", testsupport::blackPNG(0x7FFFFFFF, 1))), nullptr);

  auto size = png::headerSize(huge);
  ASSERT_TRUE(size);
  EXPECT_EQ(size->width, 16384);
  EXPECT_EQ(size->height, 16384);
  EXPECT_FALSE(png::headerSize(huge.substr(0, 23)));
  EXPECT_FALSE(png::headerSize("GIF89a and more bytes than a PNG header"));
  std::filesystem::remove_all(dir);
}

// A layer of 4 x 3 points at 2 pixels per point, and a framebuffer and a renderbuffer, both bound,
// for the current context.
struct LayerTarget {
  std::shared_ptr<CAEAGLLayer> layer = std::make_shared<CAEAGLLayer>();
  GLuint fb = 0, rb = 0;
  LayerTarget() {
    layer->setBounds(CGRectMake(0, 0, 4, 3));
    layer->setContentsScale(2);
    glGenFramebuffersOES(1, &fb);
    glGenRenderbuffersOES(1, &rb);
    glBindFramebufferOES(GL_FRAMEBUFFER_OES, fb);
    glBindRenderbufferOES(GL_RENDERBUFFER_OES, rb);
  }
};

TEST(GL, RendersIntoALayerAndPresentsItsPixels) {
  if (!EAGLContext::isAvailable()) GTEST_SKIP() << "no GL on this machine";
  auto context = EAGLContext::initWithAPI(kEAGLRenderingAPIOpenGLES1);
  ASSERT_TRUE(context);
  EXPECT_EQ(EAGLContext::initWithAPI(kEAGLRenderingAPIOpenGLES2), nullptr);
  ASSERT_TRUE(EAGLContext::setCurrentContext(context));
  LayerTarget target;
  auto& [layer, fb, rb] = target;
  EXPECT_FALSE(context->presentRenderbuffer(GL_RENDERBUFFER_OES));  // no storage from a layer yet
  ASSERT_TRUE(context->renderbufferStorage(GL_RENDERBUFFER_OES, layer));
  glFramebufferRenderbufferOES(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES, GL_RENDERBUFFER_OES, rb);
  ASSERT_EQ(glCheckFramebufferStatusOES(GL_FRAMEBUFFER_OES), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE_OES));
  glViewport(0, 0, 8, 6);
  glClearColor(1, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  // The bottom row in blue: presented images have their rows from the top.
  glEnable(GL_SCISSOR_TEST);
  glScissor(0, 0, 8, 1);
  glClearColor(0, 0, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);
  ASSERT_TRUE(context->presentRenderbuffer(GL_RENDERBUFFER_OES));
  const auto& p = layer->presented();
  ASSERT_EQ(p.width, 8);
  ASSERT_EQ(p.height, 6);
  EXPECT_EQ(p.rgba[0], 255);
  EXPECT_EQ(p.rgba[2], 0);
  size_t last = static_cast<size_t>(5 * 8) * 4;
  EXPECT_EQ(p.rgba[last], 0);
  EXPECT_EQ(p.rgba[last + 2], 255);
  glDeleteRenderbuffersOES(1, &rb);
  glDeleteFramebuffersOES(1, &fb);
  EAGLContext::setCurrentContext(nullptr);
  EXPECT_EQ(EAGLContext::currentContext(), nullptr);
}

// The process's end waits for every thread the GL driver started. One at the lowest scheduling
// priority (as a driver's on-disk shader cache writer runs) gets no processor while every core is
// busy, and an application asked to quit then lingers for as long as the machine stays busy.
TEST(GL, DrawingStartsNoThreadAtTheLowestPriority) {
  if (!EAGLContext::isAvailable()) GTEST_SKIP() << "no GL on this machine";
  auto context = EAGLContext::initWithAPI(kEAGLRenderingAPIOpenGLES1);
  ASSERT_TRUE(context);
  ASSERT_TRUE(EAGLContext::setCurrentContext(context));
  LayerTarget target;
  auto& [layer, fb, rb] = target;
  ASSERT_TRUE(context->renderbufferStorage(GL_RENDERBUFFER_OES, layer));
  glFramebufferRenderbufferOES(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES, GL_RENDERBUFFER_OES, rb);
  glViewport(0, 0, 8, 6);
  glClearColor(0, 1, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  // A blended triangle: the driver compiles what draws it.
  const GLfloat triangle[] = {-1, -1, 1, -1, 0, 1};
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glColor4f(1, 0, 0, 0.5f);
  glEnableClientState(GL_VERTEX_ARRAY);
  glVertexPointer(2, GL_FLOAT, 0, triangle);
  glDrawArrays(GL_TRIANGLES, 0, 3);
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisable(GL_BLEND);
  ASSERT_TRUE(context->presentRenderbuffer(GL_RENDERBUFFER_OES));
  glDeleteRenderbuffersOES(1, &rb);
  glDeleteFramebuffersOES(1, &fb);
  EAGLContext::setCurrentContext(nullptr);

  // A thread's niceness and scheduling policy are the 19th and 41st fields of its stat, the 17th
  // and 39th after its name.
  struct Priority {
    std::string name;
    int nice = 0;
    int policy = SCHED_OTHER;
  };
  auto priority = [](const std::filesystem::path& task) -> std::optional<Priority> {
    std::ifstream stat(task / "stat");
    std::string line;
    if (!std::getline(stat, line)) return std::nullopt;  // the thread ended meanwhile
    const size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
    std::istringstream fields(line.substr(close + 2));
    std::vector<std::string> after(39);
    for (auto& field : after)
      if (!(fields >> field)) return std::nullopt;
    return Priority{line.substr(open + 1, close - open - 1), std::stoi(after[16]), std::stoi(after[38])};
  };
  const auto drawing = priority("/proc/thread-self");
  ASSERT_TRUE(drawing);
  std::vector<std::string> idle;
  size_t threads = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    const auto thread = priority(task.path());
    if (!thread) continue;
    ++threads;
    if (thread->nice > drawing->nice || thread->policy == SCHED_IDLE)
      idle.push_back(thread->name + " nice " + std::to_string(thread->nice) + " policy " + std::to_string(thread->policy));
  }
  EXPECT_GE(threads, 1u);
  EXPECT_TRUE(idle.empty()) << ::testing::PrintToString(idle);
}

TEST(GL, ALayersStorageFollowsItsSizeAndStorageGivenDirectlyIsDrawnIntoItself) {
  if (!EAGLContext::isAvailable()) GTEST_SKIP() << "no GL on this machine";
  auto context = EAGLContext::initWithAPI(kEAGLRenderingAPIOpenGLES1);
  ASSERT_TRUE(context);
  ASSERT_TRUE(EAGLContext::setCurrentContext(context));
  LayerTarget target;
  auto& [layer, fb, rb] = target;
  ASSERT_TRUE(context->renderbufferStorage(GL_RENDERBUFFER_OES, layer));
  glFramebufferRenderbufferOES(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES, GL_RENDERBUFFER_OES, rb);
  // The colour `top` with a bottom row of `bottom`, read back upright in R, G, B, A.
  bool readAsBgra = false;
  auto drawAndRead = [&](int width, int height, const float* top, const float* bottom) {
    EXPECT_EQ(glCheckFramebufferStatusOES(GL_FRAMEBUFFER_OES), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE_OES));
    glViewport(0, 0, width, height);
    glClearColor(top[0], top[1], top[2], top[3]);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, width, 1);
    glClearColor(bottom[0], bottom[1], bottom[2], bottom[3]);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    EXPECT_TRUE(context->presentRenderbuffer(GL_RENDERBUFFER_OES));
    readAsBgra = layer->presentedAsRead().bgra;
    const auto& p = layer->presented();
    EXPECT_EQ(p.width, width);
    EXPECT_EQ(p.height, height);
    auto at = [&](int x, int y) {
      const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(p.width) + static_cast<size_t>(x)) * 4;
      return std::vector<int>{p.rgba[i], p.rgba[i + 1], p.rgba[i + 2], p.rgba[i + 3]};
    };
    auto bytes = [](const float* c) {
      return std::vector<int>{int(c[0] * 255), int(c[1] * 255), int(c[2] * 255), int(c[3] * 255)};
    };
    if (p.width != width || p.height != height) return;
    EXPECT_EQ(at(0, 0), bytes(top));
    EXPECT_EQ(at(width - 1, height - 2), bytes(top));
    EXPECT_EQ(at(width - 1, height - 1), bytes(bottom));
  };
  const float red[] = {1, 0, 0, 1}, green[] = {0, 1, 0, 1}, blue[] = {0, 0, 1, 1}, clear[] = {0, 0, 0, 0};
  drawAndRead(8, 6, red, green);
  // A new size for the same renderbuffer, attached as it was: the framebuffer draws at that size.
  layer->setBounds(CGRectMake(0, 0, 5, 2));
  ASSERT_TRUE(context->renderbufferStorage(GL_RENDERBUFFER_OES, layer));
  drawAndRead(10, 4, blue, red);
  // Storage of its own, attached anew: drawn into and read from the renderbuffer.
  glRenderbufferStorageOES(GL_RENDERBUFFER_OES, GL_RGBA8_OES, 3, 5);
  glFramebufferRenderbufferOES(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES, GL_RENDERBUFFER_OES, rb);
  drawAndRead(3, 5, green, clear);
  EXPECT_FALSE(readAsBgra);
  glDeleteRenderbuffersOES(1, &rb);
  glDeleteFramebuffersOES(1, &fb);
  EAGLContext::setCurrentContext(nullptr);
}

TEST(GL, SwitchedOffGivesNoContextInsteadOfFailing) {
  EAGLContext::setAvailableForTesting(false);
  EXPECT_FALSE(EAGLContext::isAvailable());
  EXPECT_EQ(EAGLContext::initWithAPI(kEAGLRenderingAPIOpenGLES1), nullptr);
  // The extension entry points do nothing without a context.
  GLuint fb = 7;
  glGenFramebuffersOES(1, &fb);
  EXPECT_EQ(fb, 0u);
  EXPECT_EQ(glCheckFramebufferStatusOES(GL_FRAMEBUFFER_OES), 0u);
  EAGLContext::setAvailableForTesting(true);
}

}  // namespace
