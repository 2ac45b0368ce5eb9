#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include "store/Module1.h"

namespace vorelta {
namespace {

using namespace Qt::StringLiterals;

QByteArray Encoded(const QString& text, QStringEncoder::Encoding encoding) {
    return QStringEncoder(encoding, QStringEncoder::Flag::WriteBom)(text);
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

// What the program makes of a vorelta.conf beside it: the server it names and
// shows (never a password), or what start-up says is wrong after "设置文件 <file> ".
TEST(KeywordSourceTest, AVoreltaConfNamesAServerOrSaysWhatIsWrongWithIt) {
    const QString k = u"[keywords]\ndatabase=host=db dbname=k\n"_s;
    const QString db = u" | 服务器 db，端口 5432，数据库 k"_s;
    const struct {
        const char* what;
        QByteArray bytes;
        QString said;
    } rows[] = {
        {"as the README writes it", k.toUtf8(), u"host=db dbname=k"_s + db},
        {"names in any case", "[ Keywords ]\r\n  DataBase = host=db dbname=k \r\n",
         u"host=db dbname=k"_s + db},
        {"a host list whole", "[keywords]\ndatabase=host=a,b port=1,2 dbname=k\n",
         u"host=a,b port=1,2 dbname=k | 服务器 a,b，端口 1,2，数据库 k"_s},
        {"';' and '#' quoted or inside a word",
         "[keywords]\ndatabase=host=db application_name='a;b #c' password=p;q#r dbname=k\n",
         u"host=db application_name='a;b #c' password=p;q#r dbname=k"_s + db},
        {"comments", "; a\n# b\n[keywords] ; c\ndatabase=host=db dbname=k # d\n",
         u"host=db dbname=k"_s + db},
        {"double quotes round the value", "[keywords]\ndatabase=\"host=db dbname=k\"\n",
         u"host=db dbname=k"_s + db},
        {"a URI", "[keywords]\ndatabase=postgresql://alice:pw@db:5433/k\n",
         u"postgresql://alice:pw@db:5433/k | 服务器 db，端口 5433，数据库 k"_s},
        {"UTF-8 with a mark", "\xEF\xBB\xBF[keywords]\ndatabase=host=db dbname=甲\n"_ba,
         u"host=db dbname=甲 | 服务器 db，端口 5432，数据库 甲"_s},
        {"UTF-16 LE with a mark", Encoded(k, QStringEncoder::Utf16LE), u"host=db dbname=k"_s + db},
        {"no section", "database=host=a\n",
         u"第 1 行有误：“database”不在任何节中：它的上面应有一行 [keywords]。"_s},
        {"an unknown section", "[keywords]\ndatabase=host=a\n[General]\n",
         u"第 3 行有误：未知的节“[General]”：服务器写在 [keywords] 节中。"_s},
        {"an unknown setting", "[keywords]\nserver=host=a\n",
         u"第 2 行有误：未知的设置“server”：[keywords] 节中只有 database。"_s},
        {"an empty value", "[keywords]\nDatabase=  ; nothing yet\n",
         u"第 2 行有误：database 没有值。"_s},
        {"an empty file", "", u"有误：其中没有 [keywords] 节的 database 设置。"_s},
        {"a value libpq refuses", "[keywords]\ndatabase=host='a\n",
         u"第 2 行有误：database 的值不是有效的 PostgreSQL 连接字符串或 URI。"_s},
        {"UTF-16 without a mark", Encoded(k, QStringEncoder::Utf16LE).mid(2),
         u"第 1 行有误：含有空字符：文件可能存成了不带字节顺序标记的 UTF-16，请把文件存为 UTF-8。"_s},
        {"GB18030", "[keywords]\n; \xB0\xEC\xB9\xAB\xCA\xD2\ndatabase=host=a\n"_ba,
         u"第 2 行有误：不是 UTF-8 文本：请把文件存为 UTF-8（或带字节顺序标记的 UTF-16）。"_s},
    };
    for (const auto& row : rows) {
        QTemporaryDir dir;
        const QString conf = dir.filePath(u"vorelta.conf"_s);
        WriteFile(conf, row.bytes);
        QString said;
        try {
            const KeywordSource source = FindKeywordSource(dir.path());
            EXPECT_EQ(source.dataSource.kind, DataSource::Kind::Server) << row.what;
            said = source.dataSource.name + u" | "_s + source.server;
        } catch (const RuntimeError& error) {
            said = QString(error.description()).remove(u"设置文件 "_s + conf + u' ');
        }
        EXPECT_EQ(said.toStdString(), row.said.toStdString()) << row.what;
    }
}

// vorelta.conf beside the program, then in $XDG_CONFIG_HOME (~/.config), then in each of
// $XDG_CONFIG_DIRS; the first that is there is used, and one that cannot be used is an error,
// not a reason to look further. Each place made holds a file, or a folder ("/") or a broken
// link ("@"), by that name.
TEST(KeywordSourceTest, TheFirstVoreltaConfFoundIsUsedAndKeyMdbOnlyWithoutAny) {
    const struct {
        const char* what;
        QString made;
        QString said;  // the file used, relative to the temporary folder, or the error's file
        bool homeUnset = false;
    } rows[] = {
        {"none", u""_s, u"program/key.mdb"_s},
        {"the last system folder", u"sys2"_s, u"sys2/vorelta/vorelta.conf"_s},
        {"system folders in order", u"sys2 sys1"_s, u"sys1/vorelta/vorelta.conf"_s},
        {"the user's first", u"sys1 home"_s, u"home/vorelta/vorelta.conf"_s},
        {"beside the program first", u"home program"_s, u"program/vorelta.conf"_s},
        {"~/.config", u"user/.config sys1"_s, u"user/.config/vorelta/vorelta.conf"_s, true},
        {"a folder", u"program/ home"_s, u"error program/vorelta.conf"_s},
        {"a broken link", u"home@ sys1"_s, u"error home/vorelta/vorelta.conf"_s},
    };
    const QByteArray saved[] = {qgetenv("HOME"), qgetenv("XDG_CONFIG_HOME"),
                                qgetenv("XDG_CONFIG_DIRS")};
    for (const auto& row : rows) {
        QTemporaryDir root;
        const QDir top(root.path());
        qputenv("HOME", QFile::encodeName(top.filePath(u"user"_s)));
        qputenv("XDG_CONFIG_HOME", row.homeUnset ? "" : QFile::encodeName(top.filePath(u"home"_s)));
        qputenv("XDG_CONFIG_DIRS", "relative:" + QFile::encodeName(top.filePath(u"sys1"_s)) +
                                       "::" + QFile::encodeName(top.filePath(u"sys2"_s)));
        const QString program = top.filePath(u"program"_s);
        top.mkpath(program);
        for (const QString& place : row.made.split(u' ', Qt::SkipEmptyParts)) {
            const QString name = place.back().isLetterOrNumber() ? place : place.chopped(1);
            const QString conf = top.filePath(
                name + (name == u"program"_s ? u""_s : u"/vorelta"_s) + u"/vorelta.conf"_s);
            top.mkpath(QFileInfo(conf).path());
            if (place.endsWith(u'/')) {
                top.mkpath(conf);
            } else if (place.endsWith(u'@')) {
                QFile::link(top.filePath(u"gone"_s), conf);
            } else {
                WriteFile(conf, "[keywords]\ndatabase=host=db\n");
            }
        }
        QString said;
        try {
            const KeywordSource source = FindKeywordSource(program);
            said = top.relativeFilePath(source.confFile.isEmpty() ? source.dataSource.name
                                                                  : source.confFile);
            EXPECT_EQ(KeyStoreLocation(program),
                      source.confFile.isEmpty() ? KeyDatabasePath(program) : source.confFile);
        } catch (const RuntimeError& error) {
            said = u"error "_s + top.relativeFilePath(error.description().section(u' ', 1, 1));
        }
        EXPECT_EQ(said.toStdString(), row.said.toStdString()) << row.what;
    }
    qputenv("HOME", saved[0]);
    qputenv("XDG_CONFIG_HOME", saved[1]);
    qputenv("XDG_CONFIG_DIRS", saved[2]);
}

}  // namespace
}  // namespace vorelta
