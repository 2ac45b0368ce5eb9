#include "store/Module1.h"

#include <QDir>

namespace vorelta {

QString KeyDatabasePath(const QString& appPath) {
    return QDir::toNativeSeparators(appPath + u'/' + QStringLiteral("key.mdb"));
}

QString ConnectionString(const QString& appPath) {
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=") +
           KeyDatabasePath(appPath);
}

}  // namespace vorelta
