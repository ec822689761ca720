// The program file's version resource, read as Explorer reads it for the
// file's properties: product name, file version, and the identification
// string as the file description.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "agent_process.h"
#include "check.h"

using namespace wintest;

namespace {

struct Field {
  const char* name;
  const char* expected;
};

const Field kFields[] = {
    {"FileDescription", "Vandrel Corvix USB Driver Ver 0.9"},
    {"ProductName", AGENT_PRODUCT_NAME},
    {"FileVersion", AGENT_VERSION_TEXT},
    {"ProductVersion", AGENT_VERSION_TEXT},
    {"OriginalFilename", "button-agent.exe"},
};

}  // namespace

int main(int argc, char** argv) {
  const char* kProgram = "version_info_test";
  if (argc != 2) {
    fprintf(stderr, "usage: %s AGENT.exe\n", kProgram);
    return 2;
  }
  std::string path = WindowsPath(argv[1]);
  SetCheckContext("version resource of %s", path.c_str());
  DWORD ignored = 0;
  SetLastError(0xDEADBEEF);
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (!CHECK(size != 0, "no version resource (error %lu)", GetLastError())) return CheckReport(kProgram);
  std::vector<BYTE> block(size);
  if (!CHECK(GetFileVersionInfoA(path.c_str(), 0, size, block.data()),
             "version resource unreadable (error %lu)", GetLastError())) {
    return CheckReport(kProgram);
  }

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  if (CHECK(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixed_size) &&
                fixed_size >= sizeof *fixed,
            "no fixed file information")) {
    CHECK(fixed->dwSignature == VS_FFI_SIGNATURE, "signature 0x%08lX", fixed->dwSignature);
    CHECK(fixed->dwFileVersionMS == MAKELONG(AGENT_VERSION_MINOR, AGENT_VERSION_MAJOR) &&
              fixed->dwFileVersionLS == MAKELONG(0, AGENT_VERSION_PATCH),
          "file version %lu.%lu.%lu.%lu", fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xFFFF,
          fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xFFFF);
    CHECK(fixed->dwFileType == VFT_APP, "file type %lu, expected an application", fixed->dwFileType);
  }

  struct Translation {
    WORD language;
    WORD code_page;
  }* translation = nullptr;
  UINT translation_size = 0;
  if (!CHECK(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                            reinterpret_cast<void**>(&translation), &translation_size) &&
                 translation_size >= sizeof *translation,
             "no translation table")) {
    return CheckReport(kProgram);
  }
  for (const Field& field : kFields) {
    char query[128];
    snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", translation->language,
             translation->code_page, field.name);
    char* value = nullptr;
    UINT length = 0;
    if (CHECK(VerQueryValueA(block.data(), query, reinterpret_cast<void**>(&value), &length) &&
                  value != nullptr,
              "%s is missing", field.name)) {
      CHECK(std::string(value) == field.expected, "%s is \"%s\", expected \"%s\"", field.name, value,
            field.expected);
    }
  }
  return CheckReport(kProgram);
}
