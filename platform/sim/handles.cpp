// Kernel handles: their values and CloseHandle.
#include <cinttypes>

#include "platform/sim/machine.h"

namespace sim::detail {

namespace {

constexpr std::uintptr_t kHandleStep = 4;

}  // namespace

HANDLE AddHandle(KernelObject object) {
  auto& handles = S().handles;
  // Windows hands out the lowest free handle value, so a closed value comes back.
  auto& closed = S().closed_handles;
  std::uintptr_t value = S().next_handle;
  if (!closed.empty()) {
    value = *closed.begin();
    closed.erase(closed.begin());
  } else {
    S().next_handle += kHandleStep;
  }
  handles.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

KernelObject* FindHandle(HANDLE handle) {
  auto found = S().handles.find(reinterpret_cast<std::uintptr_t>(handle));
  return found == S().handles.end() ? nullptr : &found->second;
}

ThreadPtr FindThreadHandle(HANDLE handle) {
  KernelObject* object = FindHandle(handle);
  return object == nullptr ? nullptr : object->thread;
}

FilePtr FindFileHandle(HANDLE handle) {
  KernelObject* object = FindHandle(handle);
  return object == nullptr ? nullptr : object->file;
}

}  // namespace sim::detail

using namespace sim::detail;

BOOL CloseHandle(HANDLE handle) {
  auto lock = Enter("CloseHandle");
  Trace("CloseHandle handle=0x%" PRIXPTR, reinterpret_cast<std::uintptr_t>(handle));
  KernelObject* object = FindHandle(handle);
  if (object == nullptr) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (FilePtr file = object->file) {
    CountDeviceCall(*file->device, "CloseHandle");
    // Closing the handle ends the reads pending on it.
    EndReads(file->pending, ERROR_OPERATION_ABORTED);
    file->ring.clear();
  }
  S().handles.erase(reinterpret_cast<std::uintptr_t>(handle));
  S().closed_handles.insert(reinterpret_cast<std::uintptr_t>(handle));
  return TRUE;
}
