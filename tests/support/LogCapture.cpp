#include "tests/support/LogCapture.h"

#include <memory>

namespace testsupport {

LogCapture::LogCapture() : lines_(std::make_shared<Lines>()) {
  // The sink keeps its own reference: a line logged by another thread while the capture ends
  // still has somewhere to go.
  previous_ = ns::setLogSink([lines = lines_](const std::string& line) {
    std::lock_guard<std::mutex> lock(lines->mutex);
    lines->lines.push_back(line);
  });
}

LogCapture::~LogCapture() { ns::setLogSink(std::move(previous_)); }

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard<std::mutex> lock(lines_->mutex);
  return lines_->lines;
}

bool LogCapture::contains(const std::string& text) const {
  std::lock_guard<std::mutex> lock(lines_->mutex);
  for (const auto& l : lines_->lines) {
    if (l.find(text) != std::string::npos) return true;
  }
  return false;
}

}  // namespace testsupport
