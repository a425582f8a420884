// DefaultOutbox: the road every Extended MAPI sender takes before it builds a message: start MAPI, log
// on to the default profile, take the default store from the session's store table, open it and its
// Outbox. Callers: ExtendedMapi (mail/) and marlin3-mail's send-test. Each step's failure is named
// (OutboxStep) so the caller reports it in its own words; the objects opened are the caller's to
// release (and MAPIUninitialize is due once initialized is set), on failure as on success.
#pragma once

#include "platform/mapix/Mapix.h"

namespace mapix {

enum class OutboxStep {
  kDone,
  kInitialize,      // MAPIInitialize
  kLogon,           // MAPILogonEx: no usable default profile
  kStoresTable,     // the session's store table
  kColumns,         // its columns
  kQueryRows,       // reading its rows
  kNoDefaultStore,  // no row is the default store
  kOpenStore,       // OpenMsgStore
  kOutboxId,        // the store's Outbox entry ID
  kOpenOutbox,      // OpenEntry of the Outbox folder
};

// MAPIInitialize, then MAPILogonEx (flags with MAPI_EXTENDED | MAPI_USE_DEFAULT; empty texts are
// passed as null) and the session's store table.
OutboxStep LogonDefault(ULONG_PTR window, const char* profile, const char* password, ULONG flags,
                        bool& initialized, IMAPISession*& session, IMAPITable*& storesTable);
// The first row marked PR_DEFAULT_STORE, opened without dialogs; a store held before is released.
OutboxStep OpenDefaultStore(IMAPISession* session, IMAPITable* storesTable, ULONG_PTR window,
                            IMsgStore*& store);
// The store's Outbox folder; a folder held before is released.
OutboxStep OpenOutboxFolder(IMsgStore* store, IMAPIFolder*& outbox);

}  // namespace mapix
