// The web view: bundle pages rendered with the HTML engine, pages that cannot be shown, pages that
// are not valid HTML or beyond the limits, scrolling, links and handing addresses to the desktop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/foundation/NSBundle.h"
#include "platform/uikit/HTMLPageRenderer.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIWebView.h"
#include "platform/uikit/UIWindow.h"
#include "tests/support/FilesThatWait.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PNGBuilder.h"
#include "tests/support/TestHome.h"
#include "tests/support/WaitFor.h"

namespace {

class Loads : public UIWebViewDelegate {
 public:
  int started = 0, finished = 0;
  std::vector<NSErrorRef> failures;
  void webViewDidStartLoad(UIWebView&) override { ++started; }
  void webViewDidFinishLoad(UIWebView&) override { ++finished; }
  void webViewDidFailLoadWithError(UIWebView&, const NSErrorRef& error) override { failures.push_back(error); }
};

struct Pixels {
  long drawn = 0, cyan = 0, light = 0;
};

// What the view shows: how many pixels are drawn at all, in the help pages' heading cyan, and light.
Pixels look(const std::shared_ptr<UIView>& view) {
  Pixels p;
  auto image = UICompositor::render(view);
  if (!image) return p;
  for (int y = 0; y < image->height(); y += 2) {
    for (int x = 0; x < image->width(); x += 2) {
      auto px = image->pixel(x, y);
      if (px.a == 0) continue;
      ++p.drawn;
      if (px.r < 110 && px.g > 190 && px.b > 180) ++p.cyan;
      if (px.r > 190 && px.g > 190 && px.b > 190) ++p.light;
    }
  }
  return p;
}

class WebViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UIScreen::mainScreen().configure({568, 320}, 1);
    dir = std::filesystem::path(std::getenv("SPECTRUM_ANALYSER_HOME")) / "pages";
    std::filesystem::create_directories(dir);
    web = std::make_shared<UIWebView>(CGRectMake(0, 0, 568, 320));
    loads = std::make_shared<Loads>();
    web->setDelegate(loads);
  }
  void TearDown() override { UIApplication::sharedApplication().setURLOpenerForTesting(nullptr); }

  std::string page(const std::string& name, const std::string& text) {
    std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  // Loads and waits for the load to end (finished or failed).
  void load(const std::string& address) {
    const size_t ended = loads->finished + loads->failures.size();
    web->loadRequest(NSURLRequest(address));
    ASSERT_TRUE(testsupport::waitFor([&] { return loads->finished + loads->failures.size() > ended; }));
  }

  std::filesystem::path dir;
  std::shared_ptr<UIWebView> web;
  std::shared_ptr<Loads> loads;
};

TEST_F(WebViewTest, ABundlePageLoadsByItsRelativeAddressAfterTheCallReturnsAndIsDrawn) {
  web->loadRequest(NSURLRequest("help.html"));
  EXPECT_TRUE(web->isLoading());
  EXPECT_FALSE(web->hasPage());  // loading ends on the run loop, as the platform's does
  EXPECT_EQ(loads->started, 1);
  ASSERT_TRUE(testsupport::waitFor([&] { return !web->isLoading(); }));
  EXPECT_EQ(loads->finished, 1);
  EXPECT_TRUE(loads->failures.empty());
  EXPECT_EQ(web->pageTitle(), "Spectrum Analyser Help");
  EXPECT_EQ(web->request()->URL(), "help.html");
  EXPECT_EQ(*UIWebView::filePathForAddress("help.html"),
            (std::filesystem::path(NSBundle::mainBundle().bundlePath()) / "help.html").lexically_normal().string());
  // Laid out at the view's width, longer than one screen.
  CGSize content = web->contentSize();
  EXPECT_EQ(content.width, 568);
  EXPECT_GT(content.height, 1000);
  // The linked style sheet applies: cyan headings and light text over a clear background.
  Pixels p = look(web);
  EXPECT_GT(p.cyan, 200);
  EXPECT_GT(p.light, 500);
  EXPECT_LT(p.drawn, 568 * 320 / 4 / 2);  // text, not a filled page
}

TEST_F(WebViewTest, APageThatCannotBeLoadedLeavesTheViewEmptyAndIsLogged) {
  load("file://" + page("a.html", "<h1 style='color:#39F2E3'>Shown</h1>"));
  ASSERT_TRUE(web->hasPage());
  ASSERT_GT(look(web).cyan, 10);

  testsupport::LogCapture log;
  load("no-such-page.html");
  ASSERT_EQ(loads->failures.size(), 1u);
  EXPECT_EQ(loads->failures[0]->domain(), NSURLErrorDomain);
  EXPECT_EQ(loads->failures[0]->code(), -1100);
  EXPECT_FALSE(web->hasPage());
  EXPECT_EQ(look(web).drawn, 0);
  EXPECT_TRUE(log.contains("UIWebView: cannot load no-such-page.html"));
  // An address of another site is not fetched into the view.
  load("https://example.org/help.html");
  ASSERT_EQ(loads->failures.size(), 2u);
  EXPECT_EQ(loads->failures[1]->code(), NSURLErrorUnsupportedURL);
  // A folder is not a page.
  load("file://" + dir.string());
  EXPECT_EQ(loads->failures.size(), 3u);
  // A newer load wins over one still pending.
  web->loadRequest(NSURLRequest("no-such-page.html"));
  load("file://" + page("b.html", "<p>b</p>"));
  EXPECT_EQ(loads->failures.size(), 3u);
  EXPECT_TRUE(web->hasPage());
}

// An image whose header declares 16,384 x 16,384 pixels (a gigabyte decoded, from a few tens of
// kilobytes) is left out before it is decoded, with the reason logged; the rest of the page shows.
TEST_F(WebViewTest, AnImageDeclaringMorePixelsThanTheLimitIsLeftOutBeforeItIsDecoded) {
  std::ofstream((dir / "huge.png").string(), std::ios::binary) << testsupport::blackPNG(16384, 16384);
  std::ofstream((dir / "small.png").string(), std::ios::binary) << testsupport::blackPNG(40, 40);
  testsupport::LogCapture log;
  load("file://" + page("images.html", "<h1 style='color:#39F2E3'>Pictures</h1><img src='huge.png'><img src='small.png'>"));
  ASSERT_TRUE(web->hasPage());
  EXPECT_GT(look(web).cyan, 10);
  EXPECT_TRUE(log.contains("image huge.png not loaded: the image is 16384 x 16384 pixels"));
  EXPECT_FALSE(log.contains("small.png"));
}

// A help page that is a FIFO or standard input, or that names them for its sheet and image: none
// is waited on (the main thread would be held for good); each is refused with the reason, and a
// page naming them shows the rest of itself.
TEST_F(WebViewTest, AFifoOrADeviceAsThePageOrWhatItNamesIsRefusedWithoutWaiting) {
  ASSERT_TRUE(testsupport::makeFifo((dir / "pipe.html").string()));
  ASSERT_TRUE(testsupport::makeFifo((dir / "pipe.css").string()));
  ASSERT_TRUE(testsupport::makeFifo((dir / "pipe.png").string()));
  testsupport::StdinThatNeverEnds stdinWaits;
  ASSERT_TRUE(stdinWaits.ok());
  testsupport::LogCapture log;
  for (const std::string& address : {"file://" + (dir / "pipe.html").string(), std::string("/dev/stdin")}) {
    const size_t failed = loads->failures.size();
    load(address);
    ASSERT_EQ(loads->failures.size(), failed + 1) << address;
    EXPECT_EQ(loads->failures.back()->userInfo()[NSLocalizedFailureReasonErrorKey],
              "the page cannot be read: not a regular file");
    EXPECT_TRUE(log.contains("UIWebView: cannot load " + address + ": the page cannot be read: not a regular file"));
    EXPECT_FALSE(web->hasPage());
  }
  load("file://" + page("names-pipes.html",
                        "<link rel='stylesheet' href='pipe.css'><link rel='stylesheet' href='/dev/stdin'>"
                        "<h1 style='color:#39F2E3'>Still shown</h1><img src='pipe.png'><img src='/dev/stdin'>"));
  ASSERT_TRUE(web->hasPage());
  EXPECT_GT(look(web).cyan, 10);
  for (const char* line : {"style sheet pipe.css not loaded: the file cannot be read: not a regular file",
                           "style sheet /dev/stdin not loaded: the file cannot be read: not a regular file",
                           "image pipe.png not loaded: not a regular file", "image /dev/stdin not loaded: not a regular file"}) {
    EXPECT_TRUE(log.contains(line)) << line;
  }
}

TEST_F(WebViewTest, TextThatIsNotValidHTMLIsShownAsFarAsTheParserMakesSenseOfIt) {
  load("file://" + page("broken.html",
                        "<html><body style='color:#FFFFFF'><p>Unclosed <b>bold <div><table><tr><td>cell"
                        "</span></p></i><h1>Heading</h2>&bogus; <<>> </body"));
  ASSERT_TRUE(web->hasPage());
  EXPECT_GT(web->contentSize().height, 20);
  EXPECT_GT(look(web).light, 50);
  // Bytes that are not text at all, a zero byte among them.
  std::string bytes;
  for (int i = 0; i < 4096; ++i) bytes.push_back(static_cast<char>((i * 7919 + 13) % 256));
  load("file://" + page("bytes.html", bytes));
  EXPECT_TRUE(web->hasPage());
  look(web);
  // An empty file is an empty page.
  load("file://" + page("empty.html", ""));
  EXPECT_TRUE(web->hasPage());
  EXPECT_EQ(look(web).drawn, 0);
}

TEST_F(WebViewTest, PagesNestedTooDeeplyOrTooLargeAreRefusedBeforeTheyAreParsed) {
  std::string deep;
  for (int i = 0; i <= HTMLPageRenderer::kMaxNesting; ++i) deep += "<div>";
  testsupport::LogCapture log;
  load("file://" + page("deep.html", deep));
  ASSERT_EQ(loads->failures.size(), 1u);
  EXPECT_FALSE(web->hasPage());
  EXPECT_TRUE(log.contains("nests elements more than"));
  // The bound counts what the parser would nest: empty elements, skipped text and closed tags do not add up.
  EXPECT_EQ(HTMLPageRenderer::nestingDepth("<div></div><div><p></p></div>"), 2);
  EXPECT_EQ(HTMLPageRenderer::nestingDepth("<br><img src=x><hr><br/>"), 0);
  EXPECT_EQ(HTMLPageRenderer::nestingDepth("<script><div><div></SCRIPT><!-- <div><div> --><p>"), 1);
  EXPECT_EQ(HTMLPageRenderer::nestingDepth("<div></unknown><div>"), 2);  // an end tag of nothing open closes nothing
  std::string wide;
  for (int i = 0; i < 5000; ++i) wide += "<p>para</p>";
  load("file://" + page("wide.html", wide));
  EXPECT_TRUE(web->hasPage());

  std::string large(HTMLPageRenderer::kMaxPageBytes + 1, ' ');
  load("file://" + page("large.html", large));
  EXPECT_EQ(loads->failures.size(), 2u);
  EXPECT_TRUE(log.contains("larger than"));
  // The same limits hold for text handed in directly.
  web->loadHTMLString(deep, dir.string());
  EXPECT_FALSE(web->hasPage());
}

TEST_F(WebViewTest, DraggingScrollsWithinThePageAndTapsFollowAnchorsPagesAndOtherSites) {
  std::vector<std::string> opened;
  UIApplication::sharedApplication().setURLOpenerForTesting([&](const std::string& url) {
    opened.push_back(url);
    return true;
  });
  page("other.html", "<title>Other</title><p>other</p>");
  std::string body = "<body style='margin:0'>"
                     "<a href='#end' style='display:block;height:40px'>end</a>"
                     "<a href='https://example.org/x' style='display:block;height:40px'>ext</a>"
                     "<a href='other.html' style='display:block;height:40px'>other</a>"
                     "<div style='height:1000px'>tall</div><p id='end' style='margin:0'>the end</p>"
                     "<div style='height:100px'></div></body>";
  load("file://" + page("links.html", body));
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 568, 320));
  window->addSubview(web);
  const double bottom = web->contentSize().height - 320;
  ASSERT_GT(bottom, 800);

  // A drag moves the page with the finger, and stops at its ends.
  window->touchDown({100, 250}, 0);
  window->touchMove({100, 200}, 0.1);
  window->touchMove({100, 100}, 0.2);
  window->touchUp({100, 100}, 0.3);
  EXPECT_EQ(web->contentOffset().y, 150);
  EXPECT_TRUE(opened.empty());
  window->touchDown({100, 300}, 1);
  window->touchMove({100, -3000}, 1.1);
  window->touchUp({100, -3000}, 1.2);
  EXPECT_EQ(web->contentOffset().y, bottom);
  window->touchDown({100, 10}, 2);
  window->touchMove({100, 3000}, 2.1);
  window->touchUp({100, 3000}, 2.2);
  EXPECT_EQ(web->contentOffset().y, 0);

  // A tap on "#end" scrolls to the anchor; on another site, the desktop's browser gets it.
  window->touchDown({20, 20}, 3);
  window->touchUp({20, 20}, 3.1);
  EXPECT_NEAR(web->contentOffset().y, std::min(bottom, 1120.0), 1);
  web->setContentOffset({0, 0});
  window->touchDown({20, 60}, 4);
  window->touchUp({20, 60}, 4.1);
  EXPECT_EQ(opened, std::vector<std::string>{"https://example.org/x"});
  // A page next to this one loads in the view.
  window->touchDown({20, 100}, 5);
  window->touchUp({20, 100}, 5.1);
  ASSERT_TRUE(testsupport::waitFor([&] { return !web->isLoading(); }));
  EXPECT_EQ(web->pageTitle(), "Other");
  EXPECT_EQ(opened.size(), 1u);
}

TEST(OpenURL, OnlyAddressesOfOtherSitesGoToTheDesktopAndWithoutABrowserItIsLogged) {
  auto& app = UIApplication::sharedApplication();
  std::vector<std::string> opened;
  app.setURLOpenerForTesting([&](const std::string& url) {
    opened.push_back(url);
    return true;
  });
  EXPECT_TRUE(app.openURL("https://example.org/a?b=c"));
  EXPECT_TRUE(app.openURL("mailto:someone@example.org"));
  testsupport::LogCapture log;
  EXPECT_FALSE(app.openURL("file:///etc/passwd"));
  EXPECT_FALSE(app.openURL("javascript:alert(1)"));
  EXPECT_FALSE(app.openURL("--help"));
  EXPECT_FALSE(app.openURL("https://example.org/\nrm"));
  EXPECT_FALSE(app.openURL("http://"));
  EXPECT_EQ(opened.size(), 2u);
  EXPECT_TRUE(log.contains("not an address of another site"));

  // No opener and no xdg-open on the path: nothing is started, and it is said.
  app.setURLOpenerForTesting(nullptr);
  const char* path = std::getenv("PATH");
  std::string saved = path ? path : "";
  std::filesystem::path empty = std::filesystem::path(std::getenv("SPECTRUM_ANALYSER_HOME")) / "no-programs";
  std::filesystem::create_directories(empty);
  setenv("PATH", empty.c_str(), 1);
  const bool started = app.openURL("https://example.org/");
  setenv("PATH", saved.c_str(), 1);
  EXPECT_FALSE(started);
  EXPECT_TRUE(log.contains("no desktop browser (xdg-open)"));
}

}  // namespace
