// What the driver accepts as a port and a speed, and why a port could not be
// opened, in the words of the command-line programs and of the windows.
#include <errno.h>
#include <string.h>

#include "driver/link_internal.h"
#include "driver/netport.h"

const int kLineSpeeds[kLineSpeedCount] = {9600, 19200, 57600, 115200};

bool IsLineSpeed(int baud) {
  for (int speed : kLineSpeeds)
    if (speed == baud) return true;
  return false;
}

bool ParsePortName(const char* text, int* comNumber) {
  if (!text) return false;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  int n = 0;
  if (lower(text[0]) == 'c' && lower(text[1]) == 'o' && lower(text[2]) == 'm' && ParseComNumber(text + 3, &n)) {
    if (comNumber) *comNumber = n;
    return true;
  }
  if (!km_driver::IsDevicePath(text) && !km_driver::net::ParseAddress(text, nullptr)) return false;
  if (comNumber) *comNumber = 0;
  return true;
}

#define KM_SPEEDS "9600, 19200, 57600 "
#define KM_SPEEDS_EN KM_SPEEDS "or 115200"
#define KM_SPEEDS_RU KM_SPEEDS "или 115200"
#define KM_RULE_EN "COM1..COM255, a device path, tcp://HOST:PORT or rfc2217://HOST:PORT"
#define KM_RULE_RU "COM1..COM255, путь к устройству, tcp://адрес:порт или rfc2217://адрес:порт"

const char* LineSpeedsText(PortTextLanguage lang) {
  return lang == kPortTextRussian ? KM_SPEEDS_RU : KM_SPEEDS_EN;
}
const char* PortNameRuleText(PortTextLanguage lang) {
  return lang == kPortTextRussian ? KM_RULE_RU : KM_RULE_EN;
}

namespace {

struct PortErrorRow {
  int error;
  const char* english;
  const char* russian;  // null: the English text serves (no Russian wording yet)
};

const char kNoDevice[] = "no such device";
const char kNoDeviceRu[] = "устройство не найдено";
const char kNoPermission[] =
    "permission denied: add the user to the dialout group (sudo usermod -aG dialout $USER) and log in again";
const char kNoPermissionRu[] =
    "нет прав доступа. Добавьте пользователя в группу dialout (sudo usermod -aG dialout $USER) и войдите в систему "
    "заново";
const char kInUse[] = "the port is in use by another program";
const char kInUseRu[] = "порт занят другой программой";
const char kFolderUnusable[] = "cannot be created";
const char kFolderUnusableRu[] = "папку виртуальных портов нельзя открыть";

// The English texts of the folder rows follow the folder's name.
const PortErrorRow kPortErrors[] = {
    {0, "no error", nullptr},
    {ENOENT, kNoDevice, kNoDeviceRu},
    {ENODEV, kNoDevice, kNoDeviceRu},
    {ENXIO, kNoDevice, kNoDeviceRu},
    {EACCES, kNoPermission, kNoPermissionRu},
    {EPERM, kNoPermission, kNoPermissionRu},
    {EBUSY, kInUse, kInUseRu},
    {EWOULDBLOCK, kInUse, kInUseRu},
    {ENOTTY, "not a serial port", nullptr},
    {EINVAL, "unsupported speed or settings", nullptr},
    {EIO, "the device stopped answering (unplugged?)", nullptr},
    {ETIMEDOUT, "the line takes no data (output stopped: check the cable and the flow control)", nullptr},
    {kPortErrorSpeed, "unsupported speed: " KM_SPEEDS_EN " baud", "неподдерживаемая скорость: " KM_SPEEDS_RU " бод"},
    {kPortErrorName, "not a port name: " KM_RULE_EN, "не имя порта: " KM_RULE_RU},
    {kPortErrorHostUnknown, "unknown host: no name server knows it (check the name, or give the IP address)",
     "неизвестный адрес: имя не найдено (проверьте имя или укажите IP-адрес)"},
    {kPortErrorConnectTimeout, "no answer from the host within 5 s (check the address, the network and the firewall)",
     "адрес не ответил за 5 с (проверьте адрес, сеть и брандмауэр)"},
    {ECONNREFUSED, "connection refused: nothing listens on that port (check the port number and the server)",
     "соединение отклонено: этот порт никто не слушает (проверьте номер порта и сервер)"},
    {EHOSTUNREACH, "host unreachable (check the address and the network)",
     "адрес недоступен (проверьте адрес и сеть)"},
    {ENETUNREACH, "network unreachable (check the address and the network)",
     "сеть недоступна (проверьте адрес и сеть)"},
    {ECONNRESET, "the server closed the connection", "сервер закрыл соединение"},
    {kPortErrorNoComControl,
     "the server offers no RFC 2217 COM port control (for a raw TCP port use tcp://)",
     "сервер не поддерживает управление портом RFC 2217 (для простого TCP-порта укажите tcp://)"},
    {PortFolderError(kFolderNotADirectory), "is a link or not a folder: remove it",
     "папка виртуальных портов является ссылкой или не папкой; удалите её"},
    {PortFolderError(kFolderNotOwned), "belongs to another user: remove it or set XDG_RUNTIME_DIR",
     "папка виртуальных портов принадлежит другому пользователю; удалите её или задайте XDG_RUNTIME_DIR"},
    {PortFolderError(kFolderOpenToOthers), "is writable by other users: chmod 700 it",
     "в папку виртуальных портов могут писать другие пользователи; выполните chmod 700"},
    {PortFolderError(kFolderCannotCreate), kFolderUnusable, kFolderUnusableRu},
    {kPortErrorFolder, kFolderUnusable, kFolderUnusableRu},
};

}  // namespace

const char* PortErrorText(int error, PortTextLanguage lang) {
  for (const PortErrorRow& row : kPortErrors) {
    if (row.error != error) continue;
    return lang == kPortTextRussian && row.russian ? row.russian : row.english;
  }
  return strerror(error);
}
