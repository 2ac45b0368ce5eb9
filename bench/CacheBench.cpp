// Times the actions that the kept keywords make quick, with 1,000, 100,000 and 1,000,000
// keywords, in the real windows (offscreen), each beside a bare floor measured in the same run:
//
//   check, unchanged      a check of a 70-character message when nothing changed the table
//                         since the last action; floor: a stat of key.mdb and SQLite's
//                         data_version query, what telling "unchanged" takes at the least
//   check, after a change the first check after another program added a row; floor: a bare
//                         read of the table into a QStringList plus building the index over it
//   open the manager      building, loading and showing it while the kept rows are valid;
//                         at 1,000,000 also the heap it takes beside the kept rows' own;
//                         at 100,000 also with one more keyword of 3,500,000 characters
//   delete click          deleting one keyword and refreshing the list; floor: a bare delete
//   insert click          storing 1,000,000 new lines, the list update included (1,000,000
//                         only); floor: bare prepared inserts in one transaction
//
// Each timing with a floor is taken in turn with the floor's, so that a burst of load on a shared
// machine falls on both alike. Last, opening the manager and a delete at 1,000,000 keywords as
// ratios to the same at 1,000.
//
//   cache_bench [--repetitions=N]

#include <malloc.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/BareFloors.h"
#include "bench/BenchRun.h"
#include "bench/FloorTable.h"
#include "bench/WindowTiming.h"
#include "check/KeywordMatcher.h"
#include "store/Module1.h"
#include "tests/support/KeyDatabase.h"
#include "tests/support/ProgramSeams.h"
#include "toolkit/TextBox.h"
#include "windows/edit/EditForm.h"
#include "windows/main/MainForm.h"

namespace {

using namespace vorelta;
using bench::MedianOf;
using bench::MediansInTurn;

int gRepetitions = 5;

using bench::Row;

// The program over a key.mdb of its own, copied from `original`, with its main window shown.
struct Program : test::ProgramSeams {
    explicit Program(const test::TempProgramDir& original) {
        QFile::copy(original.keyDatabase(), dir.keyDatabase());
        window = mainWindow(state, dir.path());
        window->Load();
        window->show();
        QCoreApplication::processEvents();
    }

    void check(const QString& message) {
        window->smsmsg->setText(message);
        window->Command2->click();
    }

    test::TempProgramDir dir;
    Module1 state;
    std::unique_ptr<vorelta::main> window;
};

// Another program's commit: a new row.
void AddRowElsewhere(const QString& path, int n) {
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    const std::string sql = "insert into keys values ('别处" + std::to_string(n) + "')";
    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

std::string SizeOf(int keywords) {
    return keywords == 1000000 ? "1,000,000" : keywords == 100000 ? "100,000" : "1,000";
}

std::size_t HeapInUse() {
    return mallinfo2().uordblks;
}

// The heap the kept rows take, and what an open manager takes beside them.
void MeasureManagerMemory(const test::TempProgramDir& original, std::vector<Row>& rows) {
    Program program(original);
    const std::size_t counted = HeapInUse();
    program.state.KeyRecordset.Requery();
    const std::size_t kept = HeapInUse();
    auto manager = std::make_unique<edit>(program.state, program.boxes, program.files);
    manager->Form_Load();
    manager->show();
    QCoreApplication::processEvents();
    const std::size_t open = HeapInUse();
    const auto megabytes = [](std::size_t bytes) { return double(bytes) / (1 << 20); };
    rows.push_back({"heap of the open manager (MB), 1,000,000", megabytes(open - kept),
                    "heap of the kept rows (MB)", megabytes(kept - counted), "<= 0.1 x floor"});
}

void OpenManager(Program& program) {
    edit manager(program.state, program.boxes, program.files);
    manager.Form_Load();
    manager.show();
    QCoreApplication::processEvents();
}

// A keyword of millions of characters among the others: the list shows its beginning only.
void MeasureHugeKeyword(std::vector<Row>& rows) {
    std::vector<FieldValue> keywords = test::NumberedKeywords(100000);
    test::TempProgramDir plain;
    plain.createKeys(keywords);
    keywords.insert(keywords.begin(), QString(3500000, u'长'));
    test::TempProgramDir huge;
    huge.createKeys(keywords);
    Program withHuge(huge);
    Program without(plain);
    withHuge.state.KeyRecordset.Requery();
    without.state.KeyRecordset.Requery();
    const auto [open, openPlain] =
        MediansInTurn(gRepetitions, {[] {}, [&] { OpenManager(withHuge); }},
                      {[] {}, [&] { OpenManager(without); }});
    rows.push_back({"opening the manager, a keyword of 3,500,000 characters first, 100,000", open,
                    "the same without it", openPlain, "<= 2 x floor"});
}

void Measure(int keywords, std::vector<Row>& rows) {
    const std::string size = SizeOf(keywords);
    test::TempProgramDir original;
    original.createKeys(test::NumberedKeywords(keywords));
    if (keywords == 1000000) {
        MeasureManagerMemory(original, rows);
    }
    const QString message = QStringLiteral(
        u"恭喜关键字12345中奖了请在今天之内领取奖金，详询客服电话"
        u"四零零八八八八八八八或访问我们的网站查看详情谢谢");
    Program program(original);
    program.check(message);  // the rows are kept from here

    // Check, nothing changed since the last action.
    sqlite3* bare = nullptr;
    sqlite3_open(program.dir.keyDatabase().toUtf8().constData(), &bare);
    const QByteArray path = QFile::encodeName(program.dir.keyDatabase());
    const auto [unchanged, unchangedFloor] =
        MediansInTurn(4 * gRepetitions + 1, {[] {}, [&] { program.check(message); }},
                      {[] {},
                       [&] {
                           struct stat info {};
                           stat(path.constData(), &info);
                           sqlite3_exec(bare, "pragma data_version", nullptr, nullptr, nullptr);
                       }});
    rows.push_back({"check of 70 characters, table unchanged, " + size, unchanged,
                    "stat + data_version query", unchangedFloor,
                    keywords == 1000000 ? "<= 2 ms" : ""});

    // The first check after another program's change.
    int added = 0;
    const auto [changed, changedFloor] = MediansInTurn(
        gRepetitions,
        {[&] { AddRowElsewhere(program.dir.keyDatabase(), ++added); },
         [&] { program.check(message); }},
        {[] {},
         [&] {
             std::vector<FieldValue> read;
             sqlite3_stmt* select = nullptr;
             sqlite3_prepare_v2(bare, "select keyname from keys", -1, &select, nullptr);
             while (sqlite3_step(select) == SQLITE_ROW) {
                 read.emplace_back(QString::fromUtf8(
                     reinterpret_cast<const char*>(sqlite3_column_text(select, 0)),
                     sqlite3_column_bytes(select, 0)));
             }
             sqlite3_finalize(select);
             const KeywordIndex index(read);
             benchmark::DoNotOptimize(index.match(message).rows.size());
         }});
    rows.push_back({"first check after another program's change, " + size, changed,
                    "bare read + index build", changedFloor, "<= 1.1 x floor"});
    sqlite3_close(bare);

    // The manager over the kept rows.
    rows.push_back({"opening the manager, rows kept, " + size,
                    MedianOf(
                        gRepetitions, [] {}, [&] { OpenManager(program); }),
                    "-", 0, keywords == 1000000 ? "<= 100 ms" : ""});
    edit manager(program.state, program.boxes, program.files);
    manager.Form_Load();
    manager.show();
    int selected = 0;
    sqlite3* other = nullptr;
    sqlite3_open(program.dir.keyDatabase().toUtf8().constData(), &other);
    const double deleteFloor = MedianOf(
        4 * gRepetitions + 1, [] {},
        [&] {
            const std::string sql = "delete from keys where rowid = " + std::to_string(++selected);
            sqlite3_exec(other, sql.c_str(), nullptr, nullptr, nullptr);
        });
    sqlite3_close(other);
    manager.Form_Load();
    rows.push_back({"delete click, " + size,
                    MedianOf(
                        4 * gRepetitions + 1, [&] { manager.List1->setListIndex(selected += 7); },
                        [&] { manager.Command2->click(); }),
                    "bare delete by row id", deleteFloor, keywords == 1000000 ? "<= 20 ms" : ""});

    if (keywords != 1000000) {
        return;
    }
    // Storing a million new lines.
    QStringList lines;
    for (int i = 0; i < keywords; ++i) {
        lines << QStringLiteral(u"新词%1").arg(i);
    }
    const QString typed = lines.join(QStringLiteral("\r\n"));
    // Each time into a copy of the table as it was: the bare inserts and the click in turn.
    std::unique_ptr<test::TempProgramDir> copy;
    sqlite3* copyDb = nullptr;
    std::unique_ptr<Program> fresh;
    std::unique_ptr<edit> inserting;
    const auto [click, insertFloor] = MediansInTurn(
        3,
        {[&] {
             inserting.reset();
             fresh = std::make_unique<Program>(original);
             inserting = std::make_unique<edit>(fresh->state, fresh->boxes, fresh->files);
             inserting->Form_Load();
             inserting->show();
             inserting->key->setText(typed);
         },
         [&] { inserting->Command1->click(); }},
        {[&] {
             sqlite3_close(copyDb);
             copy = std::make_unique<test::TempProgramDir>();
             QFile::copy(original.keyDatabase(), copy->keyDatabase());
             sqlite3_open(copy->keyDatabase().toUtf8().constData(), &copyDb);
         },
         [&] { bench::InsertLinesBare(copyDb, lines); }});
    sqlite3_close(copyDb);
    inserting.reset();
    rows.push_back({"insert click of 1,000,000 new lines, list included, " + size, click,
                    "bare prepared inserts", insertFloor, "<= 2 x floor"});
}

}  // namespace

int main(int argc, char* argv[]) {
    bench::OffscreenUnlessTold();
    QApplication app(argc, argv);
    ApplyApplicationLook(app);
    gRepetitions = bench::ParseArguments(argc, argv).repetitions;
    std::vector<Row> rows;
    for (const int keywords : {1000, 100000, 1000000}) {
        Measure(keywords, rows);
    }
    MeasureHugeKeyword(rows);
    // The manager at a million keywords against the same at a thousand.
    const auto timeOf = [&](const std::string& what) {
        for (const Row& row : rows) {
            if (row.what == what) {
                return row.time;
            }
        }
        return 0.0;
    };
    for (const auto& [what, goal] :
         {std::pair<std::string, std::string>{"opening the manager, rows kept, ", "<= 2.5 x floor"},
          {"delete click, ", "<= 1.5 x floor"}}) {
        rows.push_back({what + "1,000,000", timeOf(what + "1,000,000"), "the same at 1,000",
                        timeOf(what + "1,000"), goal});
    }
    bench::PrintFloorTable(rows);
    return 0;
}
