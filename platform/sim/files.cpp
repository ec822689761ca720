// Device handles: opening a HID interface by its path and reading its input
// reports asynchronously, each read ending in a completion routine queued to
// the thread that started it.
#include <strings.h>

#include <algorithm>
#include <cinttypes>
#include <cstring>

#include "platform/sim/machine.h"

namespace sim::detail {

namespace {

// The NTSTATUS that an ended read leaves in OVERLAPPED.Internal.
ULONG_PTR StatusFor(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return 0;
    case ERROR_OPERATION_ABORTED:
      return 0xC0000120u;  // STATUS_CANCELLED
    case ERROR_DEVICE_NOT_CONNECTED:
      return 0xC000009Du;  // STATUS_DEVICE_NOT_CONNECTED
    default:
      return 0xC0000001u;  // STATUS_UNSUCCESSFUL
  }
}

DevicePtr DeviceAtPath(const char* path) {
  // Device paths are not case-sensitive.
  auto found = S().devices_by_path.find(LowerCase(path));
  return found == S().devices_by_path.end() ? nullptr : found->second;
}

}  // namespace

void CompleteRead(const PendingRead& read, DWORD error, const std::uint8_t* data, std::size_t size) {
  DWORD bytes = 0;
  if (error == ERROR_SUCCESS) {
    bytes = static_cast<DWORD>(std::min<std::size_t>(size, read.length));
    if (bytes > 0) std::memcpy(read.buffer, data, bytes);
  }
  read.overlapped->Internal = StatusFor(error);
  read.overlapped->InternalHigh = bytes;
  QueuedCall call;
  call.completion = read.completion;
  call.error = error;
  call.bytes = bytes;
  call.overlapped = read.overlapped;
  QueueCall(*read.thread, call);
}

void EndReads(std::deque<PendingRead>& reads, DWORD error) {
  while (!reads.empty()) {
    const PendingRead read = reads.front();
    reads.pop_front();
    CompleteRead(read, error, nullptr, 0);
  }
}

}  // namespace sim::detail

using namespace sim::detail;

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share_mode, LPSECURITY_ATTRIBUTES,
                   DWORD creation_disposition, DWORD flags, HANDLE) {
  auto lock = Enter("CreateFileA");
  Trace("CreateFileA path=%s access=0x%X share=0x%X disposition=%u flags=0x%X", Text(path), access,
        share_mode, creation_disposition, flags);
  DevicePtr device = path == nullptr ? nullptr : DeviceAtPath(path);
  if (device == nullptr) {
    SetError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  CountDeviceCall(*device, "CreateFileA");
  if (!device->present) {
    SetError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (device->fault == sim::OpenFault::Open) {
    SetError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  auto file = std::make_shared<OpenFile>();
  file->device = device;
  file->flags = flags;
  return AddHandle(KernelObject{nullptr, file});
}

BOOL ReadFileEx(HANDLE handle, LPVOID buffer, DWORD bytes_to_read, LPOVERLAPPED overlapped,
                LPOVERLAPPED_COMPLETION_ROUTINE completion) {
  auto lock = Enter("ReadFileEx");
  Trace("ReadFileEx handle=0x%" PRIXPTR " bytes=%u", reinterpret_cast<std::uintptr_t>(handle), bytes_to_read);
  if (TakeFault(sim::Fault::Read)) {
    SetError(ERROR_NO_SYSTEM_RESOURCES);
    return FALSE;
  }
  FilePtr file = FindFileHandle(handle);
  if (file == nullptr) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  CountDeviceCall(*file->device, "ReadFileEx");
  // ReadFileEx works only on a handle opened for overlapped I/O.
  if (overlapped == nullptr || completion == nullptr || (buffer == nullptr && bytes_to_read > 0) ||
      (file->flags & FILE_FLAG_OVERLAPPED) == 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!file->device->present) {
    SetError(ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
  }
  overlapped->Internal = STATUS_PENDING;
  overlapped->InternalHigh = 0;
  const PendingRead read{CurrentThread(), static_cast<BYTE*>(buffer), bytes_to_read, overlapped, completion};
  if (file->ring.empty()) {
    file->pending.push_back(read);
    return TRUE;
  }
  // A report already buffered completes the read at once; the completion
  // routine still runs only in an alertable wait.
  const std::vector<std::uint8_t> report = std::move(file->ring.front());
  file->ring.pop_front();
  CompleteRead(read, ERROR_SUCCESS, report.data(), report.size());
  return TRUE;
}

BOOL CancelIo(HANDLE handle) {
  auto lock = Enter("CancelIo");
  Trace("CancelIo handle=0x%" PRIXPTR, reinterpret_cast<std::uintptr_t>(handle));
  FilePtr file = FindFileHandle(handle);
  if (file == nullptr) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  CountDeviceCall(*file->device, "CancelIo");
  // Only the reads that the calling thread started.
  const ThreadPtr self = CurrentThread();
  std::deque<PendingRead> kept;
  std::deque<PendingRead> cancelled;
  for (const PendingRead& read : file->pending) (read.thread == self ? cancelled : kept).push_back(read);
  file->pending = std::move(kept);
  EndReads(cancelled, ERROR_OPERATION_ABORTED);
  return TRUE;
}

// On Windows a macro reading Internal, so it is not traced; here Internal is
// read under the lock because other threads write it.
BOOL SimHasOverlappedIoCompleted(const OVERLAPPED* overlapped) {
  auto lock = Enter("HasOverlappedIoCompleted");
  return overlapped->Internal != STATUS_PENDING;
}
