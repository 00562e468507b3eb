// The port layer: the table of open ports, the backend chosen by the name,
// the read-ahead and the deadlines.
#include "driver/port.h"

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
  const int64_t deadline = MonotonicMs() + gOpenDeadlineMs;
  Port& p = gPorts[slot];
  p = Port{};
  p.slot = slot;
  p.baud = baud;
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
  const bool closed = p->backend->close(*p);
  *p = Port{};
  return closed;
}

void Purge(int handle) {
  Port* p = Lookup(handle);
  if (!p) return;
  p->aheadPos = p->aheadLength = 0;
  p->backend->purge(*p);
}

bool Drain(int handle, PortError* error) {
  Port* p = Lookup(handle);
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
  if (length <= 0) return true;
  *error = p->backend->write(*p, data, length, MonotonicMs() + LineDeadlineMs(length, p->baud));
  return *error == PortError::kNone;
}

int ReadByte(int handle, uint8_t* byte, PortError* error) {
  Port* p = Lookup(handle);
  if (!p) {
    *error = PortError::kDeviceGone;
    return -1;
  }
  if (p->aheadPos == p->aheadLength) {
    const int n = p->backend->read(*p, p->ahead, static_cast<int>(sizeof p->ahead), kReadWaitMs, error);
    if (n <= 0) return n;
    p->aheadPos = 0;
    p->aheadLength = n;
  }
  *byte = p->ahead[p->aheadPos++];
  return 1;
}

}  // namespace km_driver::port
