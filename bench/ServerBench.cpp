// Times the windows over the keyword list on a PostgreSQL server of the benchmark's own (a
// throwaway cluster on a Unix socket, set up with docs/server/setup.sql), with 100,000 and
// 1,000,000 keywords, each beside a floor measured in turn in the same run:
//
//   start-up              the store opened and counted, the main window loaded and shown
//                         (offscreen); floor: the same over a key.mdb of the same keywords
//   check, unchanged      a check of a 70-character message when nothing changed; floor: none
//                         (the goal is a time, the proof's round trip included)
//   proof                 the one statement before every check that proves the kept rows
//                         unchanged; floor: a bare libpq round trip of `select 1`
//   check, after a change the first check after another session added a row; floor: a bare
//                         libpq read of the column plus building the index over it
//   insert                storing 100,000 new lines through the shared recordset, the
//                         keywords kept; floor: a bare COPY of the same lines in one transaction
//   delete click          deleting one keyword and refreshing the list; floor: none
//
//   server_bench [--repetitions=N]

#include <libpq-fe.h>

#include <QApplication>
#include <QFile>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchRun.h"
#include "bench/FloorTable.h"
#include "bench/WindowTiming.h"
#include "check/KeywordMatcher.h"
#include "store/Module1.h"
#include "tests/support/KeyDatabase.h"
#include "tests/support/PgCluster.h"
#include "tests/support/ProgramSeams.h"
#include "toolkit/TextBox.h"
#include "windows/edit/EditForm.h"
#include "windows/edit/KeywordInsert.h"
#include "windows/main/MainForm.h"

namespace {

using namespace vorelta;
using bench::MedianOf;
using bench::MediansInTurn;

int gRepetitions = 5;

using bench::Row;

const QString kMessage = QStringLiteral(
    u"恭喜关键字12345中奖了请在今天之内领取奖金，详询客服电话"
    u"四零零八八八八八八八或访问我们的网站查看详情谢谢");

// The program in a folder whose vorelta.conf names the server, or over a copy of `keyDatabase`.
struct Program : test::ProgramSeams {
    explicit Program(const QString& conninfo, const QString& keyDatabase = {}) {
        if (keyDatabase.isEmpty()) {
            QFile conf(dir.path() + QStringLiteral("/vorelta.conf"));
            conf.open(QIODevice::WriteOnly);
            conf.write(QStringLiteral("[keywords]\ndatabase=%1\n").arg(conninfo).toUtf8());
        } else {
            QFile::copy(keyDatabase, dir.keyDatabase());
        }
        StartOpeningKeyStore(state, KeyDataSource(dir.path()));
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

void Exec(PGconn* conn, const std::string& sql) {
    PQclear(PQexec(conn, sql.c_str()));
}

void Measure(test::PgCluster& cluster, int keywords, std::vector<Row>& rows) {
    const std::string size = keywords == 1000000 ? "1,000,000" : "100,000";
    const test::PgConnection bare = test::ConnectPg(cluster.conninfo());
    PGconn* db = bare.get();
    Exec(db, "truncate keys");
    Exec(db, "insert into keys select '关键字' || n from generate_series(1, " +
                 std::to_string(keywords) + ") n");
    Exec(db, "vacuum analyze keys");  // on its own: not inside a transaction
    test::TempProgramDir file;
    file.createKeys(test::NumberedKeywords(keywords));

    const auto [startup, startupFile] =
        MediansInTurn(gRepetitions, {[] {}, [&] { Program program(cluster.conninfo()); }},
                      {[] {}, [&] { Program program({}, file.keyDatabase()); }});
    rows.push_back({"start-up to the shown window, " + size, startup, "the same over key.mdb",
                    startupFile, "<= 1.3 x floor"});

    Program program(cluster.conninfo());
    program.check(kMessage);  // the rows are kept from here
    rows.push_back({"check of 70 characters, nothing changed, " + size,
                    MedianOf(
                        4 * gRepetitions + 1, [] {}, [&] { program.check(kMessage); }),
                    "-", 0, "<= 2 ms"});
    const auto [proof, roundTrip] = MediansInTurn(
        4 * gRepetitions + 1, {[] {}, [&] { program.state.KeyConnection.Evidence(); }},
        {[] {}, [&] { PQclear(PQexec(db, "select 1")); }});
    rows.push_back(
        {"proof that nothing changed, " + size, proof, "bare select 1 round trip", roundTrip, ""});

    int added = 0;
    const auto [changed, changedFloor] = MediansInTurn(
        gRepetitions,
        {[&] {
             Exec(db, "insert into keys values ('别处" + std::to_string(++added) + "')");
             QCoreApplication::processEvents();
         },
         [&] { program.check(kMessage); }},
        {[] {},
         [&] {
             PGresult* result = PQexec(db, "select keyname from keys");
             std::vector<FieldValue> read;
             read.reserve(std::size_t(PQntuples(result)));
             for (int row = 0; row < PQntuples(result); ++row) {
                 read.emplace_back(
                     QString::fromUtf8(PQgetvalue(result, row, 0), PQgetlength(result, row, 0)));
             }
             PQclear(result);
             const KeywordIndex index(read);
             benchmark::DoNotOptimize(index.match(kMessage).rows.size());
         }});
    rows.push_back({"first check after another session's change, " + size, changed,
                    "bare libpq read + index build", changedFloor, "<= 1.2 x floor"});

    QStringList lines;
    for (int i = 0; i < 100000; ++i) {
        lines << QStringLiteral(u"新词%1").arg(i);
    }
    const QString typed = lines.join(QStringLiteral("\r\n"));
    const std::vector<QStringView> typedLines = KeywordLines(typed);
    QByteArray copyData;
    for (const QString& line : lines) {
        copyData += line.toUtf8() + '\n';
    }
    const auto removeNew = [&] { Exec(db, "delete from keys where keyname like '新词%'"); };
    const auto [insert, insertFloor] = MediansInTurn(
        3,
        {[&] {
             removeNew();
             program.check(kMessage);  // the program has seen that change before it inserts
         },
         [&] {
             std::int32_t stored = 0;
             std::vector<std::size_t> refused;
             StoreNewKeywords(program.state, typedLines, stored, refused);
         }},
        {removeNew, [&] {
             Exec(db, "begin");
             PQclear(PQexec(db, "copy keys (keyname) from stdin"));
             PQputCopyData(db, copyData.constData(), int(copyData.size()));
             PQputCopyEnd(db, nullptr);
             PQclear(PQgetResult(db));
             Exec(db, "commit");
         }});
    removeNew();
    rows.push_back({"insert of 100,000 new lines, " + size, insert, "bare COPY in a transaction",
                    insertFloor, "<= 2 x floor"});

    edit manager(program.state, program.boxes, program.files);
    manager.Form_Load();
    manager.show();
    int selected = 0;
    rows.push_back({"delete click, " + size,
                    MedianOf(
                        4 * gRepetitions + 1, [&] { manager.List1->setListIndex(selected += 7); },
                        [&] { manager.Command2->click(); }),
                    "-", 0, keywords == 1000000 ? "<= 20 ms" : ""});
}

}  // namespace

int main(int argc, char* argv[]) {
    bench::OffscreenUnlessTold();
    QApplication app(argc, argv);
    ApplyApplicationLook(app);
    gRepetitions = bench::ParseArguments(argc, argv).repetitions;
    test::PgCluster& cluster = test::SharedPgCluster();
    std::vector<Row> rows;
    for (const int keywords : {100000, 1000000}) {
        Measure(cluster, keywords, rows);
    }
    bench::PrintFloorTable(rows);
    return 0;
}
