// The baseline for command latency: the least a reader of the command channel
// can do. It waits on the same event, reads every waiting record from the same
// mailslot and sends one device request per record. A record with command 99
// ends it.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "core/channel_names.h"
#include "core/device_request.h"

int main() {
  HANDLE slot = CreateMailslotW(mantlet::kMailslotName, 0, 0, nullptr);
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, mantlet::kCommandEventName);
  HANDLE device =
      CreateFileW(L"\\\\.\\cvn_tg", GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (slot == INVALID_HANDLE_VALUE || event == nullptr || device == INVALID_HANDLE_VALUE)
    return 1;
  std::vector<uint8_t> record;
  for (;;) {
    if (WaitForSingleObject(event, INFINITE) != WAIT_OBJECT_0)
      return 2;
    DWORD next = 0;
    while (GetMailslotInfo(slot, nullptr, &next, nullptr, nullptr) && next != MAILSLOT_NO_MESSAGE) {
      record.resize(next != 0 ? next : 1);
      DWORD read = 0;
      if (!ReadFile(slot, record.data(), static_cast<DWORD>(record.size()), &read, nullptr))
        break;
      if (read >= 4 && record[0] == 99)
        return 0;
      std::vector<uint8_t> block =
          mantlet::EncodeTwoWordReport(mantlet::kKeyboardHotkeysReport, 1, 2);
      DWORD returned = 0;
      DeviceIoControl(device, mantlet::kToolsDeviceIoControl, block.data(),
                      static_cast<DWORD>(block.size()), block.data(),
                      static_cast<DWORD>(block.size()), &returned, nullptr);
    }
  }
}
