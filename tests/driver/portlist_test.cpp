// The ports present, listed from a sysfs tree of the test's own: USB adapters
// with their maker, product, ids and serial, CDC ACM devices, UARTs only
// where one answers, nothing for ttys without a device.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "driver/portlist.h"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text << "\n";
}

// class/tty/NAME/device -> DEVICE, DEVICE/driver -> drivers/DRIVER.
void Tty(const fs::path& sys, const std::string& name, const fs::path& device, const std::string& driver) {
  fs::create_directories(sys / device);
  fs::create_directories(sys / "bus/drivers" / driver);
  fs::create_symlink(sys / "bus/drivers" / driver, sys / device / "driver");
  fs::create_directories(sys / "class/tty" / name);
  fs::create_symlink(sys / device, sys / "class/tty" / name / "device");
}

}  // namespace

TEST(PortList, SysfsTreeGivesTheDevicesAPersonRecognises) {
  const fs::path sys = fs::temp_directory_path() / ("km-sysfs-" + std::to_string(getpid()));
  fs::remove_all(sys);
  const fs::path usb = "devices/pci0000:00/usb1/1-1";
  Write(sys / usb / "idVendor", "0403");
  Write(sys / usb / "idProduct", "6001");
  Write(sys / usb / "manufacturer", "FTDI");
  Write(sys / usb / "product", "FT232R USB UART");
  Write(sys / usb / "serial", "A50285BI");
  // Two ports of one adapter, listed as counted: ttyUSB2 before ttyUSB10.
  Tty(sys, "ttyUSB10", usb / "1-1:1.1/ttyUSB10", "ftdi_sio");
  Tty(sys, "ttyUSB2", usb / "1-1:1.0/ttyUSB2", "ftdi_sio");
  const fs::path acm = "devices/pci0000:00/usb1/1-2";
  Write(sys / acm / "idVendor", "2341");
  Write(sys / acm / "idProduct", "0043");
  Write(sys / acm / "product", "Arduino Uno");
  Tty(sys, "ttyACM0", acm / "1-2:1.0", "cdc_acm");
  Tty(sys, "ttyS0", "devices/platform/serial8250/port0", "serial8250");
  Write(sys / "class/tty/ttyS0/type", "4");  // a 16550A answers
  Tty(sys, "ttyS1", "devices/platform/serial8250/port1", "serial8250");
  Write(sys / "class/tty/ttyS1/type", "0");  // no UART
  fs::create_directories(sys / "class/tty/tty0");     // a console: no device
  fs::create_directories(sys / "class/tty/ttyUSB9");  // gone: no device

  PortInfo ports[8];
  ASSERT_EQ(ListPorts(ports, 8, sys.c_str()), 4);
  const struct {
    const char* path;
    const char* kind;
    const char* driver;
    const char* description;
  } expected[] = {
      {"/dev/ttyACM0", "acm", "cdc_acm", "/dev/ttyACM0 \xE2\x80\x94 Arduino Uno (2341:0043)"},
      {"/dev/ttyS0", "uart", "serial8250", "/dev/ttyS0 \xE2\x80\x94 serial8250"},
      {"/dev/ttyUSB2", "usb", "ftdi_sio", "/dev/ttyUSB2 \xE2\x80\x94 FT232R USB UART (FTDI 0403:6001, A50285BI)"},
      {"/dev/ttyUSB10", "usb", "ftdi_sio", "/dev/ttyUSB10 \xE2\x80\x94 FT232R USB UART (FTDI 0403:6001, A50285BI)"},
  };
  for (int i = 0; i < 4; ++i) {
    EXPECT_STREQ(ports[i].path, expected[i].path);
    EXPECT_STREQ(ports[i].kind, expected[i].kind);
    EXPECT_STREQ(ports[i].driver, expected[i].driver);
    char line[256];
    DescribePort(ports[i], line, sizeof line);
    EXPECT_STREQ(line, expected[i].description);
  }
  // Room for one: the count still says four, and nothing is written past it.
  PortInfo one[2]{};
  EXPECT_EQ(ListPorts(one, 1, sys.c_str()), 4);
  EXPECT_EQ(one[1].path[0], '\0');
  fs::remove_all(sys);
  EXPECT_EQ(ListPorts(ports, 8, sys.c_str()), 0);  // no tree at all
}
