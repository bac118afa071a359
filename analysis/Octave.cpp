#include "analysis/Octave.h"

#include <fstream>
#include <sstream>

#include "platform/foundation/NSBundle.h"
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
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) return {};
  return parseOctavesText(text.str());
}

std::vector<Octave> Octave::parseOctavesResources(const std::string& name) {
  const std::optional<std::string> path = NSBundle::mainBundle().pathForResource(name, "txt");
  if (!path) return {};
  return parseOctavesFile(*path);
}
