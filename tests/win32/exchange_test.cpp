// The driver's exchange through the Win32 backend, run under Wine against
// km_wine_sim (wine_sim.cpp) mapped as a COM port: the frame on the line as
// the register received it, the answer decoded, a checksum error, a silent
// register after the driver's whole wait, a port that a second open finds
// in use, and the system's error codes as port errors.
//
//   km_win32_exchange_test N JOURNAL
//   km_win32_exchange_test --hold N SECONDS
//
// N is the COM number, JOURNAL the register's journal of received frames
// (hex, one frame a line) as a Windows path. Exit status 0 when every check
// holds, 1 otherwise; each failed check is one line on stderr. With --hold it
// only opens COM N, says "holding COMN" and keeps the port for SECONDS (or
// until killed), as another program on the port would.
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "driver/flags.h"
#include "driver/printer.h"
#include "driver/testing.h"

namespace {

int gFailures = 0;

#define CHECK(cond, ...)                                                       \
  do {                                                                         \
    if (!(cond)) {                                                             \
      ++gFailures;                                                             \
      fprintf(stderr, "FAIL line %d: %s: ", __LINE__, #cond);                  \
      fprintf(stderr, __VA_ARGS__);                                            \
      fputc('\n', stderr);                                                     \
    }                                                                          \
  } while (0)

RetData gLast{};
int gDelivered = 0;
void Keep(RetData& rd) {
  gLast = rd;
  ++gDelivered;
}

using Clock = std::chrono::steady_clock;
double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// The journal's lines once it has at least `count` of them (the register
// writes a frame down a moment after it came), or what it has after 2 s.
std::vector<std::string> JournalLines(const char* path, size_t count) {
  std::vector<std::string> lines;
  const auto t0 = Clock::now();
  do {
    lines.clear();
    if (FILE* f = fopen(path, "r")) {
      char line[1024];
      while (fgets(line, sizeof line, f)) {
        line[strcspn(line, "\r\n")] = 0;
        lines.push_back(line);
      }
      fclose(f);
    }
    if (lines.size() >= count) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (MsSince(t0) < 2000);
  return lines;
}

int Exchange(int command, const char* data, double* tookMs) {
  gDelivered = 0;
  gLast = RetData{};
  const auto t0 = Clock::now();
  const int r = SendCommand(nullptr, Keep, 0, command, data);
  *tookMs = MsSince(t0);
  return r;
}

// The Win32 and Winsock codes as the port layer words them. A COM port is
// not shared: access denied is another program holding it.
void SystemErrorsAsPortErrors() {
  using E = PortError;
  const struct {
    long code;
    PortError error;
  } cases[] = {
      {0, E::kNone},                             {ERROR_FILE_NOT_FOUND, E::kNoDevice},
      {ERROR_PATH_NOT_FOUND, E::kNoDevice},      {ERROR_DEV_NOT_EXIST, E::kNoDevice},
      {ERROR_ACCESS_DENIED, E::kInUse},          {ERROR_SHARING_VIOLATION, E::kInUse},
      {ERROR_INVALID_PARAMETER, E::kBadSettings}, {ERROR_SEM_TIMEOUT, E::kLineStalled},
      {ERROR_GEN_FAILURE, E::kDeviceGone},       {ERROR_DEVICE_NOT_CONNECTED, E::kDeviceGone},
      {WSAECONNREFUSED, E::kConnectionRefused},  {WSAETIMEDOUT, E::kConnectTimeout},
      {WSAEHOSTUNREACH, E::kHostUnreachable},    {WSAENETDOWN, E::kNetworkUnreachable},
      {WSAECONNRESET, E::kConnectionClosed},     {WSAECONNABORTED, E::kConnectionClosed},
      {WSAHOST_NOT_FOUND, E::kHostUnknown},      {WSATRY_AGAIN, E::kHostUnknown},
      {WSAENOBUFS, E::kOutOfMemory},
  };
  for (const auto& c : cases) {
    const PortError error = km_driver::port::SystemPortError(c.code);
    CHECK(error == c.error, "code %ld is \"%s\"", c.code, PortErrorText(error, kPortTextEnglish));
  }
  // On a port already open, what a pulled USB adapter gives: the device went
  // away (access denied among them), unless the line stalled.
  for (long code : {ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND, ERROR_DEVICE_NOT_CONNECTED, ERROR_GEN_FAILURE,
                    ERROR_OPERATION_ABORTED, ERROR_INVALID_HANDLE}) {
    const PortError error = km_driver::port::ExchangePortError(code);
    CHECK(error == PortError::kDeviceGone, "code %ld on an open port is \"%s\"", code,
          PortErrorText(error, kPortTextEnglish));
  }
  CHECK(km_driver::port::ExchangePortError(ERROR_SEM_TIMEOUT) == PortError::kLineStalled,
        "a timeout on an open port is no stalled line");
}

int Hold(int com, int seconds) {
  if (OpenPort(com, 19200) < 0) {
    fprintf(stderr, "cannot open COM%d: %s\n", com, GetLastPortErrorText());
    return 1;
  }
  printf("holding COM%d\n", com);
  fflush(stdout);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  ClosePort();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "--hold") == 0 && atoi(argv[2]) >= 1) return Hold(atoi(argv[2]), atoi(argv[3]));
  if (argc != 3 || atoi(argv[1]) < 1) {
    fprintf(stderr, "usage: km_win32_exchange_test N JOURNAL\n");
    return 2;
  }
  const int com = atoi(argv[1]);
  const char* journal = argv[2];
  double took = 0;

  char device[64];
  CHECK(ResolveComPort(com, device, sizeof device), "no device name for COM%d", com);
  CHECK(strcmp(device, ("\\\\.\\COM" + std::to_string(com)).c_str()) == 0, "COM%d is %s", com, device);

  CHECK(OpenPort(com, 19200) >= 0, "%s: %s", GetLastPortDevice(), GetLastPortErrorText());

  // The first frame after the start: SEQ 0x21, LEN 0x25, the checksum of
  // 0x25 + 0x21 + 0x5A + 0x31 + 0x05 = 0xD6 as the digits 0 0 = 6.
  CHECK(Exchange(0x5A, "1", &took) == 0, "the diagnostic request was refused");
  std::vector<std::string> lines = JournalLines(journal, 1);
  CHECK(lines.size() == 1, "%zu frames in the journal after the first exchange", lines.size());
  if (!lines.empty())
    CHECK(lines[0] == "0125215A310530303D3603", "the frame on the line was %s", lines[0].c_str());
  CHECK(gDelivered == 1, "delivered %d times", gDelivered);
  CHECK(FirstError(gLast.ErrorFlags) == nullptr, "error flags 0x%08X", gLast.ErrorFlags);
  CHECK(gLast.FieldCount == 8, "%d fields in \"%s\"", gLast.FieldCount, gLast.AnswerText ? gLast.AnswerText : "");
  if (gLast.FieldCount == 8) {
    CHECK(strcmp(gLast.Fields[3], "5A3F") == 0, "field 3 \"%s\"", gLast.Fields[3]);
    CHECK(strcmp(gLast.Fields[4], "00101100") == 0, "switches \"%s\"", gLast.Fields[4]);
  }
  // The answer ends the exchange as soon as it is complete, not a read wait later.
  CHECK(took < 1000, "the diagnostic exchange took %.0f ms", took);
  const double answerMs = took;

  // A wrong checksum in the answer: the checksum flag, nothing else of the link.
  CHECK(Exchange(0x3E, "", &took) == 0, "the date request was refused");
  CHECK(gDelivered == 1, "delivered %d times", gDelivered);
  CHECK((gLast.ErrorFlags & (kFlagChecksum | kFlagNak | kFlagTimeout)) == kFlagChecksum,
        "error flags 0x%08X after a bad checksum", gLast.ErrorFlags);

  // A register that never answers: no answer after 50 empty reads of 100 ms.
  CHECK(Exchange(0x21, "", &took) == 0, "clearing the display was refused");
  CHECK(gDelivered == 1, "delivered %d times", gDelivered);
  CHECK(gLast.ErrorFlags == kFlagTimeout, "error flags 0x%08X after silence", gLast.ErrorFlags);
  CHECK(took > 4500 && took < 8000, "silence ended after %.0f ms, not about 5 s", took);
  const double silenceMs = took;
  lines = JournalLines(journal, 3);
  CHECK(lines.size() == 3, "%zu frames in the journal after three exchanges", lines.size());
  if (lines.size() >= 3) CHECK(lines[2].compare(0, 8, "01242321") == 0, "third frame %s", lines[2].c_str());

  // While another holder has the port, the driver cannot open it: busy, with
  // the same message as on Linux; once free, it opens and works again.
  CHECK(ClosePort() != 0, "closing failed");
  PortError error = PortError::kNone;
  const int other = km_driver::port::Open(device, 19200, &error);
  CHECK(other >= 0, "the port could not be opened directly (%s)", PortErrorText(error, kPortTextEnglish));
  if (other >= 0) {
    const int again = km_driver::port::Open(device, 19200, &error);
    CHECK(again < 0 && error == PortError::kInUse, "a second open gave %d, %s", again,
          PortErrorText(error, kPortTextEnglish));
    if (again >= 0) km_driver::port::Close(again);
    CHECK(OpenPort(com, 19200) < 0, "the driver opened a port held elsewhere");
    CHECK(GetLastPortError() == PortError::kInUse, "reason %s", GetLastPortErrorText());
    CHECK(strcmp(GetLastPortErrorText(), "the port is in use by another program") == 0, "reason \"%s\"",
          GetLastPortErrorText());
    CHECK(km_driver::port::Close(other), "closing the other holder failed");
  }
  CHECK(OpenPort(com, 19200) >= 0, "reopening: %s", GetLastPortErrorText());
  CHECK(Exchange(0x4A, "W", &took) == 0, "the status request was refused");
  CHECK(FirstError(gLast.ErrorFlags) == nullptr, "error flags 0x%08X after reopening", gLast.ErrorFlags);
  ClosePort();

  // A COM number with no device behind it: no such device.
  CHECK(OpenPort(com + 100, 19200) < 0, "COM%d opened", com + 100);
  CHECK(GetLastPortError() == PortError::kNoDevice, "COM%d: reason %s", com + 100, GetLastPortErrorText());

  SystemErrorsAsPortErrors();

  printf("km_win32_exchange_test: diagnostic exchange %.0f ms, silence %.0f ms\n", answerMs, silenceMs);
  if (gFailures == 0) printf("km_win32_exchange_test: all checks passed\n");
  return gFailures == 0 ? 0 : 1;
}
