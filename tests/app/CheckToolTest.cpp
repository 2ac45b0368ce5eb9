// vorelta-check as a user runs it: its verdicts against the window's own check of the same
// messages, and its exit statuses and error texts against the window's start-up report.

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringDecoder>
#include <random>

#include "store/Module1.h"
#include "tests/support/KeyDatabase.h"
#include "toolkit/ErrorReport.h"
#include "windows/main/KeywordScanner.h"

namespace vorelta {

using namespace Qt::StringLiterals;
namespace {

struct ToolRun {
    int status = -1;
    QByteArray out;
    QString err;
};

ToolRun RunTool(const QStringList& arguments, const QByteArray& input = {},
                const QString& program = QStringLiteral(VORELTA_CHECK_TOOL)) {
    QProcess tool;
    tool.start(program, arguments);
    tool.write(input);
    tool.closeWriteChannel();
    tool.waitForFinished(120000);
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
            tool.readAllStandardOutput(), QString::fromUtf8(tool.readAllStandardError())};
}

QStringList Strings(const std::vector<QString>& texts) {
    return QStringList(texts.begin(), texts.end());
}

// The keywords of the real list when it is at hand beside the checkout, else none; and rows of
// every kind the store may hold.
std::vector<FieldValue> KeywordRows() {
    std::vector<FieldValue> rows = {FieldValue(), u"中奖"_s, u"免-费"_s,  u"Win"_s,
                                    u"发票"_s,    u"中奖"_s, u"a\r\nb"_s, u"\"引号\\"_s};
    QFile list(QStringLiteral(VORELTA_SHARED_DATA "/sensitive_word_dict.txt"));
    if (list.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : list.readAll().split('\n')) {
            if (!line.trimmed().isEmpty()) {
                rows.push_back(QString::fromUtf8(line.trimmed()));
            }
        }
    }
    return rows;
}

// Random messages from pieces that meet the check's edge cases: keywords whole and in other
// forms (full width, traditional, separators), blanks to normalise away, and empty lines.
QStringList Messages(const std::vector<FieldValue>& rows, int count) {
    const QString pieces[] = {u" "_s,     u"  "_s,   u"中獎"_s, u"免*费"_s, u"ｗｉｎ"_s,
                              u"发 票"_s, u"a\tb"_s, u"𠀀"_s,   u"你好"_s,  u"\""_s};
    std::mt19937 random(28);
    QStringList messages;
    for (int i = 0; i < count; ++i) {
        QString message;
        for (int n = int(random() % 8); n > 0; --n) {
            const std::size_t row = random() % rows.size();
            message += random() % 2 && rows[row] ? rows[row]->left(int(random() % 6))
                                                 : pieces[random() % std::size(pieces)];
        }
        messages << message.remove(u'\r').remove(u'\n');  // each is one line
    }
    return messages;
}

TEST(CheckToolTest, GivesTheWindowsVerdictForEveryLine) {
    test::TempProgramDir dir;
    const std::vector<FieldValue> rows = KeywordRows();
    dir.createKeys(rows);
    const QStringList messages = Messages(rows, 600);

    const ToolRun run = RunTool({QStringLiteral("--json"), QStringLiteral("--database"),
                                 dir.keyDatabase(), QStringLiteral("-")},
                                messages.join(u"\r\n").toUtf8());
    const QList<QByteArray> lines = run.out.split('\n');
    ASSERT_EQ(lines.size(), messages.size() + 1) << run.err.toStdString();

    Module1 state;
    OpenKeyStore(state, KeyDataSource(dir.path()));
    KeywordScanner scanner;
    bool anyHit = false;
    for (qsizetype i = 0; i < messages.size(); ++i) {
        const QString normalised = NormaliseMessage(messages[i]);
        const ScanResult expected = scanner.Scan(state.KeyRecordset, normalised);
        const QJsonObject verdict = QJsonDocument::fromJson(lines[i]).object();
        SCOPED_TRACE(lines[i].toStdString());
        EXPECT_EQ(verdict[u"line"].toInteger(), i + 1);
        EXPECT_EQ(verdict[u"message"].toString(), normalised);
        EXPECT_EQ(verdict[u"verdict"].toString(), normalised.isEmpty()    ? u"empty"_s
                                                  : expected.hitCount > 0 ? u"hits"_s
                                                                          : u"clean"_s);
        EXPECT_EQ(verdict[u"hits"].toVariant().toStringList(), Strings(expected.keywords));
        QStringList written;
        QStringList keywords;
        for (const QJsonValue nearMiss : verdict[u"near_misses"].toArray()) {
            written << nearMiss[u"written"].toString();
            keywords << nearMiss[u"keyword"].toString();
        }
        EXPECT_EQ(written, Strings(expected.nearMissesWritten));
        EXPECT_EQ(keywords, Strings(expected.nearMissKeywords));
        anyHit = anyHit || expected.hitCount > 0;
    }
    EXPECT_EQ(run.status, anyHit ? 1 : 0);
}

// What the window's start-up would show for the keywords at this connection, without the box.
QString WindowsStartupError(const QString& appPath) {
    Module1 state;
    try {
        OpenKeyStore(state, KeyDataSource(appPath));
    } catch (const RuntimeError& error) {
        const QString where = KeyStoreLocation(appPath);
        QString text = ErrorReportText(error);
        if (!where.isEmpty()) {
            text += u"\r\n\r\n"_s + where;
        }
        return text.replace(u"\r\n"_s, u"\n"_s);
    }
    return {};
}

TEST(CheckToolTest, TellsByItsExitStatusAndSaysWhatWentWrong) {
    enum class Store { Keys, None, NoDatabase, NoKeynameColumn };
    struct Case {
        const char* what;
        Store store;
        QStringList arguments;
        QByteArray input;
        int status;
        QString error;  // empty: the window's start-up error
        QByteArray out;
    };
    const QByteArray gb18030 = QStringEncoder("GB18030")(u"发票"_s);
    const Case cases[] = {
        {"clean",
         Store::Keys,
         {},
         "你好\n\n",
         0,
         {},
         u"共2条短信：0条含有关键字，0条另有近似关键字，1条为空。\n"_s.toUtf8()},
        {"a hit, GB18030",
         Store::Keys,
         {},
         "ok\r\n" + gb18030,
         1,
         {},
         u"第2行：检测到1条关键字：发票\n共2条短信：1条含有关键字，0条另有近似关键字，0条为空。\n"_s
             .toUtf8()},
        {"no key.mdb", Store::None, {}, "x", 2, {}, {}},
        {"no database", Store::NoDatabase, {}, "x", 2, {}, {}},
        {"no keyname column", Store::NoKeynameColumn, {}, "x", 2, {}, {}},
        {"unknown option",
         Store::Keys,
         {u"--quick"_s},
         "x",
         2,
         u"vorelta-check: 不认识的选项“--quick”。\n用法见 vorelta-check --help\n"_s,
         {}},
        {"no such file",
         Store::Keys,
         {u"missing.txt"_s},
         {},
         2,
         u"vorelta-check: 无法读取文件“missing.txt”。\n"_s,
         {}},
        {"NUL in standard input",
         Store::Keys,
         {u"-"_s},
         QByteArray("a\0b", 3),
         2,
         u"vorelta-check: “标准输入”不是文本文件。\n"_s,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The tool beside its own key.mdb, as installed: it uses what the program would.
        test::TempProgramDir dir;
        const QString tool = dir.path() + u"/vorelta-check"_s;
        ASSERT_TRUE(QFile::copy(QStringLiteral(VORELTA_CHECK_TOOL), tool));
        if (c.store == Store::Keys) {
            dir.createKeys({u"中奖"_s, u"发票"_s});
        } else if (c.store == Store::NoDatabase) {
            dir.writeFile("not a database, whatever its name");
        } else if (c.store == Store::NoKeynameColumn) {
            dir.createWithSql("create table keys (word text)");
        }
        const ToolRun run = RunTool(c.arguments, c.input, tool);
        EXPECT_EQ(run.status, c.status);
        if (c.status == 2 && c.error.isEmpty()) {
            EXPECT_EQ(run.err, u"vorelta-check: "_s + WindowsStartupError(dir.path()) + u'\n');
        } else {
            EXPECT_EQ(run.err, c.error);
        }
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(dir.hasKeyDatabase(), c.store != Store::None) << "a key.mdb was created";
    }
}

}  // namespace
}  // namespace vorelta
