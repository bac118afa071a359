// The page renderer under the web view: what it measures before the HTML parser runs, the style
// sheets it hands the engine, the images it decodes for a page, and how it lays text out.
#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/uikit/HTMLPageImages.h"
#include "platform/uikit/HTMLPageRenderer.h"
#include "platform/uikit/HTMLStyleSheets.h"
#include "tests/support/FilesThatWait.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PNGBuilder.h"

namespace {

std::string repeated(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

// A tag holding `count` attributes of different names.
std::string tagWithAttributes(int count) {
  std::string tag = "<p";
  for (int i = 0; i < count; ++i) tag += " a" + std::to_string(i);
  return tag + ">text</p>";
}

// The parser compares each attribute of a tag with those before it: a page full of attributes in
// one tag froze the help screen for minutes. The count is read as the parser's tokenizer reads it.
TEST(HTMLPageMeasure, AttributesAreCountedPerTagAsTheParserReadsThem) {
  EXPECT_EQ(HTMLPageRenderer::mostAttributes("<p a b=c d='x > y' e=\"1 2\" f = g>"), 5);
  EXPECT_EQ(HTMLPageRenderer::mostAttributes("<p a=1 a=1 a=1><b x></b>"), 3);  // a repeated name counts each time
  EXPECT_EQ(HTMLPageRenderer::mostAttributes("<p></p x y z>"), 3);               // end tags hold them too
  EXPECT_EQ(HTMLPageRenderer::mostAttributes("<p/a/b/>"), 2);
  EXPECT_EQ(HTMLPageRenderer::mostAttributes("<p =a b=\"c\"d>"), 3);  // '=' may begin a name; a value needs no space after it
  // Comments and raw text hold no tags; an empty comment ends at once.
  EXPECT_EQ(HTMLPageRenderer::mostAttributes("<!-- <p a b c> --><script><p a b></script><title><p a></title>"), 0);
  EXPECT_EQ(HTMLPageRenderer::mostAttributes("<!--><p a b c>"), 3);
  EXPECT_EQ(HTMLPageRenderer::mostAttributes("<!---><p a b c>"), 3);
  EXPECT_EQ(HTMLPageRenderer::mostAttributes("<!-- x --!><p a b c>"), 3);
  // A quoted value may hold '>' and what looks like tags: they are text, not nesting.
  EXPECT_EQ(HTMLPageRenderer::mostAttributes("<p title=\"<div a b c d e>\">"), 1);
  EXPECT_EQ(HTMLPageRenderer::nestingDepth("<p title=\"<div><div><div>\">"), 1);
  // A tag that never ends counts what it holds.
  EXPECT_EQ(HTMLPageRenderer::mostAttributes("<p a b c"), 3);
  EXPECT_EQ(HTMLPageRenderer::mostAttributes("<p a='b c d"), 1);
}

TEST(HTMLPageMeasure, ATagWithMoreAttributesThanTheLimitIsRefusedBeforeItIsParsed) {
  HTMLPageRenderer renderer;
  std::string error;
  EXPECT_TRUE(renderer.load(tagWithAttributes(HTMLPageRenderer::kMaxAttributes), "/", &error)) << error;
  EXPECT_FALSE(renderer.load(tagWithAttributes(HTMLPageRenderer::kMaxAttributes + 1), "/", &error));
  EXPECT_EQ(error, "a tag of the page has more than 128 attributes");
  EXPECT_FALSE(renderer.hasPage());
  // In an end tag, and hidden behind a quoted '>'.
  EXPECT_FALSE(renderer.load("<p>x</p" + repeated(" a", 200) + ">", "/"));
  EXPECT_FALSE(renderer.load("<p title='>'" + repeated(" a", 200) + ">", "/"));
  // The page of the largest size with one tag of a quarter of a million attributes: refused
  // without parsing, where the parser alone would take minutes.
  std::string page = "<p" + repeated(" a", (HTMLPageRenderer::kMaxPageBytes - 3) / 2) + ">";
  ASSERT_LE(page.size(), HTMLPageRenderer::kMaxPageBytes);
  EXPECT_FALSE(renderer.load(page, "/", &error));
  EXPECT_EQ(error, "a tag of the page has more than 128 attributes");
  // Many tags of a few attributes each are a page like any other.
  EXPECT_TRUE(renderer.load(repeated("<p class=a id=b title=c>x</p>", 2000), "/"));
}

// A folder of the test's own for a page's files, and the page's laid-out height: the pages give
// their one block, #a, its height from their sheets.
class PageFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::path(std::getenv("SPECTRUM_ANALYSER_HOME")) / "page";
    std::filesystem::create_directories(dir);
  }
  void file(const std::string& name, const std::string& bytes) {
    std::ofstream((dir / name).string(), std::ios::binary) << bytes;
  }
  double height(const std::string& head, const std::string& body = "<div id='a'></div>") {
    HTMLPageRenderer renderer;
    std::string error;
    EXPECT_TRUE(renderer.load("<html><head>" + head + "</head><body style='margin:0'>" + body + "</body></html>",
                              dir.string(), &error))
        << error;
    renderer.layout({320, 100});
    return renderer.contentSize().height;
  }
  std::filesystem::path dir;
};

TEST(StyleSheetComments, AreTakenOutToTheirEndOrToTheEndOfTheSheet) {
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a { b: c } /* note */ d { e: f }"), "a { b: c }  d { e: f }");
  EXPECT_EQ(HTMLStyleSheets::withoutComments(" /*"), " ");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("/*"), "");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a{} /* cut off"), "a{} ");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("/**/ /*"), " ");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("/*/ a{} */b"), "b");  // "/*/" does not end itself
  EXPECT_EQ(HTMLStyleSheets::withoutComments("/*/"), "");
  // A '/' and a '*' that a comment stood between are two delimiters, not a comment: they stay
  // apart. So do the two halves of a name or a number, and a name and its '('.
  EXPECT_EQ(HTMLStyleSheets::withoutComments("//**/*x*/y"), "/ *x*/y");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("1px/**/solid"), "1px solid");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("rgb/**/(1,2,3) #/**/fff [a|/* */=b]"), "rgb (1,2,3) # fff [a| =b]");
  // Nothing is put where nothing would join.
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a/**//b"), "a/b");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a/**/.x/**/{ }/**/b"), "a.x{ }b");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("*/ a/b *"), "*/ a/b *");
  EXPECT_EQ(HTMLStyleSheets::withoutComments(""), "");
}

// "/*" in a quoted string or an unquoted url is text, as CSS reads it: it opens no comment. It
// reaches the engine escaped (which reads "/*" as a comment wherever it stands), as the same text.
TEST(StyleSheetComments, AreNotOpenedInsideStringsOrUrls) {
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a::before { content: \"/*\" } b { c: d }"),
            "a::before { content: \"/\\2a \" } b { c: d }");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a { content: '/* x */' } /* y */b{}"), "a { content: '/\\2a  x */' } b{}");
  // A quote of the other kind, or an escaped one, does not end a string; a newline does.
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a{content:\"'/*\\\"/*\"}"), "a{content:\"'/\\2a \\\"/\\2a \"}");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a{content:\"cut\n/* gone */b:c}"), "a{content:\"cut\nb:c}");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a{content:\"to the end /*"), "a{content:\"to the end /\\2a ");
  // Unquoted urls, in any case; quoted ones are strings; a longer name ending in "url" is not one.
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a{b:url(x/*.png)/**/}"), "a{b:url(x/\\2a .png)}");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a{b:URL( //*y*/ )}"), "a{b:URL( //\\2a y*/ )}");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a{b:url( \"/*\" )/**/}"), "a{b:url( \"/\\2a \" )}");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a{b:myurl(/*x*/)}"), "a{b:myurl()}");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a{b:url(\\)/*)}"), "a{b:url(\\)/\\2a )}");
  // An escaped '/' outside strings is no comment's start; the '*' after it stays apart from it.
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a\\/*b"), "a\\/ *b");
}

// A backslash before a line end continues a string over it, and CSS reads CR LF as one line end,
// as it reads CR and form feed alone: a sheet saved with CR LF line ends reads as the same sheet
// with LF ones. The text after the continuation stays in the string; a comment later on that line
// is still a comment.
TEST(StyleSheetComments, AStringContinuedOverAnyLineEndKeepsItsText) {
  for (const std::string end : {"\n", "\r\n", "\r", "\f"}) {
    SCOPED_TRACE(testing::PrintToString(end));
    EXPECT_EQ(HTMLStyleSheets::withoutComments("a{content:\"x\\" + end + "/* not a comment */\"} /* c */b{}"),
              "a{content:\"x\\" + end + "/\\2a  not a comment */\"} b{}");
    EXPECT_EQ(HTMLStyleSheets::withoutComments("\"\\" + end + "\";/**/x"), "\"\\" + end + "\";x");
  }
  // The six bytes that showed it: the string ends at its second quote, not at the LF.
  EXPECT_EQ(HTMLStyleSheets::withoutComments("\"\\\r\n\";/* c */"), "\"\\\r\n\";");
  // Outside a string a backslash and a line end are two delimiters: nothing to continue, and the
  // line end is kept as it stands.
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a\\\r\n/* c */b"), "a\\\r\nb");
}

// Random text of the characters that matter here: what the engine is handed never holds "/*",
// reads the same when read again (no string, url or comment was made or unmade), and text
// without a '/' (so without comments) comes through unchanged. A fixed seed: the same cases on
// every run.
TEST(StyleSheetComments, NeverLeaveACommentOpenerAndChangeNothingElseWithoutOne) {
  std::mt19937 random(20240611);
  const std::string alphabet = "/*\"'\\url(){} a\n";
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1), length(0, 40);
  for (int n = 0; n < 20000; ++n) {
    std::string css;
    for (size_t i = length(random); i > 0; --i) css.push_back(alphabet[pick(random)]);
    const std::string once = HTMLStyleSheets::withoutComments(css);
    ASSERT_EQ(once.find("/*"), std::string::npos) << css;
    ASSERT_EQ(HTMLStyleSheets::withoutComments(once), once) << css;
    if (css.find('/') == std::string::npos) {
      ASSERT_EQ(once, css);
    }
  }
}

// CSS reads CR LF, CR and form feed as LF before anything else: a sheet comes through the same
// whichever line ends it was saved with. Random text of the characters that matter, with a fixed
// seed.
TEST(StyleSheetComments, ReadTheSameWhicheverLineEndsTheSheetWasSavedWith) {
  auto withLF = [](const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
      out.push_back(text[i] == '\r' || text[i] == '\f' ? '\n' : text[i]);
    }
    return out;
  };
  // A comment taken out from between a CR and a LF leaves one line end where there were two: only
  // the count of blank lines may differ.
  auto runsAsOne = [](std::string text) {
    text.erase(std::unique(text.begin(), text.end(), [](char a, char b) { return a == '\n' && b == '\n'; }), text.end());
    return text;
  };
  std::mt19937 random(20261209);
  const std::string alphabet = "/*\"'\\url(){} a\n\r\r\n\f";
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1), length(0, 40);
  for (int n = 0; n < 20000; ++n) {
    std::string css;
    for (size_t i = length(random); i > 0; --i) css.push_back(alphabet[pick(random)]);
    ASSERT_EQ(runsAsOne(withLF(HTMLStyleSheets::withoutComments(css))), runsAsOne(HTMLStyleSheets::withoutComments(withLF(css))))
        << testing::PrintToString(css);
  }
}

// A sheet with an unterminated comment near its start hung the page loader for good: the engine's
// own comment stripping never ended. Linked, imported or inline, the page now loads, with the rules
// before the comment.
TEST_F(PageFiles, ASheetWithAnUnterminatedCommentLoadsWithTheRulesBeforeIt) {
  file("space-comment.css", " /*");
  EXPECT_EQ(height("<link rel='stylesheet' href='space-comment.css'>"), 0);
  file("cut.css", "#a { height: 40px; }\n/* The sheet was cut off here, in its com");
  EXPECT_EQ(height("<link rel='stylesheet' href='cut.css'>"), 40);
  file("after-one.css", "/**/ /* and no end");
  EXPECT_EQ(height("<link rel='stylesheet' href='after-one.css'>"), 0);
  file("imports.css", "@import url(space-comment.css);\n#a { height: 30px; }");
  EXPECT_EQ(height("<link rel='stylesheet' href='imports.css'>"), 30);
  EXPECT_EQ(height("<style> /*</style>"), 0);
  EXPECT_EQ(height("<style>#a { height: 20px } /* and no end</style>"), 20);
  EXPECT_EQ(height("<style media='screen'>/**/#a { height: 10px }/**/</style>"), 10);
}

// A sheet with "/*" in a string or a url lost every rule after it: the engine took it for a
// comment. Linked or inline, the rules after it now apply, and the string shows as it is written.
TEST_F(PageFiles, ACommentOpenerInAStringOrUrlLeavesTheRulesAfterItInForce) {
  file("string.css", "#a::before { content: \"/*\" }\n#a { height: 40px; }");
  EXPECT_EQ(height("<link rel='stylesheet' href='string.css'>"), 40);
  file("url.css", "#a { background-image: url(x/*.png) }\n#a { height: 30px; }");
  EXPECT_EQ(height("<link rel='stylesheet' href='url.css'>"), 30);
  EXPECT_EQ(height("<style>#a::before { content: '/* not a comment' } #a { height: 20px }</style>"), 20);
  // What the page draws: the content the sheet gives is the text "/*", drawn as the same text
  // written in the page is.
  auto draw = [&](const std::string& head, const std::string& body) {
    HTMLPageRenderer renderer;
    EXPECT_TRUE(renderer.load("<html><head>" + head + "</head><body>" + body + "</body></html>", dir.string()));
    renderer.layout({200, 40});
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 200, 40);
    cairo_t* cr = cairo_create(surface);
    renderer.draw(cr, {0, 0}, {200, 40});
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const auto* data = reinterpret_cast<const char*>(cairo_image_surface_get_data(surface));
    std::string pixels(data, static_cast<size_t>(cairo_image_surface_get_stride(surface)) * 40);
    cairo_surface_destroy(surface);
    return pixels;
  };
  const std::string written = draw("", "<div>/* x */</div>");
  EXPECT_NE(written, draw("", "<div></div>"));
  EXPECT_EQ(draw("<style>div::before { content: \"/* x */\" }</style>", "<div></div>"), written);
  file("before.css", "div::before { content: \"/* x */\" }");
  EXPECT_EQ(draw("<link rel='stylesheet' href='before.css'>", "<div></div>"), written);
}

// Style sheets that import each other: the engine parses an import as soon as it is read, one level
// of recursion each, so a sheet importing itself ran the stack out. A sheet already on the chain of
// imports that leads to it is not read again, and a page reads at most kMaxStyleSheets; what was
// read before the limit still applies.
class StyleSheetImports : public PageFiles {
 protected:
  void sheet(const std::string& name, const std::string& text) { file(name, text); }
  // The page's laid-out height: the sheets give its one block its height.
  double heightOfPageLinking(const std::string& sheetName) {
    return height("<link rel='stylesheet' href='" + sheetName + "'>");
  }
};

TEST_F(StyleSheetImports, ASheetImportingItselfOrACycleIsReadOnce) {
  sheet("help.css", "@import url(help.css);\n#a { height: 500px; }\n");
  testsupport::LogCapture log;
  EXPECT_EQ(heightOfPageLinking("help.css"), 500);
  EXPECT_TRUE(log.contains("style sheet help.css not loaded: it imports itself (through the sheets that import it)"));

  // Through another sheet, and through another name for the same file.
  sheet("a.css", "@import url('b.css');\n#a { height: 300px; }\n");
  sheet("b.css", "@import url(\"./a.css\");\n#a { padding-top: 20px; }\n");
  EXPECT_EQ(heightOfPageLinking("a.css"), 320);
  std::filesystem::create_symlink(dir / "c.css", dir / "alias.css");
  sheet("c.css", "@import url(alias.css);\n@import url(c.css?again);\n#a { height: 40px; }\n");
  EXPECT_EQ(heightOfPageLinking("c.css"), 40);
}

// A imports B and C, and both import D: legal CSS, no cycle. D's rules come in with B and again
// with C, as if each import were written out in its place, so D's height wins over B's.
TEST_F(StyleSheetImports, ASheetImportedOnTwoBranchesIsReadForEach) {
  sheet("diamond-a.css", "@import url(diamond-b.css);\n@import url(diamond-c.css);\n");
  sheet("diamond-b.css", "@import url(diamond-d.css);\n#a { height: 20px; }\n");
  sheet("diamond-c.css", "@import url(./diamond-d.css);\n");
  sheet("diamond-d.css", "#a { height: 100px; }\n");
  testsupport::LogCapture log;
  EXPECT_EQ(heightOfPageLinking("diamond-a.css"), 100);
  EXPECT_FALSE(log.contains("not loaded"));
  // Linked twice by the page, a sheet is read twice too.
  HTMLPageRenderer renderer;
  ASSERT_TRUE(renderer.load("<link rel=stylesheet href=diamond-b.css><link rel=stylesheet href=diamond-d.css>"
                            "<body style='margin:0'><div id='a'></div>",
                            dir.string()));
  renderer.layout({320, 100});
  EXPECT_EQ(renderer.contentSize().height, 100);
  // Each reading counts towards the limit: a sheet imported by 17 others, all linked from one, is
  // read for the first 7 of them (1 + 2 x 7 = 15 sheets, then the 8th importer is the 16th).
  std::string many;
  for (int i = 0; i < 17; ++i) {
    sheet("fan-" + std::to_string(i) + ".css", "@import url(fan-leaf.css);");
    many += "@import url(fan-" + std::to_string(i) + ".css);\n";
  }
  sheet("fan.css", many);
  sheet("fan-leaf.css", "#a { height: 60px; }");
  EXPECT_EQ(heightOfPageLinking("fan.css"), 60);
  EXPECT_TRUE(log.contains("style sheet fan-leaf.css not loaded: the page reads more than 16 style sheets"));
  EXPECT_TRUE(log.contains("style sheet fan-8.css not loaded: the page reads more than 16 style sheets"));
  EXPECT_FALSE(log.contains("style sheet fan-7.css not loaded"));
}

TEST_F(StyleSheetImports, AChainOfImportsEndsAtTheLimit) {
  // chainN-0 imports chainN-1 and so on; only the last one gives the block its height.
  auto chain = [&](int sheets) {
    const std::string name = "chain" + std::to_string(sheets) + "-";
    for (int i = 0; i + 1 < sheets; ++i) sheet(name + std::to_string(i) + ".css", "@import url(" + name + std::to_string(i + 1) + ".css);");
    sheet(name + std::to_string(sheets - 1) + ".css", "#a { height: 200px; }");
    return heightOfPageLinking(name + "0.css");
  };
  ASSERT_EQ(HTMLPageRenderer::kMaxStyleSheets, 16);
  EXPECT_EQ(chain(16), 200);  // every sheet read
  testsupport::LogCapture log;
  EXPECT_EQ(chain(17), 0);  // the last one is not
  EXPECT_TRUE(log.contains("style sheet chain17-16.css not loaded: the page reads more than 16 style sheets"));
  EXPECT_EQ(chain(2000), 0);
}

// A 2 KB PNG of 4096 x 4096 pixels decodes to 64 MB: a page naming it eight ways decoded it eight
// times. A file is decoded once for the page, known by device and inode, and the page's images
// are bounded in all.
TEST_F(PageFiles, AnImageIsDecodedOncePerPageWhateverItsSpelling) {
  file("big.png", testsupport::blackPNG(4096, 4096));
  std::filesystem::create_symlink(dir / "big.png", dir / "alias.png");
  std::filesystem::create_hard_link(dir / "big.png", dir / "hard.png");
  const std::string d = dir.string();
  HTMLPageImages images;
  cairo_surface_t* first = images.image(d + "/big.png", "big.png");
  ASSERT_NE(first, nullptr);
  for (const std::string& spelling : {d + "//big.png", d + "/./big.png", d + "/../page/big.png", d + "/alias.png",
                                      d + "/hard.png"}) {
    EXPECT_EQ(images.image(spelling, spelling), first) << spelling;
  }
  EXPECT_EQ(images.pixelsDecoded(), 4096 * 4096);
  // A new page decodes afresh.
  images.startPage();
  EXPECT_EQ(images.pixelsDecoded(), 0);
  EXPECT_NE(images.image(d + "/hard.png", "hard.png"), nullptr);
  EXPECT_EQ(images.pixelsDecoded(), 4096 * 4096);

  // Through a page, with "file:" addresses too: each <img> takes the image's height, and the one
  // decoding leaves the page room for another image as large (kMaxPageImagePixels).
  file("other.png", testsupport::blackPNG(4096, 4096));
  testsupport::LogCapture log;
  std::string body;
  for (const std::string& src : {std::string("big.png"), std::string("./big.png?again"), d + "//big.png", d + "/./big.png",
                                 "file://" + d + "/big.png", "file:" + d + "/big.png", std::string("alias.png"),
                                 std::string("hard.png#x")}) {
    body += "<img style='display:block' src='" + src + "'>";
  }
  EXPECT_EQ(height("", body + "<img style='display:block' src='other.png'>"), 9 * 4096);
  EXPECT_FALSE(log.contains("not loaded"));
}

TEST_F(PageFiles, ThePixelsOnePageDecodesAreBoundedInAll) {
  ASSERT_EQ(HTMLPageRenderer::kMaxPageImagePixels, 2 * 4096 * 4096);
  file("one.png", testsupport::blackPNG(4096, 4096));
  file("two.png", testsupport::blackPNG(4096, 4096));
  file("three.png", testsupport::blackPNG(4096, 4096));
  file("small.png", testsupport::blackPNG(10, 10));
  testsupport::LogCapture log;
  // The first two fill the page's share; the third is left out before it is decoded, and said so.
  EXPECT_EQ(height("", "<img style='display:block' src='one.png'><img style='display:block' src='two.png'>"
                       "<img style='display:block' src='three.png'><img style='display:block' src='one.png'>"),
            3 * 4096);
  EXPECT_TRUE(log.contains("image three.png not loaded: the page's images would take more than 33554432 pixels in "
                           "all (this one is 4096 x 4096)"));
  EXPECT_FALSE(log.contains("one.png not loaded"));
  EXPECT_FALSE(log.contains("two.png not loaded"));
  // Nothing is left for even a small one; the next page has its share again.
  EXPECT_EQ(height("", "<img style='display:block' src='one.png'><img style='display:block' src='two.png'>"
                       "<img style='display:block' src='small.png'>"),
            2 * 4096);
  EXPECT_TRUE(log.contains("image small.png not loaded"));
  EXPECT_EQ(height("", "<img style='display:block' src='three.png'>"), 4096);
  // Backgrounds count alike.
  HTMLPageImages images;
  ASSERT_NE(images.image((dir / "one.png").string(), "one.png"), nullptr);
  ASSERT_NE(images.image((dir / "two.png").string(), "two.png"), nullptr);
  EXPECT_EQ(images.image((dir / "small.png").string(), "small.png"), nullptr);
  EXPECT_EQ(images.pixelsDecoded(), 2 * 4096 * 4096);
}

// A page naming a FIFO as a sheet or an image held the main thread for good (opening a FIFO waits
// for a writer), and so did /dev/stdin as an image (its header was read from whatever stdin is).
// Whatever is not a regular file is refused unread, with the reason; the rest of the page applies.
TEST_F(PageFiles, AFifoOrADeviceNamedAsASheetOrAnImageIsRefusedUnreadWithTheReason) {
  ASSERT_TRUE(testsupport::makeFifo((dir / "pipe.css").string()));
  ASSERT_TRUE(testsupport::makeFifo((dir / "pipe.png").string()));
  testsupport::StdinThatNeverEnds stdinWaits;
  ASSERT_TRUE(stdinWaits.ok());
  testsupport::LogCapture log;
  for (const std::string& sheet : {std::string("pipe.css"), (dir / "pipe.css").string(), std::string("/dev/stdin"),
                                   std::string("/dev/zero")}) {
    EXPECT_EQ(height("<link rel='stylesheet' href='" + sheet + "'><style>#a { height: 10px }</style>"), 10) << sheet;
    EXPECT_TRUE(log.contains("style sheet " + sheet + " not loaded: the file cannot be read: not a regular file"))
        << sheet;
    file("imports.css", "@import url(" + sheet + ");\n#a { height: 30px; }");
    EXPECT_EQ(height("<link rel='stylesheet' href='imports.css'>"), 30) << sheet;
  }
  for (const std::string& image : {std::string("pipe.png"), std::string("file://") + (dir / "pipe.png").string(),
                                   std::string("/dev/stdin"), std::string("/dev/zero")}) {
    EXPECT_EQ(height("", "<img style='display:block; width:8px; height:8px' src='" + image + "'><div id='a' "
                         "style='height:4px; background-image:url(" + image + ")'></div>"),
              12)
        << image;
    EXPECT_TRUE(log.contains("image " + image + " not loaded: not a regular file")) << image;
  }
}

// The help page's "FFT SIZE" key label broke into two boxes although its style asks for nowrap:
// the engine asked only the block around an inline element whether its lines may break.
class NoWrapText : public ::testing::Test {
 protected:
  // The page laid out at a width; lines are 20 points high.
  HTMLPageRenderer& page(const std::string& body, double width = 300) {
    std::string error;
    EXPECT_TRUE(renderer.load("<body style='margin:0; font-size:16px; line-height:20px'>" + body + "</body>", "/", &error))
        << error;
    renderer.layout({width, 100});
    return renderer;
  }
  double height(const std::string& body, double width = 300) { return page(body, width).contentSize().height; }
  HTMLPageRenderer renderer;
};

TEST_F(NoWrapText, AnInlineElementThatMustNotWrapStaysOnOneLine) {
  EXPECT_EQ(height("<div style='width:40px'><span>FFT SIZE</span></div>"), 40);  // two words, two lines
  EXPECT_EQ(height("<div style='width:40px'><span style='white-space:nowrap'>FFT SIZE</span></div>"), 20);
  EXPECT_EQ(height("<div style='width:40px'><span style='white-space:nowrap'>FFT <b>SIZE</b> <i>KEY</i></span></div>"), 20);
  EXPECT_EQ(height("<style>.key { white-space: nowrap; border: 1px solid red }</style>"
                   "<div style='width:40px'><code class='key'>FFT SIZE</code></div>"),
            22);
  // Inside an element that does not wrap at all, nothing changes.
  EXPECT_EQ(height("<div style='width:40px; white-space:nowrap'>A <span style='white-space:nowrap'>FFT SIZE</span> B</div>"), 20);
  // Text around it still wraps.
  EXPECT_EQ(height("<div style='width:40px'>FFT <span style='white-space:nowrap'>SIZE</span> KEY</div>"), 60);
}

TEST_F(NoWrapText, ATableColumnIsAsWideAsTheLabelThatMustNotWrap) {
  // As on the help page: a key label beside a long description that takes whatever width it gets.
  const std::string description = "<td style='padding:0; font-size:4px; line-height:5px'>" +
                                  repeated("How many samples each analysis takes. ", 12) + "</td>";
  EXPECT_EQ(height("<table style='border-spacing:0'><tr><td style='padding:0'><span>FFT SIZE</span></td>" + description +
                   "</tr></table>"),
            40);
  EXPECT_LT(height("<table style='border-spacing:0'><tr><td style='padding:0'><span style='white-space:nowrap'>FFT "
                   "SIZE</span></td>" +
                   description + "</tr></table>"),
            30);
}

TEST_F(NoWrapText, ALabelThatDoesNotFitMovesToTheNextLineWholeAndItsLinkStillFollows) {
  // "cc" would fit at the end of the first line, "cc dd" does not: both go to the second.
  page("<div style='width:100px; font-family:monospace; font-size:10px'>aaaaaaaa bb <a id='k' href='next.html' "
       "style='white-space:nowrap'>cc dd</a> ee</div>");
  EXPECT_EQ(renderer.contentSize().height, 40);
  ASSERT_TRUE(renderer.anchorTop("k"));
  EXPECT_EQ(*renderer.anchorTop("k"), 20);
  EXPECT_EQ(renderer.linkAt({5, 30}), std::optional<std::string>("next.html"));
  EXPECT_EQ(renderer.linkAt({5, 10}), std::nullopt);
}

}  // namespace
