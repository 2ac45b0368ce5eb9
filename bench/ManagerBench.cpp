// Times the keyword manager with 100,000 keywords stored, each beside the bare floor it is
// measured against in the same run, and prints the medians with their ratios:
//
//   insert   storing 100,000 typed lines (every tenth already stored), against a bare loop of
//            prepared inserts of the same lines in one transaction; the whole click, with the
//            list reread after it, beside it;
//   refresh  rereading the list, against a bare read of the table into a QStringList;
//   delete   a click deleting one keyword and rereading the list, against the same bare read;
//   open     building, loading and showing the window; scroll, a jump to the last item and back;
//            select, picking an item (shown for the record: no floor).
//
//   manager_bench [--repetitions=N] [Google Benchmark flags]

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTest>
#include <cstdio>
#include <map>
#include <memory>

#include "bench/BareFloors.h"
#include "bench/BenchRun.h"
#include "store/Module1.h"
#include "store/SqliteEngine.h"
#include "tests/support/KeyDatabase.h"
#include "tests/support/RecordingMessageBoxes.h"
#include "windows/edit/EditForm.h"
#include "windows/edit/KeywordInsert.h"

namespace {

using namespace vorelta;

constexpr int kStored = 100000;
constexpr int kTyped = 100000;
int gRepetitions = 5;

// The stored keywords, and the text typed for the insert: every tenth line is stored already.
struct Workload {
    std::vector<FieldValue> stored = test::NumberedKeywords(kStored);
    QString typed;
    QStringList typedLines;
    test::TempProgramDir original;

    Workload() {
        for (int i = 0; i < kTyped; ++i) {
            typedLines << (i % 10 == 0 ? *stored[std::size_t(i)]
                                       : QStringLiteral(u"新关键字%1").arg(i));
        }
        typed = typedLines.join(QStringLiteral("\r\n"));
        original.createKeys(stored);
    }
};

Workload& TheWorkload() {
    static Workload workload;
    return workload;
}

// A copy of the stored table in a program directory of its own, opened as the program does.
struct Program {
    test::TempProgramDir dir;
    Module1 state;

    Program() {
        QFile::copy(TheWorkload().original.keyDatabase(), dir.keyDatabase());
        OpenKeyStore(state, KeyDataSource(dir.path()));
    }
};

class Boxes final : public MessageBoxes {
public:
    void MsgBox(const QString& prompt) override {
        std::fprintf(stderr, "message box: %s\n", prompt.toUtf8().constData());
    }
};

void BareInsert(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        Program program;
        state.ResumeTiming();
        bench::InsertLinesBare(SqliteHandle(program.state.KeyConnection), TheWorkload().typedLines);
    }
}

void InsertClick(benchmark::State& state) {
    int added = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Program program;
        Boxes boxes;
        test::RecordingFileDialogs files;
        edit window(program.state, boxes, files);
        window.Form_Load();
        window.key->setText(TheWorkload().typed);
        const int before = program.state.KeyCount;
        state.ResumeTiming();
        window.Command1->click();
        added = program.state.KeyCount - before;
    }
    state.counters["added"] = added;
}

void StoreKeywords(benchmark::State& state) {
    const std::vector<QStringView> lines = KeywordLines(TheWorkload().typed);
    std::int32_t added = 0;
    std::vector<std::size_t> refused;
    for (auto _ : state) {
        state.PauseTiming();
        Program program;
        state.ResumeTiming();
        StoreNewKeywords(program.state, lines, added, refused);
    }
    state.counters["added"] = added;
}

void BareRead(benchmark::State& state) {
    Program program;
    sqlite3* db = SqliteHandle(program.state.KeyConnection);
    for (auto _ : state) {
        QStringList keywords;
        sqlite3_stmt* select = nullptr;
        sqlite3_prepare_v2(db, "select keyname from keys", -1, &select, nullptr);
        while (sqlite3_step(select) == SQLITE_ROW) {
            keywords << QString::fromUtf8(
                reinterpret_cast<const char*>(sqlite3_column_text(select, 0)),
                sqlite3_column_bytes(select, 0));
        }
        sqlite3_finalize(select);
        benchmark::DoNotOptimize(keywords.data());
    }
}

void Refresh(benchmark::State& state) {
    Program program;
    Boxes boxes;
    test::RecordingFileDialogs files;
    edit window(program.state, boxes, files);
    for (auto _ : state) {
        window.Form_Load();  // the load is the list refresh and nothing else
    }
}

void DeleteClick(benchmark::State& state) {
    Program program;
    Boxes boxes;
    test::RecordingFileDialogs files;
    edit window(program.state, boxes, files);
    window.Form_Load();
    int index = 0;
    for (auto _ : state) {
        window.List1->setListIndex(index += 7);
        window.Command2->click();
    }
}

void Open(benchmark::State& state) {
    Program program;
    Boxes boxes;
    test::RecordingFileDialogs files;
    for (auto _ : state) {
        edit window(program.state, boxes, files);
        window.Form_Load();
        window.show();
        QCoreApplication::processEvents();
        window.List1->repaint();
    }
}

void ScrollAndSelect(benchmark::State& state) {
    Program program;
    Boxes boxes;
    test::RecordingFileDialogs files;
    edit window(program.state, boxes, files);
    window.Form_Load();
    window.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        window.List1->scrollToBottom();
        window.List1->repaint();
        window.List1->setListIndex(kStored - 1);
        window.List1->repaint();
        window.List1->scrollToTop();
        window.List1->repaint();
        QTest::mouseClick(window.List1->viewport(), Qt::LeftButton, {}, QPoint(10, 5));
        window.List1->repaint();
    }
    state.counters["selected"] = window.List1->ListIndex();
}

// A second table of a million keywords, with the manager open over it, and a list file of a
// million lines: for the find field, the import and the export at the scale of real lists.
constexpr int kMillion = 1000 * 1000;

struct MillionWorkload {
    test::TempProgramDir dir;
    QString listFile;
    QStringList keywords;
    Module1 state;
    test::RecordingMessageBoxes boxes;
    test::RecordingFileDialogs files;
    std::unique_ptr<edit> window;

    MillionWorkload() {
        const std::vector<FieldValue> stored = test::NumberedKeywords(kMillion);
        dir.createKeys(stored);
        listFile = dir.path() + QStringLiteral("/list.txt");
        QFile list(listFile);
        list.open(QIODevice::WriteOnly);
        QByteArray bytes;
        for (const FieldValue& keyword : stored) {
            keywords << *keyword;
            bytes += keyword->toUtf8() + "\r\n";
        }
        list.write(bytes);
        OpenKeyStore(state, KeyDataSource(dir.path()));
        window = std::make_unique<edit>(state, boxes, files);
        window->Form_Load();
        window->show();
        QCoreApplication::processEvents();
    }
};

// Made at its first use, and gone before the application: it holds a window.
std::unique_ptr<MillionWorkload> gMillion;

MillionWorkload& Million() {
    if (!gMillion) {
        gMillion = std::make_unique<MillionWorkload>();
    }
    return *gMillion;
}

// Each keystroke a text that no earlier one starts, so that every one looks through the list.
const QString kSearched[] = {QStringLiteral(u"字99999"), QStringLiteral(u"字12345")};

void BareFind(benchmark::State& state) {
    int round = 0;
    for (auto _ : state) {
        int found = 0;
        for (const QString& keyword : Million().keywords) {
            found += keyword.contains(kSearched[round % 2]) ? 1 : 0;
        }
        ++round;
        benchmark::DoNotOptimize(found);
    }
}

void FindKeystroke(benchmark::State& state) {
    MillionWorkload& w = Million();
    w.window->FindInList();
    int round = 0;
    for (auto _ : state) {
        w.window->finder()->field()->setText(kSearched[round++ % 2]);
        w.window->List1->repaint();
    }
    state.counters["matches"] = w.window->finder()->where().section(u'/', 1).toInt();
}

void BareReadFile(benchmark::State& state) {
    for (auto _ : state) {
        QFile file(Million().listFile);
        file.open(QIODevice::ReadOnly);
        QStringDecoder utf8(QStringConverter::Utf8);
        benchmark::DoNotOptimize(QString(utf8(file.readAll())).size());
    }
}

void Import(benchmark::State& state) {
    MillionWorkload& w = Million();
    for (auto _ : state) {
        state.PauseTiming();
        w.window->key->setText(QString());
        w.files.openAnswer = {w.listFile};
        state.ResumeTiming();
        w.window->ImportKeywordFiles();
        w.window->key->repaint();
    }
    state.counters["lines"] = double(w.window->key->text().count(u'\n') + 1);
}

void BareWrite(benchmark::State& state) {
    QFile list(Million().listFile);
    list.open(QIODevice::ReadOnly);
    const QByteArray bytes = list.readAll();
    for (auto _ : state) {
        QFile file(Million().dir.path() + QStringLiteral("/bare.txt"));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }
}

void Export(benchmark::State& state) {
    MillionWorkload& w = Million();
    for (auto _ : state) {
        w.files.saveAnswer = w.dir.path() + QStringLiteral("/export.txt");
        w.window->ExportKeywords();
    }
    state.counters["changed"] = double(w.boxes.prompts.size());
}

void Register() {
    const auto add = [](const char* name, void (*run)(benchmark::State&), bool once = false) {
        auto* b = benchmark::RegisterBenchmark(name, run)
                      ->Repetitions(gRepetitions)
                      ->Unit(benchmark::kMillisecond);
        if (once) {
            b->Iterations(1);
        }
    };
    add("bare insert", BareInsert, true);
    add("insert", StoreKeywords, true);
    add("insert click", InsertClick, true);
    add("bare read", BareRead);
    add("refresh", Refresh);
    add("delete click", DeleteClick);
    add("open", Open);
    add("scroll and select", ScrollAndSelect);
    add("bare contains loop, 1,000,000", BareFind);
    add("find keystroke, 1,000,000", FindKeystroke);
    add("bare read and decode, 1,000,000 lines", BareReadFile);
    add("import of 1,000,000 lines", Import, true);
    add("bare write, 1,000,000 lines", BareWrite);
    add("export of 1,000,000", Export, true);
}

using bench::MedianCollector;

void PrintSummary(const MedianCollector& m) {
    std::printf("\nKeyword manager, %d keywords stored. Medians in ms, same run.\n\n", kStored);
    std::printf("| what | time | floor | floor time | ratio | target |\n");
    std::printf("|---|---:|---|---:|---:|---:|\n");
    const auto row = [&](const char* what, const char* floor, const char* target) {
        const double time = m[what];
        const double floorTime = floor ? m[floor] : -1;
        if (time < 0) {
            return;
        }
        if (floorTime > 0) {
            std::printf("| %s | %.1f | %s | %.1f | %.2f | %s |\n", what, time, floor, floorTime,
                        time / floorTime, target);
        } else {
            std::printf("| %s | %.1f | - | - | - | %s |\n", what, time, target);
        }
    };
    row("insert", "bare insert", "<= 2.5");
    row("insert click", "bare insert", "(list reread included)");
    row("refresh", "bare read", "<= 2.5");
    row("delete click", "bare read", "<= 3");
    row("open", nullptr, "no visible pause");
    row("scroll and select", nullptr, "no visible pause");
    row("find keystroke, 1,000,000", "bare contains loop, 1,000,000", "<= 100 ms");
    row("import of 1,000,000 lines", "bare read and decode, 1,000,000 lines", "<= 1000 ms");
    row("export of 1,000,000", "bare write, 1,000,000 lines", "<= 1000 ms");
}

}  // namespace

int main(int argc, char* argv[]) {
    vorelta::bench::OffscreenUnlessTold();
    QApplication app(argc, argv);
    vorelta::bench::Arguments arguments = vorelta::bench::ParseArguments(argc, argv);
    gRepetitions = arguments.repetitions;
    const int status =
        vorelta::bench::RunBenchmarks<MedianCollector>(arguments, Register, PrintSummary);
    gMillion.reset();
    return status;
}
