#pragma once
// State restoration: a controller's restorable state (encodeRestorableStateWithCoder) written as a
// keyed archive, and read back into a controller in a later run (decodeRestorableStateWithCoder).
// Fields are the coder's typed fields. A controller that the state refers to is stored as its
// restoration identifier path (the restoration identifiers of its parents and its own, outermost
// first) and found again, on decoding, through the resolver the restoring code gives.
//
// Reading is lenient field by field: a decoder skips a field of another type than it wrote (it
// keeps its value) and should not apply anything when the coder reports an error, so a corrupt
// archive changes nothing. Limits: an archive of at most kMaxArchiveBytes, paths of at most
// kMaxPathComponents identifiers of at most kMaxIdentifierBytes each; the unarchiver's own depth
// limits apply. Main thread only.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/graphics/UIColor.h"
#include "platform/uikit/UIViewController.h"

class UIStateRestoration {
 public:
  static constexpr size_t kMaxArchiveBytes = 1 << 20;
  static constexpr size_t kMaxPathComponents = 32;
  static constexpr size_t kMaxIdentifierBytes = 256;

  using Resolver = std::function<UIViewControllerRef(const std::vector<std::string>& identifierPath)>;

  // The controller's state as an archive; none (with the error) when it cannot be written.
  static std::optional<Bytes> archiveRestorableState(UIViewController& controller, NSErrorRef* error = nullptr);
  // Reads an archive written by archiveRestorableState into the controller. False (with the
  // error) for an archive that is too large, corrupt or of another kind.
  static bool restoreState(UIViewController& controller, const Bytes& archive, Resolver resolver,
                           NSErrorRef* error = nullptr);
  static std::vector<std::string> restorationIdentifierPath(const UIViewController& controller);

  // Helpers for encodeRestorableStateWithCoder / decodeRestorableStateWithCoder.
  // A controller (none encodes nothing); decoding gives none when the field is absent, of another
  // type, or names no controller the resolver knows.
  static void encodeViewController(NSCoder& coder, const UIViewControllerRef& controller, const std::string& key);
  static UIViewControllerRef decodeViewController(NSCoder& coder, const std::string& key);
  // A colour as its RGBA components; decoding gives none unless all four are numbers in 0..1.
  static void encodeColor(NSCoder& coder, const UIColorRef& color, const std::string& key);
  static UIColorRef decodeColor(NSCoder& coder, const std::string& key);
  // A size as the text "{w, h}"; decoding gives none for another type, other text or a value
  // that is not finite.
  static void encodeCGSize(NSCoder& coder, CGSize size, const std::string& key);
  static std::optional<CGSize> decodeCGSize(NSCoder& coder, const std::string& key);
  // A number (integer or double) or a flag; none when absent or of another type.
  static std::optional<double> decodeNumber(NSCoder& coder, const std::string& key);
  static std::optional<bool> decodeFlag(NSCoder& coder, const std::string& key);
};
