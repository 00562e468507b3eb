// The parts of a shared server's URL.
#pragma once
#include <QString>

namespace history {

struct ServerAddress {
  QString user, host, database;
  int port = 5432;
};
// postgresql://USER@HOST[:PORT]/DB; false with the refusal (a password in it above all).
bool ParseServerUrl(const QString& url, ServerAddress* address, QString* refusal);

}  // namespace history
