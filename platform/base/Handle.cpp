// The table of live handles (see Handle.h).
#include "platform/base/Handle.h"

#include <mutex>
#include <unordered_set>

namespace platform {

namespace {
std::mutex& TableMutex() {
  static std::mutex m;
  return m;
}
std::unordered_set<HandleObject*>& Table() {
  static auto* t = new std::unordered_set<HandleObject*>();  // never destroyed: handles may outlive main
  return *t;
}
}  // namespace

HANDLE RegisterHandle(HandleObject* object) {
  std::lock_guard<std::mutex> lock(TableMutex());
  Table().insert(object);
  return object;
}

HandleObject* LookupHandle(HANDLE handle, HandleObject::Kind kind) {
  if (!handle || handle == INVALID_HANDLE_VALUE) return nullptr;
  std::lock_guard<std::mutex> lock(TableMutex());
  auto* object = static_cast<HandleObject*>(handle);
  if (!Table().count(object) || object->kind() != kind) return nullptr;
  return object;
}

}  // namespace platform

BOOL CloseHandle(HANDLE handle) {
  platform::HandleObject* object = nullptr;
  {
    std::lock_guard<std::mutex> lock(platform::TableMutex());
    auto* candidate = static_cast<platform::HandleObject*>(handle);
    if (handle && handle != INVALID_HANDLE_VALUE && platform::Table().erase(candidate)) object = candidate;
  }
  if (!object) {
    platform::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete object;
  return TRUE;
}
