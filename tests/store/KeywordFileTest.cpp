#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <cstring>
#include <functional>
#include <future>

#include "store/KeywordFile.h"

namespace vorelta {
namespace {

QByteArray Encoded(const char* encoding, const QString& text) {
    QStringEncoder encoder(encoding);
    return encoder(text);
}

TEST(KeywordFileTest, AByteOrderMarkDecidesElseUtf8ElseGb18030AndEveryLineEndIsCrLf) {
    const QString lines = QStringLiteral(u"中奖\r\n发票");
    const QString bad = QStringLiteral(u"\uFFFD");
    const struct {
        const char* what;
        QByteArray bytes;
        std::optional<QString> text;
        int badLines = 0;
    } cases[] = {
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + lines.toUtf8(), lines},
        {"UTF-16 LE with a mark", "\xFF\xFE" + Encoded("UTF-16LE", lines), lines},
        {"UTF-16 BE with a mark", "\xFE\xFF" + Encoded("UTF-16BE", lines), lines},
        {"UTF-8 without a mark", lines.toUtf8(), lines},
        {"GB18030", Encoded("GB18030", lines), lines},
        {"LF, CR and CR LF, and one at the end", "a\nb\rc\r\nd\r\n",
         QStringLiteral("a\r\nb\r\nc\r\nd")},
        {"a lone CR inside a line ends it", "ab\rcd", QStringLiteral("ab\r\ncd")},
        {"blank lines stay", "a\n\n\nb", QStringLiteral("a\r\n\r\n\r\nb")},
        {"empty", "", QString()},
        {"a NUL: no text", QByteArray("a\0b", 3), std::nullopt},
        {"a mark and a bad byte", "\xEF\xBB\xBF\xFF\n" + lines.toUtf8(), bad + "\r\n" + lines, 1},
        {"after a mark a NUL and U+FEFF are text", QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF\0", 7),
         QStringView(u"\uFEFF\0", 2).toString()},
        {"UTF-8 cut in its last character", lines.toUtf8().chopped(1), lines.chopped(1) + bad, 1},
        {"ASCII, then a GB18030 character", "ab\xE4\xB8", QStringLiteral(u"ab涓")},
        {"GB18030, bytes of no character in two lines",
         Encoded("GB18030", lines) + "\x80\x80\n\xD6", lines + bad + bad + "\r\n" + bad, 2},
        {"UTF-16, a lone surrogate, an odd last byte", QByteArray("\xFF\xFE\x3D\xD8\n\0b", 7),
         bad + "\r\n" + bad, 2},
        {"a U+FFFD in the file is no bad byte", bad.toUtf8(), bad},
    };
    for (const auto& c : cases) {
        const std::optional<KeywordFileText> decoded = DecodeKeywordFile(c.bytes);
        EXPECT_EQ(decoded.has_value(), c.text.has_value()) << c.what;
        if (decoded && c.text) {
            EXPECT_EQ(decoded->text, *c.text) << c.what;
            EXPECT_EQ(decoded->linesWithBadBytes, c.badLines) << c.what;
        }
    }
}

// Only a regular file is read, and only up to the limit: a FIFO would hold the open until
// another program writes to it, a device may never end.
TEST(KeywordFileTest, OnlyARegularFileWithinTheSizeLimitIsRead) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo"), socket = dir.filePath("socket");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo), 0600), 0);
    sockaddr_un address{AF_UNIX, {}};
    strncpy(address.sun_path, QFile::encodeName(socket), sizeof address.sun_path - 1);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(listener);
    QFile big(dir.filePath("big.txt"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(qint64(513) << 20));  // sparse
    const struct {
        QString path;
        QString refusal;
        qint64 limit = kKeywordFileSizeLimit;
    } cases[] = {
        {fifo, QStringLiteral(u"“%1”是命名管道（FIFO），不是文本文件。")},
        {QStringLiteral("/dev/zero"), QStringLiteral(u"“%1”是字符设备，不是文本文件。")},
        {socket, QStringLiteral(u"“%1”是套接字，不是文本文件。")},
        {big.fileName(), QStringLiteral(u"“%1”有513 MB，超过可导入的上限512 MB，未导入。")},
        // Longer than its size says, as a file that grows while it is read (16 bytes: 1 MB).
        {QStringLiteral("/proc/self/maps"), QStringLiteral(u"“%1”超过可导入的上限1 MB，未导入。"),
         16},
    };
    for (const auto& c : cases) {
        auto refusal = std::async(std::launch::async, [&] {
            try {
                return ReadKeywordFile(c.path, c.limit).text;
            } catch (const RuntimeError& error) {
                return error.description();
            }
        });
        // Were the FIFO opened for reading, a writer coming and going lets the open return.
        while (refusal.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
            close(open(QFile::encodeName(fifo), O_WRONLY | O_NONBLOCK));
        }
        EXPECT_EQ(refusal.get(), c.refusal.arg(c.path));
    }
}

// An export over a file keeps what others rely on: its owner, group and mode, and its other
// names, which stay one file with it.
TEST(KeywordFileTest, AnExportOverAFileKeepsItsOwnerGroupModeAndNames) {
    const struct {
        const char* what;
        std::function<int(const QByteArray&)> prepare;
        bool asRoot = true;  // gives the file away
    } cases[] = {
        {"a group and set-group-ID", [](auto& f) { return chown(f, -1, 1) | chmod(f, 02640); }},
        {"another owner", [](auto& f) { return chown(f, 65534, -1); }},
        {"a second name", [](auto& f) { return link(f, f + ".link"); }, false},
    };
    std::string notRun;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.asRoot && geteuid() != 0) {
            notRun += std::string(notRun.empty() ? "" : ", ") + c.what;
            continue;
        }
        QTemporaryDir dir;
        QFile file(dir.filePath("list.txt"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("old") == 3 && file.flush());
        const QByteArray path = QFile::encodeName(file.fileName());
        struct stat before = {}, after = {};
        ASSERT_EQ(c.prepare(path) | stat(path, &before), 0);
        WriteKeywordFile(file.fileName(), {QStringLiteral(u"新")});
        ASSERT_EQ(stat(path, &after), 0);
        EXPECT_EQ(std::tuple(after.st_uid, after.st_gid, after.st_mode, after.st_nlink),
                  std::tuple(before.st_uid, before.st_gid, before.st_mode, before.st_nlink));
        const QStringList names = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        EXPECT_EQ(nlink_t(names.size()), before.st_nlink);  // and no file left beside
        for (const QString& name : names) {
            EXPECT_EQ(ReadKeywordFile(dir.filePath(name)).text, QStringLiteral(u"新"));
        }
    }
    if (!notRun.empty()) {
        GTEST_SKIP() << "only root may give a file away; not run: " << notRun;
    }
}

}  // namespace
}  // namespace vorelta
