// The serial ports present on this machine, with what a person recognises
// them by: the device path, the USB maker and product with their ids, the
// serial number, the driver. One source per platform: sysfs on Linux (USB
// adapters, CDC ACM devices, and the ttyS ports with a real UART behind
// them), the registry's SERIALCOMM key on Windows; the virtual COM links of
// the port folder on Linux too. No allocation: fixed fields, cut to fit.
#pragma once

struct PortInfo {
  char path[128];         // "/dev/ttyUSB0", "COM3", or the link of a virtual COM port
  char name[32];          // "ttyUSB0", "COM3"
  char kind[8];           // "usb", "acm", "uart", "virtual", "com"
  char driver[32];        // "ftdi_sio", "cdc_acm", "serial8250", "Serial0" ...
  char manufacturer[64];  // USB: "FTDI"
  char product[64];       // USB: "FT232R USB UART"
  char vendorId[5];       // USB: "0403"
  char productId[5];      // USB: "6001"
  char serial[64];        // USB: "A50285BI"
};

// Fills up to `max` entries, sorted by path; returns how many ports there
// are (which may exceed max). `sysRoot` is the sysfs root on Linux ("/sys"
// when null; tests give a tree of their own) and is not used on Windows.
int ListPorts(PortInfo* out, int max, const char* sysRoot = nullptr);

// One line for a person: "/dev/ttyUSB0 — FT232R USB UART (FTDI 0403:6001,
// A50285BI)"; the path alone when nothing more is known. UTF-8.
void DescribePort(const PortInfo& port, char* out, unsigned size);
