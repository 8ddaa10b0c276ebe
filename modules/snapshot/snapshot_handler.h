// The handler object of the snapshot service: one per request, on the stack of the exported handler
// function, borrowing the host's request and response for that call.
//
// Each method reads its parameters from the request, works on one spreadsheet named by its Drive
// object id, and either answers through the response or throws a zoltsh::ZoltError subclass, which
// the exported handler turns into an error answer.
#pragma once

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

 private:
  // Throws for a method whose work is not part of this build: an error answer, never a success.
  [[noreturn]] void NotAvailable(const char* method);

  ZOLT::APIRequest* m_request;
  ZOLT::APIResponse* m_response;
};

}  // namespace zoltsh::webapi_handler
