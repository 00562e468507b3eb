// The port layer: the table of open ports, the backend chosen by the name,
// the read-ahead and the deadlines.
#include "driver/port.h"

#include <string.h>

#include "driver/netport.h"
#include "driver/testing.h"

namespace km_driver {
namespace {
int gOpenDeadlineMs = port::kOpenDeadlineMs;
}  // namespace

void SetOpenDeadlineForTests(int ms) { gOpenDeadlineMs = ms > 0 ? ms : port::kOpenDeadlineMs; }

}  // namespace km_driver

namespace km_driver::port {
namespace {

Port gPorts[kMaxPorts];

Port* Lookup(int handle) {
  if (handle < 0 || handle >= kMaxPorts || !gPorts[handle].backend) return nullptr;
  return &gPorts[handle];
}

// An open port whose link is up.
Port* LookupLive(int handle) {
  Port* p = Lookup(handle);
  return p && !p->lost ? p : nullptr;
}

// A read or a write failed: unless the line only stalled, the link is gone,
// and the device is closed now rather than used again.
void Judge(Port& p, PortError error) {
  if (error == PortError::kNone || error == PortError::kLineStalled) return;
  p.backend->close(p);
  p.lost = true;
  p.lostError = error;
  p.lostAtMs = MonotonicMs();
  p.aheadPos = p.aheadLength = 0;
}

}  // namespace

int Open(const char* device, int baud, PortError* error) {
  if (!device || !IsLineSpeed(baud)) {
    *error = PortError::kBadSettings;
    return -1;
  }
  int slot = 0;
  while (slot < kMaxPorts && gPorts[slot].backend) ++slot;
  if (slot == kMaxPorts) {
    *error = PortError::kTooManyPorts;
    return -1;
  }
  const size_t length = strlen(device);
  if (length >= sizeof Port::device) {
    *error = PortError::kNoDevice;
    return -1;
  }
  const int64_t deadline = MonotonicMs() + gOpenDeadlineMs;
  Port& p = gPorts[slot];
  p = Port{};
  p.slot = slot;
  p.baud = baud;
  memcpy(p.device, device, length + 1);
  const Backend* backend = net::HasNetworkScheme(device) ? &kNetworkBackend : &kSerialBackend;
  *error = backend->open(p, device, deadline);
  if (*error != PortError::kNone) {
    p = Port{};
    return -1;
  }
  p.backend = backend;
  return slot;
}

bool Close(int handle) {
  Port* p = Lookup(handle);
  if (!p) return false;
  const bool closed = p->lost || p->backend->close(*p);
  *p = Port{};
  return closed;
}

bool IsLost(int handle) {
  const Port* p = Lookup(handle);
  return p && p->lost;
}

PortError Reopen(int handle) {
  Port* p = Lookup(handle);
  if (!p) return PortError::kDeviceGone;
  if (!p->lost) return PortError::kNone;
  if (!MayComeBack(p->device)) return p->lostError;
  const int64_t start = MonotonicMs();
  const int64_t deadline = start + gOpenDeadlineMs;
  const bool patient = start - p->lostAtMs < static_cast<int64_t>(kReopenPatience) * gOpenDeadlineMs;
  if (!patient && p->triedError != PortError::kNone && start - p->triedAtMs < gOpenDeadlineMs)
    return p->triedError;
  for (;;) {
    const PortError error = p->backend->open(*p, p->device, deadline);
    p->triedAtMs = MonotonicMs();
    p->triedError = error;
    if (error == PortError::kNone) {
      p->lost = false;
      return error;
    }
    if (!patient || MonotonicMs() + kReopenPauseMs >= deadline) return error;
    Pause(kReopenPauseMs);
  }
}

void Purge(int handle) {
  Port* p = LookupLive(handle);
  if (!p) return;
  p->aheadPos = p->aheadLength = 0;
  p->backend->purge(*p);
}

bool Drain(int handle, PortError* error) {
  Port* p = LookupLive(handle);
  if (!p) return true;
  // Watched rather than waited for: a system's own drain would wait for ever
  // on a stopped line.
  int queued = p->backend->queued(*p);
  if (queued <= 0) return true;
  const int64_t deadline = MonotonicMs() + LineDeadlineMs(queued, p->baud);
  while ((queued = p->backend->queued(*p)) > 0) {
    if (MonotonicMs() >= deadline) {
      *error = PortError::kLineStalled;
      return false;
    }
    Pause(2);
  }
  return true;
}

bool Write(int handle, const uint8_t* data, int length, PortError* error) {
  Port* p = Lookup(handle);
  if (!p) {
    *error = PortError::kDeviceGone;
    return false;
  }
  if (p->lost) {
    *error = p->lostError;
    return false;
  }
  if (length <= 0) return true;
  *error = p->backend->write(*p, data, length, MonotonicMs() + LineDeadlineMs(length, p->baud));
  Judge(*p, *error);
  return *error == PortError::kNone;
}

int ReadByte(int handle, uint8_t* byte, PortError* error) {
  Port* p = Lookup(handle);
  if (!p) {
    *error = PortError::kDeviceGone;
    return -1;
  }
  if (p->lost) {
    *error = p->lostError;
    return -1;
  }
  if (p->aheadPos == p->aheadLength) {
    const int n = p->backend->read(*p, p->ahead, static_cast<int>(sizeof p->ahead), kReadWaitMs, error);
    if (n < 0) Judge(*p, *error);
    if (n <= 0) return n;
    p->aheadPos = 0;
    p->aheadLength = n;
  }
  *byte = p->ahead[p->aheadPos++];
  return 1;
}

}  // namespace km_driver::port
