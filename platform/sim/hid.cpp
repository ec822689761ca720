// The HID class library: preparsed data held per device, attributes,
// capabilities and capability lists.
#include <cinttypes>

#include "platform/sim/machine.h"

namespace sim::detail {

namespace {

Preparsed* FindPreparsed(PHIDP_PREPARSED_DATA preparsed) {
  auto found = S().preparsed.find(reinterpret_cast<std::uintptr_t>(preparsed));
  return found == S().preparsed.end() ? nullptr : &found->second;
}

bool ValidReportType(HIDP_REPORT_TYPE type) {
  return type == HidP_Input || type == HidP_Output || type == HidP_Feature;
}

// Finds the open device behind a handle for a HidD_ call; false with the
// error set when there is none.
DevicePtr DeviceForCall(HANDLE handle, std::string_view operation) {
  FilePtr file = FindFileHandle(handle);
  if (file == nullptr) {
    SetError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  CountDeviceCall(*file->device, operation);
  if (!file->device->present) {
    SetError(ERROR_DEVICE_NOT_CONNECTED);
    return nullptr;
  }
  return file->device;
}

template <typename Caps>
bool Matches(const Caps& caps, USAGE usage_page, USHORT link_collection, USAGE usage) {
  if (usage_page != 0 && caps.UsagePage != usage_page) return false;
  if (link_collection != 0 && caps.LinkCollection != link_collection) return false;
  if (usage == 0) return true;
  if (caps.IsRange) return caps.Range.UsageMin <= usage && usage <= caps.Range.UsageMax;
  return caps.NotRange.Usage == usage;
}

// Page, link collection and usage 0 each mean "any".
template <typename Caps>
NTSTATUS SpecificCaps(const char* operation, HIDP_REPORT_TYPE type, USAGE usage_page, USHORT link_collection,
                      USAGE usage, Caps* out, PUSHORT length, PHIDP_PREPARSED_DATA preparsed,
                      std::vector<Caps> (DeviceSpec::*lists)[3]) {
  Trace("%s type=%d page=0x%X link=%u usage=0x%X length=%u preparsed=0x%" PRIXPTR, operation, type,
        usage_page, link_collection, usage, length == nullptr ? 0u : *length,
        reinterpret_cast<std::uintptr_t>(preparsed));
  Preparsed* held = FindPreparsed(preparsed);
  if (held == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
  CountDeviceCall(*held->device, operation);
  if (!ValidReportType(type)) return HIDP_STATUS_INVALID_REPORT_TYPE;
  const USHORT room = out == nullptr ? 0 : *length;
  USHORT copied = 0;
  bool matched = false;
  bool overflow = false;
  for (const Caps& caps : (held->device->description.*lists)[type]) {
    if (!Matches(caps, usage_page, link_collection, usage)) continue;
    matched = true;
    if (copied < room) {
      out[copied++] = caps;
    } else {
      overflow = true;
    }
  }
  *length = copied;
  if (!matched) return HIDP_STATUS_USAGE_NOT_FOUND;
  return overflow ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

USHORT Announced(int announced, std::size_t listed) {
  return static_cast<USHORT>(announced >= 0 ? announced : static_cast<int>(listed));
}

}  // namespace

}  // namespace sim::detail

using namespace sim::detail;

void HidD_GetHidGuid(LPGUID hid_guid) {
  auto lock = Enter("HidD_GetHidGuid");
  Trace("HidD_GetHidGuid");
  if (hid_guid != nullptr) *hid_guid = kHidGuid;
}

BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsed) {
  auto lock = Enter("HidD_GetPreparsedData");
  Trace("HidD_GetPreparsedData handle=0x%" PRIXPTR, reinterpret_cast<std::uintptr_t>(device));
  DevicePtr record = DeviceForCall(device, "HidD_GetPreparsedData");
  if (record == nullptr) return FALSE;
  if (preparsed == nullptr) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (record->fault == sim::OpenFault::Preparsed) {
    SetError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  State& state = S();
  const std::uintptr_t value = state.next_preparsed;
  state.next_preparsed += 0x100;
  state.preparsed.emplace(value, Preparsed{record});
  *preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(value);
  return TRUE;
}

BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed) {
  auto lock = Enter("HidD_FreePreparsedData");
  Trace("HidD_FreePreparsedData preparsed=0x%" PRIXPTR, reinterpret_cast<std::uintptr_t>(preparsed));
  Preparsed* held = FindPreparsed(preparsed);
  if (held == nullptr) {
    ++S().bad_frees;
    return FALSE;
  }
  CountDeviceCall(*held->device, "HidD_FreePreparsedData");
  S().preparsed.erase(reinterpret_cast<std::uintptr_t>(preparsed));
  return TRUE;
}

BOOLEAN HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
  auto lock = Enter("HidD_GetAttributes");
  Trace("HidD_GetAttributes handle=0x%" PRIXPTR, reinterpret_cast<std::uintptr_t>(device));
  DevicePtr record = DeviceForCall(device, "HidD_GetAttributes");
  if (record == nullptr) return FALSE;
  if (attributes == nullptr) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (record->fault == sim::OpenFault::Attributes) {
    SetError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  attributes->Size = sizeof(HIDD_ATTRIBUTES);
  attributes->VendorID = record->description.vendor_id;
  attributes->ProductID = record->description.product_id;
  attributes->VersionNumber = record->description.version;
  return TRUE;
}

NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) {
  auto lock = Enter("HidP_GetCaps");
  Trace("HidP_GetCaps preparsed=0x%" PRIXPTR, reinterpret_cast<std::uintptr_t>(preparsed));
  Preparsed* held = FindPreparsed(preparsed);
  if (held == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
  CountDeviceCall(*held->device, "HidP_GetCaps");
  if (held->device->fault == sim::OpenFault::Caps) return HIDP_STATUS_INVALID_PREPARSED_DATA;
  const sim::DeviceSpec& description = held->device->description;
  *caps = HIDP_CAPS{};
  caps->Usage = description.usage;
  caps->UsagePage = description.usage_page;
  caps->InputReportByteLength = description.input_report_length;
  caps->OutputReportByteLength = description.output_report_length;
  caps->FeatureReportByteLength = description.feature_report_length;
  caps->NumberLinkCollectionNodes = 1;
  caps->NumberInputButtonCaps =
      Announced(description.announced_button_caps[HidP_Input], description.button_caps[HidP_Input].size());
  caps->NumberInputValueCaps =
      Announced(description.announced_value_caps[HidP_Input], description.value_caps[HidP_Input].size());
  caps->NumberOutputButtonCaps =
      Announced(description.announced_button_caps[HidP_Output], description.button_caps[HidP_Output].size());
  caps->NumberOutputValueCaps =
      Announced(description.announced_value_caps[HidP_Output], description.value_caps[HidP_Output].size());
  caps->NumberFeatureButtonCaps = Announced(description.announced_button_caps[HidP_Feature],
                                            description.button_caps[HidP_Feature].size());
  caps->NumberFeatureValueCaps =
      Announced(description.announced_value_caps[HidP_Feature], description.value_caps[HidP_Feature].size());
  return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_GetSpecificButtonCaps(HIDP_REPORT_TYPE report_type, USAGE usage_page, USHORT link_collection,
                                    USAGE usage, PHIDP_BUTTON_CAPS button_caps, PUSHORT button_caps_length,
                                    PHIDP_PREPARSED_DATA preparsed) {
  auto lock = Enter("HidP_GetSpecificButtonCaps");
  return SpecificCaps("HidP_GetSpecificButtonCaps", report_type, usage_page, link_collection, usage,
                      button_caps, button_caps_length, preparsed, &sim::DeviceSpec::button_caps);
}

NTSTATUS HidP_GetSpecificValueCaps(HIDP_REPORT_TYPE report_type, USAGE usage_page, USHORT link_collection,
                                   USAGE usage, PHIDP_VALUE_CAPS value_caps, PUSHORT value_caps_length,
                                   PHIDP_PREPARSED_DATA preparsed) {
  auto lock = Enter("HidP_GetSpecificValueCaps");
  return SpecificCaps("HidP_GetSpecificValueCaps", report_type, usage_page, link_collection, usage,
                      value_caps, value_caps_length, preparsed, &sim::DeviceSpec::value_caps);
}

ULONG HidP_MaxUsageListLength(HIDP_REPORT_TYPE report_type, USAGE usage_page,
                              PHIDP_PREPARSED_DATA preparsed) {
  auto lock = Enter("HidP_MaxUsageListLength");
  Trace("HidP_MaxUsageListLength type=%d page=0x%X preparsed=0x%" PRIXPTR, report_type, usage_page,
        reinterpret_cast<std::uintptr_t>(preparsed));
  Preparsed* held = FindPreparsed(preparsed);
  if (held == nullptr) return 0;
  CountDeviceCall(*held->device, "HidP_MaxUsageListLength");
  if (!ValidReportType(report_type)) return 0;
  const long fixed = held->device->description.max_usage_list_length[report_type];
  if (fixed >= 0) return static_cast<ULONG>(fixed);
  ULONG usages = 0;
  for (const HIDP_BUTTON_CAPS& caps : held->device->description.button_caps[report_type]) {
    if (usage_page != 0 && caps.UsagePage != usage_page) continue;
    if (!caps.IsRange) {
      usages += 1;
    } else if (caps.Range.UsageMax >= caps.Range.UsageMin) {
      usages += caps.Range.UsageMax - caps.Range.UsageMin + 1u;
    }
  }
  return usages;
}
