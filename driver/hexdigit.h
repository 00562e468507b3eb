// Reading hex digits, for the texts a person types (a command code) and the
// hex fields of a register's answer.
#pragma once

enum class HexLetters { kAnyCase, kUpperOnly };

// 0..15 for the digits 0-9 and A-F (a-f too unless `letters` says upper
// case only), -1 for anything else.
constexpr int HexDigit(char c, HexLetters letters = HexLetters::kAnyCase) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (letters == HexLetters::kAnyCase && c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
