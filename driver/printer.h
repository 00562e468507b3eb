// KM4410R printer driver: the serial link, the frame exchange, the result
// record and one function per register command.
//
// A plain module with static state: one port, one exchange, one result record.
// Texts at this interface are zero-terminated Windows-1251 byte strings; the
// driver alone translates them to and from the register's code page.
// Every function returns 0 when the exchange was done and delivered, -1 when
// it was refused (busy, port not opened, data too long or a parameter out of
// range), and -2..-4 for the further range checks of ProgramArticle.
#pragma once
#include <cstdint>

#include "common/comports.h"  // COM port numbers and the virtual port folder
#include "driver/command_codes.h"

// Window handle of the posted-message delivery (driver/testing.h). The
// program always passes null.
using WindowHandle = void*;

// The most fields an answer is split into: the last takes the rest of the text.
constexpr int kMaxFields = 20;
// The longest data text that fits a host frame, in bytes.
constexpr int kMaxDataText = 189;

// The result record of one exchange. Its text pointers point into driver
// buffers that the next exchange overwrites.
struct RetData {
  int32_t FieldCount;      // number of answer fields; 0 when the answer is empty
  int32_t Command;         // command code of the exchange
  int32_t Param;           // the caller's param, unchanged
  uint32_t ErrorFlags;     // link and status flags (see the constants below)
  const char* CommandName; // name from the command-name table
  const char* SentData;    // the data text sent, untranslated
  const char* AnswerText;  // the answer, translated, before corrections (<= 128 chars)
  const char* Fields[kMaxFields];  // the answer fields; the first FieldCount are meaningful
  uint8_t StatusBytes[6];  // status bytes 0..5 with bit 7 cleared
};

using ResultHandler = void (*)(RetData&);

// ErrorFlags bits.
enum : uint32_t {
  kFlagSyntax = 0x00000001,
  kFlagBadCommand = 0x00000002,
  kFlagDateTime = 0x00000004,
  kFlagPrinter = 0x00000008,
  kFlagOverflow = 0x00000010,
  kFlagNotAllowed = 0x00000020,
  kFlagRamReset = 0x00000040,
  kFlagReturnReceipt = 0x00000080,
  kFlagRamDestroyed = 0x00000100,
  kFlagNoPaper = 0x00000200,
  kFlagFiscalOpen = 0x00000400,
  kFlagNonFiscalOpen = 0x00000800,
  kFlagCoverOpen = 0x00001000,
  kFlagNoFiscalModule = 0x00002000,
  kFlagNumbersProgrammed = 0x00004000,
  kFlagFmWriteError = 0x00010000,
  kFlagFmFull = 0x00020000,
  kFlagFmReadOnly = 0x00040000,
  kFlagLastZError = 0x00080000,
  kFlagFmLittleRoom = 0x00100000,
  kFlagFmFormatted = 0x00200000,
  kFlagFiscalized = 0x00400000,
  kFlagTaxRatesDefined = 0x00800000,
  kFlagChecksum = 0x01000000,
  kFlagNak = 0x02000000,
  kFlagTimeout = 0x04000000,
  kFlagGeneral = 0x08000000,
  kFlagFmGeneral = 0x10000000,
};

// ---- Serial link -------------------------------------------------------

// The register's four line speeds, slowest first. OpenPort and its kin take
// these and no others.
constexpr int kLineSpeedCount = 4;
extern const int kLineSpeeds[kLineSpeedCount];
bool IsLineSpeed(int baud);
// The speed a port box, a command line and a new station start with.
constexpr int kDefaultLineSpeed = 19200;
// The COM ports a port box lists before the ports found on the machine.
constexpr int kListedComPorts = 20;

// What a port name is, wherever a port is accepted: "COMn" (the letters in
// any case, n decimal without a leading zero, 1..255), a device path as it
// stands (on POSIX one that starts with '/', on Windows one that starts with
// "\\.\"), or a port on the network, "tcp://HOST:PORT" (raw TCP) or
// "rfc2217://HOST:PORT" (Telnet with COM port control; an IPv6 host in
// brackets). True for a port name, with *comNumber set to n, or to 0 for a
// path or a network port; false for anything else.
bool ParsePortName(const char* text, int* comNumber);

// Opens COM port n (1-based) at the given speed, 8N1. On Linux COM n is the
// link COMn in the virtual port folder when it exists, else /dev/ttyS<n-1>.
// Returns the port handle, or -1 (reason in GetLastPortError). Every open
// closes the port opened before.
int OpenPort(int port, int baud);
// The same for a device path given as it stands ("/dev/ttyUSB0"), or a
// network port ("tcp://192.168.1.20:4001"). Opening a network port takes at
// most 5 s (the name lookup, the connection and, for RFC 2217, the server's
// consent to COM port control); the exclusive use a local port has is then
// what the server gives.
int OpenPortPath(const char* path, int baud);
// The same for a port name (see ParsePortName); -1 with PortError::kName for a
// text that is none.
int OpenPortByName(const char* name, int baud);
// Flushes, purges and closes the port; nonzero on success.
int ClosePort();
// One exchange; see the file comment for the return values. Refused (-1,
// reason in GetLastRefusal) when no port is open, while another exchange
// runs, or when the data text does not fit a frame.
int SendCommand(WindowHandle window, ResultHandler handler, int param, int command,
                const char* data);
// Sets the no-translation switch (nonzero: texts pass unchanged). Starts at 1.
void SetNoTranslation(uint8_t flag);
uint8_t GetNoTranslation();
// The register's switch rule: true when the switch field (field 4 of the
// diagnostic answer) means that texts pass untranslated, i.e. a field of 6 to
// 8 characters whose characters 3 to 6 read "1011". Null or over-long
// (20 characters or more): false.
bool SwitchesMeanNoTranslation(const char* switches);
// Name of a command code; "Неверная команда" for codes without a name.
const char* GetCommandName(int command);
// The driver's one result record (the same record handlers receive).
RetData& DriverRetData();

// Why the driver refused the last command it refused (a command function or
// SendCommand returning -1, or -2..-4 from ProgramArticle). kRefusalNone once
// a later command was accepted. RefusalMessage (driver/flags.h) words it.
enum SendRefusal {
  kRefusalNone = 0,
  kRefusalPortClosed = 1,  // no port is open
  kRefusalBusy = 2,        // another exchange is running
  kRefusalBadData = 3,     // a data text that is invalid or too long, a parameter out of range
};
int GetLastRefusal();

// ---- The diagnostic answer (kCmdDiagnosticInfo) ------------------------

// The fields of the register's answer to the diagnostic request, as texts
// of the answer record (valid until the next exchange). A field the answer
// did not carry is "" (never null).
struct DiagnosticInfo {
  const char* firmware;      // field 0: firmware version
  const char* firmwareDate;  // field 1
  const char* firmwareTime;  // field 2
  const char* switches;      // field 4: eight '0'/'1', switch 1 first
  const char* serialNumber;  // field 6
  const char* fiscalNumber;  // field 7
};
// Picks the fields out of a diagnostic answer (never past FieldCount).
// True when the answer is one to kCmdDiagnosticInfo and carries all eight
// fields; out is filled in every case (all "" for an answer to another
// command).
bool ParseDiagnosticInfo(const RetData& answer, DiagnosticInfo* out);

// ---- Why a port could not be opened ---------------------------------------

// Why a port could not be opened or why the link broke: every system error
// is worded as one of these, on every platform.
enum class PortError : uint8_t {
  kNone,
  kNoDevice,            // no such device
  kNoPermission,        // the user may not open it
  kInUse,               // another program holds it
  kNotSerial,           // a file or a device that is no serial port
  kBadSettings,         // a speed or settings the port refuses
  kDeviceGone,          // the device stopped answering (unplugged?)
  kLineStalled,         // the line takes no data within the write deadline
  kTooManyPorts,        // no free place for another open port
  kOutOfMemory,         // the system has no memory or buffers left
  kSpeed,               // a speed that is not one of kLineSpeeds
  kName,                // OpenPortByName given a text that is no port name
  kHostUnknown,         // a network port's host that no name server knows
  kConnectTimeout,      // a host that did not answer within the open deadline
  kConnectionRefused,   // nothing listens on that port
  kHostUnreachable,
  kNetworkUnreachable,
  kConnectionClosed,    // the server closed the connection
  kNoComControl,        // an rfc2217:// server that refused COM port control or did not agree in time
  // COM n could not be looked up: the virtual port folder is unsafe
  // (GetLastPortDevice names the folder), one value per kFolder... check.
  kFolderNotADirectory,
  kFolderNotOwned,
  kFolderOpenToOthers,
  kFolderCannotCreate,
};
constexpr int kPortErrorCount = static_cast<int>(PortError::kFolderCannotCreate) + 1;

// Why the last OpenPort failed (or why the link broke), and the device it
// concerned.
PortError GetLastPortError();
const char* GetLastPortDevice();

enum PortTextLanguage { kPortTextEnglish = 0, kPortTextRussian = 1 };
// The reason for a port error in UTF-8: English for the command-line
// programs, Russian for the windows.
const char* PortErrorText(PortError error, PortTextLanguage lang);
// The four speeds as a person reads them: "9600, 19200, 57600 or 115200".
const char* LineSpeedsText(PortTextLanguage lang);
// What a port name may be, as a person reads it: "COM1..COM255, a device
// path, tcp://HOST:PORT or rfc2217://HOST:PORT".
const char* PortNameRuleText(PortTextLanguage lang);
// The reason of the last failure (GetLastPortError).
const char* GetLastPortErrorText(PortTextLanguage lang = kPortTextEnglish);

// The device COM n stands for on this machine (see OpenPort); false when n is
// not 1..255, the buffer is too small or the virtual port folder is unsafe.
bool ResolveComPort(int port, char* out, unsigned size);
// The folder check of the last COM lookup (kFolderUsable when none failed).
int GetLastPortFolderCheck();

// ---- A link that comes back ---------------------------------------------

// An exchange that finds the link gone (the connection closed or reset, the
// serial device gone: unplugged, or its other end closed) fails as it would
// anyway, and the port's device is closed then. The next exchange first opens
// the same port again, by the same name and at the same speed: for the first
// 30 s after the drop it keeps trying for up to 5 s (the open deadline), so
// that a link back within that time costs little; later it tries once, and
// at most once every 5 s (the exchanges in between fail at once). If
// that fails, the exchange fails without sending and leaves the next try to
// the exchange after it. An exchange is never repeated: the register may
// have carried out the one in flight. ClosePort ends the port for good.
struct LinkStatus {
  bool up = false;  // a port is open and its link is not known to be gone
  int drops = 0;    // times the link went since the port was opened
  int returns = 0;  // times it was opened again
  PortError error = PortError::kNone;  // why it went last, or why opening it again failed last
};
LinkStatus GetLinkStatus();

// ---- Command functions -------------------------------------------------
// Each takes the window handle, result handler and param of SendCommand first.

#define KM_LEAD WindowHandle window, ResultHandler handler, int param

int ClearDisplay(KM_LEAD);
int ReadNetworkSettings(KM_LEAD);
int OpenNonFiscalReceipt(KM_LEAD);
int CloseNonFiscalReceipt(KM_LEAD);
int PrintNonFiscalText(KM_LEAD, const char* text);
int CutPaper(KM_LEAD);
int OpenFiscalReceipt(KM_LEAD, uint32_t op, const char* password, uint32_t till);
int PrintFiscalText(KM_LEAD, const char* text);
int CancelReceipt(KM_LEAD);
int SetDateTime(KM_LEAD, const char* date, const char* time);
int GetDateTime(KM_LEAD);
int PrintDailyReport(KM_LEAD, const char* password, char option);
int PrintDiagnostics(KM_LEAD);
int PrintArticleReport(KM_LEAD, const char* password, char kind);
int PrintFullReportByNumber(KM_LEAD, const char* password, int first, int last);
int GetStatus(KM_LEAD, int flag);
int PrintShortReportByDate(KM_LEAD, const char* password, const char* start, const char* end);
int Beep(KM_LEAD);
int SetDecimalsAndTaxRates(KM_LEAD, const char* password, int decimals, const char* groups,
                           double rate1, double rate2, double rate3, double rate4);
int ReadDecimalsAndTaxRates(KM_LEAD);
int OpenReturnReceipt(KM_LEAD, uint32_t op, const char* password, uint32_t till);
int GetDiagnosticInfo(KM_LEAD, int flag);
int PrintFullReportByDate(KM_LEAD, const char* password, const char* start, const char* end);
int PrintShortReportByNumber(KM_LEAD, const char* password, int first, int last);
int GetTaxRates(KM_LEAD);
int GetTaxNumber(KM_LEAD);
int SetOperatorPassword(KM_LEAD, int op, const char* oldPassword, const char* newPassword);
int SetOperatorName(KM_LEAD, int op, const char* password, const char* name);
int GetOperatorInfo(KM_LEAD, int op);
int ReadDeviceId(KM_LEAD);

int SetHeaderFooter(KM_LEAD, int option, const char* text);
int DisplayLowerLine(KM_LEAD, const char* text);
int DisplayUpperLine(KM_LEAD, const char* text);
int RegisterSale(KM_LEAD, uint8_t sale, int article, double quantity, double percent,
                 double amount);
int Subtotal(KM_LEAD, int first, int second, double percent, double amount);
int ReceiptTotal(KM_LEAD, const char* text, char payment, double amount);
int CloseFiscalReceipt(KM_LEAD);
int ServiceCashInOut(KM_LEAD, double amount);
int OpenCashDrawer(KM_LEAD, int pulse);
int ProgramArticle(KM_LEAD, char taxGroup, int article, int group, double price,
                   const char* password, const char* name);
int DeleteArticles(KM_LEAD, int article, const char* password);
int ResetOperatorPassword(KM_LEAD, int op, const char* password);

#undef KM_LEAD
