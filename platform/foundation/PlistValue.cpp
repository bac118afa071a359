#include "platform/foundation/PlistValue.h"

#include "platform/foundation/BinaryPlistReader.h"
#include "platform/foundation/BinaryPlistWriter.h"
#include "platform/foundation/NSDate.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/PlistBudget.h"

#include <plist/plist.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace ns {

namespace {

// libplist keeps no documented thread-safety promise; its calls are few and short, so they are
// serialised.
std::mutex& plistMutex() {
  static auto* m = new std::mutex();
  return *m;
}

struct PlistFree {
  void operator()(void* p) const {
    if (p) plist_free(static_cast<plist_t>(p));
  }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

void setError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

// libplist holds a date as the seconds since 2001 in a double and hands them out as the seconds in
// 32 bits with the fraction in microseconds. A date read from XML text is whole seconds within
// that range (xmlLeavesExact refuses any other), so it is read exactly.
Value dateFromPlist(plist_t node) {
  int32_t sec = 0, usec = 0;
  plist_get_date_val(node, &sec, &usec);
  return value::dateSinceReferenceDate(sec < 0 ? sec - std::abs(usec) / 1e6 : sec + std::abs(usec) / 1e6);
}

// XML text holds whole seconds, which libplist takes as a 32-bit integer: a date is written in the
// whole seconds it holds (rounded down), a later or earlier one clamped to the range, and a date
// that is no number at all (a stored list may hold one) as the reference date rather than
// converted unchecked. A date read from XML text is written back as the same text.
plist_t dateToPlist(double since2001) {
  if (std::isnan(since2001)) since2001 = 0;
  since2001 = std::clamp(std::floor(since2001), -2147483648.0, 2147483647.0);
  return plist_new_date(static_cast<int32_t>(since2001), 0);
}

// Whether an integer that libplist read from XML text was written with a minus sign. libplist keeps
// every integer in 64 bits, negative ones as their two's complement, and notes apart only those
// written above the signed range; no call of it tells, but its XML writer shows them unsigned.
bool writtenNegative(plist_t node) {
  char* xml = nullptr;
  uint32_t len = 0;
  plist_to_xml(node, &xml, &len);
  const bool negative = xml && std::string_view(xml, len).find("<integer>-") != std::string_view::npos;
  if (xml) plist_to_xml_free(xml);
  return negative;
}

// The value of a tree libplist read from XML text.
bool toValue(plist_t node, Value& out, size_t depth, PlistBudget& budget, std::string* error) {
  if (!budget.charge(kPlistValueCost, error)) return false;
  const plist_type type = plist_get_node_type(node);
  if ((type == PLIST_ARRAY || type == PLIST_DICT) && depth >= kMaxPlistDepth) {
    setError(error, "the property list nests too deeply");
    return false;
  }
  switch (type) {
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      out = Value(b != 0);
      return true;
    }
    case PLIST_UINT: {
      uint64_t u = 0;
      plist_get_uint_val(node, &u);
      if ((u >> 63) && !writtenNegative(node))
        out = Value(u);  // above the signed range
      else
        out = Value(static_cast<int64_t>(u));
      return true;
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      out = Value(d);
      return true;
    }
    case PLIST_STRING:
    case PLIST_KEY: {
      uint64_t len = 0;
      const char* s = plist_get_node_type(node) == PLIST_STRING ? plist_get_string_ptr(node, &len) : nullptr;
      if (s && !budget.charge(len, error, 0)) return false;
      if (s) {
        out = Value(std::string(s, len));
      } else {
        char* k = nullptr;
        plist_get_key_val(node, &k);
        out = Value(std::string(k ? k : ""));
        std::free(k);
      }
      // libplist passes bytes through as they stand; text that is not UTF-8 has no characters to keep.
      if (!isValidUTF8(out.get_ref<const std::string&>())) {
        setError(error, "the property list holds text that is not UTF-8");
        return false;
      }
      return true;
    }
    case PLIST_DATA: {
      uint64_t len = 0;
      const char* p = plist_get_data_ptr(node, &len);
      if (!budget.charge(len, error, 0)) return false;
      out = value::data(std::string_view(p ? p : "", p ? len : 0));
      return true;
    }
    case PLIST_DATE:
      out = dateFromPlist(node);
      return true;
    case PLIST_UID: {
      uint64_t u = 0;
      plist_get_uid_val(node, &u);
      out = plistUID(u);
      return true;
    }
    case PLIST_ARRAY: {
      out = Value::array();
      uint32_t n = plist_array_get_size(node);
      for (uint32_t i = 0; i < n; ++i) {
        Value item;
        if (!toValue(plist_array_get_item(node, i), item, depth + 1, budget, error)) return false;
        out.push_back(std::move(item));
      }
      return true;
    }
    case PLIST_DICT: {
      out = Value::object();
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      if (!it) return true;
      bool ok = true;
      for (;;) {
        char* key = nullptr;
        plist_t val = nullptr;
        plist_dict_next_item(node, it, &key, &val);
        if (!val) {
          std::free(key);
          break;
        }
        Value item;
        if (!isValidUTF8(key ? key : "")) {
          setError(error, "the property list holds a key that is not UTF-8");
          std::free(key);
          ok = false;
          break;
        }
        // The key is a value of its own, reckoned as a text, as it is in a binary list.
        if (!budget.charge(kPlistValueCost + std::strlen(key ? key : ""), error) ||
            !toValue(val, item, depth + 1, budget, error)) {
          std::free(key);
          ok = false;
          break;
        }
        out[std::string(key ? key : "")] = std::move(item);
        std::free(key);
      }
      std::free(it);
      return ok;
    }
    default:
      setError(error, "the property list holds a value of an unknown kind");
      return false;
  }
}

// Whether libplist can write the text into XML as it stands: it takes text as C strings (cut at a
// NUL) and writes bytes as they are, while XML holds neither NUL nor bytes that are not UTF-8.
bool xmlText(const std::string& text, std::string* error) {
  if (text.find('\0') != std::string::npos) {
    setError(error, "a text holds a NUL character, which an XML property list cannot hold");
    return false;
  }
  if (!isValidUTF8(text)) {
    setError(error, "a text is not well-formed UTF-8");
    return false;
  }
  return true;
}

const std::string kXMLTooLong =
    "the property list would take more than " + std::to_string(kMaxPlistBytes) + " bytes of XML";

// What the XML writer has in hand: what the reader would reckon for the values so far, and the
// least text they can take (their texts and keys, their data in base64), so that a list whose
// text is sure to be longer than a reader takes is refused before libplist builds and writes it.
struct XMLWrite {
  PlistBudget budget;
  size_t textAtLeast = 0;
  bool add(size_t text, std::string* error) {
    textAtLeast += text;
    if (textAtLeast <= kMaxPlistBytes) return true;
    setError(error, kXMLTooLong);
    return false;
  }
};

// libplist's tree for the XML writer. What it would write changed is refused: text it cannot
// hold (above), integers above the signed range (written as negative ones) and UIDs (written as
// dictionaries, and read back as such).
plist_t fromValue(const Value& v, size_t depth, XMLWrite& write, std::string* error) {
  // What the reader would reckon for this value: a list it would refuse is not written.
  size_t payload = 0, text = 0;
  if (v.is_string()) payload = text = v.get_ref<const std::string&>().size();
  if (v.is_binary()) payload = v.get_binary().size(), text = payload / 3 * 4;
  if (!write.budget.charge(kPlistValueCost + payload, error) || !write.add(text, error)) return nullptr;
  if ((v.is_array() || v.is_object()) && depth >= kMaxPlistDepth) {
    setError(error, "the value nests too deeply for a property list");
    return nullptr;
  }
  switch (v.type()) {
    case Value::value_t::boolean:
      return plist_new_bool(v.get<bool>() ? 1 : 0);
    case Value::value_t::number_integer:
      return plist_new_uint(static_cast<uint64_t>(v.get<int64_t>()));
    case Value::value_t::number_unsigned:
      if (v.get<uint64_t>() >> 63) {
        setError(error, "an integer above 2^63-1 cannot be written to an XML property list");
        return nullptr;
      }
      return plist_new_uint(v.get<uint64_t>());
    case Value::value_t::number_float:
      return plist_new_real(v.get<double>());
    case Value::value_t::string:
      if (!xmlText(v.get_ref<const std::string&>(), error)) return nullptr;
      return plist_new_string(v.get_ref<const std::string&>().c_str());
    case Value::value_t::binary: {
      if (isPlistUID(v)) {
        setError(error, "an XML property list cannot hold a UID");
        return nullptr;
      }
      if (value::isDate(v)) return dateToPlist(value::dateSecondsSinceReferenceDate(v));
      const auto& bin = v.get_binary();
      return plist_new_data(reinterpret_cast<const char*>(bin.data()), bin.size());
    }
    case Value::value_t::array: {
      plist_t arr = plist_new_array();
      for (const auto& item : v) {
        plist_t child = fromValue(item, depth + 1, write, error);
        if (!child) {
          plist_free(arr);
          return nullptr;
        }
        plist_array_append_item(arr, child);
      }
      return arr;
    }
    case Value::value_t::object: {
      plist_t dict = plist_new_dict();
      for (auto it = v.begin(); it != v.end(); ++it) {
        plist_t child = xmlText(it.key(), error) &&
                                write.budget.charge(kPlistValueCost + it.key().size(), error) &&
                                write.add(it.key().size(), error)
                            ? fromValue(it.value(), depth + 1, write, error)
                            : nullptr;
        if (!child) {
          plist_free(dict);
          return nullptr;
        }
        plist_dict_set_item(dict, it.key().c_str(), child);
      }
      return dict;
    }
    default:
      setError(error, "a property list cannot hold null");
      return nullptr;
  }
}

// Whether the elements of XML text nest no deeper than `limit`. libplist builds its tree and
// frees it by recursion, so text nested too deeply must never reach it. The count errs only on the
// deep side: an opening tag counts wherever it stands (even inside a comment, a CDATA section, a
// declaration or an attribute value), a closing tag only in plain markup.
bool xmlNestingWithin(std::string_view text, size_t limit) {
  size_t depth = 0;
  auto startsWith = [&](size_t at, std::string_view what) { return text.compare(at, what.size(), what) == 0; };
  auto isNameStart = [](char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == ':' || (c & 0x80);
  };
  // Counts the opening tags inside [from, to) that do not close themselves.
  auto countOpenings = [&](size_t from, size_t to) {
    for (size_t i = text.find('<', from); i < to; i = text.find('<', i + 1)) {
      if (i + 1 >= to || !isNameStart(text[i + 1])) continue;
      const size_t close = text.find('>', i + 1);
      if (close != std::string_view::npos && close < to && text[close - 1] == '/') continue;
      if (++depth > limit) return false;
    }
    return true;
  };
  size_t i = 0;
  while ((i = text.find('<', i)) != std::string_view::npos) {
    std::string_view closer;
    size_t bodyStart = i;
    if (startsWith(i, "<!--")) {
      closer = "-->", bodyStart = i + 4;
    } else if (startsWith(i, "<![CDATA[")) {
      closer = "]]>", bodyStart = i + 9;
    } else if (startsWith(i, "<?")) {
      closer = "?>", bodyStart = i + 2;
    } else if (startsWith(i, "<!")) {
      closer = ">", bodyStart = i + 2;
    }
    if (!closer.empty()) {
      const size_t end = text.find(closer, bodyStart);
      const size_t bodyEnd = end == std::string_view::npos ? text.size() : end;
      if (!countOpenings(bodyStart, bodyEnd)) return false;
      if (end == std::string_view::npos) return true;
      i = end + closer.size();
      continue;
    }
    if (startsWith(i, "</")) {
      if (depth > 0) --depth;
      const size_t end = text.find('>', i);
      if (end == std::string_view::npos) return true;
      i = end + 1;
      continue;
    }
    // An opening tag: its end is the first '>' outside quoted attribute values.
    size_t j = i + 1;
    char quote = 0;
    for (; j < text.size(); ++j) {
      const char c = text[j];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        break;
      }
    }
    if (i + 1 < text.size() && isNameStart(text[i + 1]) && (j >= text.size() || text[j - 1] != '/')) {
      if (++depth > limit) return false;
    }
    // Tags written inside attribute values count too.
    if (!countOpenings(i + 1, std::min(j, text.size()))) return false;
    if (j >= text.size()) return true;
    i = j + 1;
  }
  return true;
}

// A raw NUL byte or a character reference to code point 0 ("&#0;", "&#x00;").
bool holdsNul(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return true;
  for (size_t at = text.find("&#"); at != std::string_view::npos; at = text.find("&#", at + 2)) {
    size_t i = at + 2;
    bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
    if (hex) ++i;
    bool digits = false, nonZero = false;
    for (; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i) {
      if (!hex && !std::isdigit(static_cast<unsigned char>(text[i]))) break;
      digits = true;
      if (text[i] != '0') nonZero = true;
    }
    if (digits && !nonZero) return true;
  }
  return false;
}

// Whether a decimal number (digits, no sign) is at most the limit, also given in digits.
bool digitsAtMost(std::string_view digits, std::string_view limit) {
  return digits.size() < limit.size() || (digits.size() == limit.size() && digits <= limit);
}

// Whether the text of an integer element is a decimal number of the 64-bit range (-2^63 to
// 2^64-1), white space around it allowed; *why says what else it is.
bool exactInteger(std::string_view text, std::string* why) {
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  const bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    *why = "an integer that is not a decimal number";
    return false;
  }
  if (text.size() > 1 && text.front() == '0') {
    *why = "an integer that starts with a zero";  // which libplist would read as octal
    return false;
  }
  if (!digitsAtMost(text, negative ? "9223372036854775808" : "18446744073709551615")) {
    *why = "an integer beyond the 64-bit range";
    return false;
  }
  return true;
}

// The days from 1970-01-01 to the date of the proleptic Gregorian calendar.
int64_t daysSince1970(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// Whether the text of a date element is a date libplist reads as it shows: "YYYY-MM-DDTHH:MM:SSZ"
// (white space around it allowed), a day and time of the calendar, within the 32-bit seconds since
// 2001 libplist hands out; *why says what else it is. libplist reads other text as far as it can
// and makes a date of whatever it got, without a word: an empty element is 1970, a fraction of a
// second is dropped, the 30th of February is in March and a later year wraps to an earlier one.
bool exactDate(std::string_view text, std::string* why) {
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  static constexpr std::string_view kForm = "dddd-dd-ddTdd:dd:ddZ";
  bool matches = text.size() == kForm.size();
  for (size_t i = 0; matches && i < kForm.size(); ++i) {
    matches = kForm[i] == 'd' ? text[i] >= '0' && text[i] <= '9' : text[i] == kForm[i];
  }
  if (!matches) {
    *why = "a date that is not of the form YYYY-MM-DDTHH:MM:SSZ";
    return false;
  }
  auto number = [&](size_t at, size_t digits) {
    int64_t n = 0;
    for (size_t i = at; i < at + digits; ++i) n = n * 10 + (text[i] - '0');
    return n;
  };
  const int64_t year = number(0, 4), month = number(5, 2), day = number(8, 2);
  const int64_t hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12 || day < 1 || day > kDaysInMonth[month - 1] + (month == 2 && leap) || hour > 23 ||
      minute > 59 || second > 59) {
    *why = "a date that is not in the calendar";
    return false;
  }
  const int64_t since2001 = daysSince1970(year, month, day) * 86400 + hour * 3600 + minute * 60 + second -
                            static_cast<int64_t>(kTimeIntervalSince1970AtReferenceDate);
  if (since2001 < INT32_MIN || since2001 > INT32_MAX) {
    *why = "a date outside what an XML property list holds (1932-12-13T20:45:52Z to 2069-01-19T03:14:07Z)";
    return false;
  }
  return true;
}

// Whether every integer and date element of XML text reads as what it shows. libplist reads an
// integer with the C library's base guessing ("010" as 8, "0x10" as 16), stops at the first other
// character ("12abc" as 12, "1e3" as 1), and saturates or wraps numbers beyond 64 bits, all without
// a word; so an integer must be a plain decimal number within the range. Dates: see exactDate.
// Comments, CDATA sections, declarations and processing instructions are passed over as the parser
// passes them.
bool xmlLeavesExact(std::string_view text, std::string* error) {
  auto startsWith = [&](size_t at, std::string_view what) { return text.compare(at, what.size(), what) == 0; };
  auto isNameEnd = [&](size_t at) {
    return at >= text.size() || text[at] == '>' || text[at] == '/' || text[at] == ' ' || text[at] == '\t' ||
           text[at] == '\r' || text[at] == '\n';
  };
  size_t i = 0;
  while ((i = text.find('<', i)) != std::string_view::npos) {
    std::string_view closer;
    if (startsWith(i, "<!--")) closer = "-->";
    else if (startsWith(i, "<![CDATA[")) closer = "]]>";
    else if (startsWith(i, "<?")) closer = "?>";
    else if (startsWith(i, "<!")) closer = ">";
    if (!closer.empty()) {
      const size_t end = text.find(closer, i + 2);
      if (end == std::string_view::npos) return true;  // unterminated: the parser refuses it
      i = end + closer.size();
      continue;
    }
    std::string_view name, kind;
    if (startsWith(i, "<integer") && isNameEnd(i + 8)) {
      name = "integer", kind = "an integer";
    } else if (startsWith(i, "<date") && isNameEnd(i + 5)) {
      name = "date", kind = "a date";
    } else {
      ++i;
      continue;
    }
    const size_t tagEnd = text.find('>', i);
    if (tagEnd == std::string_view::npos) return true;
    std::string why;
    const size_t contentEnd = text.find('<', tagEnd + 1);
    if (text[tagEnd - 1] == '/') {
      why = "an empty " + std::string(name) + " element";
    } else if (contentEnd == std::string_view::npos || !startsWith(contentEnd, "</") ||
               !startsWith(contentEnd + 2, name) || !isNameEnd(contentEnd + 2 + name.size())) {
      why = std::string(kind) + " element with markup inside";
    } else {
      const std::string_view content = text.substr(tagEnd + 1, contentEnd - tagEnd - 1);
      if (name == "integer") {
        exactInteger(content, &why);
      } else {
        exactDate(content, &why);
      }
    }
    if (!why.empty()) {
      setError(error, "the property list holds " + why);
      return false;
    }
    i = contentEnd;
  }
  return true;
}

}  // namespace

Value plistUID(uint64_t uid) {
  std::vector<uint8_t> bytes(8);
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(uid >> (8 * i));
  return Value::binary(std::move(bytes), kUIDSubtype);
}

bool isPlistUID(const Value& v) {
  return v.is_binary() && v.get_binary().has_subtype() && v.get_binary().subtype() == kUIDSubtype &&
         v.get_binary().size() == 8;
}

uint64_t plistUIDValue(const Value& v) {
  if (!isPlistUID(v)) return 0;
  uint64_t u = 0;
  const auto& b = v.get_binary();
  for (int i = 0; i < 8; ++i) u |= static_cast<uint64_t>(b[i]) << (8 * i);
  return u;
}

std::optional<Value> plistParse(std::string_view bytes, std::string* error) {
  if (bytes.empty()) {
    setError(error, "the property list is empty");
    return std::nullopt;
  }
  if (bytes.size() > kMaxPlistBytes) {
    setError(error, "the property list is too large (more than " + std::to_string(kMaxPlistBytes) + " bytes)");
    return std::nullopt;
  }
  if (bytes.substr(0, 6) == "bplist") return readBinaryPlist(bytes, error);
  // libplist stops the process on a string holding NUL, so such text never reaches it.
  if (holdsNul(bytes)) {
    setError(error, "the property list holds a NUL character");
    return std::nullopt;
  }
  // The plist element and a leaf element stand around the nested containers.
  if (!xmlNestingWithin(bytes, kMaxPlistDepth + 2)) {
    setError(error, "the property list nests too deeply");
    return std::nullopt;
  }
  if (!xmlLeavesExact(bytes, error)) return std::nullopt;
  std::lock_guard<std::mutex> lock(plistMutex());
  plist_t root = nullptr;
  plist_from_xml(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  PlistPtr holder(root);
  if (!root) {
    setError(error, "the bytes are not a readable property list");
    return std::nullopt;
  }
  Value out;
  PlistBudget budget;
  if (!toValue(root, out, 0, budget, error)) return std::nullopt;
  return out;
}

std::optional<std::string> plistSerialize(const Value& v, bool binary, std::string* error) {
  if (binary) return writeBinaryPlist(v, error);
  std::lock_guard<std::mutex> lock(plistMutex());
  XMLWrite write;
  PlistPtr root(fromValue(v, 0, write, error));
  if (!root) return std::nullopt;
  char* out = nullptr;
  uint32_t len = 0;
  plist_to_xml(static_cast<plist_t>(root.get()), &out, &len);
  if (!out) {
    setError(error, "the property list could not be written");
    return std::nullopt;
  }
  std::unique_ptr<char, void (*)(char*)> text(out, plist_to_xml_free);
  // The tags and the indentation come on top of the least text reckoned above: a list the readers
  // would refuse as too large is not handed out.
  if (len > kMaxPlistBytes) {
    setError(error, kXMLTooLong);
    return std::nullopt;
  }
  return std::string(out, len);
}

}  // namespace ns
