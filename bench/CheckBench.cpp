// Times a check against the bare read of the keyword table and against the row-by-row search,
// for several table sizes and message lengths, and prints the medians with their ratios.
//
//   check_bench [--repetitions=N] [--skip-slow] [Google Benchmark flags]
//
// --skip-slow leaves out the row-by-row search of 1 MB messages (tens of seconds each).

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "bench/BenchRun.h"
#include "check/MessageCheck.h"
#include "store/Module1.h"
#include "tests/support/KeyDatabase.h"
#include "tests/support/RowByRowScan.h"

namespace {

using namespace vorelta;

const int kKeywordCounts[] = {1000, 32767, 100000};
const int kMessageLengths[] = {70, 10 * 1000, 1000 * 1000};
int gRepetitions = 5;
bool gSkipSlow = false;

// Keywords and messages drawn from the same mix: mostly Chinese words of two to four
// characters from a pool of common-looking characters, some lower-case English words.
class TextSource {
public:
    explicit TextSource(unsigned seed) : random_(seed) {
        std::uniform_int_distribution<int> han(0x4E00, 0x9FA5);
        for (int i = 0; i < 3000; ++i) {
            hanPool_.push_back(QChar(han(random_)));
        }
    }

    QString word() {
        QString word;
        if (pick(10) < 7) {
            for (int i = 0, n = 2 + pick(3); i < n; ++i) {
                word += hanPool_[std::size_t(pick(int(hanPool_.size())))];
            }
        } else {
            for (int i = 0, n = 3 + pick(6); i < n; ++i) {
                word += QChar(u'a' + pick(26));
            }
        }
        return word;
    }

    // A message of `length` code units with blanks, line breaks and a few keywords in it.
    QString message(int length, const std::vector<FieldValue>& keywords) {
        QString text;
        while (text.size() < length) {
            const int kind = pick(100);
            if (kind < 2 && !keywords.empty()) {
                text += *keywords[std::size_t(pick(int(keywords.size())))];
            } else if (kind < 12) {
                text += u' ';
            } else if (kind < 14) {
                text += QStringLiteral("\r\n");
            } else {
                text += word();
            }
        }
        return text.left(length);
    }

    int pick(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }

private:
    std::mt19937 random_;
    std::vector<QChar> hanPool_;
};

// One key.mdb per table size, made once and kept open for the whole run.
struct Table {
    test::TempProgramDir dir;
    Connection connection;
    std::vector<FieldValue> keywords;
};

Table& TableOf(int keywordCount) {
    static std::map<int, std::unique_ptr<Table>> tables;
    auto& table = tables[keywordCount];
    if (!table) {
        table = std::make_unique<Table>();
        TextSource source{unsigned(keywordCount)};
        for (int i = 0; i < keywordCount; ++i) {
            table->keywords.emplace_back(source.word());
        }
        table->dir.createKeys(table->keywords);
        table->connection.Open(KeyDataSource(table->dir.path()));
    }
    return *table;
}

const QString& MessageOf(int keywordCount, int length) {
    static std::map<std::pair<int, int>, QString> messages;
    QString& message = messages[{keywordCount, length}];
    if (message.isEmpty()) {
        TextSource source{unsigned(length)};
        message = source.message(length, TableOf(keywordCount).keywords);
    }
    return message;
}

void ReadTable(benchmark::State& state) {
    Table& table = TableOf(int(state.range(0)));
    for (auto _ : state) {
        Recordset keywords;
        keywords.Open(sql::kSelectAllKeys, table.connection, adLockOptimistic);
        benchmark::DoNotOptimize(keywords.Column(kKeynameField).data());
    }
}

void Check(benchmark::State& state) {
    Table& table = TableOf(int(state.range(0)));
    const QString& message = MessageOf(int(state.range(0)), int(state.range(1)));
    int hits = 0;
    for (auto _ : state) {
        hits = test::ScanReadingAnew(table.connection, NormaliseMessage(message)).hitCount;
    }
    state.counters["hits"] = hits;
}

void RowByRow(benchmark::State& state) {
    Table& table = TableOf(int(state.range(0)));
    const QString& message = MessageOf(int(state.range(0)), int(state.range(1)));
    int hits = 0;
    for (auto _ : state) {
        hits = test::RowByRowScan(table.connection, NormaliseMessage(message)).hitCount;
    }
    state.counters["hits"] = hits;
}

void Register() {
    for (const int count : kKeywordCounts) {
        benchmark::RegisterBenchmark("read", ReadTable)
            ->Args({count, 0})
            ->Repetitions(gRepetitions)
            ->Unit(benchmark::kMillisecond);
        for (const int length : kMessageLengths) {
            benchmark::RegisterBenchmark("check", Check)
                ->Args({count, length})
                ->Repetitions(gRepetitions)
                ->Unit(benchmark::kMillisecond);
            const bool slow = length >= 1000 * 1000;
            if (slow && gSkipSlow) {
                continue;
            }
            auto* rowByRow = benchmark::RegisterBenchmark("row-by-row", RowByRow)
                                 ->Args({count, length})
                                 ->Unit(benchmark::kMillisecond);
            if (slow) {
                rowByRow->Iterations(1)->Repetitions(1);
            } else {
                rowByRow->Repetitions(gRepetitions);
            }
        }
    }
}

// Keeps the median of each benchmark (or its only run) for the summary table.
class MedianCollector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool single = run.repetitions <= 1 && run.run_type == Run::RT_Iteration;
            if (single || run.aggregate_name == "median") {
                const std::string name = run.run_name.function_name + "/" + run.run_name.args;
                medians[name] = run.GetAdjustedRealTime();
                if (const auto hits = run.counters.find("hits"); hits != run.counters.end()) {
                    hitCounts[name] = int(hits->second.value);
                }
            }
        }
    }

    double median(const std::string& name, int count, int length) const {
        const auto it = medians.find(Key(name, count, length));
        return it == medians.end() ? -1 : it->second;
    }

    int hits(const std::string& name, int count, int length) const {
        const auto it = hitCounts.find(Key(name, count, length));
        return it == hitCounts.end() ? -1 : it->second;
    }

private:
    static std::string Key(const std::string& name, int count, int length) {
        return name + "/" + std::to_string(count) + "/" + std::to_string(length);
    }

    std::map<std::string, double> medians;
    std::map<std::string, int> hitCounts;
};

void PrintSummary(const MedianCollector& collector) {
    std::printf("\nMedians in ms; ratios against the bare read of the same table, same run.\n\n");
    std::printf(
        "| keywords | message | read | check | row-by-row | check/read | row-by-row/read | hits "
        "(check / row-by-row) |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const int count : kKeywordCounts) {
        const double read = collector.median("read", count, 0);
        for (const int length : kMessageLengths) {
            const double check = collector.median("check", count, length);
            const double rowByRow = collector.median("row-by-row", count, length);
            const int hits = collector.hits("check", count, length);
            if (read < 0 || check < 0) {
                continue;  // filtered out
            }
            std::printf("| %d | %d | %.2f | %.2f | ", count, length, read, check);
            if (rowByRow >= 0) {
                std::printf("%.2f | %.2f | %.2f | %d / %d |\n", rowByRow, check / read,
                            rowByRow / read, hits, collector.hits("row-by-row", count, length));
            } else {
                std::printf("skipped | %.2f | - | %d / - |\n", check / read, hits);
            }
        }
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    vorelta::bench::Arguments arguments = vorelta::bench::ParseArguments(argc, argv);
    gRepetitions = arguments.repetitions;
    gSkipSlow = arguments.skipSlow;
    return vorelta::bench::RunBenchmarks<MedianCollector>(arguments, Register, PrintSummary);
}
