// The notifications the system sends to the collaboration server, and the send functions through
// which every one of them goes.
//
// Events and their argument lists:
//   "flush"      [ids]                       write out pending edits (TakeSnapshot, timeout 300 s)
//   "kick_all"   [ids] or [ids, reason]      close the documents in every editor (20 s)
//   "set_info"   [ids, {"title": title}]     a document was retitled (20 s)
//   "reload"     [ids]                       reload the documents (20 s)
//   "tab"        [{"object_id", "cmd", "id", "client_id", ...}]  sheet changes (20 s)
//   "fetch_upass" [object id]                ask for a document's password (Rpc, 20 s)
// ids is an array message of object ids (texts).
//
// Every send opens its own connection (SioEmitter), sends, waits for the acknowledgement and
// closes. A failed send is logged and reported only through the result: it never fails the web
// request that caused it. Rpc alone throws (zoltsh::RpcError, code 1000).
//
// Threads: the functions block the calling thread for at most the connection wait plus the
// acknowledgement timeout; nothing is shared between calls.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

#include "common/zoltsh_export.h"
#include "sio/sio_message.h"

namespace zoltsh::utils {

// The argument of a response callback that sends one event: made on the heap by a web handler,
// owned by the host until WebAPIEmitCallback runs, which deletes it.
struct ZOLTSH_API CallbackArg {
  std::string event;
  sio::message::list list;
  int timeout = 20;  // seconds
};

// One connection, one event, its acknowledgement awaited. Failures log "Failed to connect sio" or
// "Failed to send <event>" and give false.
ZOLTSH_API bool Emit(const std::string& event, const sio::message::list& args, int timeout);

// Like Emit; the result is the text of the acknowledgement's first element ("" when the
// acknowledgement is empty or its first element is not a text). Throws zoltsh::RpcError (1000,
// "Failed to send <event>") when the send fails.
ZOLTSH_API std::string Rpc(const std::string& event, const sio::message::list& args, int timeout);

// "flush" with one array of the ids, timeout 300 seconds.
ZOLTSH_API bool TakeSnapshot(const std::vector<std::string>& ids);
ZOLTSH_API bool TakeSnapshot(const std::string& id);

// "kick_all" with [ids] (plus the reason text as a second element when it is not empty) and, only
// when that was acknowledged, "flush" with [ids]: one connection for both, timeout 20 seconds.
// Logs "Failed to connect sio", "Failed to kick all", "Failed to flush". True when both were
// acknowledged.
ZOLTSH_API bool KickAllAndFlush(const sio::message::ptr& ids, const std::string& reason);

// A text gives a one-element array of it; an array one text element per entry (asString);
// anything else an empty array.
ZOLTSH_API sio::message::ptr ParamObjectIdToMessage(const Json::Value& value);

// One text or integer element per entry, in order.
ZOLTSH_API sio::message::ptr VectorToMessage(const std::vector<std::string>& values);
ZOLTSH_API sio::message::ptr VectorToMessage(const std::vector<int>& values);

// {"object_id": objectId, "cmd": cmd, "id": sheetId, "client_id": clientId}, all texts.
ZOLTSH_API sio::message::ptr getTabMessage(const std::string& cmd, const std::string& objectId,
                                           const std::string& sheetId, const std::string& clientId);

// Response callback (the host's APICallback): takes ownership of a heap CallbackArg, sends it with
// Emit and deletes it. A null argument logs "Invalid parameter"; a failed send logs
// "Failed to emit event <event>". Never throws.
ZOLTSH_API void WebAPIEmitCallback(void* arg);

}  // namespace zoltsh::utils
