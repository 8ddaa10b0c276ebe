// The Drive layout: how the object store keeps its objects on disk (internal, not exported).
//
// Everything lives below ZOLTRootPath("/var/packages/ZoltDrive/target/store"):
//
//   <ns>/                          one directory per namespace
//     settings.json                the namespace's indexing settings (ZOLTDriveSettingsIndexSet)
//     locks/<id>.lock              one lock file per object id ever written; never removed, so
//                                  every process flocks the same inode (see FileLock)
//     trash/                       objects being deleted: renamed here, then removed
//     objects/<id>/                one directory per object
//       HEAD                       {"version": "<n>"}: the current version; replaced atomically
//       versions/<n>/              one directory per version n = 1, 2, 3, ...; never changed once
//                                  renamed into place
//         meta.json                the version's object record (below)
//         text/<key>.json          the JSON text of one text key's value
//         metabinary/<name>        one stored file
//       versions/.staging-*        a version being built; never read, removed by the next write
//
// <ns>, <id>, <key> and <name> are the caller's texts with every byte outside [A-Za-z0-9_-]
// written as %XX (upper-case hex), so "../x" or "a/b" is an ordinary name inside its directory.
// Version names are decimal numbers, and a version read from a request must be one.
//
// meta.json holds: "id", "ns", "version", "category", "owner" (uid), "ctime", "mtime" (seconds;
// the object's own times, which a writer may set), "time" (when this version was written),
// "parent_id", "acl" ({} when not shared), "commit_msg" (object), "metatext" (object),
// "metabinary_info" ({name: {"format": "raw", "size": bytes}}), "text_keys" (sorted key array).
//
// A write builds the complete next version in a staging directory (unchanged files are hard
// links to the previous version's, which are immutable), fsyncs it, renames it to versions/<n+1>,
// then replaces HEAD through a temporary file, fsync and rename. Until HEAD is renamed the previous
// version is current and whole; a version directory numbered above HEAD is the leftover of a
// crashed write and is removed by the next one. Readers take no lock: HEAD always names a complete,
// immutable version. Writers hold the object's lock from reading HEAD to replacing it.
//
// Thread safety: the functions keep no state; the error code they set is process-wide.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zoltdrive {

inline constexpr unsigned kSystemUid = 0;
inline constexpr unsigned kAnonymousUid = 4294967295u;
inline constexpr int kPermDeny = 0;
inline constexpr int kPermRo = 100;
inline constexpr int kPermRw = 200;
inline constexpr int kPermOwner = 300;

// Records `code` and `message` as the store's last error, logs the line with the source position,
// and returns false.
bool FailAt(const char* file, int line, int code, const std::string& message);
#define ZOLT_DRIVE_FAIL(code, message) ::zoltdrive::FailAt(ZOLTSH_FILE, __LINE__, (code), (message))

// --- names and paths ---
std::string EncodeName(std::string_view raw);
bool DecodeName(std::string_view encoded, std::string& raw);

std::string StoreDir();
std::string NsDir(const std::string& ns);
std::string ObjectsDir(const std::string& ns);
std::string ObjectDir(const std::string& ns, const std::string& id);
std::string LockPath(const std::string& ns, const std::string& id);
std::string VersionsDir(const std::string& ns, const std::string& id);
std::string VersionDir(const std::string& ns, const std::string& id, const std::string& version);
std::string TextFile(const std::string& versionDir, const std::string& key);
std::string MetaBinaryFile(const std::string& versionDir, const std::string& name);

// --- request members ---
// "ns" and "id" as non-empty strings whose encoded form fits a file name.
bool ParseNs(const Json::Value& request, std::string& ns);
bool ParseName(const Json::Value& value, const char* what, std::string& out);
// "requester": an unsigned 32-bit uid (-1 reads as 4294967295); absent means the system (0).
bool ParseRequester(const Json::Value& request, unsigned& uid);
// "version" (or "ver"): a version name as text or number; "" when absent or empty.
bool ParseVersion(const Json::Value& request, std::string& version);
// A uid member such as "owner" (number or decimal text).
bool ParseUid(const Json::Value& value, unsigned& uid);

// --- reading ---
// The current version of an object; false with code 1007 when the object does not exist.
bool ReadHead(const std::string& ns, const std::string& id, std::string& version);
// The record of one version; false with code 1007 when the version does not exist (or lies
// above HEAD, which marks a crashed write).
bool ReadMeta(const std::string& ns, const std::string& id, const std::string& version,
              const std::string& head, Json::Value& meta);
// Versions of an object, newest first, HEAD and older.
std::vector<std::string> ListVersionNames(const std::string& ns, const std::string& id,
                                          const std::string& head);
// Ids of the objects of a namespace that have a HEAD, in byte order.
std::vector<std::string> ListObjectIds(const std::string& ns);
// One text key of a stored version.
bool ReadText(const std::string& versionDir, const std::string& key, Json::Value& value);

// --- rights ---
// The requester's level on an object of that record: 300 for the system and the owner, else the
// highest of the acl's "public", "vexo_user"[uid] and "vexo_group"[gid] entries (only "public"
// for 4294967295), 0 when the acl is not enabled.
int PermLevel(const Json::Value& meta, unsigned requester);
// The groups whose "vexo_group" entries apply to `uid` (from the accounts service when present).
std::vector<unsigned> GroupsForRights(unsigned uid);
const char* PermWord(int level);  // "owner", "rw", "ro", "deny"
int LevelOfWord(const Json::Value& word);

// --- writing (the caller holds the object's lock) ---
struct NewVersion {
  Json::Value meta;  // record of the new version; "text_keys", "metabinary_info",
                     // "version" and "time" are filled in by CommitVersion
  // Keys to write (a null value removes the key): the caller's text, borrowed for the commit so a
  // large document is never copied, and keys the store adds itself (ownText). Keys of `text` win.
  const Json::Value* text = nullptr;
  Json::Value ownText;
  std::string baseDir;           // version directory whose other keys and files are kept ("": none)
  Json::Value baseTextKeys;      // the text keys of baseDir
  Json::Value baseMetabinary;    // the metabinary_info of baseDir
  Json::Value metabinaryFiles;   // [{"name", "path"}]: files to copy in
  Json::Value removeMetabinary;  // [name]: files not to keep
};
// Writes `next` as the version after `head` ("" for a new object) and makes it current.
// On success `next.meta` is the stored record and `version` its name.
bool CommitVersion(const std::string& ns, const std::string& id, const std::string& head,
                   NewVersion& next, std::string& version);

int64_t Now();

}  // namespace zoltdrive
