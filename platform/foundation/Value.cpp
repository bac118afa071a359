#include "platform/foundation/Value.h"

#include <cstring>

#include "platform/foundation/NSString.h"

namespace value {

Value data(const Bytes& bytes) { return Value::binary(Bytes(bytes)); }

Value data(std::string_view bytes) {
  return Value::binary(Bytes(bytes.begin(), bytes.end()));
}

bool isData(const Value& v) { return v.is_binary() && !v.get_binary().has_subtype(); }

Bytes dataBytes(const Value& v) {
  if (!isData(v)) return {};
  return Bytes(v.get_binary().begin(), v.get_binary().end());
}

Value date(double seconds) {
  Bytes raw(sizeof(double));
  std::memcpy(raw.data(), &seconds, sizeof(double));
  return Value::binary(std::move(raw), kDateSubtype);
}

bool isDate(const Value& v) {
  return v.is_binary() && v.get_binary().has_subtype() && v.get_binary().subtype() == kDateSubtype &&
         v.get_binary().size() == sizeof(double);
}

double dateSeconds(const Value& v) {
  if (!isDate(v)) return 0;
  double d;
  std::memcpy(&d, v.get_binary().data(), sizeof(double));
  return d;
}

bool isNumber(const Value& v) { return v.is_number(); }

std::optional<Value> parseJSON(std::string_view text, bool allowFragments, std::string* error) {
  try {
    Value v = Value::parse(text.begin(), text.end(), nullptr, true, false);
    if (!allowFragments && !v.is_object() && !v.is_array()) {
      if (error) *error = "JSON text did not start with array or object and option to allow fragments not set.";
      return std::nullopt;
    }
    return v;
  } catch (const nlohmann::json::exception& e) {
    if (error) *error = e.what();
    return std::nullopt;
  }
}

namespace {
Value exportable(const Value& v) {
  if (isDate(v)) return dateSeconds(v);
  if (v.is_binary()) return ns::base64Encode(Bytes(v.get_binary().begin(), v.get_binary().end()));
  if (v.is_object()) {
    Value out = Value::object();
    for (auto it = v.begin(); it != v.end(); ++it) out[it.key()] = exportable(it.value());
    return out;
  }
  if (v.is_array()) {
    Value out = Value::array();
    for (const auto& e : v) out.push_back(exportable(e));
    return out;
  }
  return v;
}
}  // namespace

std::string toJSON(const Value& v, bool pretty) {
  const Value out = exportable(v);
  return pretty ? out.dump(2, ' ', false, Value::error_handler_t::replace)
                : out.dump(-1, ' ', false, Value::error_handler_t::replace);
}

}  // namespace value
