// What the driver accepts as a port and a speed, and why a port could not be
// opened, in the words of the command-line programs and of the windows.
#include "driver/link_internal.h"
#include "driver/netport.h"
#include "driver/port.h"

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

#define KM_TEXT(x) #x
#define KM_NUMBER_TEXT(x) KM_TEXT(x)
#define KM_OPEN_DEADLINE_TEXT KM_NUMBER_TEXT(KM_OPEN_DEADLINE_S)

namespace {

struct PortErrorRow {
  PortError error;
  const char* english;
  const char* russian;
};

const char kNoPermission[] =
    "permission denied: add the user to the dialout group (sudo usermod -aG dialout $USER) and log in again";
const char kNoPermissionRu[] =
    "нет прав доступа. Добавьте пользователя в группу dialout (sudo usermod -aG dialout $USER) и войдите в систему "
    "заново";

// One row per error, in the order of PortError. The English texts of the
// folder rows follow the folder's name.
constexpr PortErrorRow kPortErrors[] = {
    {PortError::kNone, "no error", "ошибки нет"},
    {PortError::kNoDevice, "no such device", "устройство не найдено"},
    {PortError::kNoPermission, kNoPermission, kNoPermissionRu},
    {PortError::kInUse, "the port is in use by another program", "порт занят другой программой"},
    {PortError::kNotSerial, "not a serial port", "устройство не является последовательным портом"},
    {PortError::kBadSettings, "unsupported speed or settings", "неподдерживаемая скорость или настройки порта"},
    {PortError::kDeviceGone, "the device stopped answering (unplugged?)", "устройство перестало отвечать (отключено?)"},
    {PortError::kLineStalled, "the line takes no data (output stopped: check the cable and the flow control)",
     "линия не принимает данные (вывод остановлен: проверьте кабель и управление потоком)"},
    {PortError::kTooManyPorts, "too many ports open at once", "открыто слишком много портов"},
    {PortError::kOutOfMemory, "out of memory", "недостаточно памяти"},
    {PortError::kSpeed, "unsupported speed: " KM_SPEEDS_EN " baud", "неподдерживаемая скорость: " KM_SPEEDS_RU " бод"},
    {PortError::kName, "not a port name: " KM_RULE_EN, "не имя порта: " KM_RULE_RU},
    {PortError::kHostUnknown, "unknown host: no name server knows it (check the name, or give the IP address)",
     "неизвестный адрес: имя не найдено (проверьте имя или укажите IP-адрес)"},
    {PortError::kConnectTimeout,
     "no answer from the host within " KM_OPEN_DEADLINE_TEXT " s (check the address, the network and the firewall)",
     "адрес не ответил за " KM_OPEN_DEADLINE_TEXT " с (проверьте адрес, сеть и брандмауэр)"},
    {PortError::kConnectionRefused,
     "connection refused: nothing listens on that port (check the port number and the server)",
     "соединение отклонено: этот порт никто не слушает (проверьте номер порта и сервер)"},
    {PortError::kHostUnreachable, "host unreachable (check the address and the network)",
     "адрес недоступен (проверьте адрес и сеть)"},
    {PortError::kNetworkUnreachable, "network unreachable (check the address and the network)",
     "сеть недоступна (проверьте адрес и сеть)"},
    {PortError::kConnectionClosed, "the server closed the connection", "сервер закрыл соединение"},
    {PortError::kNoComControl, "the server offers no RFC 2217 COM port control (for a raw TCP port use tcp://)",
     "сервер не поддерживает управление портом RFC 2217 (для простого TCP-порта укажите tcp://)"},
    {PortError::kFolderNotADirectory, "is a link or not a folder: remove it",
     "папка виртуальных портов является ссылкой или не папкой; удалите её"},
    {PortError::kFolderNotOwned, "belongs to another user: remove it or set XDG_RUNTIME_DIR",
     "папка виртуальных портов принадлежит другому пользователю; удалите её или задайте XDG_RUNTIME_DIR"},
    {PortError::kFolderOpenToOthers, "is writable by other users: chmod 700 it",
     "в папку виртуальных портов могут писать другие пользователи; выполните chmod 700"},
    {PortError::kFolderCannotCreate, "cannot be created", "папку виртуальных портов нельзя открыть"},
};
static_assert(sizeof kPortErrors / sizeof kPortErrors[0] == kPortErrorCount, "one row per port error");

constexpr bool RowsInOrder() {
  for (int i = 0; i < kPortErrorCount; ++i)
    if (static_cast<int>(kPortErrors[i].error) != i) return false;
  return true;
}
static_assert(RowsInOrder(), "the rows follow the order of PortError");

}  // namespace

const char* PortErrorText(PortError error, PortTextLanguage lang) {
  const int i = static_cast<int>(error);
  if (i < 0 || i >= kPortErrorCount) return "";
  return lang == kPortTextRussian ? kPortErrors[i].russian : kPortErrors[i].english;
}

PortError km_driver::FolderPortError(int check) {
  switch (check) {
    case kFolderNotADirectory: return PortError::kFolderNotADirectory;
    case kFolderNotOwned: return PortError::kFolderNotOwned;
    case kFolderOpenToOthers: return PortError::kFolderOpenToOthers;
    default: return PortError::kFolderCannotCreate;
  }
}
