// The toolkit kernel's services on Linux, exported through one ordinal lookup.
// Files map onto open/read/lseek/write; the Windows-style access flags and permission bits that
// plug-ins pass are translated here. Memory is zero-filled because callers rely on zeroed
// contexts; large blocks are backed by huge pages where the system grants them. Bitmap row access works on
// the PxBitmap record alone.
#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "pxkernel/PxKernel.h"

namespace {

PxSequenceStartFn g_pfnSequenceHook = nullptr;

// Plug-ins write streams one byte per call (the MPEG bit writer does), so a handle opened for writing
// only gets a write-behind buffer: one system call per 64 KiB instead of one per byte. A failed flush
// poisons the handle: that write and every later write, seek and close report the failure, so a full
// disk is never reported as success. Seek (a position query included) and close flush first.
constexpr size_t kWriteBehind = 64 * 1024;

struct WriteBuffer {
  size_t nUsed = 0;
  bool bFailed = false;
  unsigned char data[kWriteBehind];
};

std::mutex g_buffersLock;
std::unordered_map<int32_t, std::unique_ptr<WriteBuffer>> g_buffers;

bool WriteAll(int32_t hFile, const void* pBuffer, size_t nCount) {
  size_t nDone = 0;
  while (nDone < nCount) {
    const ssize_t n = ::write(hFile, static_cast<const char*>(pBuffer) + nDone, nCount - nDone);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    nDone += static_cast<size_t>(n);
  }
  return true;
}

// Caller holds g_buffersLock. False when the handle's data could not all be written.
bool FlushLocked(int32_t hFile, WriteBuffer& buf) {
  if (buf.bFailed) return false;
  if (buf.nUsed && !WriteAll(hFile, buf.data, buf.nUsed)) buf.bFailed = true;
  buf.nUsed = 0;
  return !buf.bFailed;
}

// False when a buffered handle's earlier data could not be written.
bool FlushHandle(int32_t hFile) {
  std::lock_guard<std::mutex> lock(g_buffersLock);
  auto it = g_buffers.find(hFile);
  return it == g_buffers.end() || FlushLocked(hFile, *it->second);
}

int32_t KOpen(const char* pszName, int32_t nFlags, int32_t nPermission) {
  if (!pszName || !*pszName) return -1;
  int flags = O_CLOEXEC;
  switch (nFlags & 3) {
    case PX_O_WRONLY:
      flags |= O_WRONLY;
      break;
    case PX_O_RDWR:
      flags |= O_RDWR;
      break;
    default:
      flags |= O_RDONLY;
      break;
  }
  if (nFlags & PX_O_CREAT) flags |= O_CREAT;
  if (nFlags & PX_O_TRUNC) flags |= O_TRUNC;
  if (nFlags & PX_O_EXCL) flags |= O_EXCL;
  if (nFlags & 0x0008) flags |= O_APPEND;
  // A file created without write permission (Windows _S_IREAD only) is read-only for everyone.
  const mode_t mode = (nPermission & PX_S_IWRITE) ? 0644 : 0444;
  int fd;
  do {
    fd = ::open(pszName, flags, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  if ((flags & O_ACCMODE) == O_WRONLY && !(flags & O_APPEND)) {
    auto buf = std::unique_ptr<WriteBuffer>(new (std::nothrow) WriteBuffer);
    if (buf) {
      std::lock_guard<std::mutex> lock(g_buffersLock);
      g_buffers[fd] = std::move(buf);
    }
  }
  return fd;
}

int32_t KClose(int32_t hFile) {
  if (hFile < 0) return -1;
  bool bFlushed = true;
  {
    std::lock_guard<std::mutex> lock(g_buffersLock);
    auto it = g_buffers.find(hFile);
    if (it != g_buffers.end()) {
      bFlushed = FlushLocked(hFile, *it->second);
      g_buffers.erase(it);
    }
  }
  const bool bClosed = ::close(hFile) == 0;
  return bFlushed && bClosed ? 0 : -1;
}

int32_t KRead(int32_t hFile, void* pBuffer, int32_t nCount) {
  if (hFile < 0 || !pBuffer || nCount < 0) return -1;
  if (!FlushHandle(hFile)) return -1;
  int32_t nDone = 0;
  while (nDone < nCount) {
    const ssize_t n = ::read(hFile, static_cast<char*>(pBuffer) + nDone, static_cast<size_t>(nCount - nDone));
    if (n < 0) {
      if (errno == EINTR) continue;
      return nDone ? nDone : -1;
    }
    if (n == 0) break;
    nDone += static_cast<int32_t>(n);
  }
  return nDone;
}

int32_t KSeek(int32_t hFile, int32_t nOffset, int32_t nOrigin) {
  if (hFile < 0) return -1;
  if (!FlushHandle(hFile)) return -1;
  const int whence = nOrigin == PX_SEEK_CUR ? SEEK_CUR : (nOrigin == PX_SEEK_END ? SEEK_END : SEEK_SET);
  const off_t pos = ::lseek(hFile, nOffset, whence);
  if (pos < 0 || pos > INT32_MAX) return -1;
  return static_cast<int32_t>(pos);
}

int32_t KWrite(int32_t hFile, const void* pBuffer, int32_t nCount) {
  if (hFile < 0 || !pBuffer || nCount < 0) return -1;
  {
    std::lock_guard<std::mutex> lock(g_buffersLock);
    auto it = g_buffers.find(hFile);
    if (it != g_buffers.end()) {
      WriteBuffer& buf = *it->second;
      if (buf.bFailed) return 0;
      const auto* p = static_cast<const unsigned char*>(pBuffer);
      size_t nLeft = static_cast<size_t>(nCount);
      while (nLeft) {
        if (buf.nUsed == kWriteBehind && !FlushLocked(hFile, buf)) return 0;
        const size_t n = std::min(nLeft, kWriteBehind - buf.nUsed);
        std::memcpy(buf.data + buf.nUsed, p, n);
        buf.nUsed += n;
        p += n;
        nLeft -= n;
      }
      return nCount;
    }
  }
  int32_t nDone = 0;
  while (nDone < nCount) {
    const ssize_t n =
        ::write(hFile, static_cast<const char*>(pBuffer) + nDone, static_cast<size_t>(nCount - nDone));
    if (n < 0) {
      if (errno == EINTR) continue;
      return nDone ? nDone : -1;
    }
    if (n == 0) break;
    nDone += static_cast<int32_t>(n);
  }
  return nDone;
}

// Blocks of 2 MiB and more (a decoder's frame stores) start on a 2 MiB boundary and ask for
// transparent huge pages: motion compensation reads them in two dimensions, and with 4 KiB pages a
// 16-line block of a 1920-sample picture touches eight pages. Only whole huge pages inside the block
// are asked for, so the block never costs more memory than its size. Where the system refuses
// (huge pages off, no aligned block), the block is an ordinary one: nothing else changes.
constexpr size_t kHugePage = size_t{2} << 20;

void* KAlloc(size_t nBytes) {
  if (nBytes == 0) return nullptr;
  if (nBytes >= kHugePage) {
    void* p = nullptr;
    if (posix_memalign(&p, kHugePage, nBytes) == 0) {
      ::madvise(p, nBytes & ~(kHugePage - 1), MADV_HUGEPAGE);  // a refusal is no failure
      std::memset(p, 0, nBytes);                               // recycled heap memory is not zero
      return p;
    }
  }
  return std::calloc(1, nBytes);
}

void KFree(void* p) {
  std::free(p);
}

bool RowsUsable(const PxBitmap* b) {
  return b && b->pPixels && b->nWidth > 0 && b->nHeight > 0 && b->nBytesPerRow > 0 &&
         (b->nBitsPerPixel == 24 || b->nBitsPerPixel == 32 || b->nBitsPerPixel == 8) &&
         static_cast<int64_t>(b->nWidth) * (b->nBitsPerPixel / 8) <= b->nBytesPerRow;
}

int32_t KBitmapBegin(PxBitmap* b) {
  if (!RowsUsable(b)) return -1;
  if ((b->nFlags & PX_BITMAP_NEEDS_PREPARE) && !b->nPrepared) return -1;
  ++b->nAccessCount;
  return 1;
}

int32_t KBitmapEnd(PxBitmap* b) {
  if (!b || b->nAccessCount <= 0) return -1;
  --b->nAccessCount;
  return 1;
}

int32_t KBitmapGetRow(PxBitmap* b, uint8_t* pBuffer, int32_t nRow, int32_t nBytes) {
  if (!RowsUsable(b) || !pBuffer || nRow < 0 || nRow >= b->nHeight || nBytes < 0) return -1;
  if (b->nAccessCount <= 0) return -1;
  const int32_t n = nBytes < b->nBytesPerRow ? nBytes : b->nBytesPerRow;
  std::memcpy(pBuffer, b->pPixels + static_cast<size_t>(nRow) * static_cast<size_t>(b->nBytesPerRow),
              static_cast<size_t>(n));
  return 1;
}

int32_t KBitmapPrepare(PxBitmap* b) {
  if (b) b->nPrepared = 1;
  return 1;
}

int32_t KBitmapRelease(PxBitmap* b) {
  if (!b) return -1;
  if (b->nFlags & PX_BITMAP_OWNS_PIXELS) {
    std::free(b->pPixels);
    b->pPixels = nullptr;
    b->nFlags &= ~PX_BITMAP_OWNS_PIXELS;
  }
  b->nAccessCount = 0;
  return 1;
}

int32_t KFileIdentity(const char* pszName, PxFileIdentity* pId) {
  struct stat st {};
  if (!pszName || !pId || ::stat(pszName, &st) != 0) return -1;
  pId->nDevice = static_cast<uint64_t>(st.st_dev);
  pId->nInode = static_cast<uint64_t>(st.st_ino);
  pId->nSize = static_cast<int64_t>(st.st_size);
  pId->nModifiedNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  pId->nChangedNs = int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
  return 1;
}

int32_t KSequenceStart() {
  return g_pfnSequenceHook ? g_pfnSequenceHook() : 1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void* PxKernelProcByOrdinal(int32_t nOrdinal) {
  switch (nOrdinal) {
    case PX_ORD_OPEN:
      return reinterpret_cast<void*>(&KOpen);
    case PX_ORD_CLOSE:
      return reinterpret_cast<void*>(&KClose);
    case PX_ORD_READ:
      return reinterpret_cast<void*>(&KRead);
    case PX_ORD_SEEK:
      return reinterpret_cast<void*>(&KSeek);
    case PX_ORD_WRITE:
      return reinterpret_cast<void*>(&KWrite);
    case PX_ORD_ALLOC:
      return reinterpret_cast<void*>(&KAlloc);
    case PX_ORD_FREE:
      return reinterpret_cast<void*>(&KFree);
    case PX_ORD_BITMAP_BEGIN:
      return reinterpret_cast<void*>(&KBitmapBegin);
    case PX_ORD_BITMAP_END:
      return reinterpret_cast<void*>(&KBitmapEnd);
    case PX_ORD_BITMAP_GET_ROW:
      return reinterpret_cast<void*>(&KBitmapGetRow);
    case PX_ORD_BITMAP_PREPARE:
      return reinterpret_cast<void*>(&KBitmapPrepare);
    case PX_ORD_BITMAP_RELEASE:
      return reinterpret_cast<void*>(&KBitmapRelease);
    case PX_ORD_SEQUENCE_START:
      return reinterpret_cast<void*>(&KSequenceStart);
    case PX_ORD_FILE_IDENTITY:
      return reinterpret_cast<void*>(&KFileIdentity);
    default:
      return nullptr;
  }
}

extern "C" __attribute__((visibility("default"))) void PxKernelSetSequenceStartHook(
    PxSequenceStartFn pfnHook) {
  g_pfnSequenceHook = pfnHook;
}
