#include "driver/port.h"

#include "driver/netport.h"
#include "driver/serial.h"

namespace km_driver::port {
namespace {
bool OnNetwork(int handle) { return handle >= net::kFirstHandle; }
}  // namespace

int Open(const char* device, int baud) {
  return net::HasNetworkScheme(device) ? net::Open(device, baud) : serial::Open(device, baud);
}
bool Close(int handle) { return OnNetwork(handle) ? net::Close(handle) : serial::Close(handle); }
void Purge(int handle) { OnNetwork(handle) ? net::Purge(handle) : serial::Purge(handle); }
bool Drain(int handle) { return OnNetwork(handle) ? net::Drain(handle) : serial::Drain(handle); }
bool Write(int handle, const uint8_t* data, int length) {
  return OnNetwork(handle) ? net::Write(handle, data, length) : serial::Write(handle, data, length);
}
int ReadByte(int handle, uint8_t* byte) {
  return OnNetwork(handle) ? net::ReadByte(handle, byte) : serial::ReadByte(handle, byte);
}

}  // namespace km_driver::port
