// The history's tests: a store on a temporary file and answers handed to the
// exchange observer as the driver hands them.
#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

#include "base/cp1251text.h"
#include "driver/trace.h"
#include "history/history.h"

namespace history_test {

// One exchange: the command, its answer's fields and flags, the data sent.
inline void Exchange(int command, const QStringList& fields, uint32_t flags = 0, const QString& sent = {},
                     qint64 atMs = 0) {
  std::vector<QByteArray> bytes;
  for (const QString& f : fields) bytes.push_back(toCp1251(f));
  const QByteArray sentBytes = toCp1251(sent);
  const QByteArray text = bytes.empty() ? QByteArray() : bytes[0];
  RetData a{};
  a.Command = command;
  a.ErrorFlags = flags;
  a.FieldCount = static_cast<int32_t>(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) a.Fields[i] = bytes[i].constData();
  a.SentData = sentBytes.constData();
  a.AnswerText = text.constData();
  ExchangeTrace t{};
  t.sentAtMs = atMs ? atMs : QDateTime::currentMSecsSinceEpoch();
  t.command = command;
  t.written = true;
  t.verdict = kTraceAnswer;
  t.answer = &a;
  void* context = nullptr;
  if (ExchangeObserver o = GetExchangeObserver(&context)) o(t, context);
}

// The diagnostic answer of a register: firmware, its date, ..., serial (6), fiscal number (7).
inline void Diagnostic(const QString& serial, const QString& fiscal, const QString& firmware = QStringLiteral("1.07")) {
  Exchange(0x5A, {firmware, QStringLiteral("01-02-24"), QStringLiteral("1200"), QString(), QStringLiteral("01100000"),
                  QString(), serial, fiscal});
}

inline history::StationInfo Station(const QString& port = QStringLiteral("COM1")) {
  return {QStringLiteral("line-pc-1"), QStringLiteral("km4410r test"), port, 19200, QStringLiteral("tester")};
}

inline regtest::StepInfo Step(regtest::StepKind kind, int pass, int errorsBefore = 0) {
  regtest::StepInfo s;
  s.kind = kind;
  s.pass = pass;
  s.passes = 2;
  s.errorsBefore = errorsBefore;
  return s;
}

}  // namespace history_test
