// The HID class library over the device table: attributes, capabilities,
// capability lists and preparsed data.
#include <vector>

#include "support/sim_fixture.h"

namespace {

HIDP_BUTTON_CAPS Buttons(USAGE page, USAGE first, USAGE last, USHORT link = 0) {
  HIDP_BUTTON_CAPS caps = {};
  caps.UsagePage = page;
  caps.LinkCollection = link;
  caps.IsRange = first != last;
  if (caps.IsRange) {
    caps.Range.UsageMin = first;
    caps.Range.UsageMax = last;
  } else {
    caps.NotRange.Usage = first;
  }
  return caps;
}

HIDP_VALUE_CAPS Value(USAGE page, USAGE usage) {
  HIDP_VALUE_CAPS caps = {};
  caps.UsagePage = page;
  caps.NotRange.Usage = usage;
  return caps;
}

class HidLibraryTest : public SimTest {
 protected:
  void Open(const sim::DeviceSpec& description) {
    device_ = sim::AddDevice(description);
    handle_ = CreateFileA(sim::DevicePath(device_).c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                          nullptr);
    ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(HidD_GetPreparsedData(handle_, &preparsed_));
  }

  void Close() {
    EXPECT_TRUE(HidD_FreePreparsedData(preparsed_));
    EXPECT_TRUE(CloseHandle(handle_));
  }

  static sim::DeviceSpec Keypad() {
    sim::DeviceSpec description;
    description.name = "keypad";
    description.usage_page = 0x0C;
    description.usage = 0x01;
    description.vendor_id = 0x1111;
    description.product_id = 0x2222;
    description.version = 0x0333;
    description.input_report_length = 4;
    description.output_report_length = 2;
    description.feature_report_length = 9;
    description.button_caps[HidP_Input] = {Buttons(0x09, 1, 8), Buttons(0x0C, 0xE2, 0xE2),
                                           Buttons(0x09, 9, 12, 1)};
    description.value_caps[HidP_Input] = {Value(0x01, 0x30), Value(0xFF00, 0x01)};
    description.button_caps[HidP_Feature] = {Buttons(0x08, 1, 3)};
    return description;
  }

  sim::DeviceId device_ = 0;
  HANDLE handle_ = nullptr;
  PHIDP_PREPARSED_DATA preparsed_ = nullptr;
};

TEST_F(HidLibraryTest, AttributesAndCaps) {
  sim::DeviceSpec description = Keypad();
  description.announced_value_caps[HidP_Output] = 3;
  Open(description);
  HIDD_ATTRIBUTES attributes = {};
  ASSERT_TRUE(HidD_GetAttributes(handle_, &attributes));
  EXPECT_EQ(attributes.Size, sizeof(HIDD_ATTRIBUTES));
  EXPECT_EQ(attributes.VendorID, 0x1111);
  EXPECT_EQ(attributes.ProductID, 0x2222);
  EXPECT_EQ(attributes.VersionNumber, 0x0333);
  HIDP_CAPS caps;
  ASSERT_EQ(HidP_GetCaps(preparsed_, &caps), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(caps.UsagePage, 0x0C);
  EXPECT_EQ(caps.Usage, 0x01);
  EXPECT_EQ(caps.InputReportByteLength, 4);
  EXPECT_EQ(caps.OutputReportByteLength, 2);
  EXPECT_EQ(caps.FeatureReportByteLength, 9);
  EXPECT_EQ(caps.NumberInputButtonCaps, 3);
  EXPECT_EQ(caps.NumberInputValueCaps, 2);
  EXPECT_EQ(caps.NumberOutputButtonCaps, 0);
  EXPECT_EQ(caps.NumberOutputValueCaps, 3) << "the announced count, not the list's";
  EXPECT_EQ(caps.NumberFeatureButtonCaps, 1);
  EXPECT_EQ(caps.NumberFeatureValueCaps, 0);
  Close();
  ExpectNothingHeld();
}

TEST_F(HidLibraryTest, SpecificButtonCapsSelectCopyAndReport) {
  Open(Keypad());
  struct Row {
    HIDP_REPORT_TYPE type;
    USAGE page;
    USHORT link;
    USAGE usage;
    USHORT room;
    NTSTATUS status;
    std::vector<USAGE> pages;  // UsagePage of each entry copied, in order
  };
  const Row rows[] = {
      {HidP_Input, 0, 0, 0, 3, HIDP_STATUS_SUCCESS, {0x09, 0x0C, 0x09}},
      {HidP_Input, 0, 0, 0, 5, HIDP_STATUS_SUCCESS, {0x09, 0x0C, 0x09}},
      {HidP_Input, 0, 0, 0, 2, HIDP_STATUS_BUFFER_TOO_SMALL, {0x09, 0x0C}},
      {HidP_Input, 0x09, 0, 0, 3, HIDP_STATUS_SUCCESS, {0x09, 0x09}},
      {HidP_Input, 0x09, 1, 0, 3, HIDP_STATUS_SUCCESS, {0x09}},
      {HidP_Input, 0x09, 0, 5, 3, HIDP_STATUS_SUCCESS, {0x09}},
      {HidP_Input, 0x0C, 0, 0xE2, 3, HIDP_STATUS_SUCCESS, {0x0C}},
      {HidP_Input, 0x0C, 0, 0xE9, 3, HIDP_STATUS_USAGE_NOT_FOUND, {}},
      {HidP_Output, 0, 0, 0, 3, HIDP_STATUS_USAGE_NOT_FOUND, {}},
      {HidP_Feature, 0, 0, 0, 3, HIDP_STATUS_SUCCESS, {0x08}},
  };
  int index = 0;
  for (const Row& row : rows) {
    std::vector<HIDP_BUTTON_CAPS> out(row.room);
    USHORT length = row.room;
    EXPECT_EQ(
        HidP_GetSpecificButtonCaps(row.type, row.page, row.link, row.usage, out.data(), &length, preparsed_),
        row.status)
        << "row " << index;
    ASSERT_EQ(length, row.pages.size()) << "row " << index;
    for (USHORT i = 0; i < length; ++i) EXPECT_EQ(out[i].UsagePage, row.pages[i]) << "row " << index;
    ++index;
  }
  Close();
  ExpectNothingHeld();
}

TEST_F(HidLibraryTest, SpecificValueCaps) {
  Open(Keypad());
  HIDP_VALUE_CAPS out[4] = {};
  USHORT length = 4;
  EXPECT_EQ(HidP_GetSpecificValueCaps(HidP_Input, 0, 0, 0, out, &length, preparsed_), HIDP_STATUS_SUCCESS);
  ASSERT_EQ(length, 2);
  EXPECT_EQ(out[0].NotRange.Usage, 0x30);
  EXPECT_EQ(out[1].UsagePage, 0xFF00);
  length = 4;
  EXPECT_EQ(HidP_GetSpecificValueCaps(HidP_Feature, 0, 0, 0, out, &length, preparsed_),
            HIDP_STATUS_USAGE_NOT_FOUND);
  EXPECT_EQ(length, 0);
  length = 4;
  EXPECT_EQ(HidP_GetSpecificValueCaps(static_cast<HIDP_REPORT_TYPE>(7), 0, 0, 0, out, &length, preparsed_),
            HIDP_STATUS_INVALID_REPORT_TYPE);
  Close();
  ExpectNothingHeld();
}

TEST_F(HidLibraryTest, MaxUsageListLengthCountsButtonUsagesOfThePage) {
  sim::DeviceSpec description = Keypad();
  description.max_usage_list_length[HidP_Feature] = 17;
  Open(description);
  struct Row {
    HIDP_REPORT_TYPE type;
    USAGE page;
    ULONG expected;
  };
  const Row rows[] = {
      {HidP_Input, 0x09, 12}, {HidP_Input, 0x0C, 1}, {HidP_Input, 0, 13},
      {HidP_Input, 0x01, 0},  {HidP_Output, 0, 0},   {HidP_Feature, 0x08, 17},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(HidP_MaxUsageListLength(row.type, row.page, preparsed_), row.expected)
        << "type " << row.type << ", page " << row.page;
  }
  Close();
  ExpectNothingHeld();
}

TEST_F(HidLibraryTest, PreparsedDataNotHeldIsRefusedEverywhere) {
  Open(Keypad());
  PHIDP_PREPARSED_DATA stale = preparsed_;
  EXPECT_TRUE(HidD_FreePreparsedData(preparsed_));
  HIDP_CAPS caps = {};
  EXPECT_EQ(HidP_GetCaps(stale, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
  HIDP_BUTTON_CAPS buttons[1];
  USHORT length = 1;
  EXPECT_EQ(HidP_GetSpecificButtonCaps(HidP_Input, 0, 0, 0, buttons, &length, stale),
            HIDP_STATUS_INVALID_PREPARSED_DATA);
  HIDP_VALUE_CAPS values[1];
  EXPECT_EQ(HidP_GetSpecificValueCaps(HidP_Input, 0, 0, 0, values, &length, stale),
            HIDP_STATUS_INVALID_PREPARSED_DATA);
  EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 0, stale), 0u);
  EXPECT_FALSE(HidD_FreePreparsedData(stale));
  EXPECT_EQ(sim::Held().bad_frees, 1);
  EXPECT_EQ(sim::DeviceCalls(device_, "HidD_FreePreparsedData"), 1) << "the bad free names no device";
  EXPECT_EQ(sim::Calls("HidD_FreePreparsedData"), 2);
  EXPECT_TRUE(CloseHandle(handle_));
  const sim::Resources held = sim::Held();
  EXPECT_EQ(held.preparsed, 0);
  EXPECT_EQ(held.handles(), 0);
}

TEST_F(HidLibraryTest, EachPreparsedDataIsCountedUntilFreed) {
  Open(Keypad());
  PHIDP_PREPARSED_DATA second = nullptr;
  ASSERT_TRUE(HidD_GetPreparsedData(handle_, &second));
  EXPECT_NE(second, preparsed_);
  EXPECT_EQ(sim::Held().preparsed, 2);
  EXPECT_TRUE(HidD_FreePreparsedData(second));
  EXPECT_EQ(sim::Held().preparsed, 1);
  Close();
  EXPECT_EQ(sim::DeviceCalls(device_, "HidD_GetPreparsedData"), 2);
  EXPECT_EQ(sim::DeviceCalls(device_, "HidD_FreePreparsedData"), 2);
  ExpectNothingHeld();
}

TEST_F(HidLibraryTest, UnpluggedDeviceRefusesQueries) {
  Open(Keypad());
  sim::RemoveDevice(device_);
  HIDD_ATTRIBUTES attributes = {};
  SetLastError(0);
  EXPECT_FALSE(HidD_GetAttributes(handle_, &attributes));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  PHIDP_PREPARSED_DATA more = nullptr;
  EXPECT_FALSE(HidD_GetPreparsedData(handle_, &more));
  Close();
  ExpectNothingHeld();
}

TEST_F(HidLibraryTest, ButtonCollectionIsAConsumerPageCollectionWithFourByteReports) {
  Open(sim::ButtonCollection("buttons"));
  HIDP_CAPS caps;
  ASSERT_EQ(HidP_GetCaps(preparsed_, &caps), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(caps.UsagePage, 0x0C);
  EXPECT_EQ(caps.InputReportByteLength, 4);
  EXPECT_GE(caps.NumberInputButtonCaps, 1);
  EXPECT_GE(HidP_MaxUsageListLength(HidP_Input, 0, preparsed_), 8u);
  Close();
  ExpectNothingHeld();
}

}  // namespace
