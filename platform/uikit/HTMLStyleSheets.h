#pragma once
// The style sheets one page reads from files for the HTML engine: those its <link> elements name
// and those they import (@import), read as the engine asks for them (readSheet). The page renderer
// owns one and starts it afresh for every page.
//
// The engine parses an imported sheet as soon as it has its text, recursing once per level of
// imports, so a sheet that imports itself, directly or through others, would recurse until the
// stack ends. A sheet is refused when its file (known by device and inode, under any name or link)
// is already on the chain of imports that leads to it; one sheet imported on two branches (A
// imports B and C, both import D) is read for each, as CSS means it. A page reads at most
// HTMLPageRenderer::kMaxStyleSheets sheets in all, which also bounds every chain, each at most
// HTMLPageRenderer::kMaxStyleSheetBytes.
//
// The chain is known from the base address handed back with each sheet: it names that reading of
// the sheet, and the engine passes it back, unread, with the sheet's own imports and images;
// baseDirectory() turns any base address into the folder its references are relative to.
//
// Every sheet reaches the engine without its comments (withoutComments): the engine's own
// stripping never ends on an unterminated comment near a sheet's start (" /*"), and takes "/*" in
// a string or url for a comment.
// Main thread only (one page at a time).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/uikit/HTMLPageFiles.h"

class HTMLStyleSheets {
 public:
  // A new page, whose own references are relative to `directory`.
  void startPage(const std::string& directory);

  // The sheet at `url`, linked by the page (an empty `baseurl`) or imported by the sheet whose
  // base address `baseurl` is: its text without comments in `text` (empty when it is refused or
  // cannot be read, which is logged with the reason), its base address in `baseurl`.
  void readSheet(std::string& text, const std::string& url, std::string& baseurl);

  // The folder the references of a sheet (by its base address), or of the page (for an empty or
  // any other address), are relative to.
  std::string baseDirectory(const std::string& baseurl) const;

  // The text with its comments taken out as CSS reads them: from "/*" to the next "*/" (to the
  // end when none comes), but not inside a quoted string or an unquoted url(...), where "/*" is
  // text. A comment keeps the tokens on either side of it apart: where they would join once it is
  // gone ("1px/**/solid"; "/" "/**/" "*"), a space stands in its place. The result never holds
  // "/*", which the engine would take for a comment wherever it stands: a '*' after a '/' in a
  // string or url is written as the escape "a " (the same '*' to CSS).
  static std::string withoutComments(std::string_view css);

 private:
  struct Reading {
    std::optional<htmlpage::FileIdentity> file;
    std::optional<size_t> importer;  // the reading that imported this one; none for a linked sheet
    std::string directory;
  };
  std::optional<size_t> readingOf(const std::string& baseurl) const;
  bool onChain(const htmlpage::FileIdentity& file, std::optional<size_t> reading) const;

  std::string pageDirectory_;
  std::vector<Reading> readings_;
  int sheetsRead_ = 0;
};
