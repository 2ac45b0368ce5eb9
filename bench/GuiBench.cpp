// Times the main window with huge messages, under the offscreen platform unless told otherwise:
// the check of a 1 MB message that it turns into one line, keystrokes in that line, and a 10 MB
// paste with its check and cut. Prints medians beside the bare floor (a plain QPlainTextEdit
// holding the same text in blocks of 1,000 code units, or the check without a window) and the
// ratios, then the peak resident set size.
//
//   gui_bench [--repetitions=N]

#include <sys/resource.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchRun.h"
#include "bench/WindowTiming.h"
#include "check/MessageCheck.h"
#include "store/Module1.h"
#include "tests/support/KeyDatabase.h"
#include "tests/support/MemoryRegistry.h"
#include "tests/support/RecordingMessageBoxes.h"
#include "tests/support/RecordingProcessStarter.h"
#include "tests/support/RowByRowScan.h"
#include "toolkit/Form.h"
#include "toolkit/Label.h"
#include "toolkit/TextBox.h"
#include "windows/main/MainForm.h"

namespace {

using namespace vorelta;
using bench::MedianOf;
using bench::Milliseconds;

constexpr int kKeywordCount = 100000;
constexpr int kMessageLength = 1000 * 1000;
constexpr int kPasteLength = 10 * 1000 * 1000;
int gRepetitions = 5;

// Keywords and messages from the same mix: mostly Chinese words of two to four characters
// from a pool of common-looking characters, some lower-case English words.
class TextSource {
public:
    explicit TextSource(unsigned seed) : random_(seed) {
        for (int i = 0; i < 3000; ++i) {
            hanPool_.push_back(QChar(char16_t(0x4E00 + pick(0x9FA5 - 0x4E00))));
        }
    }

    QString word() {
        QString word;
        const bool han = pick(10) < 7;
        for (int i = 0, n = han ? 2 + pick(3) : 3 + pick(6); i < n; ++i) {
            word +=
                han ? hanPool_[std::size_t(pick(int(hanPool_.size())))] : QChar(u'a' + pick(26));
        }
        return word;
    }

    // Words with blanks and CR LF between them, so that the check makes one line of it.
    QString message(int length) {
        QString text;
        text.reserve(length + 16);
        while (text.size() < length) {
            const int kind = pick(100);
            text += kind < 10 ? QStringLiteral(" ") : kind < 12 ? QStringLiteral("\r\n") : word();
        }
        text.truncate(length);
        return text;
    }

    int pick(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }

private:
    std::mt19937 random_;
    std::vector<QChar> hanPool_;
};

long PeakResidentMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// The same text with a line break after every 1,000 code units: what the editor lays out
// quickly, and so the floor for the text box.
QString InBlocks(const QString& line) {
    QString blocks;
    blocks.reserve(line.size() + line.size() / textbox::kPieceLength + 1);
    for (qsizetype i = 0; i < line.size(); i += textbox::kPieceLength) {
        if (i > 0) {
            blocks += u'\n';
        }
        blocks += QStringView(line).mid(i, textbox::kPieceLength);
    }
    return blocks;
}

void Type(QWidget* widget, char c) {
    QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(QChar(c)), {});
}

struct Row {
    std::string step;
    double median;
    std::string floor;
    double floorMedian;
    std::string goal;
};

void PrintTable(const std::vector<Row>& rows) {
    std::printf("\nMedians in ms from this run; ratio = step / floor.\n\n");
    std::printf("| step | median | floor | floor median | ratio | goal |\n");
    std::printf("|---|---:|---|---:|---:|---|\n");
    for (const Row& row : rows) {
        std::printf("| %s | %.1f | %s | %.1f | %.1f | %s |\n", row.step.c_str(), row.median,
                    row.floor.c_str(), row.floorMedian, row.median / row.floorMedian,
                    row.goal.c_str());
    }
}

class Bench {
public:
    Bench() {
        TextSource source(1);
        std::vector<FieldValue> keywords;
        keywords.reserve(kKeywordCount);
        for (int i = 0; i < kKeywordCount; ++i) {
            keywords.emplace_back(source.word());
        }
        dir_.createKeys(keywords);
        window_ = std::make_unique<vorelta::main>(state_, dir_.path(), boxes_, files_, starter_,
                                                  registry_);
        if (!window_->Load()) {
            std::fprintf(stderr, "key.mdb did not open\n");
            std::exit(1);
        }
        window_->show();
        if (!QTest::qWaitForWindowExposed(window_.get())) {
            std::fprintf(stderr, "the main window was not shown\n");
            std::exit(1);
        }
        smsmsg_ = window_->findChild<TextBox*>(QStringLiteral("smsmsg"));
        lrs_ = window_->findChild<Label*>(QStringLiteral("lrs"));
        check_ = window_->findChild<QPushButton*>(QStringLiteral("Command2"));
        bare_.setFont(smsmsg_->font());
        bare_.resize(smsmsg_->size());
        bare_.show();
        connection_.Open(KeyDataSource(dir_.path()));
    }

    void hugeMessage() {
        const QString message = TextSource(2).message(kMessageLength);
        const QString line = NormaliseMessage(message);
        const QString blocks = InBlocks(line);
        const double setBare = MedianOf(
            gRepetitions, [&] { bare_.clear(); }, [&] { bare_.setPlainText(blocks); });
        const double scanBare = MedianOf(
            gRepetitions, [] {},
            [&] { test::ScanReadingAnew(connection_, NormaliseMessage(message)); });
        rows_.push_back({"write 1 MB with breaks into smsmsg",
                         MedianOf(
                             gRepetitions, [&] { smsmsg_->setText(QString()); },
                             [&] { smsmsg_->setText(message); }),
                         "bare setPlainText, 1,000-unit blocks", setBare, ""});
        rows_.push_back(
            {"check of 1 MB, 100,000 keywords (click Command2)",
             MedianOf(
                 gRepetitions, [&] { smsmsg_->setText(message); }, [&] { check_->click(); }),
             "normalise + scan, no window", scanBare, "< 1000 ms"});
        rows_.push_back({"  of which the write-back of the one line",
                         MedianOf(
                             gRepetitions, [&] { smsmsg_->setText(QString()); },
                             [&] { smsmsg_->setText(line); }),
                         "bare setPlainText, 1,000-unit blocks", setBare, ""});
        oneBlock(line, setBare);
        keystrokes(line.size(), "1 MB");
    }

    // A megabyte made of stored keywords: the check marks some hundred thousand occurrences.
    // Then keys and page scrolls in the marked line, each with the repaint it causes.
    void markedMessage() {
        QString message;
        int occurrences = 0;
        for (TextSource keywords(1); message.size() < kMessageLength; ++occurrences) {
            message += keywords.word() + u' ';  // the keyword list's own words, in its order
        }
        message.truncate(kMessageLength);
        const double scanBare = MedianOf(
            gRepetitions, [] {},
            [&] { test::ScanReadingAnew(connection_, NormaliseMessage(message)); });
        rows_.push_back(
            {"check of 1 MB of keywords, marks included (click Command2)",
             MedianOf(
                 gRepetitions, [&] { smsmsg_->setText(message); }, [&] { check_->click(); }),
             "normalise + scan, no window", scanBare, "<= 1.2 x today"});
        const std::vector<TextRun> marks = smsmsg_->marks();
        std::printf("%d occurrences of stored keywords in the checked megabyte, %zu marks\n",
                    occurrences, marks.size());

        const QString line = smsmsg_->text();
        bare_.setPlainText(InBlocks(line));
        const int runs = 4 * gRepetitions + 1;
        const auto page = [](QPlainTextEdit* edit) { QTest::keyClick(edit, Qt::Key_PageDown); };
        rows_.push_back({"keystroke in the marked 1 MB line",
                         MedianOf(
                             runs, [&] { smsmsg_->setMarks(marks); }, [&] { Type(smsmsg_, 'x'); }),
                         "bare, 1,000-unit blocks",
                         MedianOf(
                             runs, [] {}, [&] { Type(&bare_, 'x'); }),
                         "<= 16 ms"});
        smsmsg_->setMarks(marks);
        smsmsg_->select({0, 0});  // pages from the top, each showing marks
        rows_.push_back({"page down in the marked 1 MB line",
                         MedianOf(
                             runs, [] {}, [&] { page(smsmsg_); }),
                         "bare, 1,000-unit blocks",
                         MedianOf(
                             runs, [] {}, [&] { page(&bare_); }),
                         "<= 16 ms"});
    }

    void hugePaste() {
        const QString message = TextSource(3).message(kPasteLength);
        const long rssBefore = PeakResidentMegabytes();
        QApplication::clipboard()->setText(message);
        const double pasteBare = MedianOf(
            3, [&] { bare_.clear(); }, [&] { bare_.paste(); });
        rows_.push_back({"paste of 10 MB with its length update",
                         MedianOf(
                             3, [&] { smsmsg_->setText(QString()); },
                             [&] {
                                 smsmsg_->setFocus();
                                 smsmsg_->paste();
                             }),
                         "bare paste", pasteBare, ""});
        keystrokes(smsmsg_->document()->characterCount() / 2, "10 MB pasted");
        bare_.clear();
        const double scanBare = MedianOf(
            3, [] {}, [&] { test::ScanReadingAnew(connection_, NormaliseMessage(message)); });
        rows_.push_back({"check of 10 MB (click Command2)",
                         MedianOf(
                             3, [&] { smsmsg_->setText(message); }, [&] { check_->click(); }),
                         "normalise + scan, no window", scanBare, ""});
        const double cut = MedianOf(
            3, [&] { smsmsg_->setText(message); },
            [&] { QTest::mouseDClick(lrs_, Qt::LeftButton); });
        rows_.push_back({"cut of 10 MB to 70 (double-click lrs)", cut, "bare setPlainText of 70",
                         MedianOf(
                             3, [&] { bare_.setPlainText(message.left(200)); },
                             [&] { bare_.setPlainText(message.left(70)); }),
                         ""});
        std::printf("RSS peak: %ld MB before the 10 MB case, %ld MB after it\n", rssBefore,
                    PeakResidentMegabytes());
    }

    void print() const { PrintTable(rows_); }

private:
    // What laying the line out as one paragraph costs: the cost the pieces avoid.
    void oneBlock(const QString& line, double setInBlocks) {
        bare_.clear();
        QCoreApplication::processEvents();
        const double set = Milliseconds([&] { bare_.setPlainText(line); });
        QTextCursor cursor = bare_.textCursor();
        cursor.setPosition(int(line.size() / 2));
        bare_.setTextCursor(cursor);
        const double key = MedianOf(
            3, [] {}, [&] { Type(&bare_, 'x'); });
        rows_.push_back({"for reference: bare setPlainText of the line as one block", set,
                         "bare setPlainText, 1,000-unit blocks", setInBlocks, ""});
        rows_.push_back({"for reference: keystroke in the one-block line", key,
                         "bare, 1,000-unit blocks", 0, ""});
        oneBlockKeyRow_ = rows_.size() - 1;
    }

    // Typing a character and Backspace in the middle of what the box holds, against the same
    // keys in the bare editor holding the text in 1,000-unit blocks.
    void keystrokes(qsizetype middle, const std::string& what) {
        bare_.setPlainText(InBlocks(smsmsg_->text()));
        const auto placeCaret = [middle](QPlainTextEdit* edit) {
            QTextCursor cursor = edit->textCursor();
            cursor.setPosition(
                int(std::min<qsizetype>(middle, edit->document()->characterCount() - 1)));
            edit->setTextCursor(cursor);
        };
        placeCaret(smsmsg_);
        placeCaret(&bare_);
        const int runs = 4 * gRepetitions + 1;
        const auto time = [runs](const std::function<void()>& key) {
            return MedianOf(
                runs, [] {}, key);
        };
        const double typeBare = time([&] { Type(&bare_, 'x'); });
        const double backBare = time([&] { QTest::keyClick(&bare_, Qt::Key_Backspace); });
        if (oneBlockKeyRow_ && rows_[*oneBlockKeyRow_].floorMedian == 0) {
            rows_[*oneBlockKeyRow_].floorMedian = typeBare;
        }
        rows_.push_back({"keystroke: type a character, " + what, time([&] { Type(smsmsg_, 'x'); }),
                         "bare, 1,000-unit blocks", typeBare, "< 100 ms"});
        rows_.push_back({"keystroke: Backspace, " + what,
                         time([&] { QTest::keyClick(smsmsg_, Qt::Key_Backspace); }),
                         "bare, 1,000-unit blocks", backBare, "< 100 ms"});
    }

    test::TempProgramDir dir_;
    Module1 state_;
    test::RecordingMessageBoxes boxes_;
    test::RecordingFileDialogs files_;
    test::RecordingProcessStarter starter_;
    test::MemoryRegistry registry_;
    std::unique_ptr<vorelta::main> window_;
    TextBox* smsmsg_ = nullptr;
    Label* lrs_ = nullptr;
    QPushButton* check_ = nullptr;
    QPlainTextEdit bare_;
    Connection connection_;
    std::vector<Row> rows_;
    std::optional<std::size_t> oneBlockKeyRow_;
};

}  // namespace

int main(int argc, char* argv[]) {
    vorelta::bench::OffscreenUnlessTold();
    QApplication app(argc, argv);
    ApplyApplicationLook(app);
    gRepetitions = bench::ParseArguments(argc, argv).repetitions;
    Bench bench;
    bench.hugeMessage();
    bench.markedMessage();
    bench.hugePaste();
    bench.print();
    return 0;
}
