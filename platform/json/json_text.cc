#include "json/json_text.h"

#include <fcntl.h>
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
  bool RawNumber(const char* str, rapidjson::SizeType len, bool) {
    Value number;
    if (!ParseNumber(str, len, number)) {
      failure_ = "number too big for a double";
      return false;
    }
    return Put(std::move(number));
  }
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

  // Why the builder stopped the parse, or null when it did not.
  const char* Failure() const { return failure_; }

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
      failure_ = "nesting too deep";
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

  // False for a number beyond the double range, which no Json::Value can hold.
  static bool ParseDouble(const char* str, size_t len, Value& out) {
    double d = 0;
    auto [end, ec] = std::from_chars(str, str + len, d);
    if (ec == std::errc() && end == str + len) {
      out = Value(d);
      return true;
    }
    // Out of range: below the smallest denormal strtod gives the zero from_chars refuses; above
    // the largest double it gives an infinity, which is refused.
    std::string copy(str, len);
    d = std::strtod(copy.c_str(), nullptr);
    if (!std::isfinite(d)) return false;
    out = Value(d);
    return true;
  }

  static bool ParseNumber(const char* str, size_t len, Value& out) {
    if (std::memchr(str, '.', len) || std::memchr(str, 'e', len) || std::memchr(str, 'E', len)) {
      return ParseDouble(str, len, out);
    }
    if (str[0] == '-') {
      int64_t i = 0;
      auto [end, ec] = std::from_chars(str, str + len, i);
      if (ec != std::errc() || end != str + len) return ParseDouble(str, len, out);
      out = Value(static_cast<Json::Int64>(i));
      return true;
    }
    uint64_t u = 0;
    auto [end, ec] = std::from_chars(str, str + len, u);
    if (ec != std::errc() || end != str + len) return ParseDouble(str, len, out);
    if (u <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      out = Value(static_cast<Json::Int64>(u));
    } else {
      out = Value(static_cast<Json::UInt64>(u));
    }
    return true;
  }

  Value& root_;
  std::vector<Value*> stack_;
  const char* key_ = "";
  size_t keyLen_ = 0;
  const char* failure_ = nullptr;
};

// The recursive parser descends once per nesting level; the builder refuses to open more than
// kJsonMaxDepth levels, which bounds that recursion.
constexpr unsigned kParseFlags =
    rapidjson::kParseInsituFlag | rapidjson::kParseNumbersAsStringsFlag;

// Parses the NUL-terminated `buffer` in place into `value`.
bool ParseInsitu(Value& value, std::string& buffer, std::string* error) {
  // The in-place stream ends at the first NUL; a NUL byte is never part of a JSON text.
  if (const void* nul = std::memchr(buffer.data(), '\0', buffer.size())) {
    if (error != nullptr) {
      *error =
          "NUL byte at offset " + std::to_string(static_cast<const char*>(nul) - buffer.data());
    }
    return false;
  }
  Value parsed;
  TreeBuilder builder(parsed);
  rapidjson::InsituStringStream stream(buffer.data());
  rapidjson::Reader reader;
  rapidjson::ParseResult ok = reader.Parse<kParseFlags>(stream, builder);
  if (!ok) {
    if (error != nullptr) {
      *error =
          builder.Failure() != nullptr ? builder.Failure() : rapidjson::GetParseError_En(ok.Code());
      *error += " at offset " + std::to_string(ok.Offset());
    }
    return false;
  }
  value.swap(parsed);
  return true;
}

// Appends JSON text to a std::string. The string is grown ahead of the writes and used as a raw
// buffer (pos_ is the end of the text); the destructor trims it to the text.
class TextWriter {
 public:
  explicit TextWriter(std::string& out) : out_(out), pos_(out.size()) {}
  ~TextWriter() { out_.resize(pos_); }
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  void Write(const Value& v) {
    switch (v.type()) {
      case nullValue:
        Put("null", 4);
        break;
      case booleanValue:
        if (v.asBool()) {
          Put("true", 4);
        } else {
          Put("false", 5);
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
        Put('[');
        bool first = true;
        for (auto it = v.begin(), e = v.end(); it != e; ++it) {
          if (!first) Put(',');
          first = false;
          Write(*it);
        }
        Put(']');
        break;
      }
      case objectValue: {
        Put('{');
        bool first = true;
        for (auto it = v.begin(), e = v.end(); it != e; ++it) {
          if (!first) Put(',');
          first = false;
          const char* keyEnd = nullptr;
          const char* key = it.memberName(&keyEnd);
          WriteString(key, keyEnd);
          Put(':');
          Write(*it);
        }
        Put('}');
        break;
      }
    }
  }

 private:
  // Makes room for n more bytes and returns where they go.
  char* Room(size_t n) {
    if (out_.size() - pos_ < n) out_.resize(std::max(out_.size() * 2, pos_ + n + 4096));
    return out_.data() + pos_;
  }
  void Put(char c) { *Room(1) = c, ++pos_; }
  void Put(const char* p, size_t n) {
    std::memcpy(Room(n), p, n);
    pos_ += n;
  }

  template <typename T>
  void WriteInt(T i) {
    char* p = Room(24);
    pos_ += static_cast<size_t>(std::to_chars(p, p + 24, i).ptr - p);
  }

  void WriteDouble(double d) {
    if (!std::isfinite(d)) {
      Put("null", 4);
      return;
    }
    char* p = Room(32);
    size_t len = static_cast<size_t>(std::to_chars(p, p + 30, d).ptr - p);
    if (std::memchr(p, '.', len) == nullptr && std::memchr(p, 'e', len) == nullptr) {
      p[len++] = '.';
      p[len++] = '0';
    }
    pos_ += len;
  }

  void WriteString(const char* p, const char* end) {
    static constexpr char kHex[] = "0123456789abcdef";
    Put('"');
    const char* run = p;
    for (; p != end; ++p) {
      unsigned char c = static_cast<unsigned char>(*p);
      if (c >= 0x20 && c != '"' && c != '\\') continue;
      Put(run, static_cast<size_t>(p - run));
      run = p + 1;
      switch (c) {
        case '"':
          Put("\\\"", 2);
          break;
        case '\\':
          Put("\\\\", 2);
          break;
        case '\n':
          Put("\\n", 2);
          break;
        case '\r':
          Put("\\r", 2);
          break;
        case '\t':
          Put("\\t", 2);
          break;
        case '\b':
          Put("\\b", 2);
          break;
        case '\f':
          Put("\\f", 2);
          break;
        default: {
          const char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xf]};
          Put(esc, 6);
        }
      }
    }
    Put(run, static_cast<size_t>(end - run));
    Put('"');
  }

  std::string& out_;
  size_t pos_;
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
