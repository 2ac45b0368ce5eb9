#include "store/Module1.h"

#include <QDir>
#include <system_error>

namespace vorelta {

QString KeyDatabasePath(const QString& appPath) {
    return QDir::toNativeSeparators(appPath + u'/' + QStringLiteral("key.mdb"));
}

namespace {

void OpenNow(Module1& state, const DataSource& source) {
    state.KeyConnection.Open(source);
    // The shared recordset gives the count and takes the inserts. It only counts the rows here:
    // the first check or the keyword manager reads them, and it keeps them for both.
    state.KeyRecordset.Open(sql::kSelectAllKeys, state.KeyConnection, adLockOptimistic,
                            adCountRowsOnly);
    state.KeyRecordset.Fields(kKeynameField);
    state.KeyCount = state.KeyRecordset.RecordCount();
}

}  // namespace

void OpenKeyStore(Module1& state, const DataSource& source) {
    if (state.opening.valid()) {
        std::future<void> opening = std::move(state.opening);
        opening.get();
        return;
    }
    OpenNow(state, source);
}

void OpenKeyStore(Module1& state, const KeywordSource& source) {
    if (!state.opening.valid()) {
        state.Source = source;
    }
    OpenKeyStore(state, source.dataSource);
}

void StartOpeningKeyStore(Module1& state, const KeywordSource& source) {
    state.Source = source;
    StartOpeningKeyStore(state, source.dataSource);
}

void StartOpeningKeyStore(Module1& state, const DataSource& source) {
    try {
        state.opening =
            std::async(std::launch::async, [&state, source] { OpenNow(state, source); });
    } catch (const std::system_error&) {
        // No thread to be had: the store is opened in line when it is needed.
    }
}

Module1::~Module1() {
    if (opening.valid()) {
        opening.wait();
    }
}

DataSource KeyDataSource(const QString& appPath) {
    return FindKeywordSource(appPath).dataSource;
}

QString KeyStoreLocation(const QString& appPath) {
    try {
        const KeywordSource source = FindKeywordSource(appPath);
        return source.confFile.isEmpty() ? KeyDatabasePath(appPath) : source.confFile;
    } catch (const RuntimeError&) {
        return {};
    }
}

}  // namespace vorelta
