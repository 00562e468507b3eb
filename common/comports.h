// COM port numbers and the per-user virtual port folder: the rule the tool
// and the register simulator share (the simulator registers its pty there as
// COMn, the tool looks COMn up there). No allocation, nothing else of the
// tool.
#pragma once

// COM port numbers run from 1 to 255.
constexpr int kMinComPort = 1;
constexpr int kMaxComPort = 255;

// The number of a COM port written as text: decimal digits without a leading
// zero (no sign, no blanks), kMinComPort..kMaxComPort. False for anything
// else; *number is set only on success.
bool ParseComNumber(const char* digits, int* number);

// The virtual port folder: $XDG_RUNTIME_DIR/km4410r when that variable is an
// absolute path, else /tmp/km4410r-<uid>. False when the buffer is too small
// or the system has no such folder (Windows numbers its own COM ports).
bool VirtualPortFolder(char* out, unsigned size);

// What the virtual port folder is. Usable: a real folder (not a link) owned
// by this user and writable by no one else. With `create`, an absent folder
// is created with mode 0700 first.
enum PortFolderCheck {
  kFolderUsable = 0,
  kFolderAbsent = 1,
  kFolderNotADirectory = -1,  // a link, a file, anything but a folder
  kFolderNotOwned = -2,       // another user's folder
  kFolderOpenToOthers = -3,   // group or others may write into it
  kFolderCannotCreate = -4,   // errno tells why
};
int CheckVirtualPortFolder(bool create);

// The link that stands for COM n in the virtual port folder ("<folder>/COMn").
// False when n is not a COM port number, there is no folder on this system
// or the buffer is too small. Whether the folder is usable is not checked.
bool VirtualComLink(int port, char* out, unsigned size);
