#pragma once

// The keywords' table and column, as key.mdb and a server's database both hold them. Every
// statement the program writes names them from here.

#include <QString>

namespace vorelta {

inline const QString kKeywordTable = QStringLiteral("keys");
// The column every statement reads and the insert writes.
inline const QString kKeynameField = QStringLiteral("keyname");

}  // namespace vorelta
