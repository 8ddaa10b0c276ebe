#include "snapshot_handler.h"

#include <string>

#include "common/zoltsh_error.h"
#include "common/zoltsh_log.h"

namespace zoltsh::webapi_handler {

void SnapshotHandler::NotAvailable(const char* method) {
  (void)m_request;
  (void)m_response;
  ZOLTSH_LOG_ERR("method %s is not available in this build", method);
  ZOLTSH_THROW(ZoltError, std::string("method not available: ") + method,
               ZOLTSH_ERR_OPERATION_FAILED);
}

void SnapshotHandler::Create_v1() { NotAvailable("ZOLT.Tabvale.Snapshot create"); }
void SnapshotHandler::UpdateIndex_v1() { NotAvailable("ZOLT.Tabvale.Snapshot update"); }
void SnapshotHandler::GetSheet_v1() { NotAvailable("ZOLT.Tabvale.Snapshot.Sheet get"); }
void SnapshotHandler::CreateSheet_v1() { NotAvailable("ZOLT.Tabvale.Snapshot.Sheet create"); }
void SnapshotHandler::DeleteSheet_v1() { NotAvailable("ZOLT.Tabvale.Snapshot.Sheet delete"); }
void SnapshotHandler::UpdateSheet_v1() { NotAvailable("ZOLT.Tabvale.Snapshot.Sheet update"); }
void SnapshotHandler::DupSheet_v1() { NotAvailable("ZOLT.Tabvale.Snapshot.Sheet dup"); }
void SnapshotHandler::RecoverSheet_v1() { NotAvailable("ZOLT.Tabvale.Snapshot.Sheet recover"); }
void SnapshotHandler::GetHistory_v1() { NotAvailable("ZOLT.Tabvale.Snapshot.History get"); }
void SnapshotHandler::ListEditor_v1() { NotAvailable("ZOLT.Tabvale.Snapshot.Editor list"); }

}  // namespace zoltsh::webapi_handler
