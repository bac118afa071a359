#pragma once
// String operations of the database client.
#include <string>
#include <string_view>

class FStringUtilities {
 public:
  // Base64 (with padding) of the SHA-1 of every byte of the text: 28 characters.
  static std::string base64EncodedSha1(std::string_view str);
  // "+" becomes " ", then percent-escapes are decoded; on a malformed escape only "+" is replaced.
  static std::string urlDecoded(std::string_view url);
  // Percent-encodes the UTF-8 bytes of every character outside [A-Za-z0-9-_~].
  static std::string urlEncoded(std::string_view url);
  // YES when the bytes are UTF-8 that names characters: no stray or truncated sequence, no overlong
  // form, no surrogate, nothing above U+10FFFF.
  static bool isValidUTF8(std::string_view str);
  // Every "/" and "_" becomes "|".
  static std::string sanitizedForUserAgent(std::string_view str);
};
