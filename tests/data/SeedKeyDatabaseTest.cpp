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
    EXPECT_EQ(dir.storedKeys(),
              (std::vector<FieldValue>{QStringLiteral(u"首词"), QStringLiteral(u"中奖"),
                                       QStringLiteral(u"发 票"), QStringLiteral(u"末词")}));
}

}  // namespace
}  // namespace vorelta::test
