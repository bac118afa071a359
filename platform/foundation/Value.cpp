#include "platform/foundation/Value.h"

#include <cstring>

#include "platform/foundation/NSDate.h"
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

Value date(double secondsSince1970) {
  return dateSinceReferenceDate(secondsSince1970 - ns::kTimeIntervalSince1970AtReferenceDate);
}

Value dateSinceReferenceDate(double seconds) {
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
  return dateSecondsSinceReferenceDate(v) + ns::kTimeIntervalSince1970AtReferenceDate;
}

double dateSecondsSinceReferenceDate(const Value& v) {
  if (!isDate(v)) return 0;
  double d;
  std::memcpy(&d, v.get_binary().data(), sizeof(double));
  return d;
}

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

// The JSON text of a scalar, a string or an object key, as the library writes it.
std::string scalarText(const Value& v) { return v.dump(-1, ' ', false, Value::error_handler_t::replace); }

}  // namespace

// Written with a list of pending work rather than by recursion, so that any depth is safe on any
// thread's stack; the text is the library's own, scalar by scalar.
std::string toJSON(const Value& root, bool pretty) {
  struct Task {
    const Value* value;  // null: emit `text`
    std::string text;
    size_t level;
  };
  std::string out;
  std::vector<Task> tasks;
  tasks.push_back({&root, {}, 0});
  auto indent = [pretty](size_t level) { return pretty ? "\n" + std::string(2 * level, ' ') : std::string(); };
  while (!tasks.empty()) {
    Task task = std::move(tasks.back());
    tasks.pop_back();
    if (!task.value) {
      out += task.text;
      continue;
    }
    const Value& v = *task.value;
    if (isDate(v)) {
      out += scalarText(Value(dateSeconds(v)));
    } else if (v.is_binary()) {
      out += scalarText(Value(ns::base64Encode(Bytes(v.get_binary().begin(), v.get_binary().end()))));
    } else if ((v.is_array() || v.is_object()) && !v.empty()) {
      const bool object = v.is_object();
      out += object ? '{' : '[';
      // Pushed in reverse: the last thing to write goes first.
      tasks.push_back({nullptr, indent(task.level) + (object ? '}' : ']'), 0});
      std::vector<Task> items;
      for (auto it = v.begin(); it != v.end(); ++it) {
        std::string before = (items.empty() ? "" : ",") + indent(task.level + 1);
        if (object) before += scalarText(Value(it.key())) + (pretty ? ": " : ":");
        items.push_back({nullptr, std::move(before), 0});
        items.push_back({&it.value(), {}, task.level + 1});
      }
      for (auto it = items.rbegin(); it != items.rend(); ++it) tasks.push_back(std::move(*it));
    } else {
      out += scalarText(v);  // empty containers write as "[]" and "{}"
    }
  }
  return out;
}

}  // namespace value
