// Start-up over a key.mdb that is damaged, foreign, read-only or not a file at all, and over a
// program directory whose path is unusual.

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <fstream>
#include <functional>

#include "tests/faults/FaultSession.h"

namespace vorelta::test {
namespace {

using Rows = std::vector<FieldValue>;

QByteArray RealDatabaseBytes() {
    TempProgramDir source;
    source.createKeys(NumberedKeywords(3000));
    return source.fileBytes();
}

QByteArray RandomBytes(int size) {
    QByteArray bytes(size, '\0');
    QRandomGenerator generator(20260107);
    for (char& byte : bytes) {
        byte = char(generator.bounded(256));
    }
    return bytes;
}

QByteArray JetFile() {
    QByteArray bytes("\x00\x01\x00\x00Standard Jet DB\x00", 20);
    bytes.append(RandomBytes(4076));
    return bytes;
}

TEST(DamagedFileTest, StartUpWorksOrFailsClearlyAndAFailureLeavesTheFileAsItWas) {
    const struct {
        const char* name;
        std::function<void(TempProgramDir&)> make;
        int keywords;  // -1: start-up fails
    } cases[] = {
        {"empty file, an empty database to SQLite", [](auto& d) { d.writeFile({}); }, -1},
        {"truncated", [](auto& d) { d.writeFile(RealDatabaseBytes().first(3000 * 8)); }, -1},
        {"random bytes", [](auto& d) { d.writeFile(RandomBytes(8192)); }, -1},
        {"Access file", [](auto& d) { d.writeFile(JetFile()); }, -1},
        {"no table keys", [](auto& d) { d.createWithSql("create table other (keyname text)"); },
         -1},
        {"no column keyname",
         [](auto& d) {
             d.createWithSql("create table keys (word text); insert into keys values ('a')");
         },
         -1},
        {"directory", [](auto& d) { QDir().mkpath(d.keyDatabase()); }, -1},
        {"keys is a view",
         [](auto& d) {
             d.createWithSql(
                 "create table t (keyname text); insert into t values ('中奖'), ('发票');"
                 "create view keys as select keyname from t");
         },
         2},
        {"numbers and blobs",
         [](auto& d) {
             d.createWithSql(
                 "create table keys (keyname); "
                 "insert into keys values (42), (2.5), (x'e4b8ade5a596')");
         },
         3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FaultSession s;
        c.make(s.dir);
        const QByteArray before = s.dir.fileBytes();
        const QStringList filesBefore = s.dir.files();

        const bool started = s.load();
        if (c.keywords < 0) {
            EXPECT_FALSE(started);
            ASSERT_EQ(s.boxes.prompts.size(), 1);
            EXPECT_TRUE(
                s.boxes.prompts.front().endsWith(QStringLiteral("\r\n\r\n") + s.dir.keyDatabase()));
            EXPECT_EQ(s.dir.fileBytes(), before);
            EXPECT_EQ(s.dir.files(), filesBefore);  // no journal either
            continue;
        }
        ASSERT_TRUE(started) << s.boxes.prompts.join(u'|').toStdString();
        EXPECT_EQ(s.state.KeyCount, c.keywords);
        const QString verdict = s.check(QStringLiteral(u"号码42和2.5中奖发票"));
        EXPECT_TRUE(verdict.endsWith(QStringLiteral(u"检测到%1条关键字,请更改").arg(c.keywords)))
            << verdict.toStdString();
        EXPECT_TRUE(s.boxes.prompts.isEmpty());
    }
}

TEST(ReadOnlyFileTest, ChecksWorkAndTheManagersWritesReportTheFileIsReadOnly) {
    // The tests run as root, whom file permissions do not stop: the file is opened read-only
    // through the data source's read-only setting instead, as SQLite opens a file without
    // write permission.
    const QString readOnly =
        QStringLiteral(u"实时错误 '8':\r\n\r\n数据库文件是只读的，无法保存更改。");
    FaultSession s;
    s.startUp({QStringLiteral(u"中奖")}, {.readOnly = true});
    const QByteArray before = s.dir.fileBytes();
    EXPECT_TRUE(s.check(QStringLiteral(u"恭喜中奖")).contains(u"中奖"));

    s.insert(QStringLiteral(u"发票"));
    EXPECT_EQ(s.boxes.prompts, QStringList{readOnly});
    EXPECT_EQ(s.manager->key->text(), QStringLiteral(u"发票"));
    s.deleteKeyword(QStringLiteral(u"中奖"));
    EXPECT_EQ(s.boxes.prompts, (QStringList{readOnly, readOnly}));

    EXPECT_EQ(s.state.KeyCount, 1);
    EXPECT_EQ(s.listed(), QStringList{QStringLiteral(u"中奖")});
    EXPECT_EQ(s.dir.fileBytes(), before);
}

TEST(ProgramFolderTest, AFolderWithSemicolonsOrEqualSignsInItsPathStillOpens) {
    for (const char* folder : {"a;b", "a=b", "x;Provider=y;z", "p=q;Mode=r"}) {
        SCOPED_TRACE(folder);
        TempProgramDir dir{QString::fromLatin1(folder)};
        dir.createKeys({QStringLiteral(u"中奖")});
        Module1 state;
        ProgramSeams seams;
        EXPECT_TRUE(seams.mainWindow(state, dir.path())->Load())
            << seams.boxes.prompts.join(u'|').toStdString();
        EXPECT_EQ(state.KeyCount, 1);
    }
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSpaceCanBeLimited = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSpaceCanBeLimited = false;
#else
constexpr bool kAddressSpaceCanBeLimited = true;
#endif
#else
constexpr bool kAddressSpaceCanBeLimited = true;
#endif

// The address space this process uses now, in bytes.
rlim_t AddressSpaceInUse() {
    std::ifstream statm("/proc/self/statm");
    rlim_t pages = 0;
    statm >> pages;
    return pages * rlim_t(sysconf(_SC_PAGESIZE));
}

// Start-up only counts the rows, so rows far larger than the memory left no longer stop it;
// the first check that reads them runs out of memory, says so and leaves the program running.
TEST(OutOfMemoryTest, RowsLargerThanMemoryStartUpAndACheckReportsRunningOutOfMemory) {
    if (!kAddressSpaceCanBeLimited) {
        GTEST_SKIP() << "the sanitizer's shadow memory needs an unlimited address space";
    }
    FaultSession s;
    s.dir.createWithSql(
        "create table keys (keyname);"
        "insert into keys values (zeroblob(24000000)), (zeroblob(24000000))");
    s.checker = s.mainWindow(s.state, s.dir.path());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{AddressSpaceInUse() + 32'000'000, RLIM_INFINITY};
        setrlimit(RLIMIT_AS, &limit);
        const bool started = s.checker->Load() && s.state.KeyCount == 2;
        s.check(QStringLiteral(u"中奖"));
        const bool reported = s.boxes.prompts.size() == 1 &&
                              s.boxes.prompts.front().startsWith(QStringLiteral(u"实时错误 '7'"));
        _exit(started && reported && s.message() == QStringLiteral(u"中奖") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vorelta::test
