#include "store/KeywordSource.h"

#include <libpq-fe.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <memory>
#include <optional>

#include "store/ConfigFile.h"
#include "store/Module1.h"

namespace vorelta {

namespace {

const QString kConfName = QStringLiteral("vorelta.conf");
const QString kSection = QStringLiteral("keywords");
const QString kDatabase = QStringLiteral("database");
// Far more than any settings file: a name pointing at something endless is not read to its end.
constexpr qint64 kMaxConfSize = 64 * 1024;

RuntimeError ConfError(const QString& file, const IniError& error) {
    const QString where =
        error.line > 0 ? QStringLiteral(u"设置文件 %1 第 %2 行有误：").arg(file).arg(error.line)
                       : QStringLiteral(u"设置文件 %1 有误：").arg(file);
    return RuntimeError(adErrBadConnectionString, where + error.why);
}

QByteArray ReadConfFile(const QString& path) {
    const QFileInfo info(path);
    if (info.isSymLink() && !info.exists()) {
        throw IniError{0, QStringLiteral(u"它是一个链接，指向的文件不存在。")};
    }
    if (info.isDir()) {
        throw IniError{0, QStringLiteral(u"它是一个文件夹，不是文件。")};
    }
    if (!info.isFile()) {
        throw IniError{0, QStringLiteral(u"它不是普通文件。")};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw IniError{0, file.error() == QFileDevice::PermissionsError
                              ? QStringLiteral(u"没有读取它的权限。")
                              : QStringLiteral(u"无法读取（%1）。").arg(file.errorString())};
    }
    const QByteArray bytes = file.read(kMaxConfSize + 1);
    if (file.error() != QFileDevice::NoError) {
        throw IniError{0, QStringLiteral(u"无法读取（%1）。").arg(file.errorString())};
    }
    if (bytes.size() > kMaxConfSize) {
        throw IniError{0, QStringLiteral(u"文件太大（超过 64 KB），不像是设置文件。")};
    }
    return bytes;
}

// The one setting: database under [keywords], names compared regardless of case. Everything
// else is refused, so that a misspelt name is not quietly skipped.
IniLine DatabaseSetting(const std::vector<IniLine>& lines) {
    std::optional<IniLine> database;
    bool inSection = false;
    for (const IniLine& line : lines) {
        if (line.kind == IniLine::Section) {
            if (line.name.compare(kSection, Qt::CaseInsensitive) != 0) {
                throw IniError{
                    line.number,
                    QStringLiteral(u"未知的节“[%1]”：服务器写在 [keywords] 节中。").arg(line.name)};
            }
            inSection = true;
        } else if (!inSection) {
            throw IniError{line.number, QStringLiteral(u"“%1”不在任何节中：它的上面应有一行 "
                                                       u"[keywords]。")
                                            .arg(line.name)};
        } else if (line.name.compare(kDatabase, Qt::CaseInsensitive) != 0) {
            throw IniError{
                line.number,
                QStringLiteral(u"未知的设置“%1”：[keywords] 节中只有 database。").arg(line.name)};
        } else if (database) {
            throw IniError{
                line.number,
                QStringLiteral(u"database 重复设置（第 %1 行已有）。").arg(database->number)};
        } else if (line.value.isEmpty()) {
            throw IniError{line.number, QStringLiteral(u"database 没有值。")};
        } else {
            database = line;
        }
    }
    if (!database) {
        throw IniError{0, QStringLiteral(u"其中没有 [keywords] 节的 database 设置。")};
    }
    return *database;
}

struct ConninfoDeleter {
    void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};
using Conninfo = std::unique_ptr<PQconninfoOption, ConninfoDeleter>;

QString OptionOf(const Conninfo& options, const char* keyword) {
    for (const PQconninfoOption* option = options.get(); option && option->keyword; ++option) {
        if (qstrcmp(option->keyword, keyword) == 0) {
            return QString::fromUtf8(option->val ? option->val : "");
        }
    }
    return {};
}

// Host, port and database as libpq will take them: from the text, else from the service it
// names, else from the PG... variables and libpq's defaults. The password is never read here.
QString ServerOf(const IniLine& database) {
    char* reason = nullptr;
    const Conninfo given(PQconninfoParse(database.value.toUtf8().constData(), &reason));
    PQfreemem(reason);  // it may quote the text, and so a password
    if (!given) {
        throw IniError{database.number,
                       QStringLiteral(u"database 的值不是有效的 PostgreSQL 连接字符串或 URI。")};
    }
    const Conninfo defaults(PQconndefaults());
    const QString service = OptionOf(given, "service");
    const auto pick = [&](std::initializer_list<const char*> keywords) {
        for (const char* keyword : keywords) {
            if (const QString value = OptionOf(given, keyword); !value.isEmpty()) {
                return value;
            }
        }
        return service.isEmpty() ? OptionOf(defaults, *keywords.begin())
                                 : QStringLiteral(u"（见服务“%1”）").arg(service);
    };
    QString host = pick({"host", "hostaddr"});
    QString databaseName = pick({"dbname"});
    if (databaseName.isEmpty()) {
        databaseName = pick({"user"});  // libpq's own choice when none is named
    }
    return QStringLiteral(u"服务器 %1，端口 %2，数据库 %3")
        .arg(host.isEmpty() ? QStringLiteral(u"本机") : host, pick({"port"}), databaseName);
}

KeywordSource ServerSource(const QString& confFile) {
    try {
        const IniLine database = DatabaseSetting(ReadIni(ReadConfFile(confFile)));
        KeywordSource source;
        source.dataSource = {DataSource::Kind::Server, database.value};
        source.confFile = confFile;
        source.server = ServerOf(database);
        source.description =
            QStringLiteral(u"关键字库：%1\n设置文件：%2").arg(source.server, confFile);
        return source;
    } catch (const IniError& error) {
        throw ConfError(confFile, error);
    }
}

KeywordSource KeyDatabaseSource(const QString& appDir) {
    const QString path = KeyDatabasePath(appDir);
    KeywordSource source;
    source.dataSource = {DataSource::Kind::File, path};
    source.description = QStringLiteral(u"关键字库：程序目录中的 key.mdb\n文件：%1").arg(path);
    return source;
}

// A folder, a broken link or a file that cannot be read counts as there: it is an error, not
// a reason to look further.
bool IsThere(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

}  // namespace

QStringList ConfigFileCandidates(const QString& appDir) {
    QStringList folders{appDir};
    QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(home)) {  // unset, empty or relative: the default, as XDG says
        home = QDir::homePath() + QStringLiteral("/.config");
    }
    folders << home + QStringLiteral("/vorelta");
    QString systemDirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    if (systemDirs.isEmpty()) {
        systemDirs = QStringLiteral("/etc/xdg");
    }
    for (const QString& dir : systemDirs.split(u':', Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir)) {
            folders << dir + QStringLiteral("/vorelta");
        }
    }
    QStringList files;
    for (const QString& folder : folders) {
        files << QDir::toNativeSeparators(folder + u'/' + kConfName);
    }
    return files;
}

KeywordSource FindKeywordSource(const QString& appDir) {
    for (const QString& candidate : ConfigFileCandidates(appDir)) {
        if (IsThere(candidate)) {
            return ServerSource(candidate);
        }
    }
    return KeyDatabaseSource(appDir);
}

}  // namespace vorelta
