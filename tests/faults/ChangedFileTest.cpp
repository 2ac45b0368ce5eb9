// key.mdb changed under the running program by other programs: replaced by a rename, copied
// over in place, deleted and put back.

#include <sys/stat.h>

#include <QDir>
#include <QFile>

#include "tests/faults/FaultSession.h"

namespace vorelta::test {
namespace {

using Rows = std::vector<FieldValue>;

const QString kOld = QStringLiteral(u"旧词");
const QString kNew = QStringLiteral(u"新词");
const QString kAdded = QStringLiteral(u"加词");

ino_t InodeOf(const QString& path) {
    struct stat info {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    return info.st_ino;
}

// A colleague's list, made the same way as the program's: the two files have the same size
// and the same header, so SQLite cannot tell them apart by what it validates its cache with.
QByteArray ColleaguesList() {
    TempProgramDir other;
    other.createKeys({kNew});
    return other.fileBytes();
}

TEST(ChangedFileTest, EveryActionWorksOnTheFileTheNameHoldsNow) {
    const struct {
        const char* how;
        std::function<void(FaultSession&)> replace;
        bool sameInode;
    } cases[] = {
        {"renamed over it, as a sync tool does",
         [](FaultSession& s) {
             const QString incoming = s.dir.path() + QStringLiteral("/incoming.mdb");
             QFile file(incoming);
             ASSERT_TRUE(file.open(QIODevice::WriteOnly));
             file.write(ColleaguesList());
             file.close();
             ASSERT_EQ(::rename(QFile::encodeName(incoming).constData(),
                                QFile::encodeName(s.dir.keyDatabase()).constData()),
                       0);
         },
         false},
        {"copied over it in place", [](FaultSession& s) { s.dir.writeFile(ColleaguesList()); },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        FaultSession s;
        s.startUp({kOld});
        EXPECT_TRUE(s.check(kOld).contains(kOld));  // the old file's pages are in the cache
        const ino_t before = InodeOf(s.dir.keyDatabase());

        c.replace(s);
        EXPECT_EQ(InodeOf(s.dir.keyDatabase()) == before, c.sameInode);

        EXPECT_EQ(s.check(kOld + kNew),
                  QStringLiteral(u"找到关键字:\r\n新词\r\n检测到1条关键字,请更改"));
        s.manager->Form_Load();
        EXPECT_EQ(s.listed(), QStringList{kNew});
        s.insert(kAdded);
        EXPECT_EQ(s.dir.storedKeys(), (Rows{kNew, kAdded}));  // nothing of the old file
        s.deleteKeyword(kNew);
        EXPECT_EQ(s.dir.storedKeys(), Rows{kAdded});
        EXPECT_EQ(s.listed(), QStringList{kAdded});
        EXPECT_TRUE(s.boxes.prompts.isEmpty()) << s.boxes.prompts.join(u'|').toStdString();
    }
}

TEST(ChangedFileTest, ADeletedFileIsReportedByEveryActionUntilItIsBack) {
    FaultSession s;
    s.startUp({kOld});
    EXPECT_TRUE(s.check(kOld).contains(kOld));
    ASSERT_TRUE(QFile::remove(s.dir.keyDatabase()));

    const QString missing = QStringLiteral(u"实时错误 '53':\r\n\r\n找不到关键字库文件 ") +
                            QDir::toNativeSeparators(s.dir.keyDatabase());
    const QString verdictBefore = s.check(QStringLiteral(u"旧 词"));
    s.insert(kAdded);
    s.deleteKeyword(kOld);
    EXPECT_EQ(s.boxes.prompts, QStringList(3, missing));
    EXPECT_EQ(verdictBefore, QStringLiteral(u"找到关键字:\r\n旧词\r\n检测到1条关键字,请更改"));
    EXPECT_EQ(s.message(), kOld);  // what was typed stays
    EXPECT_EQ(s.manager->key->text(), kAdded);
    EXPECT_EQ(s.state.KeyCount, 1);
    EXPECT_FALSE(s.dir.hasKeyDatabase());  // never created again

    s.dir.writeFile(ColleaguesList());
    s.boxes.prompts.clear();
    EXPECT_TRUE(s.check(kNew).contains(kNew));
    s.insert(kAdded);
    EXPECT_EQ(s.dir.storedKeys(), (Rows{kNew, kAdded}));
    EXPECT_TRUE(s.boxes.prompts.isEmpty()) << s.boxes.prompts.join(u'|').toStdString();
}

}  // namespace
}  // namespace vorelta::test
