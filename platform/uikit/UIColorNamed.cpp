#include "platform/uikit/UIColorNamed.h"

#include <cctype>
#include <map>
#include <mutex>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/PlistValue.h"

namespace {

constexpr size_t kMaxCatalogueBytes = 256 * 1024;

std::map<std::string, UIColorRef> readCatalogue(const std::string& path) {
  std::map<std::string, UIColorRef> colors;
  std::string bytes;
  switch (ns::readFile(path, kMaxCatalogueBytes, &bytes)) {
    case ns::FileRead::Read:
      break;
    case ns::FileRead::TooLarge:
      NSLog("Colors.plist cannot be read (larger than 256 KiB)");
      return colors;
    case ns::FileRead::Missing:
    case ns::FileRead::Unreadable:
      NSLog("The colour catalogue %s cannot be read", path.c_str());
      return colors;
  }
  std::string error;
  auto plist = ns::plistParse(bytes, &error);
  if (!plist || !plist->is_object()) {
    NSLog("Colors.plist is not a dictionary of colours: %s", error.c_str());
    return colors;
  }
  for (auto it = plist->begin(); it != plist->end(); ++it) {
    UIColorRef color = it->is_string() ? UIColorFromHexText(it->get<std::string>()) : nullptr;
    if (color) colors[it.key()] = color;
    else NSLog("Colors.plist: the colour \"%s\" is not a #RRGGBB or #RRGGBBAA text", it.key().c_str());
  }
  return colors;
}

}  // namespace

UIColorRef UIColorFromHexText(const std::string& text) {
  if (text.size() != 7 && text.size() != 9) return nullptr;
  if (text[0] != '#') return nullptr;
  uint32_t value = 0;
  for (size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (!std::isxdigit(static_cast<unsigned char>(c))) return nullptr;
    value = value * 16 + static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10);
  }
  if (text.size() == 7) value = (value << 8) | 0xFF;
  return UIColor::colorWithRed(((value >> 24) & 0xFF) / 255.0, ((value >> 16) & 0xFF) / 255.0,
                               ((value >> 8) & 0xFF) / 255.0, (value & 0xFF) / 255.0);
}

UIColorRef UIColorNamed(const std::string& name) {
  static std::mutex mutex;
  static std::map<std::string, std::map<std::string, UIColorRef>> catalogues;  // by file path
  const auto path = NSBundle::mainBundle().pathForResource("Colors", "plist");
  if (!path) return nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = catalogues.find(*path);
  if (it == catalogues.end()) it = catalogues.emplace(*path, readCatalogue(*path)).first;
  auto color = it->second.find(name);
  return color == it->second.end() ? nullptr : color->second;
}
