// The page renderer under the web view: what it measures before the HTML parser runs, the style
// sheets it hands the engine, the images it decodes for a page, and how it lays text out.
#include <gtest/gtest.h>

#include <cairo.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/uikit/HTMLPageRenderer.h"
#include "platform/uikit/HTMLStyleSheets.h"
#include "tests/support/LogCapture.h"

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
  double height(const std::string& head) {
    HTMLPageRenderer renderer;
    std::string error;
    EXPECT_TRUE(renderer.load("<html><head>" + head + "</head><body style='margin:0'><div id='a'></div></body></html>",
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
  // A '/' left before a '*' by the comment taken out between them opens another.
  EXPECT_EQ(HTMLStyleSheets::withoutComments("//**/*x*/y"), "y");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("a/**//b"), "a/b");
  EXPECT_EQ(HTMLStyleSheets::withoutComments("*/ a/b *"), "*/ a/b *");
  EXPECT_EQ(HTMLStyleSheets::withoutComments(""), "");
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

}  // namespace
