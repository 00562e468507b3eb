// The port the link works on: a serial device (serial.h) or a port on the
// network (netport.h), chosen by the name at opening and by the handle after.
#pragma once
#include <cstdint>

namespace km_driver::port {

int Open(const char* device, int baud);
bool Close(int handle);
void Purge(int handle);
bool Drain(int handle);
bool Write(int handle, const uint8_t* data, int length);
int ReadByte(int handle, uint8_t* byte);

}  // namespace km_driver::port
