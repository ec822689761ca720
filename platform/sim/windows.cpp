// Window classes and windows: the process's own, owned by the thread that
// created them, and those of other processes that tests create.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>

#include "platform/sim/machine.h"

namespace sim::detail {

namespace {

constexpr std::uintptr_t kArrowCursor = 0x00010003;
constexpr std::uintptr_t kFirstStockObject = 0x01900010;
constexpr int kStockObjects = 20;
constexpr std::uintptr_t kLargestAtom = 0xFFFF;

std::uintptr_t Value(const void* pointer) {
  return reinterpret_cast<std::uintptr_t>(pointer);
}

bool IsAtom(LPCSTR name) {
  return Value(name) <= kLargestAtom;
}

// A class is named by its name or, in the low word, by its atom.
std::map<std::string, WindowClass, NoCaseLess>::iterator FindClass(LPCSTR name) {
  auto& classes = S().classes;
  if (!IsAtom(name)) return classes.find(std::string_view(name));
  for (auto entry = classes.begin(); entry != classes.end(); ++entry) {
    if (entry->second.atom == Value(name)) return entry;
  }
  return classes.end();
}

std::string ClassText(LPCSTR name) {
  if (name == nullptr || !IsAtom(name)) return Text(name);
  return "#" + std::to_string(Value(name));
}

HWND AddWindow(const std::string& class_name, LPCSTR title, WNDPROC procedure, ThreadPtr owner,
               bool visible) {
  State& state = S();
  auto window = std::make_shared<Window>();
  window->handle = reinterpret_cast<HWND>(state.next_window);
  state.next_window += 0x10;
  window->class_name = class_name;
  window->title = title == nullptr ? "" : title;
  window->procedure = procedure;
  window->owner = std::move(owner);
  window->visible = visible;
  state.windows.emplace(Value(window->handle), window);
  return window->handle;
}

}  // namespace

bool NoCaseLess::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

WindowPtr FindLiveWindow(HWND window) {
  auto found = S().windows.find(Value(window));
  if (found == S().windows.end() || found->second->destroyed) return nullptr;
  return found->second;
}

void DestroyWindowRecord(Window& window) {
  window.destroyed = true;
  window.visible = false;
  // Messages still queued for a destroyed window are removed with it.
  if (window.owner != nullptr) {
    std::erase_if(window.owner->posted, [&](const MSG& message) { return message.hwnd == window.handle; });
  }
}

}  // namespace sim::detail

using namespace sim::detail;

ATOM RegisterClassA(const WNDCLASSA* window_class) {
  auto lock = Enter("RegisterClassA");
  const bool named = window_class != nullptr && window_class->lpszClassName != nullptr;
  if (S().tracing) {
    Trace("RegisterClassA class=%s style=0x%X",
          named ? ClassText(window_class->lpszClassName).c_str() : "(null)",
          window_class == nullptr ? 0u : window_class->style);
  }
  if (TakeFault(sim::Fault::RegisterClass)) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  if (!named || IsAtom(window_class->lpszClassName) || window_class->lpfnWndProc == nullptr) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  State& state = S();
  if (state.classes.contains(std::string_view(window_class->lpszClassName))) {
    SetError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  const ATOM atom = state.next_atom++;
  state.classes.emplace(window_class->lpszClassName,
                        WindowClass{atom, window_class->lpfnWndProc, window_class->style});
  return atom;
}

HWND CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR window_name, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  auto lock = Enter("CreateWindowExA");
  if (S().tracing) {
    Trace(
        "CreateWindowExA ex_style=0x%X class=%s title=%s style=0x%X x=%d y=%d width=%d height=%d "
        "parent=0x%" PRIXPTR " menu=0x%" PRIXPTR,
        ex_style, ClassText(class_name).c_str(), Text(window_name), style, x, y, width, height, Value(parent),
        Value(menu));
  }
  if (TakeFault(sim::Fault::CreateWindow)) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto window_class = class_name == nullptr ? S().classes.end() : FindClass(class_name);
  if (window_class == S().classes.end()) {
    SetError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  const WNDPROC procedure = window_class->second.procedure;
  HWND window =
      AddWindow(window_class->first, window_name, procedure, CurrentThread(), (style & WS_VISIBLE) != 0);
  CREATESTRUCTA create = {};
  create.lpCreateParams = param;
  create.hInstance = instance;
  create.hMenu = menu;
  create.hwndParent = parent;
  create.cy = height;
  create.cx = width;
  create.y = y;
  create.x = x;
  create.style = static_cast<LONG>(style);
  create.lpszName = window_name;
  create.lpszClass = class_name;
  create.dwExStyle = ex_style;
  // WM_CREATE reaches the window procedure before CreateWindowExA returns.
  lock.unlock();
  const LRESULT created = procedure(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create));
  lock.lock();
  if (created == -1) {
    // The window procedure refused the creation: the window is gone.
    if (WindowPtr record = FindLiveWindow(window)) DestroyWindowRecord(*record);
    return nullptr;
  }
  return window;
}

BOOL ShowWindow(HWND window, int show_command) {
  auto lock = Enter("ShowWindow");
  Trace("ShowWindow window=0x%" PRIXPTR " command=%d", Value(window), show_command);
  WindowPtr record = FindLiveWindow(window);
  if (record == nullptr) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  const bool was_visible = record->visible;
  record->visible = show_command != SW_HIDE;
  return was_visible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window) {
  auto lock = Enter("IsWindowVisible");
  Trace("IsWindowVisible window=0x%" PRIXPTR, Value(window));
  WindowPtr record = FindLiveWindow(window);
  return record != nullptr && record->visible ? TRUE : FALSE;
}

BOOL IsWindow(HWND window) {
  auto lock = Enter("IsWindow");
  Trace("IsWindow window=0x%" PRIXPTR, Value(window));
  return FindLiveWindow(window) != nullptr ? TRUE : FALSE;
}

HWND FindWindowA(LPCSTR class_name, LPCSTR window_name) {
  auto lock = Enter("FindWindowA");
  if (S().tracing) Trace("FindWindowA class=%s title=%s", ClassText(class_name).c_str(), Text(window_name));
  std::string wanted_class;
  if (class_name != nullptr) {
    if (!IsAtom(class_name)) {
      wanted_class = class_name;
    } else {
      auto found = FindClass(class_name);
      if (found == S().classes.end()) {
        SetError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
      }
      wanted_class = found->first;
    }
  }
  // Class names and titles match without regard to letter case. Of several
  // matches the one on top wins: a window is put on top when it is created.
  for (auto entry = S().windows.rbegin(); entry != S().windows.rend(); ++entry) {
    const WindowPtr& window = entry->second;
    if (window->destroyed) continue;
    if (class_name != nullptr && strcasecmp(window->class_name.c_str(), wanted_class.c_str()) != 0) continue;
    if (window_name != nullptr && strcasecmp(window->title.c_str(), window_name) != 0) continue;
    return window->handle;
  }
  // Finding nothing sets this error, whether or not the class exists.
  SetError(ERROR_CANNOT_FIND_WND_CLASS);
  return nullptr;
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR cursor_name) {
  auto lock = Enter("LoadCursorA");
  if (S().tracing) {
    Trace("LoadCursorA instance=0x%" PRIXPTR " name=%s", Value(instance), ClassText(cursor_name).c_str());
  }
  // Only the system's arrow cursor is modelled.
  if (instance != nullptr || cursor_name != IDC_ARROW) {
    SetError(ERROR_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HCURSOR>(kArrowCursor);
}

HGDIOBJ GetStockObject(int object) {
  auto lock = Enter("GetStockObject");
  Trace("GetStockObject object=%d", object);
  if (object < 0 || object >= kStockObjects) return nullptr;
  return reinterpret_cast<HGDIOBJ>(kFirstStockObject + 0x10 * static_cast<std::uintptr_t>(object));
}

namespace sim {

HWND CreateForeignWindow(const std::string& class_name, const std::string& title) {
  auto lock = Lock();
  return AddWindow(class_name, title.c_str(), nullptr, nullptr, true);
}

void DestroyForeignWindow(HWND window) {
  auto lock = Lock();
  WindowPtr record = FindLiveWindow(window);
  if (record != nullptr && record->owner == nullptr) DestroyWindowRecord(*record);
}

std::vector<MSG> ReceivedMessages(HWND window) {
  auto lock = Lock();
  auto found = S().windows.find(Value(window));
  return found == S().windows.end() ? std::vector<MSG>() : found->second->received;
}

std::vector<HWND> ProcessWindows() {
  auto lock = Lock();
  std::vector<HWND> windows;
  for (const auto& [value, window] : S().windows) {
    if (!window->destroyed && window->owner != nullptr) windows.push_back(window->handle);
  }
  return windows;
}

}  // namespace sim
