// MAPIAllocateBuffer memory: a root block and the blocks MAPIAllocateMore links to it, freed together.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "platform/mapix/Mapix.h"

namespace {

// Every block starts with this header, padded so the caller's part is aligned for any property value.
struct alignas(16) BlockHeader {
  BlockHeader* next;  // the next block linked to the same root
  std::uint32_t magic;
};
constexpr std::uint32_t kRootMagic = 0x4D415049;  // "MAPI"
constexpr std::uint32_t kMoreMagic = 0x4D4F5245;  // "MORE"

std::mutex g_lock;
std::unordered_set<void*>& Roots() {
  static std::unordered_set<void*> roots;
  return roots;
}

BlockHeader* HeaderOf(void* buffer) {
  return reinterpret_cast<BlockHeader*>(buffer) - 1;
}

}  // namespace

SCODE MAPIAllocateBuffer(ULONG size, void** buffer) {
  if (buffer == nullptr) return MAPI_E_INVALID_PARAMETER;
  *buffer = nullptr;
  auto* header = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + size));
  if (header == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
  header->magic = kRootMagic;
  *buffer = header + 1;
  std::lock_guard<std::mutex> guard(g_lock);
  Roots().insert(*buffer);
  return S_OK;
}

SCODE MAPIAllocateMore(ULONG size, void* link, void** buffer) {
  if (buffer == nullptr) return MAPI_E_INVALID_PARAMETER;
  *buffer = nullptr;
  std::lock_guard<std::mutex> guard(g_lock);
  if (link == nullptr || Roots().count(link) == 0) return MAPI_E_INVALID_PARAMETER;
  auto* header = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + size));
  if (header == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
  header->magic = kMoreMagic;
  BlockHeader* root = HeaderOf(link);
  header->next = root->next;
  root->next = header;
  *buffer = header + 1;
  return S_OK;
}

ULONG MAPIFreeBuffer(void* buffer) {
  if (buffer == nullptr) return 0;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    // A pointer this allocator did not hand out as a root is refused rather than freed.
    if (Roots().erase(buffer) == 0) return static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
  }
  BlockHeader* header = HeaderOf(buffer);
  while (header != nullptr) {
    BlockHeader* next = header->next;
    header->magic = 0;
    std::free(header);
    header = next;
  }
  return 0;
}

void FreeProws(SRowSet* rows) {
  if (rows == nullptr) return;
  for (ULONG i = 0; i < rows->cRows; ++i) MAPIFreeBuffer(rows->aRow[i].lpProps);
  MAPIFreeBuffer(rows);
}

void FreePadrlist(ADRLIST* list) {
  if (list == nullptr) return;
  for (ULONG i = 0; i < list->cEntries; ++i) MAPIFreeBuffer(list->aEntries[i].rgPropVals);
  MAPIFreeBuffer(list);
}
