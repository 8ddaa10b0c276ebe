#include "snapshot_handler.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "common/drive_param.h"
#include "common/extra_auth.h"
#include "common/json_utils.h"
#include "common/named_mutex.h"
#include "common/runas.h"
#include "common/sio_utils.h"
#include "common/zoltsh_error.h"
#include "common/zoltsh_log.h"
#include "core/zolt_fd.h"
#include "encrypt/zoltsh_encrypt.h"
#include "json/json_text.h"
#include "snapshot/executor.h"

namespace zoltsh::webapi_handler {
namespace {

constexpr int kLockWait = 5000000;  // microseconds
constexpr const char* kTabEvent = "tab";
constexpr int kTabTimeout = 20;  // seconds

// The document's named lock, taken or 1000 "Cannot acquire mutex". Released by the destructor on
// every path.
std::unique_ptr<utils::NamedMutex> LockDocument(const std::string& objectId) {
  auto lock = std::make_unique<utils::NamedMutex>(objectId);
  if (!lock->Acquire(kLockWait)) {
    ZOLTSH_THROW(ZoltError, "Cannot acquire mutex", ZOLTSH_ERR_OPERATION_FAILED);
  }
  return lock;
}

// getTabMessage plus "title".
sio::message::ptr TabMessage(const std::string& cmd, const std::string& objectId,
                             const std::string& sheetId, const std::string& clientId,
                             const std::string* title) {
  sio::message::ptr payload = utils::getTabMessage(cmd, objectId, sheetId, clientId);
  if (title != nullptr) payload->insert("title", *title);
  return payload;
}

// Reads the whole regular file at path into text. False when it cannot be opened, is not a
// regular file (a FIFO, a device, a directory or a symbolic link) or cannot be read.
bool ReadRegularFile(const std::string& path, std::string& text) {
  ZOLTUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  text.clear();
  text.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof(buffer));
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.append(buffer, static_cast<size_t>(n));
  }
}

// The batch of a queue file the collaboration server wrote: one command per line. Lines that are
// not JSON are skipped. The file is deleted whatever happens; 1006 for an empty path, 1000 when
// the file could not be read (nothing is executed then).
Json::Value ReadQueueFile(const std::string& path) {
  if (path.empty())
    ZOLTSH_THROW(InvalidParameter, "Queue filename is empty", ZOLTSH_ERR_USER_INPUT);
  Json::Value batch(Json::arrayValue);
  bool opened = false;
  IF_RUN_AS(0, 0) {
    std::string text;
    if (!ReadRegularFile(path, text)) {
      ZOLTSH_LOG_ERR("Failed to open %s", path.c_str());
    } else {
      opened = true;
      std::string_view rest(text);
      unsigned skipped = 0;
      while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        Json::Value command;
        if (Json::fromString(command, line)) {
          batch.append(std::move(command));
        } else if (line.find_first_not_of(" \t\r") != std::string_view::npos) {
          ++skipped;
        }
      }
      if (skipped > 0) ZOLTSH_LOG_WARN("%u lines of %s are not JSON", skipped, path.c_str());
    }
  }
  IF_RUN_AS(0, 0) {
    if (::unlink(path.c_str()) != 0) ZOLTSH_LOG_ERR("Failed to delete queueFile. %m");
  }
  if (!opened) ZOLTSH_THROW(ZoltError, "Failed to parse queue file", ZOLTSH_ERR_OPERATION_FAILED);
  return batch;
}

// Marks in selection every sheet the commands name, the actions of compound commands included
// (one level: the executor rejects a compound inside a compound).
void SelectCommandSheets(const Json::Value& commands, Json::Value& selection, int depth) {
  if (depth > 1) {
    ZOLTSH_LOG_ERR("Compound can not contain a compound command");
    return;
  }
  for (const Json::Value& command : commands) {
    if (!command.isObject()) continue;
    const Json::Value& cmd = command["cmd"];
    if (cmd.isString() && cmd.asString() == "compound") {
      const Json::Value& actions = command["actions"];
      if (actions.isArray()) SelectCommandSheets(actions, selection, depth + 1);
      continue;
    }
    const Json::Value& id = command["id"];
    if (id.isString()) selection[id.asString()] = true;
  }
}

}  // namespace

void SnapshotHandler::NotAvailable(const char* method) {
  ZOLTSH_LOG_ERR("method %s is not available in this build", method);
  ZOLTSH_THROW(ZoltError, std::string("method not available: ") + method,
               ZOLTSH_ERR_OPERATION_FAILED);
}

std::string SnapshotHandler::ParamString(const char* name) const {
  const Json::Value& value = m_request->GetParamRef(name, Json::Value::nullSingleton());
  return value.isString() ? value.asString() : std::string();
}

void SnapshotHandler::RegisterTabEvent(sio::message::ptr payload) {
  auto arg = std::make_unique<utils::CallbackArg>();
  arg->event = kTabEvent;
  arg->list.push(std::move(payload));
  arg->timeout = kTabTimeout;
  // The host owns the argument from here on; WebAPIEmitCallback deletes it.
  m_response->SetCallbackFunc(utils::WebAPIEmitCallback, arg.release());
}

Json::Value SnapshotHandler::GetDriveParamForIndex(const std::string& objectId) {
  Json::Value request = GetDriveParamTmplate(m_request->GetLoginUID(), objectId);
  request["field"] = Json::Value(Json::objectValue);
  request["field"]["text"]["index"] = true;
  request["field"]["metatext"] = true;
  return request;
}

void SnapshotHandler::SaveSpreadSheetToDrive(SpreadSheet& spreadsheet,
                                             const std::string& objectId) {
  Json::Value request = GetDriveParamTmplate(m_request->GetLoginUID(), objectId);
  request["commit_msg"]["listable"] = true;
  request["commit_msg"]["editors"] = Json::Value(Json::arrayValue);
  request["commit_msg"]["editors"].append(static_cast<Json::UInt>(m_request->GetLoginUID()));
  spreadsheet.SaveToDrive(request, ParamString("password"));
}

void SnapshotHandler::ChangeDocument(const std::string& objectId, const Json::Value& load,
                                     const std::function<void(SpreadSheet&)>& change) {
  auto lock = LockDocument(objectId);
  SpreadSheet spreadsheet;
  spreadsheet.LoadFromDrive(load, ParamString("password"));
  change(spreadsheet);
  SaveSpreadSheetToDrive(spreadsheet, objectId);
  lock->Release();
}

void SnapshotHandler::GetSheet_v1() {
  const std::string objectId = ParamString("object_id");
  std::string sheetId = ParamString("sheet_id");

  SpreadSheet spreadsheet;
  spreadsheet.LoadFromDrive(GetDriveParamForIndex(objectId), ParamString("password"));
  if (sheetId.empty()) {
    const Json::Value& order = spreadsheet.GetOrder();
    if (!order.isArray() || order.empty() || !order[0].isString()) {
      ZOLTSH_THROW(SheetNotFound, "sheet not found", ZOLTSH_ERR_SHEET_NOT_FOUND);
    }
    sheetId = order[0].asString();
  }
  // Only "sh_<digits>" ids have a path, so the id is safe to put in a header line.
  const std::string path = SpreadSheet::GetSheetPath(objectId, sheetId);

  m_response->SetEnableOutput(false);
  if (!spreadsheet.IsEncrypt()) {
    if (!ZOLT::HTTP::FileOutputerHelper::SetFastOutputEnabled(false)) {
      ZOLTSH_THROW(ZoltError, "", ZOLTSH_ERR_OPERATION_FAILED);
    }
    ZOLT::APIDownload download(m_response);
    download.SetMimeType("application/json");
    download.SetHeader("X-Spreadsheet-Sheet-Id", sheetId);
    bool opened;
    {
      ENTERCriticalSection;
      opened = download.Output(path);
      LEAVECriticalSection;
    }
    if (!opened) {
      ZOLTSH_THROW(SheetNotFound, "sheet not found", ZOLTSH_ERR_SHEET_NOT_FOUND);
    }
  } else {
    std::fputs("Content-Type: application/json\r\n", stdout);
    std::fputs(("X-Spreadsheet-Sheet-Id:" + sheetId + "\r\n").c_str(), stdout);
    std::fputs("\r\n", stdout);
    bool decrypted;
    {
      ENTERCriticalSection;
      decrypted =
          ZOLT_SH_ENCRYPT::DecryptFileFromBase64ToStream(path, spreadsheet.GetSysPass(), stdout);
      LEAVECriticalSection;
    }
    std::fflush(stdout);
    if (!decrypted) ZOLTSH_THROW(NoPassError, "no Password", ZOLTSH_ERR_PASSWORD);
  }
  m_response->SetSuccess(Json::Value());
}

void SnapshotHandler::CreateSheet_v1() {
  const std::string objectId = ParamString("object_id");
  const std::string title = ParamString("title");
  const std::string clientId = ParamString("client_id");

  std::string sheetId;
  ChangeDocument(objectId, GetDriveParamForIndex(objectId),
                 [&](SpreadSheet& spreadsheet) { sheetId = spreadsheet.CreateSheet(title, true); });
  Json::Value data(Json::objectValue);
  data["object_id"] = objectId;
  data["sheet_id"] = sheetId;
  m_response->SetSuccess(data);
  RegisterTabEvent(TabMessage("add", objectId, sheetId, clientId, &title));
}

void SnapshotHandler::DupSheet_v1() {
  const std::string objectId = ParamString("object_id");
  const std::string sourceId = ParamString("sheet_id");
  const std::string title = ParamString("title");
  const std::string clientId = ParamString("client_id");

  // The collaboration server writes out its pending edits first, so the copy has them; a failed
  // flush is logged by the sender and does not stop the copy.
  utils::TakeSnapshot(objectId);

  std::string sheetId;
  Json::Value load = GetDriveParamForIndex(objectId);
  load["field"]["text"][sourceId] = true;
  ChangeDocument(objectId, load, [&](SpreadSheet& spreadsheet) {
    sheetId = spreadsheet.DupSheet(sourceId, title);
  });
  Json::Value data(Json::objectValue);
  data["object_id"] = objectId;
  data["sheet_id"] = sheetId;
  m_response->SetSuccess(data);
  RegisterTabEvent(TabMessage("add", objectId, sheetId, clientId, &title));
}

void SnapshotHandler::UpdateSheet_v1() {
  const std::string objectId = ParamString("object_id");
  const std::string sheetId = ParamString("sheet_id");
  const auto titleParam = m_request->GetAndCheckString("title", ZOLT::API_PARAM_OPTIONAL);
  const bool hasTitle = titleParam.IsSet() && !titleParam.IsInvalid();
  const std::string title = titleParam.Get();
  const std::string clientId = ParamString("client_id");

  ChangeDocument(objectId, GetDriveParamForIndex(objectId), [&](SpreadSheet& spreadsheet) {
    if (hasTitle) spreadsheet.SetSheetTitle(sheetId, title);
  });
  m_response->SetSuccess(Json::Value());
  if (hasTitle) RegisterTabEvent(TabMessage("rename", objectId, sheetId, clientId, &title));
}

void SnapshotHandler::DeleteSheet_v1() {
  const std::string objectId = ParamString("object_id");
  const std::string sheetId = ParamString("sheet_id");
  const std::string clientId = ParamString("client_id");

  ChangeDocument(objectId, GetDriveParamForIndex(objectId),
                 [&](SpreadSheet& spreadsheet) { spreadsheet.DeleteSheet(sheetId); });
  m_response->SetSuccess(Json::Value());
  RegisterTabEvent(TabMessage("remove", objectId, sheetId, clientId, nullptr));
}

void SnapshotHandler::RecoverSheet_v1() {
  const std::string objectId = ParamString("object_id");
  const std::string sheetId = ParamString("sheet_id");
  const std::string clientId = ParamString("client_id");
  const Json::Value& posParam = m_request->GetParamRef("pos", Json::Value::nullSingleton());
  // A negative position is refused rather than wrapped to a huge unsigned one.
  if (posParam.isInt() && posParam.asInt() < 0) {
    ZOLTSH_THROW(InvalidParameter, "invalid parameter", ZOLTSH_ERR_USER_INPUT);
  }
  const unsigned pos = posParam.isIntegral() ? posParam.asUInt() : 0;

  std::string title;
  ChangeDocument(objectId, GetDriveParamForIndex(objectId), [&](SpreadSheet& spreadsheet) {
    spreadsheet.RecoverSheet(sheetId, pos);
    title = spreadsheet.GetSheetTitle(sheetId);
  });
  Json::Value data(Json::objectValue);
  data["sheet_id"] = sheetId;
  data["title"] = title;
  m_response->SetSuccess(data);
  sio::message::ptr payload = TabMessage("add", objectId, sheetId, clientId, &title);
  payload->insert("pos", sio::int_message::create(static_cast<int64_t>(pos)));
  RegisterTabEvent(std::move(payload));
}

void SnapshotHandler::Create_v1() {
  const unsigned uid = m_request->GetLoginUID();
  const std::string objectId = ParamString("object_id");
  std::string password = ParamString("password");

  Json::Value load = GetDriveParamTmplate(uid, objectId);
  load["field"] = Json::Value(Json::objectValue);
  load["field"]["text"]["index"] = true;
  if (password.empty()) ZOLTSHDecodePassFromHeader(password);

  // Only the collaboration server's own account may name a file; it is read and deleted as root.
  Json::Value queued;
  const bool fromQueue = uid == 0 && m_request->HasParam("queue_file");
  if (fromQueue) queued = ReadQueueFile(ParamString("queue_file"));
  const Json::Value& batch =
      fromQueue ? queued : m_request->GetParamRef("commands", Json::Value::nullSingleton());
  SelectCommandSheets(batch, load["field"]["text"], 0);

  // The batch is applied to the latest version under the document's lock, so it neither loses
  // nor is lost by a concurrent change of the same document.
  auto lock = LockDocument(objectId);
  SpreadSheet spreadsheet;
  spreadsheet.LoadFromDrive(load, password);
  Executor executor(spreadsheet);
  unsigned rejected = 0;
  for (const Json::Value& command : batch) {
    if (!executor.ExecuteCommand(command)) ++rejected;
  }
  if (rejected > 0) {
    ZOLTSH_LOG_WARN("%u of %u commands for %s were rejected", rejected, batch.size(),
                    objectId.c_str());
  }
  executor.UpdateIndex();

  Json::Value save = GetDriveParamTmplate(uid, objectId);
  save["commit_msg"]["listable"] = true;
  Json::Value& editors = save["commit_msg"]["editors"] = Json::Value(Json::arrayValue);
  for (unsigned editor : executor.GetEditors()) editors.append(static_cast<Json::UInt>(editor));
  spreadsheet.SaveToDrive(save, password);
  lock->Release();
  m_response->SetSuccess(Json::Value());
}

void SnapshotHandler::UpdateIndex_v1() {
  const std::string objectId = ParamString("object_id");
  const Json::Value& order = m_request->GetParamRef("order", Json::Value::nullSingleton());
  ChangeDocument(objectId, GetDriveParamForIndex(objectId), [&](SpreadSheet& spreadsheet) {
    if (m_request->HasParam("order")) spreadsheet.SetOrder(order);
  });
  m_response->SetSuccess(Json::Value());

  sio::message::ptr payload = sio::object_message::create();
  payload->insert("cmd", "reorder");
  payload->insert("object_id", objectId);
  payload->insert("order", utils::VectorToMessage(utils::JsonArrayToVector<std::string>(order)));
  RegisterTabEvent(std::move(payload));
}
void SnapshotHandler::GetHistory_v1() { NotAvailable("ZOLT.Tabvale.Snapshot.History get"); }
void SnapshotHandler::ListEditor_v1() { NotAvailable("ZOLT.Tabvale.Snapshot.Editor list"); }

}  // namespace zoltsh::webapi_handler
