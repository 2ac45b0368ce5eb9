#pragma once

// Where the keywords come from: the server a vorelta.conf names, or key.mdb beside the program.
//
// vorelta.conf is looked for, first found wins, beside the program, then in
// $XDG_CONFIG_HOME/vorelta (~/.config/vorelta), then in <dir>/vorelta for each of
// $XDG_CONFIG_DIRS (/etc/xdg). Only when there is none is key.mdb used. A vorelta.conf that is
// there but does not name a server in words libpq understands is an error, never a reason to
// use key.mdb instead: an office believing it shares one list must not check against an old one.

#include <QString>
#include <QStringList>

#include "store/Database.h"

namespace vorelta {

struct KeywordSource {
    DataSource dataSource;
    // The vorelta.conf in use; empty when key.mdb is.
    QString confFile;
    // "服务器 …，端口 …，数据库 …" as the file names them, never a password; empty for key.mdb.
    QString server;
    // Two lines for people: what is used and which file says so.
    QString description;
};

// The places vorelta.conf is looked for, in their order.
QStringList ConfigFileCandidates(const QString& appDir);

// The source the program would use. Throws RuntimeError when the vorelta.conf found cannot be
// used, naming the file, the line at fault if there is one, and what is wrong with it.
KeywordSource FindKeywordSource(const QString& appDir);

}  // namespace vorelta
