// The names the history keeps (steps, verdicts, kinds of run), the station
// and the register's identity as the tool reads them.
#include <QSysInfo>

#include "base/cp1251text.h"
#include "driver/flags.h"
#include "history/history.h"

namespace history {

const char* StepKindName(regtest::StepKind kind) {
  using regtest::StepKind;
  switch (kind) {
    case StepKind::Status: return "status";
    case StepKind::SetTime: return "set_time";
    case StepKind::PrintDiagnostics: return "print_diagnostics";
    case StepKind::GetDiagnostics: return "get_diagnostics";
    case StepKind::GetDateTime: return "get_date_time";
    case StepKind::GetTaxNumber: return "get_tax_number";
    case StepKind::XReport: return "x_report";
    case StepKind::NonFiscalReceipt: return "non_fiscal_receipt";
    case StepKind::DisplayLowerRow: return "display_lower_row";
    case StepKind::DisplayUpperRow: return "display_upper_row";
    case StepKind::ZReport: return "z_report";
    case StepKind::ServiceCashIn: return "service_cash_in";
    case StepKind::ServiceCashOut: return "service_cash_out";
    case StepKind::ProgramArticle: return "program_article";
    case StepKind::FiscalReceipt: return "fiscal_receipt";
    case StepKind::ReturnReceipt: return "return_receipt";
    case StepKind::ArticleReport: return "article_report";
    case StepKind::ZReportClosing: return "z_report_closing";
    case StepKind::Timer: return "timer";
  }
  return "step";
}

const char* VerdictOf(regtest::RunEnd end, int errors) {
  using regtest::RunEnd;
  switch (end) {
    case RunEnd::Completed: return errors == 0 ? kVerdictPassed : kVerdictFailed;
    case RunEnd::HeaderRefused: return kVerdictFailed;
    case RunEnd::NoInformation:
    case RunEnd::NotReady: return kVerdictNotReady;
    case RunEnd::Stopped:
    case RunEnd::Aborted:
    case RunEnd::BadInput: return kVerdictAborted;
  }
  return kVerdictAborted;
}

const char* RunKindName(RunKind kind) {
  switch (kind) {
    case RunKind::Window: return "window";
    case RunKind::RunTest: return "run-test";
    case RunKind::Ports: return "ports";
  }
  return "run-test";
}

StationInfo ThisStation(const QString& toolVersion, const QString& port, int speed) {
  StationInfo s;
  s.host = QSysInfo::machineHostName();
  s.toolVersion = toolVersion;
  s.port = port;
  s.speed = speed;
  s.login = qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME", qEnvironmentVariable("LOGNAME")));
  return s;
}

bool ReadDiagnosticIdentity(const RetData& a, Identity* identity) {
  if (FirstError(a.ErrorFlags) != nullptr) return false;
  Identity id;
  id.firmware = AnswerField(a, 0);
  id.firmwareDate = AnswerField(a, 1);
  id.serial = AnswerField(a, 6);
  id.fiscalNumber = AnswerField(a, 7);
  if (id.serial.isEmpty()) return false;
  *identity = id;
  return true;
}

}  // namespace history
