#include "platform/uikit/UIStateRestoration.h"

#include <cmath>
#include <cstdio>
#include <mutex>

#include "platform/foundation/NSString.h"

namespace {

constexpr const char* kRecordClass = "UIStateRestorationRecord";

// The root object of a restoration archive: it writes and reads the controller's state.
class Record : public NSCoding {
 public:
  explicit Record(UIViewController* controller) : controller_(controller) {}
  std::string className() const override { return kRecordClass; }
  void encodeWithCoder(NSCoder& coder) const override {
    if (controller_) controller_->encodeRestorableStateWithCoder(coder);
  }

 private:
  UIViewController* controller_;
};

// What the record's decoder restores into (main thread only: one restoration at a time).
UIViewController* restoringController = nullptr;
UIStateRestoration::Resolver* restoringResolver = nullptr;

void registerRecordClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    NSRegisterCodingClass(kRecordClass, [](NSCoder& coder) -> NSCodingRef {
      if (restoringController) restoringController->decodeRestorableStateWithCoder(coder);
      return std::make_shared<Record>(nullptr);
    });
  });
}

NSErrorRef restorationError(const std::string& reason) {
  Value info = Value::object();
  info[NSLocalizedDescriptionKey] = "The restoration archive couldn't be read.";
  info[NSLocalizedFailureReasonErrorKey] = reason;
  return NSError::errorWithDomain(NSCocoaErrorDomain, NSCoderReadCorruptError, info);
}

}  // namespace

std::vector<std::string> UIStateRestoration::restorationIdentifierPath(const UIViewController& controller) {
  std::vector<std::string> path;
  for (auto c = const_cast<UIViewController&>(controller).shared_from_this(); c; c = c->parentViewController()) {
    path.insert(path.begin(), c->restorationIdentifier());
  }
  return path;
}

std::optional<Bytes> UIStateRestoration::archiveRestorableState(UIViewController& controller, NSErrorRef* error) {
  registerRecordClass();
  Record root(&controller);
  return NSKeyedArchiver::archivedDataWithRootObject(root, error);
}

bool UIStateRestoration::restoreState(UIViewController& controller, const Bytes& archive, Resolver resolver,
                                      NSErrorRef* error) {
  registerRecordClass();
  if (archive.size() > kMaxArchiveBytes) {
    if (error) *error = restorationError("The archive is larger than a restoration archive can be.");
    return false;
  }
  if (restoringController) {
    if (error) *error = restorationError("Another restoration is in progress.");
    return false;
  }
  restoringController = &controller;
  restoringResolver = &resolver;
  NSErrorRef failure;
  NSCodingRef root;
  try {
    root = NSKeyedUnarchiver::unarchivedObjectOfClasses({kRecordClass}, archive, &failure);
  } catch (...) {
    restoringController = nullptr;
    restoringResolver = nullptr;
    throw;
  }
  restoringController = nullptr;
  restoringResolver = nullptr;
  if (!root) {
    if (error) *error = failure ? failure : restorationError("The archive holds no restorable state.");
    return false;
  }
  return true;
}

void UIStateRestoration::encodeViewController(NSCoder& coder, const UIViewControllerRef& controller,
                                              const std::string& key) {
  if (!controller) return;
  Value path = Value::array();
  for (const auto& id : restorationIdentifierPath(*controller)) path.push_back(id);
  coder.encodeValue(path, key);
}

UIViewControllerRef UIStateRestoration::decodeViewController(NSCoder& coder, const std::string& key) {
  if (coder.kindForKey(key) != NSCoder::Kind::List) return nullptr;
  auto value = coder.decodeValue(key);
  if (!value || !value->is_array() || value->empty() || value->size() > kMaxPathComponents) return nullptr;
  std::vector<std::string> path;
  for (const auto& item : *value) {
    if (!item.is_string() || item.get<std::string>().size() > kMaxIdentifierBytes) return nullptr;
    path.push_back(item.get<std::string>());
  }
  if (!restoringResolver || !*restoringResolver) return nullptr;
  return (*restoringResolver)(path);
}

void UIStateRestoration::encodeColor(NSCoder& coder, const UIColorRef& color, const std::string& key) {
  if (!color) return;
  auto c = color->components();
  Value v = Value::object();
  v["red"] = c[0];
  v["green"] = c[1];
  v["blue"] = c[2];
  v["alpha"] = c[3];
  coder.encodeValue(v, key);
}

UIColorRef UIStateRestoration::decodeColor(NSCoder& coder, const std::string& key) {
  if (coder.kindForKey(key) != NSCoder::Kind::Object) return nullptr;
  auto value = coder.decodeValue(key);
  if (!value || !value->is_object()) return nullptr;
  double c[4];
  const char* names[4] = {"red", "green", "blue", "alpha"};
  for (int i = 0; i < 4; ++i) {
    auto it = value->find(names[i]);
    if (it == value->end() || !it->is_number()) return nullptr;
    c[i] = it->get<double>();
    if (!(c[i] >= 0 && c[i] <= 1)) return nullptr;
  }
  return UIColor::colorWithRed(c[0], c[1], c[2], c[3]);
}

void UIStateRestoration::encodeCGSize(NSCoder& coder, CGSize size, const std::string& key) {
  coder.encodeString(ns::format("{%.17g, %.17g}", size.width, size.height), key);
}

std::optional<CGSize> UIStateRestoration::decodeCGSize(NSCoder& coder, const std::string& key) {
  if (coder.kindForKey(key) != NSCoder::Kind::String) return std::nullopt;
  auto text = coder.decodeString(key);
  if (!text || text->size() > 128) return std::nullopt;
  double w = 0, h = 0;
  int used = 0;
  if (std::sscanf(text->c_str(), " {%lf ,%lf }%n", &w, &h, &used) != 2 || static_cast<size_t>(used) != text->size()) {
    return std::nullopt;
  }
  if (!std::isfinite(w) || !std::isfinite(h)) return std::nullopt;
  return CGSize{w, h};
}

std::optional<double> UIStateRestoration::decodeNumber(NSCoder& coder, const std::string& key) {
  auto kind = coder.kindForKey(key);
  if (kind != NSCoder::Kind::Double && kind != NSCoder::Kind::Integer) return std::nullopt;
  return coder.decodeDouble(key);
}

std::optional<bool> UIStateRestoration::decodeFlag(NSCoder& coder, const std::string& key) {
  if (coder.kindForKey(key) != NSCoder::Kind::Bool) return std::nullopt;
  return coder.decodeBool(key);
}
