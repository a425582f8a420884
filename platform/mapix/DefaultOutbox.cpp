#include "platform/mapix/DefaultOutbox.h"

namespace mapix {

namespace {

template <class T>
void Release(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

}  // namespace

OutboxStep LogonDefault(ULONG_PTR window, const char* profile, const char* password, ULONG flags,
                        bool& initialized, IMAPISession*& session, IMAPITable*& storesTable) {
  if (FAILED(MAPIInitialize(nullptr))) return OutboxStep::kInitialize;
  initialized = true;
  const bool named = profile != nullptr && *profile != '\0';
  const bool secret = password != nullptr && *password != '\0';
  if (FAILED(MAPILogonEx(window, named ? profile : nullptr, secret ? password : nullptr,
                         flags | MAPI_EXTENDED | MAPI_USE_DEFAULT, &session)))
    return OutboxStep::kLogon;
  if (FAILED(session->GetMsgStoresTable(0, &storesTable))) return OutboxStep::kStoresTable;
  return OutboxStep::kDone;
}

OutboxStep OpenDefaultStore(IMAPISession* session, IMAPITable* storesTable, ULONG_PTR window,
                            IMsgStore*& store) {
  SizedSPropTagArray<3> columns = {3, {PR_DEFAULT_STORE, PR_DISPLAY_NAME, PR_ENTRYID}};
  if (FAILED(storesTable->SetColumns(columns.get(), 0))) return OutboxStep::kColumns;
  for (;;) {
    SRowSet* rows = nullptr;
    if (FAILED(storesTable->QueryRows(1, 0, &rows))) return OutboxStep::kQueryRows;
    if (rows == nullptr || rows->cRows != 1) {
      FreeProws(rows);
      return OutboxStep::kNoDefaultStore;
    }
    const SRow& row = rows->aRow[0];
    if (row.cValues < 3 || row.lpProps[0].ulPropTag != PR_DEFAULT_STORE || !row.lpProps[0].Value.b ||
        row.lpProps[2].ulPropTag != PR_ENTRYID) {
      FreeProws(rows);
      continue;
    }
    Release(store);
    const HRESULT hr = session->OpenMsgStore(window, row.lpProps[2].Value.bin.cb,
                                             reinterpret_cast<const ENTRYID*>(row.lpProps[2].Value.bin.lpb),
                                             nullptr, MDB_NO_DIALOG | MAPI_BEST_ACCESS, &store);
    FreeProws(rows);
    return FAILED(hr) ? OutboxStep::kOpenStore : OutboxStep::kDone;
  }
}

OutboxStep OpenOutboxFolder(IMsgStore* store, IMAPIFolder*& outbox) {
  SizedSPropTagArray<1> tags = {1, {PR_IPM_OUTBOX_ENTRYID}};
  ULONG count = 0;
  SPropValue* props = nullptr;
  HRESULT hr = store->GetProps(tags.get(), 0, &count, &props);
  if (FAILED(hr) || count != 1 || props[0].ulPropTag != PR_IPM_OUTBOX_ENTRYID) {
    MAPIFreeBuffer(props);
    return OutboxStep::kOutboxId;
  }
  ULONG type = 0;
  IUnknown* folder = nullptr;
  hr = store->OpenEntry(props[0].Value.bin.cb, reinterpret_cast<const ENTRYID*>(props[0].Value.bin.lpb),
                        nullptr, MAPI_BEST_ACCESS, &type, &folder);
  MAPIFreeBuffer(props);
  if (FAILED(hr) || type != MAPI_FOLDER) {
    Release(folder);
    return OutboxStep::kOpenOutbox;
  }
  Release(outbox);
  outbox = static_cast<IMAPIFolder*>(folder);
  return OutboxStep::kDone;
}

}  // namespace mapix
