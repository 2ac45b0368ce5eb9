// The tool that makes a key.mdb from a keyword list file reads the file as users write it.

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

#include "tests/support/KeyDatabase.h"

namespace vorelta::test {
namespace {

TEST(SeedKeyDatabaseTest, AListIsStoredAsTheManagerWouldStoreItsLines) {
    TempProgramDir dir;
    QFile list(dir.path() + QStringLiteral("/list.txt"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    // Read as the manager imports (here UTF-16 with its byte order mark): blanks around
    // keywords, blank-only lines, comments, and CR LF, LF and CR line ends.
    const QString text =
        QStringLiteral(u"\uFEFF首词\r\n  中奖  \r\n   \r\n\r\n# 注释\r发 票\n  # 也是注释\n末词");
    list.write(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    list.close();
    ASSERT_EQ(
        QProcess::execute(QStringLiteral(VORELTA_SEED_TOOL), {list.fileName(), dir.keyDatabase()}),
        0);
    const std::vector<FieldValue> stored = {QStringLiteral(u"首词"), QStringLiteral(u"中奖"),
                                            QStringLiteral(u"发 票"), QStringLiteral(u"末词")};
    EXPECT_EQ(dir.storedKeys(), stored);

    // Over an existing key.mdb nothing is stored: a failure for the user's own list, nothing to
    // do for the build's starter list.
    const QByteArray before = dir.fileBytes();
    const struct {
        QStringList flags;
        int exitCode;
    } again[] = {{{}, 1}, {{QStringLiteral("--if-missing")}, 0}};
    for (const auto& run : again) {
        EXPECT_EQ(QProcess::execute(QStringLiteral(VORELTA_SEED_TOOL),
                                    run.flags + QStringList{list.fileName(), dir.keyDatabase()}),
                  run.exitCode);
        EXPECT_EQ(dir.fileBytes(), before);
    }
}

}  // namespace
}  // namespace vorelta::test
