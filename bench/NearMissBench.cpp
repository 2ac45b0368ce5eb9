// Times the search for near-misses beside the exact check it follows, at 100,000 and 1,000,000
// numbered keywords, for a 70-character and a 1 MB message full of keywords, as they are and in
// disguise (traditional characters, full-width digits, separators), and for 1 MB of prose with
// punctuation and a keyword now and then:
//
//   check        the check as the window runs it today, nothing changed since the last one
//   near-miss    what the near-misses add: the exact hits as flags by row, then the search
//                through the kept index (its automaton already built for the long message)
//   builds       the kept indexes after a change: the exact one as the floor, the near-miss one,
//                and the near-miss one with its automaton for a first long message
//
//   nearmiss_bench [--repetitions=N] [Google Benchmark flags]

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "bench/BenchRun.h"
#include "check/KeywordMatcher.h"
#include "check/MessageCheck.h"
#include "check/NearMissMatcher.h"
#include "store/Module1.h"
#include "tests/support/KeyDatabase.h"
#include "windows/main/KeywordScanner.h"

namespace {

using namespace vorelta;

const int kKeywordCounts[] = {100 * 1000, 1000 * 1000};
const int kMessageLengths[] = {70, 1000 * 1000};
int gRepetitions = 5;

enum MessageKind { kDisguised, kProse };

// Filler Chinese with keywords in it: in a disguised message every thirtieth piece is a keyword,
// as it is or in one of four disguises; in prose a clause ends every dozen characters and every
// three hundredth piece is a keyword as it is.
QString MessageOf(int length, int keywordCount, MessageKind kind) {
    std::mt19937 random{unsigned(length + kind)};
    auto below = [&](int bound) {
        return std::uniform_int_distribution<int>(0, bound - 1)(random);
    };
    const QString forms[] = {QStringLiteral(u"关键字%1"), QStringLiteral(u"關鍵字%1"),
                             QStringLiteral(u"关*键字%1"), QStringLiteral(u"关键\u200B字%1")};
    QString text;
    while (text.size() < length) {
        if (below(kind == kDisguised ? 30 : 300) == 0) {
            QString number = QString::number(below(keywordCount));
            const int form = kind == kDisguised ? below(5) : 0;
            if (form == 4) {  // full-width digits
                for (QChar& digit : number) {
                    digit = QChar(digit.unicode() - u'0' + 0xFF10);
                }
            }
            text += forms[form % 4].arg(number) + u'，';
        } else if (kind == kProse && below(12) == 0) {
            text += below(3) == 0 ? u'。' : u'，';
        } else {
            text += QChar(0x4E00 + below(3000));
        }
    }
    return text.left(length);
}

// One key.mdb per table size, made once and kept open, with the kept indexes over its rows.
struct Table {
    test::TempProgramDir dir;
    Connection connection;
    Recordset keys;
    KeywordScanner scanner;
    std::unique_ptr<NearMissIndex> nearMisses;
    std::map<std::pair<int, int>, std::vector<std::size_t>> exactRows;  // by length and kind
};

Table& TableOf(int keywordCount) {
    static std::map<int, std::unique_ptr<Table>> tables;
    auto& table = tables[keywordCount];
    if (!table) {
        table = std::make_unique<Table>();
        table->dir.createKeys(test::NumberedKeywords(keywordCount));
        table->connection.Open(ConnectionString(table->dir.path()));
        table->keys.Open(sql::kSelectAllKeys, table->connection, adOpenKeyset, adLockOptimistic);
        const std::vector<FieldValue>& column = table->keys.Column(kKeynameField);
        table->nearMisses = std::make_unique<NearMissIndex>(column);
        for (const int length : kMessageLengths) {
            for (const MessageKind kind : {kDisguised, kProse}) {
                const QString message = MessageOf(length, keywordCount, kind);
                table->scanner.Scan(table->keys, message);  // its index is built now, not timed
                table->exactRows[{length, kind}] = MatchKeywords(message, column).rows;
                table->nearMisses->find(message, {});  // so is the automaton
            }
        }
    }
    return *table;
}

void Check(benchmark::State& state) {
    Table& table = TableOf(int(state.range(0)));
    const QString message =
        MessageOf(int(state.range(1)), int(state.range(0)), MessageKind(state.range(2)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.scanner.Scan(table.keys, message).hitCount);
    }
}

void NearMiss(benchmark::State& state) {
    Table& table = TableOf(int(state.range(0)));
    const QString message =
        MessageOf(int(state.range(1)), int(state.range(0)), MessageKind(state.range(2)));
    const std::vector<std::size_t>& exactRows =
        table.exactRows[{int(state.range(1)), int(state.range(2))}];
    std::size_t listed = 0;
    for (auto _ : state) {
        std::vector<bool> exactHit(std::size_t(state.range(0)), false);
        for (const std::size_t row : exactRows) {
            exactHit[row] = true;
        }
        listed = table.nearMisses->find(message, exactHit).rows.size();
    }
    state.counters["listed"] = double(listed);
    state.counters["exact"] = double(exactRows.size());
}

void BuildExactIndex(benchmark::State& state) {
    Table& table = TableOf(int(state.range(0)));
    for (auto _ : state) {
        KeywordIndex index(table.keys.Column(kKeynameField));
        benchmark::DoNotOptimize(&index);
    }
}

void BuildNearMissIndex(benchmark::State& state) {
    Table& table = TableOf(int(state.range(0)));
    const QString longMessage = MessageOf(kMessageLengths[1], int(state.range(0)), kDisguised);
    const bool withAutomaton = state.range(1) != 0;
    for (auto _ : state) {
        NearMissIndex index(table.keys.Column(kKeynameField));
        if (withAutomaton) {
            index.find(longMessage, {});
        }
        benchmark::DoNotOptimize(&index);
    }
}

const std::pair<int, MessageKind> kMessages[] = {
    {70, kDisguised}, {1000 * 1000, kDisguised}, {1000 * 1000, kProse}};
const std::pair<const char*, void (*)(benchmark::State&)> kTimings[] = {{"check", Check},
                                                                        {"near-miss", NearMiss}};

void Register() {
    for (const int count : kKeywordCounts) {
        for (const auto& [length, kind] : kMessages) {
            for (const auto& [name, function] : kTimings) {
                benchmark::RegisterBenchmark(name, function)
                    ->Args({count, length, kind})
                    ->Repetitions(gRepetitions)
                    ->Unit(benchmark::kMillisecond);
            }
        }
        benchmark::RegisterBenchmark("exact-index", BuildExactIndex)
            ->Args({count, 0})
            ->Repetitions(gRepetitions)
            ->Unit(benchmark::kMillisecond);
        for (const int withAutomaton : {0, 1}) {
            benchmark::RegisterBenchmark("near-miss-index", BuildNearMissIndex)
                ->Args({count, withAutomaton})
                ->Repetitions(gRepetitions)
                ->Unit(benchmark::kMillisecond);
        }
    }
}

using bench::MedianCollector;

void PrintSummary(const MedianCollector& collector) {
    std::printf(
        "\nMedians in ms.\n\n| keywords | message | check | near-miss | (check + near-miss) "
        "/ check |\n|---:|---|---:|---:|---:|\n");
    for (const int count : kKeywordCounts) {
        for (const auto& [length, kind] : kMessages) {
            const double check = collector.median("check", {count, length, kind});
            const double nearMiss = collector.median("near-miss", {count, length, kind});
            if (check > 0 && nearMiss > 0) {
                std::printf("| %d | %d, %s | %.3f | %.3f | %.2f |\n", count, length,
                            kind == kDisguised ? "disguised" : "prose", check, nearMiss,
                            (check + nearMiss) / check);
            }
        }
    }
    std::printf(
        "\n| keywords | exact index | near-miss index | near-miss index with its automaton "
        "|\n|---:|---:|---:|---:|\n");
    for (const int count : kKeywordCounts) {
        std::printf("| %d | %.1f | %.1f | %.1f |\n", count,
                    collector.median("exact-index", {count, 0}),
                    collector.median("near-miss-index", {count, 0}),
                    collector.median("near-miss-index", {count, 1}));
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    vorelta::bench::Arguments arguments = vorelta::bench::ParseArguments(argc, argv);
    gRepetitions = arguments.repetitions;
    return vorelta::bench::RunBenchmarks<MedianCollector>(arguments, Register, PrintSummary);
}
