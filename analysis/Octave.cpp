#include "analysis/Octave.h"

#include "platform/foundation/FileAddress.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSString.h"

std::vector<Octave> Octave::parseOctavesText(const std::string& text) {
  std::vector<Octave> bands;
  for (const std::string& line : ns::split(text, "\n")) {
    const std::vector<std::string> fields = ns::split(line, " ");
    if (fields.size() < 3) continue;
    bands.emplace_back(ns::floatValue(fields[0]), ns::floatValue(fields[1]), ns::floatValue(fields[2]));
  }
  return bands;
}

std::vector<Octave> Octave::parseOctavesFile(const std::string& path) {
  std::string text, error;
  if (!ns::readFileContents(path, kMaxTableFileBytes, &text, &error)) {
    NSLog("Band table \"%s\" cannot be read: %s", path.c_str(), error.c_str());
    return {};
  }
  return parseOctavesText(text);
}

std::vector<Octave> Octave::parseOctavesResources(const std::string& name) {
  const std::optional<std::string> path = NSBundle::mainBundle().pathForResource(name, "txt");
  if (!path) return {};
  return parseOctavesFile(*path);
}
