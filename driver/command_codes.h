// The register's command codes, one name each. The driver's command
// functions, its answer corrections and command names, the windows' own
// service commands and km4410r-cmd all use these names.
#pragma once

enum CommandCode : int {
  kCmdClearDisplay = 0x21,
  kCmdDisplayLowerLine = 0x23,
  kCmdWriteNetworkSettings = 0x24,
  kCmdReadNetworkSettings = 0x25,
  kCmdOpenNonFiscalReceipt = 0x26,
  kCmdCloseNonFiscalReceipt = 0x27,
  kCmdPrintNonFiscalText = 0x2A,
  kCmdSetHeaderFooter = 0x2B,
  kCmdFeedPaper = 0x2C,
  kCmdCutPaper = 0x2D,
  kCmdDisplayUpperLine = 0x2F,
  kCmdOpenFiscalReceipt = 0x30,
  kCmdPrintTaxRatesForPeriod = 0x32,
  kCmdSubtotal = 0x33,
  kCmdRegisterSale = 0x34,  // and show it on the customer display
  kCmdReceiptTotal = 0x35,
  kCmdPrintFiscalText = 0x36,
  kCmdCloseFiscalReceipt = 0x38,
  kCmdCancelReceipt = 0x39,
  kCmdRegisterSaleNoDisplay = 0x3A,
  kCmdSetDateTime = 0x3D,
  kCmdGetDateTime = 0x3E,
  kCmdDisplayDateTime = 0x3F,
  kCmdLastZReportInfo = 0x40,
  kCmdDailyTotals = 0x41,
  kCmdDailyCorrectionTotals = 0x43,
  kCmdFiscalMemorySize = 0x44,
  kCmdDailyReport = 0x45,  // X or Z report
  kCmdServiceCashInOut = 0x46,
  kCmdPrintDiagnostics = 0x47,
  kCmdFiscalize = 0x48,
  kCmdFullReportByNumber = 0x49,
  kCmdGetStatus = 0x4A,
  kCmdFiscalTransactionState = 0x4C,
  kCmdShortReportByDate = 0x4F,
  kCmdBeep = 0x50,
  kCmdDecimalsAndTaxRates = 0x53,  // set them, or read them with empty data
  kCmdSalesMode = 0x54,
  kCmdOpenReturnReceipt = 0x55,
  kCmdProgramTestArea = 0x59,
  kCmdDiagnosticInfo = 0x5A,
  kCmdSetSerialNumber = 0x5B,
  kCmdSetFiscalNumber = 0x5C,
  kCmdFullReportByDate = 0x5E,
  kCmdShortReportByNumber = 0x5F,
  kCmdTaxRates = 0x61,
  kCmdSetTaxNumber = 0x62,
  kCmdGetTaxNumber = 0x63,
  kCmdDisplayControl = 0x64,
  kCmdSetOperatorPassword = 0x65,
  kCmdSetOperatorName = 0x66,
  kCmdCurrentReceiptInfo = 0x67,
  kCmdClearOperatorData = 0x68,
  kCmdOperatorReport = 0x69,
  kCmdOpenCashDrawer = 0x6A,
  kCmdArticles = 0x6B,  // program, delete or read articles
  kCmdModemReport = 0x6C,
  kCmdPrintReceiptCopy = 0x6D,
  kCmdPaymentTypesInfo = 0x6E,
  kCmdArticleReport = 0x6F,
  kCmdOperatorInfo = 0x70,
  kCmdLastReceiptNumber = 0x71,
  kCmdFiscalMemoryRecords = 0x72,
  kCmdLoadLogo = 0x73,
  kCmdAdminPassword = 0x76,
  kCmdResetOperatorPasswords = 0x77,
  kCmdReadDeviceId = 0xFF,
};

// The lowest code a command can have: codes below it are the frame's
// control bytes.
constexpr int kFirstCommandCode = 0x21;
