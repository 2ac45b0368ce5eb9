#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <optional>

#include "store/Module1.h"

namespace vorelta {
namespace {

using namespace Qt::StringLiterals;

const QString kServer = u"Provider=PostgreSQL;Data Source="_s;

QByteArray Encoded(const QString& text, QStringEncoder::Encoding encoding) {
    return QStringEncoder(encoding, QStringEncoder::Flag::WriteBom)(text);
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

// What the program makes of a vorelta.conf beside it: the server's connection string (and how
// it describes the server), or the error start-up shows, "%1" standing for the file's path.
TEST(KeywordSourceTest, AVoreltaConfNamesAServerOrSaysWhatIsWrongWithIt) {
    const QString sectioned = u"[keywords]\ndatabase=host=db dbname=k\n"_s;
    const struct {
        const char* what;
        QByteArray bytes;
        QString conninfo;  // empty: the error is expected
        QString error = {};
        QString server = {};
    } rows[] = {
        {"as the README writes it",
         sectioned.toUtf8(),
         u"host=db dbname=k"_s,
         {},
         u"服务器 db，端口 5432，数据库 k"_s},
        {"names in any case, blanks round them", "[ Keywords ]\r\n  DATABASE = host=db  \r\n",
         u"host=db"_s},
        {"a host list stays whole",
         "[keywords]\ndatabase=host=a,b port=1,2 dbname=k\n",
         u"host=a,b port=1,2 dbname=k"_s,
         {},
         u"服务器 a,b，端口 1,2，数据库 k"_s},
        {"';' and '#' quoted or inside a word belong to the value, never the password shown",
         "[keywords]\ndatabase=host=a application_name='a;b #c' password=p;q#r dbname=k\n",
         u"host=a application_name='a;b #c' password=p;q#r dbname=k"_s,
         {},
         u"服务器 a，端口 5432，数据库 k"_s},
        {"comments: whole lines and after a blank",
         "; a\n# b\n[keywords] ; c\ndatabase=host=a # d\n", u"host=a"_s},
        {"a value wholly in double quotes", "[keywords]\ndatabase=\"host=a dbname=k\"\n",
         u"host=a dbname=k"_s},
        {"a URI",
         "[keywords]\ndatabase=postgresql://alice:pw@db:5433/k\n",
         u"postgresql://alice:pw@db:5433/k"_s,
         {},
         u"服务器 db，端口 5433，数据库 k"_s},
        {"UTF-8 with a byte order mark", "\xEF\xBB\xBF[keywords]\ndatabase=host=甲\n"_ba,
         u"host=甲"_s},
        {"UTF-16 LE with a byte order mark", Encoded(sectioned, QStringEncoder::Utf16LE),
         u"host=db dbname=k"_s},
        {"UTF-16 BE with a byte order mark", Encoded(sectioned, QStringEncoder::Utf16BE),
         u"host=db dbname=k"_s},
        {"no section",
         "database=host=a\n",
         {},
         u"设置文件 %1 第 1 行有误：“database”不在任何节中：它的上面应有一行 [keywords]。"_s},
        {"an unknown section",
         "[keywords]\ndatabase=host=a\n[General]\n",
         {},
         u"设置文件 %1 第 3 行有误：未知的节“[General]”：服务器写在 [keywords] 节中。"_s},
        {"an unknown setting",
         "[keywords]\nserver=host=a\n",
         {},
         u"设置文件 %1 第 2 行有误：未知的设置“server”：[keywords] 节中只有 database。"_s},
        {"an empty value",
         "[keywords]\nDatabase=  ; nothing yet\n",
         {},
         u"设置文件 %1 第 2 行有误：database 没有值。"_s},
        {"set twice",
         "[keywords]\ndatabase=host=a\n\ndatabase=host=b\n",
         {},
         u"设置文件 %1 第 4 行有误：database 重复设置（第 2 行已有）。"_s},
        {"an empty file", "", {}, u"设置文件 %1 有误：其中没有 [keywords] 节的 database 设置。"_s},
        {"a line that is no setting",
         "[keywords]\ndatabase\n",
         {},
         u"设置文件 %1 第 2 行有误：无法理解：设置应写成“名称=值”，注释行以 ; 或 # 开头。"_s},
        {"a section without its ']'",
         "[keywords\n",
         {},
         u"设置文件 %1 第 1 行有误：节名缺少结尾的“]”。"_s},
        {"a value libpq refuses",
         "[keywords]\ndatabase=host='a\n",
         {},
         u"设置文件 %1 第 2 行有误：database 的值不是有效的 PostgreSQL 连接字符串或 URI。"_s},
        {"UTF-16 without a byte order mark",
         Encoded(sectioned, QStringEncoder::Utf16LE).mid(2),
         {},
         u"设置文件 %1 第 1 行有误：含有空字符：文件可能存成了不带字节顺序标记的 UTF-16，"
         u"请把文件存为 UTF-8。"_s},
        {"GB18030",
         "[keywords]\n; \xB0\xEC\xB9\xAB\xCA\xD2\ndatabase=host=a\n"_ba,
         {},
         u"设置文件 %1 第 2 行有误：不是 UTF-8 文本：请把文件存为 UTF-8（或带字节顺序标记的 "
         u"UTF-16）。"_s},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        const QString conf = dir.filePath(u"vorelta.conf"_s);
        WriteFile(conf, row.bytes);
        try {
            const KeywordSource source = FindKeywordSource(dir.path());
            EXPECT_EQ(source.connectionString, kServer + row.conninfo);
            EXPECT_EQ(source.confFile, conf);
            if (!row.server.isEmpty()) {
                EXPECT_EQ(source.server, row.server);
            }
            const QString shown = source.server + source.description;
            EXPECT_FALSE(shown.contains(u"p;q"_s) || shown.contains(u":pw"_s));
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.description().toStdString(), row.error.arg(conf).toStdString());
            EXPECT_EQ(KeyStoreLocation(dir.path()), QString());  // the error names the file
        }
    }
}

// vorelta.conf beside the program, then in $XDG_CONFIG_HOME, then in each of $XDG_CONFIG_DIRS;
// the first that is there is used, and one that cannot be used is an error, not a reason to go on.
TEST(KeywordSourceTest, TheFirstVoreltaConfFoundIsUsedAndKeyMdbOnlyWithoutAny) {
    enum Place { Beside, Home, System1, System2, DefaultHome };
    enum Kind { File, Folder, BrokenLink };
    const struct {
        const char* what;
        std::vector<std::pair<Place, Kind>> made;
        std::optional<Place> used;  // none: key.mdb
        bool homeUnset = false;
    } rows[] = {
        {"none", {}, std::nullopt},
        {"the last system folder", {{System2, File}}, System2},
        {"system folders in their order", {{System2, File}, {System1, File}}, System1},
        {"the user's before the system's", {{System1, File}, {Home, File}}, Home},
        {"beside the program before all", {{Home, File}, {Beside, File}}, Beside},
        {"~/.config without XDG_CONFIG_HOME",
         {{DefaultHome, File}, {System1, File}},
         DefaultHome,
         true},
        {"a folder beside the program is an error", {{Beside, Folder}, {Home, File}}, Beside},
        {"a broken link is an error", {{Home, BrokenLink}, {System1, File}}, Home},
    };
    const char* const variables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"};
    std::vector<std::optional<QByteArray>> saved;
    for (const char* name : variables) {
        saved.push_back(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name))
                                                        : std::nullopt);
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir root;
        const auto at = [&](const char* folder) {
            return root.filePath(QString::fromLatin1(folder));
        };
        const QString folders[] = {at("program"), at("home/vorelta"), at("sys1/vorelta"),
                                   at("sys2/vorelta"), at("user/.config/vorelta")};
        qputenv("HOME", QFile::encodeName(at("user")));
        qputenv("XDG_CONFIG_HOME", row.homeUnset ? QByteArray() : QFile::encodeName(at("home")));
        qputenv("XDG_CONFIG_DIRS", "relative/ignored:" + QFile::encodeName(at("sys1")) +
                                       "::" + QFile::encodeName(at("sys2")));
        QDir().mkpath(folders[Beside]);
        for (const auto& [place, kind] : row.made) {
            const QString conf = folders[place] + u"/vorelta.conf"_s;
            QDir().mkpath(folders[place]);
            if (kind == File) {
                WriteFile(conf, "[keywords]\ndatabase=host=" + QFile::encodeName(conf) + '\n');
            } else if (kind == Folder) {
                QDir().mkpath(conf);
            } else {
                QFile::link(at("gone"), conf);
            }
        }
        const QString used = row.used ? folders[*row.used] + u"/vorelta.conf"_s : QString();
        const bool fails = row.used && row.made.front().second != File;
        try {
            const KeywordSource source = FindKeywordSource(folders[Beside]);
            EXPECT_FALSE(fails);
            EXPECT_EQ(source.confFile, used);
            EXPECT_EQ(source.connectionString,
                      used.isEmpty()
                          ? u"Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source="_s +
                                KeyDatabasePath(folders[Beside])
                          : kServer + u"host="_s + used);
            EXPECT_EQ(KeyStoreLocation(folders[Beside]),
                      used.isEmpty() ? KeyDatabasePath(folders[Beside]) : used);
        } catch (const RuntimeError& error) {
            EXPECT_TRUE(fails);
            EXPECT_TRUE(error.description().startsWith(u"设置文件 "_s + used + u" 有误："_s))
                << error.description().toStdString();
        }
    }
    for (std::size_t i = 0; i < saved.size(); ++i) {
        saved[i] ? qputenv(variables[i], *saved[i]) : qunsetenv(variables[i]);
    }
}

}  // namespace
}  // namespace vorelta
