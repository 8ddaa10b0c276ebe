#include "json/json_text.h"

#include <fcntl.h>
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace Json {
namespace {

// Builds a Json::Value tree from RapidJSON's SAX events. Numbers arrive as text so they are
// converted exactly and keep their integer or floating type.
class TreeBuilder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, TreeBuilder> {
 public:
  explicit TreeBuilder(Value& root) : root_(root) { stack_.reserve(32); }

  bool Null() { return Put(Value()); }
  bool Bool(bool b) { return Put(Value(b)); }
  bool RawNumber(const char* str, rapidjson::SizeType len, bool) { return Put(ParseNumber(str, len)); }
  bool String(const char* str, rapidjson::SizeType len, bool) { return Put(Value(str, str + len)); }
  bool Key(const char* str, rapidjson::SizeType len, bool) {
    key_ = str;
    keyLen_ = len;
    return true;
  }
  bool StartObject() { return Open(objectValue); }
  bool EndObject(rapidjson::SizeType) { return Close(); }
  bool StartArray() { return Open(arrayValue); }
  bool EndArray(rapidjson::SizeType) { return Close(); }

  bool TooDeep() const { return tooDeep_; }

 private:
  Value& Slot() {
    if (stack_.empty()) return root_;
    Value* top = stack_.back();
    if (top->type() == arrayValue) return top->append(Value());
    return *top->demand(key_, key_ + keyLen_);
  }
  bool Put(Value&& v) {
    Slot() = std::move(v);
    return true;
  }
  bool Open(ValueType type) {
    if (stack_.size() >= kJsonMaxDepth) {
      tooDeep_ = true;
      return false;
    }
    Value& slot = Slot();
    slot = Value(type);
    stack_.push_back(&slot);
    return true;
  }
  bool Close() {
    stack_.pop_back();
    return true;
  }

  static Value ParseDouble(const char* str, size_t len) {
    double d = 0;
    auto [end, ec] = std::from_chars(str, str + len, d);
    if (ec == std::errc() && end == str + len) return Value(d);
    // Out of range: strtod gives the infinity or the denormal/zero that from_chars refuses.
    std::string copy(str, len);
    return Value(std::strtod(copy.c_str(), nullptr));
  }

  static Value ParseNumber(const char* str, size_t len) {
    if (std::memchr(str, '.', len) || std::memchr(str, 'e', len) || std::memchr(str, 'E', len)) {
      return ParseDouble(str, len);
    }
    if (str[0] == '-') {
      int64_t i = 0;
      auto [end, ec] = std::from_chars(str, str + len, i);
      if (ec == std::errc() && end == str + len) return Value(static_cast<Json::Int64>(i));
      return ParseDouble(str, len);
    }
    uint64_t u = 0;
    auto [end, ec] = std::from_chars(str, str + len, u);
    if (ec == std::errc() && end == str + len) {
      if (u <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        return Value(static_cast<Json::Int64>(u));
      }
      return Value(static_cast<Json::UInt64>(u));
    }
    return ParseDouble(str, len);
  }

  Value& root_;
  std::vector<Value*> stack_;
  const char* key_ = "";
  size_t keyLen_ = 0;
  bool tooDeep_ = false;
};

constexpr unsigned kParseFlags = rapidjson::kParseInsituFlag | rapidjson::kParseIterativeFlag |
                                 rapidjson::kParseNumbersAsStringsFlag;

// Parses the NUL-terminated `buffer` in place into `value`.
bool ParseInsitu(Value& value, std::string& buffer, std::string* error) {
  Value parsed;
  TreeBuilder builder(parsed);
  rapidjson::InsituStringStream stream(buffer.data());
  rapidjson::Reader reader;
  rapidjson::ParseResult ok = reader.Parse<kParseFlags>(stream, builder);
  if (!ok) {
    if (error != nullptr) {
      *error = builder.TooDeep() ? "nesting deeper than " + std::to_string(kJsonMaxDepth)
                                 : rapidjson::GetParseError_En(ok.Code());
      *error += " at offset " + std::to_string(ok.Offset());
    }
    return false;
  }
  value.swap(parsed);
  return true;
}

// Appends JSON text to a std::string. Kept as a class so the hot paths stay inline.
class TextWriter {
 public:
  explicit TextWriter(std::string& out) : out_(out) {}

  void Write(const Value& v) {
    switch (v.type()) {
      case nullValue:
        out_.append("null", 4);
        break;
      case booleanValue:
        if (v.asBool()) {
          out_.append("true", 4);
        } else {
          out_.append("false", 5);
        }
        break;
      case intValue:
        WriteInt(v.asInt64());
        break;
      case uintValue:
        WriteInt(v.asUInt64());
        break;
      case realValue:
        WriteDouble(v.asDouble());
        break;
      case stringValue: {
        const char* begin = nullptr;
        const char* end = nullptr;
        v.getString(&begin, &end);
        WriteString(begin, end);
        break;
      }
      case arrayValue: {
        out_.push_back('[');
        bool first = true;
        for (auto it = v.begin(), e = v.end(); it != e; ++it) {
          if (!first) out_.push_back(',');
          first = false;
          Write(*it);
        }
        out_.push_back(']');
        break;
      }
      case objectValue: {
        out_.push_back('{');
        bool first = true;
        for (auto it = v.begin(), e = v.end(); it != e; ++it) {
          if (!first) out_.push_back(',');
          first = false;
          const char* keyEnd = nullptr;
          const char* key = it.memberName(&keyEnd);
          WriteString(key, keyEnd);
          out_.push_back(':');
          Write(*it);
        }
        out_.push_back('}');
        break;
      }
    }
  }

 private:
  template <typename T>
  void WriteInt(T i) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof(buf), i);
    out_.append(buf, static_cast<size_t>(res.ptr - buf));
  }

  void WriteDouble(double d) {
    if (std::isnan(d)) {
      out_.append("null", 4);
      return;
    }
    if (std::isinf(d)) {
      out_.append(d < 0 ? "-1e+9999" : "1e+9999");
      return;
    }
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof(buf), d);
    size_t len = static_cast<size_t>(res.ptr - buf);
    bool integral = std::memchr(buf, '.', len) == nullptr && std::memchr(buf, 'e', len) == nullptr;
    out_.append(buf, len);
    if (integral) out_.append(".0", 2);
  }

  void WriteString(const char* p, const char* end) {
    static constexpr char kHex[] = "0123456789abcdef";
    out_.push_back('"');
    const char* run = p;
    for (; p != end; ++p) {
      unsigned char c = static_cast<unsigned char>(*p);
      if (c >= 0x20 && c != '"' && c != '\\') continue;
      out_.append(run, static_cast<size_t>(p - run));
      run = p + 1;
      switch (c) {
        case '"':
          out_.append("\\\"", 2);
          break;
        case '\\':
          out_.append("\\\\", 2);
          break;
        case '\n':
          out_.append("\\n", 2);
          break;
        case '\r':
          out_.append("\\r", 2);
          break;
        case '\t':
          out_.append("\\t", 2);
          break;
        case '\b':
          out_.append("\\b", 2);
          break;
        case '\f':
          out_.append("\\f", 2);
          break;
        default: {
          char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xf]};
          out_.append(esc, 6);
        }
      }
    }
    out_.append(run, static_cast<size_t>(end - run));
    out_.push_back('"');
  }

  std::string& out_;
};

// Reads the whole file at `path`; false with errno set on failure.
bool ReadWholeFile(const std::string& path, std::string& out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size) + 1);
  char chunk[1 << 16];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof(chunk));
    if (n > 0) {
      out.append(chunk, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      ok = false;
      break;
    }
  }
  int savedErrno = errno;
  ::close(fd);
  errno = savedErrno;
  return ok;
}

}  // namespace

bool fromString(Value& value, std::string_view text, std::string* error) {
  std::string buffer(text);
  return ParseInsitu(value, buffer, error);
}

bool fromFile(Value& value, const std::string& path, std::string* error) {
  std::string buffer;
  if (!ReadWholeFile(path, buffer)) {
    if (error != nullptr) *error = std::string("cannot read ") + path + ": " + std::strerror(errno);
    return false;
  }
  return ParseInsitu(value, buffer, error);
}

void appendString(std::string& out, const Value& value) { TextWriter(out).Write(value); }

std::string toString(const Value& value) {
  std::string out;
  appendString(out, value);
  return out;
}

bool toFile(const Value& value, const std::string& path) {
  std::string text = toString(value);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int savedErrno = n < 0 ? errno : EIO;
      ::close(fd);
      errno = savedErrno;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return ::close(fd) == 0;
}

ArrayIndex searchArrayIndex(const Value& array, const Value& item) {
  if (!array.isArray()) return kNotFound;
  ArrayIndex i = 0;
  for (auto it = array.begin(), e = array.end(); it != e; ++it, ++i) {
    if (*it == item) return i;
  }
  return kNotFound;
}

}  // namespace Json
