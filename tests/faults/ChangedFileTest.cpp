// key.mdb changed under the running program by other programs: replaced by a rename, copied
// over in place, deleted and put back.

#include <QDir>
#include <QFile>
#include <cstdio>

#include "tests/faults/FaultSession.h"

namespace vorelta::test {
namespace {

const QString kOld = QStringLiteral(u"旧词");
const QString kNew = QStringLiteral(u"新词");
const QString kAdded = QStringLiteral(u"加词");

// A colleague's list made the same way as the program's: the same size and the same header, so
// SQLite cannot tell the two files apart by what it validates its cache with.
QByteArray ColleaguesList() {
    TempProgramDir other;
    other.createKeys({kNew});
    return other.fileBytes();
}

TEST(ChangedFileTest, EveryActionWorksOnTheFileTheNameHoldsNowOrSaysItIsGone) {
    const struct {
        const char* how;
        std::function<void(TempProgramDir&)> change;
        bool gone;  // until the colleague's list is written in its place
    } cases[] = {
        {"renamed over it, as a sync tool does",
         [](TempProgramDir& d) {
             QFile incoming(d.path() + QStringLiteral("/incoming.mdb"));
             ASSERT_TRUE(incoming.open(QIODevice::WriteOnly));
             incoming.write(ColleaguesList());
             incoming.close();
             ASSERT_EQ(std::rename(QFile::encodeName(incoming.fileName()).constData(),
                                   QFile::encodeName(d.keyDatabase()).constData()),
                       0);
         },
         false},
        {"copied over it in place", [](TempProgramDir& d) { d.writeFile(ColleaguesList()); },
         false},
        {"deleted", [](TempProgramDir& d) { ASSERT_TRUE(QFile::remove(d.keyDatabase())); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        FaultSession s;
        s.startUp({kOld});
        s.check(kOld);  // the old file's pages are in SQLite's cache now
        c.change(s.dir);
        if (c.gone) {
            s.check(QStringLiteral(u"旧 词"));
            s.insert(kAdded);
            s.deleteKeyword(kOld);
            EXPECT_EQ(s.boxes.prompts,
                      QStringList(3, QStringLiteral(u"实时错误 '53':\r\n\r\n找不到关键字库文件 ") +
                                         QDir::toNativeSeparators(s.dir.keyDatabase())));
            EXPECT_EQ(s.message(), kOld);  // what was typed stays
            EXPECT_EQ(s.state.KeyCount, 1);
            EXPECT_FALSE(s.dir.hasKeyDatabase());  // never created
            s.boxes.prompts.clear();
            s.dir.writeFile(ColleaguesList());
        }
        EXPECT_EQ(s.check(kOld + kNew),
                  QStringLiteral(u"找到关键字:\r\n新词\r\n检测到1条关键字,请更改"));
        s.manager->Form_Load();
        EXPECT_EQ(s.listed(), QStringList{kNew});
        s.insert(kAdded);
        s.deleteKeyword(kNew);
        EXPECT_EQ(s.dir.storedKeys(), std::vector<FieldValue>{kAdded});  // nothing of the old
        EXPECT_TRUE(s.boxes.prompts.isEmpty()) << s.boxes.prompts.join(u'|').toStdString();
    }
}

}  // namespace
}  // namespace vorelta::test
