#include "store/Module1.h"

#include <QDir>
#include <QSettings>
#include <system_error>

namespace vorelta {

QString KeyDatabasePath(const QString& appPath) {
    return QDir::toNativeSeparators(appPath + u'/' + QStringLiteral("key.mdb"));
}

namespace {

void OpenNow(Module1& state, const QString& connectionString) {
    state.KeyConnection.Open(connectionString, QString(), QString(), adOptionUnspecified);
    // The shared recordset gives the count and takes the inserts. It only counts the rows here:
    // the first check or the keyword manager reads them, and it keeps them for both.
    state.KeyRecordset.Open(sql::kSelectAllKeys, state.KeyConnection, adOpenKeyset,
                            adLockOptimistic, adCountRowsOnly);
    state.KeyRecordset.Fields(kKeynameField);
    state.KeyCount = state.KeyRecordset.RecordCount();
}

}  // namespace

void OpenKeyStore(Module1& state, const QString& connectionString) {
    if (state.opening.valid()) {
        std::future<void> opening = std::move(state.opening);
        opening.get();
        return;
    }
    OpenNow(state, connectionString);
}

void StartOpeningKeyStore(Module1& state, const QString& connectionString) {
    try {
        state.opening = std::async(
            std::launch::async, [&state, connectionString] { OpenNow(state, connectionString); });
    } catch (const std::system_error&) {
        // No thread to be had: the store is opened in line when it is needed.
    }
}

Module1::~Module1() {
    if (opening.valid()) {
        opening.wait();
    }
}

std::optional<QString> KeywordServer(const QString& appPath) {
    const QSettings settings(appPath + QStringLiteral("/vorelta.conf"), QSettings::IniFormat);
    const QVariant value = settings.value(QStringLiteral("keywords/database"));
    // QSettings splits a value at its unquoted commas; a host list ("host=a,b") goes back
    // together as it was written.
    const QString conninfo = value.typeId() == QMetaType::QStringList
                                 ? value.toStringList().join(u',')
                                 : value.toString();
    if (conninfo.trimmed().isEmpty()) {
        return std::nullopt;
    }
    return conninfo.trimmed();
}

QString ConnectionString(const QString& appPath) {
    if (const std::optional<QString> server = KeywordServer(appPath)) {
        return QStringLiteral("Provider=PostgreSQL;Data Source=") + *server;
    }
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=") +
           KeyDatabasePath(appPath);
}

QString KeyStoreLocation(const QString& appPath) {
    return KeywordServer(appPath) ? QString() : KeyDatabasePath(appPath);
}

}  // namespace vorelta
