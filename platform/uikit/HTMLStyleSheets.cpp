#include "platform/uikit/HTMLStyleSheets.h"

#include <charconv>
#include <filesystem>

#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/uikit/HTMLPageRenderer.h"

namespace {

// The base address of a reading: the prefix and its index. No page reference resolves to it: the
// engine hands base addresses only to the page's container, never to a file name of its own.
constexpr std::string_view kReadingAddress = "style-sheet-reading:";

std::string readError(ns::FileRead result, const std::string& why) {
  switch (result) {
    case ns::FileRead::Missing: return "no such file";
    case ns::FileRead::TooLarge:
      return "the file is larger than " + std::to_string(HTMLPageRenderer::kMaxStyleSheetBytes) + " bytes";
    case ns::FileRead::Unreadable: return "the file cannot be read: " + why;
    case ns::FileRead::Read: break;
  }
  return "the file cannot be read";
}

}  // namespace

void HTMLStyleSheets::startPage(const std::string& directory) {
  pageDirectory_ = directory;
  readings_.clear();
  sheetsRead_ = 0;
}

std::optional<size_t> HTMLStyleSheets::readingOf(const std::string& baseurl) const {
  if (baseurl.compare(0, kReadingAddress.size(), kReadingAddress) != 0) return std::nullopt;
  const char* digits = baseurl.data() + kReadingAddress.size();
  const char* end = baseurl.data() + baseurl.size();
  size_t index = 0;
  auto [last, ec] = std::from_chars(digits, end, index);
  if (ec != std::errc() || last != end || index >= readings_.size()) return std::nullopt;
  return index;
}

std::string HTMLStyleSheets::baseDirectory(const std::string& baseurl) const {
  if (auto reading = readingOf(baseurl)) return readings_[*reading].directory;
  return baseurl.empty() ? pageDirectory_ : baseurl;
}

bool HTMLStyleSheets::onChain(const htmlpage::FileIdentity& file, std::optional<size_t> reading) const {
  for (; reading; reading = readings_[*reading].importer) {
    if (readings_[*reading].file == file) return true;
  }
  return false;
}

void HTMLStyleSheets::readSheet(std::string& text, const std::string& url, std::string& baseurl) {
  text.clear();
  const auto importer = readingOf(baseurl);
  const auto path = htmlpage::localPath(url, baseDirectory(baseurl));
  if (!path) return;  // an address of another kind: nothing is fetched
  auto refuse = [&](const std::string& why) {
    NSLog("HTMLPageRenderer: style sheet %s not loaded: %s", url.c_str(), why.c_str());
  };
  const auto file = htmlpage::fileIdentity(*path);
  if (file) {
    if (onChain(*file, importer)) return refuse("it imports itself (through the sheets that import it)");
    if (sheetsRead_ >= HTMLPageRenderer::kMaxStyleSheets) {
      return refuse("the page reads more than " + std::to_string(HTMLPageRenderer::kMaxStyleSheets) + " style sheets");
    }
    ++sheetsRead_;
  }
  // Never waits: a FIFO or a device named as a sheet is refused unread (ns::readFile).
  std::string bytes, why;
  if (auto result = ns::readFile(*path, HTMLPageRenderer::kMaxStyleSheetBytes, &bytes, &why); result != ns::FileRead::Read) {
    return refuse(readError(result, why));
  }
  text = withoutComments(bytes);
  readings_.push_back({file, importer, std::filesystem::path(*path).parent_path().string()});
  baseurl = std::string(kReadingAddress) + std::to_string(readings_.size() - 1);
}

std::string HTMLStyleSheets::withoutComments(std::string_view css) {
  std::string text;
  text.reserve(css.size());
  for (size_t i = 0; i < css.size(); ++i) {
    // A '*' after a '/' opens a comment, whether the '/' came before it in the sheet or was left
    // there by the comment just taken out.
    if (css[i] == '*' && !text.empty() && text.back() == '/') {
      text.pop_back();
      const size_t end = css.find("*/", i + 1);
      if (end == std::string_view::npos) break;
      i = end + 1;
      continue;
    }
    text.push_back(css[i]);
  }
  return text;
}
