// The handler object of the snapshot service: one per request, on the stack of the exported handler
// function, borrowing the host's request and response for that call.
//
// Each method reads its parameters from the request, works on one spreadsheet named by its Drive
// object id, and either answers through the response or throws a zoltsh::ZoltError subclass, which
// the exported handler turns into an error answer.
//
// Methods that change a document (a batch of edits, the order or the list of sheets) hold the
// document's NamedMutex (named by the object id) from before the load until after the save, so
// concurrent requests in any worker process change it one after the other and none saves over
// another's change. After answering they register a "tab"
// notification for the collaboration server as a response callback; it is sent after the answer
// went out, and a failed send never changes that answer.
//
// Threads: the host's request thread only.
#pragma once

#include <json/value.h>

#include <functional>
#include <string>

#include "sio/sio_message.h"
#include "snapshot/spreadsheet.h"
#include "webapi/webapi.h"

namespace zoltsh::webapi_handler {

class __attribute__((visibility("default"))) SnapshotHandler {
 public:
  SnapshotHandler(ZOLT::APIRequest* request, ZOLT::APIResponse* response)
      : m_request(request), m_response(response) {}
  ~SnapshotHandler() = default;

  void Create_v1();
  void UpdateIndex_v1();
  void GetSheet_v1();
  void CreateSheet_v1();
  void DeleteSheet_v1();
  void UpdateSheet_v1();
  void DupSheet_v1();
  void RecoverSheet_v1();
  void GetHistory_v1();
  void ListEditor_v1();

  // The Drive request that loads the index and the metatext of objectId, and no sheet, as the
  // login user.
  Json::Value GetDriveParamForIndex(const std::string& objectId);
  // Saves the index and the loaded sheets of `spreadsheet` as a new version of objectId whose
  // commit message is {"listable": true, "editors": [login uid]}. Throws as SaveToDrive.
  void SaveSpreadSheetToDrive(SpreadSheet& spreadsheet, const std::string& objectId);
  // Under the document's lock: loads what `load` selects with the "password" parameter, applies
  // change, saves with SaveSpreadSheetToDrive. Throws what they throw; nothing is saved then.
  void ChangeDocument(const std::string& objectId, const Json::Value& load,
                      const std::function<void(SpreadSheet&)>& change);

 private:
  // Throws for a method whose work is not part of this build: an error answer, never a success.
  [[noreturn]] void NotAvailable(const char* method);

  // Text parameter `name`, "" when absent.
  std::string ParamString(const char* name) const;
  // Registers the "tab" event with [payload] (timeout 20 s), sent after the answer.
  void RegisterTabEvent(sio::message::ptr payload);

  ZOLT::APIRequest* m_request;
  ZOLT::APIResponse* m_response;
};

}  // namespace zoltsh::webapi_handler
