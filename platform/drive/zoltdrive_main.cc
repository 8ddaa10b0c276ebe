// zoltdrive: the command-line tool of the Drive object store, for operators, tests and demos.
//
//   zoltdrive [--root DIR] [--requester UID] COMMAND [OPTIONS]
//
// --root sets the appliance root (default: the environment's ZOLT_ROOT); --requester the uid the
// tool acts as (default 0, the system). Commands:
//   create    --ns NS [--id ID] --owner UID --text FILE [--metatext FILE] [--category C]
//             [--parent-id P] [--commit-msg M]       prints the new object (without its text)
//   show      --ns NS --id ID [--version V] [--no-text]   prints the object as one JSON object
//   versions  --ns NS --id ID [--listable] [--offset N] [--limit N]
//                                                    prints the versions, newest first
//   list      --ns NS [--owner UID] [--category C] [--offset N] [--limit N] [--with-text]
//                                                    prints the objects as a JSON array
//   set       --ns NS --id ID --key K --value-file FILE [--commit-msg M]   sets one text key
//   set-acl   --ns NS --id ID --acl FILE [--commit-msg M]   sets the acl ({} stops sharing)
//   delete    --ns NS --id ID
//   text-path --ns NS --id ID --key K                prints the file holding that text key
// FILE arguments hold JSON text (--text and --metatext: an object of key to value). A commit
// message M is a JSON object text, or any other text, which is stored as {"message": M}.
// Exit status: 0 on success, 1 when the store refuses or fails (message on stderr), 2 for a
// usage error.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "drive/zolt_drive.h"
#include "json/json_text.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: zoltdrive [--root DIR] [--requester UID] COMMAND [OPTIONS]\n"
    "  create    --ns NS [--id ID] --owner UID --text FILE [--metatext FILE] [--category C]\n"
    "            [--parent-id P] [--commit-msg M]\n"
    "  show      --ns NS --id ID [--version V] [--no-text]\n"
    "  versions  --ns NS --id ID [--listable] [--offset N] [--limit N]\n"
    "  list      --ns NS [--owner UID] [--category C] [--offset N] [--limit N] [--with-text]\n"
    "  set       --ns NS --id ID --key K --value-file FILE [--commit-msg M]\n"
    "  set-acl   --ns NS --id ID --acl FILE [--commit-msg M]\n"
    "  delete    --ns NS --id ID\n"
    "  text-path --ns NS --id ID --key K\n";

const std::set<std::string> kFlags = {"--no-text", "--listable", "--with-text", "--help"};

class UsageError {
 public:
  explicit UsageError(std::string message) : message_(std::move(message)) {}
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

class Args {
 public:
  Args(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
      std::string arg = argv[i];
      if (arg.rfind("--", 0) == 0) {
        if (kFlags.count(arg) != 0) {
          flags_.insert(arg);
          continue;
        }
        if (i + 1 >= argc) throw UsageError(arg + " needs a value");
        if (options_.count(arg) != 0) throw UsageError(arg + " given twice");
        options_[arg] = argv[++i];
      } else if (command_.empty()) {
        command_ = arg;
      } else {
        throw UsageError("unexpected argument \"" + arg + "\"");
      }
    }
  }

  const std::string& command() const { return command_; }
  bool flag(const std::string& name) {
    used_.insert(name);
    return flags_.count(name) != 0;
  }
  bool has(const std::string& name) {
    used_.insert(name);
    return options_.count(name) != 0;
  }
  std::string get(const std::string& name) {
    if (!has(name)) throw UsageError(command_ + " needs " + name);
    return options_[name];
  }
  std::string get(const std::string& name, const std::string& fallback) {
    return has(name) ? options_[name] : fallback;
  }
  // Refuses options the command did not ask for, so a typo is not silently ignored.
  void checkAllUsed() const {
    for (const auto& [name, value] : options_) {
      if (used_.count(name) == 0) throw UsageError(command_ + " does not take " + name);
    }
    for (const std::string& name : flags_) {
      if (used_.count(name) == 0) throw UsageError(command_ + " does not take " + name);
    }
  }

 private:
  std::string command_;
  std::map<std::string, std::string> options_;
  std::set<std::string> flags_;
  std::set<std::string> used_;
};

Json::Value ReadJsonFile(const std::string& option, const std::string& path) {
  Json::Value value;
  std::string error;
  if (!Json::fromFile(value, path, &error)) {
    throw UsageError(option + " " + path + ": " + error);
  }
  return value;
}

Json::Value ParseUidOption(const std::string& option, const std::string& text) {
  char* end = nullptr;
  errno = 0;
  unsigned long long n = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || n > 4294967295ull || text[0] == '-') {
    throw UsageError(option + " must be a uid, not \"" + text + "\"");
  }
  return Json::Value(static_cast<Json::UInt>(n));
}

Json::Value ParseCountOption(const std::string& option, const std::string& text) {
  char* end = nullptr;
  errno = 0;
  long long n = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || n < 0) {
    throw UsageError(option + " must be a number, not \"" + text + "\"");
  }
  return Json::Value(static_cast<Json::Int64>(n));
}

Json::Value CommitMessage(const std::string& text) {
  Json::Value msg;
  if (Json::fromString(msg, text) && msg.isObject()) return msg;
  msg = Json::Value(Json::objectValue);
  msg["message"] = text;
  return msg;
}

void Print(const Json::Value& value) {
  std::string text = Json::toString(value);
  text.push_back('\n');
  std::fwrite(text.data(), 1, text.size(), stdout);
}

int StoreFailed(const std::string& what) {
  std::fprintf(stderr, "zoltdrive: %s failed: %s (code %d)\n", what.c_str(),
               ZOLTDriveErrMsgGet().c_str(), ZOLTDriveErrCodeGet());
  return kExitFailed;
}

int Run(Args& args) {
  Json::Value request(Json::objectValue);
  if (args.has("--root")) ::setenv("ZOLT_ROOT", args.get("--root").c_str(), 1);
  request["requester"] = args.has("--requester")
                             ? ParseUidOption("--requester", args.get("--requester"))
                             : Json::Value(0u);
  const std::string& command = args.command();
  if (command.empty() || args.flag("--help")) {
    std::fputs(kUsage, command.empty() ? stderr : stdout);
    return command.empty() ? kExitUsage : 0;
  }
  request["ns"] = args.get("--ns");

  if (command == "create") {
    if (args.has("--id")) request["id"] = args.get("--id");
    request["owner"] = ParseUidOption("--owner", args.get("--owner"));
    request["text"] = ReadJsonFile("--text", args.get("--text"));
    if (!request["text"].isObject()) throw UsageError("--text must hold a JSON object");
    if (args.has("--metatext")) {
      request["metatext"] = ReadJsonFile("--metatext", args.get("--metatext"));
      if (!request["metatext"].isObject()) throw UsageError("--metatext must hold a JSON object");
    }
    if (args.has("--category")) request["category"] = args.get("--category");
    if (args.has("--parent-id")) request["parent_id"] = args.get("--parent-id");
    if (args.has("--commit-msg")) request["commit_msg"] = CommitMessage(args.get("--commit-msg"));
    args.checkAllUsed();
    ZOLT_DRIVE_OBJECT obj;
    if (!obj.Create(request)) return StoreFailed("create");
    Json::Value out;
    obj.toJson(Json::Value(), out, false);
    Print(out);
    return 0;
  }
  if (command == "show") {
    request["id"] = args.get("--id");
    if (args.has("--version")) request["version"] = args.get("--version");
    const bool withText = !args.flag("--no-text");
    if (!withText) {
      request["field"]["text"] = false;
      request["field"]["metatext"] = true;
      request["field"]["metabinary_info"] = true;
    }
    args.checkAllUsed();
    ZOLT_DRIVE_OBJECT obj;
    if (!obj.Get(request)) return StoreFailed("show");
    Json::Value out;
    obj.toJson(Json::Value(), out, withText);
    Print(out);
    return 0;
  }
  if (command == "versions") {
    request["id"] = args.get("--id");
    if (args.flag("--listable")) request["filter"]["listable"] = true;
    if (args.has("--offset"))
      request["offset"] = ParseCountOption("--offset", args.get("--offset"));
    if (args.has("--limit")) request["limit"] = ParseCountOption("--limit", args.get("--limit"));
    args.checkAllUsed();
    ZOLT_DRIVE_OBJECT_VERSION_LIST list;
    int total = 0;
    if (list.ListVersion(request, total) < 0) return StoreFailed("versions");
    Json::Value out(Json::arrayValue);
    for (const ZOLT_DRIVE_OBJECT_VERSION& v : list)
      v.toJson(Json::Value(), out.append(Json::Value()));
    Print(out);
    return 0;
  }
  if (command == "list") {
    if (args.has("--owner")) {
      request["filter"]["owner_uid"] = ParseUidOption("--owner", args.get("--owner"));
    }
    if (args.has("--category")) request["filter"]["category"] = args.get("--category");
    if (args.has("--offset"))
      request["offset"] = ParseCountOption("--offset", args.get("--offset"));
    if (args.has("--limit")) request["limit"] = ParseCountOption("--limit", args.get("--limit"));
    const bool withText = args.flag("--with-text");
    request["field"]["text"] = withText;
    request["field"]["metatext"] = true;
    request["field"]["metabinary_info"] = true;
    args.checkAllUsed();
    ZOLT_DRIVE_OBJECT_LIST list;
    int total = 0;
    if (list.ListObject(request, total) < 0) return StoreFailed("list");
    Json::Value out(Json::arrayValue);
    for (const ZOLT_DRIVE_OBJECT& obj : list) {
      obj.toJson(Json::Value(), out.append(Json::Value()), withText);
    }
    Print(out);
    return 0;
  }
  if (command == "set" || command == "set-acl") {
    request["id"] = args.get("--id");
    if (command == "set") {
      request["text"][args.get("--key")] = ReadJsonFile("--value-file", args.get("--value-file"));
    } else {
      request["acl"] = ReadJsonFile("--acl", args.get("--acl"));
    }
    if (args.has("--commit-msg")) request["commit_msg"] = CommitMessage(args.get("--commit-msg"));
    args.checkAllUsed();
    ZOLT_DRIVE_OBJECT obj;
    if (!obj.Set(request)) return StoreFailed(command);
    Json::Value out;
    obj.toJson(Json::Value(), out, false);
    Print(out);
    return 0;
  }
  if (command == "delete") {
    request["id"] = args.get("--id");
    args.checkAllUsed();
    if (!ZOLT_DRIVE_OBJECT::Delete(request)) return StoreFailed("delete");
    return 0;
  }
  if (command == "text-path") {
    const std::string id = args.get("--id");
    const std::string key = args.get("--key");
    args.checkAllUsed();
    std::string path;
    if (!ZOLTDriveGetTextPath(request["ns"].asString(), id, key, path)) {
      return StoreFailed("text-path");
    }
    std::printf("%s\n", path.c_str());
    return 0;
  }
  throw UsageError("unknown command \"" + command + "\"");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Args args(argc, argv);
    return Run(args);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "zoltdrive: %s\n%s", e.message().c_str(), kUsage);
    return kExitUsage;
  }
}
