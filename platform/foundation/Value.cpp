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

namespace {

// Builds the value from the parser's events, refusing nesting deeper than kMaxJSONDepth as soon
// as it is reached (so nothing deeper is ever built) and keeping where and why parsing stopped.
class Builder {
 public:
  explicit Builder(Value& root) : root_(root) {}

  bool null() { return add(nullptr); }
  bool boolean(bool v) { return add(v); }
  bool number_integer(Value::number_integer_t v) { return add(v); }
  bool number_unsigned(Value::number_unsigned_t v) { return add(v); }
  bool number_float(Value::number_float_t v, const Value::string_t&) { return add(v); }
  bool string(Value::string_t& v) { return add(std::move(v)); }
  bool binary(Value::binary_t& v) { return add(Value::binary(std::move(v))); }
  bool start_object(std::size_t) { return open(Value::object()); }
  bool key(Value::string_t& k) {
    slot_ = &(*stack_.back())[std::move(k)];
    return true;
  }
  bool end_object() { return close(); }
  bool start_array(std::size_t) { return open(Value::array()); }
  bool end_array() { return close(); }
  template <class Exception>
  bool parse_error(std::size_t position, const std::string&, const Exception& e) {
    failure_ = describe(e.what(), position);
    return false;
  }

  const std::string& failure() const { return failure_; }

 private:
  // The parser's message without the text it quotes: the lexer's "last read: '…'" token (which
  // can be a whole string value or key) and the literal of a number that overflowed.
  static std::string describe(std::string what, std::size_t position) {
    // "[json.exception.parse_error.101] parse error at line 1, column 5: syntax error …"
    if (const size_t at = what.find(": syntax error"); at != std::string::npos) {
      what.erase(0, at + 2);
    } else if (const size_t tag = what.find("] "); tag != std::string::npos) {
      what.erase(0, tag + 2);
    }
    if (const size_t quoted = what.find("; last read: '"); quoted != std::string::npos) what.erase(quoted);
    if (const size_t quoted = what.find(" parsing '"); quoted != std::string::npos) what.erase(quoted);
    // The parser counts the characters it read; the offset of the one it stopped at is one less.
    return "malformed JSON at byte " + std::to_string(position > 0 ? position - 1 : 0) + ": " + what;
  }

  Value* place(Value v) {
    if (stack_.empty()) {
      root_ = std::move(v);
      return &root_;
    }
    Value& parent = *stack_.back();
    if (parent.is_array()) {
      auto& items = parent.get_ref<Value::array_t&>();
      items.push_back(std::move(v));
      return &items.back();
    }
    *slot_ = std::move(v);
    return slot_;
  }
  bool add(Value v) {
    place(std::move(v));
    return true;
  }
  bool open(Value container) {
    if (stack_.size() >= kMaxJSONDepth) {
      failure_ = "JSON text nests deeper than " + std::to_string(kMaxJSONDepth) + " levels";
      return false;
    }
    stack_.push_back(place(std::move(container)));
    return true;
  }
  bool close() {
    stack_.pop_back();
    return true;
  }

  Value& root_;
  std::vector<Value*> stack_;
  Value* slot_ = nullptr;
  std::string failure_;
};

}  // namespace

std::optional<Value> parseJSON(std::string_view text, bool allowFragments, std::string* error) {
  Value v;
  Builder builder(v);
  bool parsed = false;
  try {
    parsed = Value::sax_parse(text.begin(), text.end(), &builder, Value::input_format_t::json,
                              /*strict=*/true, /*ignore_comments=*/false);
  } catch (const nlohmann::json::exception& e) {
    // The parser reports its faults through the builder; anything else is still a refusal.
    if (error) *error = builder.failure().empty() ? "malformed JSON" : builder.failure();
    return std::nullopt;
  }
  if (!parsed) {
    if (error) *error = builder.failure().empty() ? "malformed JSON" : builder.failure();
    return std::nullopt;
  }
  if (!allowFragments && !v.is_object() && !v.is_array()) {
    if (error) *error = "JSON text did not start with array or object and option to allow fragments not set.";
    return std::nullopt;
  }
  return v;
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
