// The local heap: every block the agent takes, counted so that tests can see
// leaks and refuse allocations.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/sim/machine.h"

namespace sim::detail {

namespace {

// Larger requests can only come from a wrong size; refuse them as Windows would.
constexpr std::size_t kLargestBlock = 256u << 20;
// Windows does not clear a block allocated without LMEM_ZEROINIT; this pattern
// makes reliance on zeros show.
constexpr int kUnclearedByte = 0xCD;

void Fill(void* start, std::size_t size, UINT flags) {
  std::memset(start, (flags & LMEM_ZEROINIT) != 0 ? 0 : kUnclearedByte, size);
}

std::string BlockName(HLOCAL block) {
  if (block == nullptr) return "null";
  auto found = S().blocks.find(block);
  if (found == S().blocks.end()) return "?";
  return "#" + std::to_string(found->second.serial);
}

}  // namespace

void FreeAllBlocks(State& state) {
  for (auto& [start, block] : state.blocks) std::free(start);
  state.blocks.clear();
  state.bytes = 0;
}

}  // namespace sim::detail

using namespace sim::detail;

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  auto lock = Enter("LocalAlloc");
  Trace("LocalAlloc flags=0x%X bytes=%zu", flags, bytes);
  if (TakeFault(sim::Fault::Alloc) || bytes > kLargestBlock) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // A moveable block is a handle to be locked before use, which is not modelled.
  if ((flags & LMEM_MOVEABLE) != 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* start = std::malloc(std::max<std::size_t>(bytes, 1));
  if (start == nullptr) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Fill(start, bytes, flags);
  State& state = S();
  state.blocks.emplace(start, HeapBlock{bytes, ++state.block_serial});
  state.bytes += bytes;
  return start;
}

HLOCAL LocalReAlloc(HLOCAL block, SIZE_T bytes, UINT flags) {
  auto lock = Enter("LocalReAlloc");
  if (S().tracing)
    Trace("LocalReAlloc block=%s bytes=%zu flags=0x%X", BlockName(block).c_str(), bytes, flags);
  State& state = S();
  auto found = state.blocks.find(block);
  if (found == state.blocks.end()) {
    SetError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const HeapBlock old = found->second;
  if (TakeFault(sim::Fault::Alloc) || bytes > kLargestBlock) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if ((flags & LMEM_MOVEABLE) == 0) {
    // A fixed block may only change size in place, which fails when it grows.
    if (bytes > old.size) {
      SetError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    found->second.size = bytes;
    state.bytes = state.bytes - old.size + bytes;
    return block;
  }
  // Always moved, so that a pointer kept into the old block is caught.
  void* start = std::malloc(std::max<std::size_t>(bytes, 1));
  if (start == nullptr) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::memcpy(start, block, std::min(old.size, bytes));
  if (bytes > old.size) Fill(static_cast<char*>(start) + old.size, bytes - old.size, flags);
  std::free(block);
  state.blocks.erase(found);
  state.blocks.emplace(start, HeapBlock{bytes, old.serial});
  state.bytes = state.bytes - old.size + bytes;
  return start;
}

HLOCAL LocalFree(HLOCAL block) {
  auto lock = Enter("LocalFree");
  if (S().tracing) Trace("LocalFree block=%s", BlockName(block).c_str());
  if (block == nullptr) return nullptr;
  State& state = S();
  auto found = state.blocks.find(block);
  if (found == state.blocks.end()) {
    ++state.bad_frees;
    SetError(ERROR_INVALID_HANDLE);
    return block;
  }
  state.bytes -= found->second.size;
  state.blocks.erase(found);
  std::free(block);
  return nullptr;
}
