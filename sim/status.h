// The register's six status bytes, bit by bit: the byte, the bit and the
// name of what the bit reports (where the tool makes an ErrorFlags bit of
// it, the name is the one the tool's run record uses). Bit 7 of every status
// byte is always set on the line. These are the register's own values,
// written out here: the tool has its own table of them, and the tests hold
// one against the other.
#pragma once
#include <cstdint>

namespace km4410r::sim {

struct StatusBit {
  uint8_t byte;  // 0..5
  uint8_t mask;  // one bit, 0x01..0x40
  const char* name;
};

// Status byte 0: the command and the printer.
inline constexpr StatusBit kSyntaxError{0, 0x01, "syntax_error"};
inline constexpr StatusBit kInvalidCommand{0, 0x02, "invalid_command"};
inline constexpr StatusBit kClockNotSet{0, 0x04, "date_time_invalid"};
inline constexpr StatusBit kDisplayNotConnected{0, 0x08, "display_not_connected"};
inline constexpr StatusBit kPrinterFault{0, 0x10, "print_error"};
inline constexpr StatusBit kGeneralError{0, 0x20, "general_error"};  // with any of 0.01, 0.02, 0.10, 1.10
// Status byte 1: the memory and the receipt.
inline constexpr StatusBit kOverflow{1, 0x01, "arithmetic_overflow"};
inline constexpr StatusBit kNotAllowed{1, 0x02, "command_not_allowed"};
inline constexpr StatusBit kRamReset{1, 0x04, "ram_reset"};
inline constexpr StatusBit kReturnReceipt{1, 0x08, "return_receipt"};  // with 2.08
inline constexpr StatusBit kRamDestroyed{1, 0x10, "ram_destroyed"};
inline constexpr StatusBit kCoverOpen{1, 0x20, "cover_open"};
// Status byte 2: the paper and the open receipt.
inline constexpr StatusBit kPaperOut{2, 0x01, "no_paper"};
inline constexpr StatusBit kPaperLow{2, 0x02, "paper_running_out"};
inline constexpr StatusBit kNoJournalPaper{2, 0x04, "no_journal_paper"};
inline constexpr StatusBit kFiscalReceiptOpen{2, 0x08, "fiscal_receipt_open"};
inline constexpr StatusBit kJournalLow{2, 0x10, "journal_running_out"};
inline constexpr StatusBit kNonFiscalReceiptOpen{2, 0x20, "non_fiscal_receipt_open"};
// Status byte 3: the switches Sw1..Sw7, bit 0x01 for Sw1.
// Status byte 4: the fiscal memory.
inline constexpr StatusBit kFmWriteError{4, 0x01, "fiscal_memory_write_error"};
inline constexpr StatusBit kFmDataError{4, 0x02, "fiscal_memory_data_error"};
inline constexpr StatusBit kNoFmModule{4, 0x04, "no_fiscal_memory_module"};
inline constexpr StatusBit kFmRoomFor50Z{4, 0x08, "fiscal_memory_room_for_50_z_reports"};
inline constexpr StatusBit kFmFull{4, 0x10, "fiscal_memory_full"};
inline constexpr StatusBit kFmGeneralError{4, 0x20, "fiscal_memory_general_error"};  // with any of 4.01, 4.10, 5.04
// Status byte 5: the fiscal memory and the register's numbers.
inline constexpr StatusBit kFmReadOnly{5, 0x01, "fiscal_memory_read_only"};
inline constexpr StatusBit kFmFormatted{5, 0x02, "fiscal_memory_formatted"};
inline constexpr StatusBit kLastZError{5, 0x04, "last_z_report_error"};
inline constexpr StatusBit kFiscalized{5, 0x08, "fiscalized"};
inline constexpr StatusBit kTaxRatesDefined{5, 0x10, "tax_rates_defined"};
inline constexpr StatusBit kNumbersProgrammed{5, 0x20, "numbers_programmed"};

// Every bit of the six bytes but bit 7, byte by byte, 0x01 first.
inline constexpr StatusBit kStatusBits[6 * 7] = {
    kSyntaxError, kInvalidCommand, kClockNotSet, kDisplayNotConnected, kPrinterFault, kGeneralError,
    {0, 0x40, "reserved"},
    kOverflow, kNotAllowed, kRamReset, kReturnReceipt, kRamDestroyed, kCoverOpen,
    {1, 0x40, "reserved"},
    kPaperOut, kPaperLow, kNoJournalPaper, kFiscalReceiptOpen, kJournalLow, kNonFiscalReceiptOpen,
    {2, 0x40, "reserved"},
    {3, 0x01, "switch_1"}, {3, 0x02, "switch_2"}, {3, 0x04, "switch_3"}, {3, 0x08, "switch_4"},
    {3, 0x10, "switch_5"}, {3, 0x20, "switch_6"}, {3, 0x40, "switch_7"},
    kFmWriteError, kFmDataError, kNoFmModule, kFmRoomFor50Z, kFmFull, kFmGeneralError,
    {4, 0x40, "reserved"},
    kFmReadOnly, kFmFormatted, kLastZError, kFiscalized, kTaxRatesDefined, kNumbersProgrammed,
    {5, 0x40, "reserved"},
};

}  // namespace km4410r::sim
