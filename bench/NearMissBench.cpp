// Times the search for near-misses beside the exact check it follows, for a 70-character and a
// 1 MB message, over a real keyword list (given with --keywords=FILE, one keyword a line) and
// 100,000 and 1,000,000 numbered keywords; and the worst cases the search must stay bounded in:
//
//   exact        the exact check alone, through the kept index for a short message and the
//                automaton for a long one, as the check runs it, with the report of its hits
//   near-miss    what the near-misses add, through the kept near-miss index (its automaton
//                already built for the long message), with their report
//   worst        exact check and near-misses together, for inputs built to be slow: a message
//                of separators only; a keyword of 200,000 letters joined by "-", met with "－";
//                10,000 keywords sharing a prefix of 1,000 letters, against that prefix repeated; a
//                keyword of 29 letters, against them with two separators between each
//   builds       the kept indexes after a change: the exact one as the floor, the near-miss one,
//                and the near-miss one with its automaton for a first long message
//
// The prose is made of 3,000 ideographs from U+4E00 on, with a keyword now and then, unless
// --prose=FILE gives real text, the same for every list (normalised as a check would, and
// repeated to 1 MB if shorter): a filler of one block only lets the exact check leave out the
// keywords of other characters, which real text does not.
//
//   nearmiss_bench [--keywords=FILE] [--prose=FILE] [--repetitions=N] [Google Benchmark flags]

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "bench/BenchRun.h"
#include "check/KeywordMatcher.h"
#include "check/MessageCheck.h"
#include "check/NearMissMatcher.h"
#include "tests/support/KeyDatabase.h"

namespace {

using namespace vorelta;

constexpr int kRealList = 0;  // the table of the keyword file, among the numbered ones
std::vector<int> gKeywordCounts = {100 * 1000, 1000 * 1000};
const int kMessageLengths[] = {70, 1000 * 1000};
int gRepetitions = 5;
QString gKeywordFile;
QString gProse;  // real prose for the prose messages, from --prose=FILE

enum MessageKind { kDisguised, kProse };

std::vector<FieldValue> ReadKeywordFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        std::exit(1);
    }
    std::vector<FieldValue> keywords;
    for (const QByteArray& line : file.readAll().split('\n')) {
        keywords.emplace_back(QString::fromUtf8(line));
    }
    return keywords;
}

QString RepeatedTo(const QString& piece, int length) {
    QString text;
    while (text.size() < length) {
        text += piece;
    }
    return text.left(length);
}

// A keyword as written in a message: as stored or in one of four disguises.
QString Disguised(QString keyword, int form) {
    switch (form) {
        case 1:  // traditional characters, where the numbered keywords have them
            return keyword.replace(u'关', u'關').replace(u'键', u'鍵');
        case 2:
            return keyword.size() > 1 ? keyword.insert(1, u'*') : keyword;
        case 3:
            return keyword.size() > 2 ? keyword.insert(2, QChar(0x200B)) : keyword;
        case 4:  // full width
            for (QChar& c : keyword) {
                if (c.unicode() > 0x20 && c.unicode() < 0x7F) {
                    c = QChar(c.unicode() - 0x20 + 0xFF00);
                }
            }
            return keyword;
        default:
            return keyword;
    }
}

// Filler Chinese with keywords in it: in a disguised message every thirtieth piece is a keyword,
// as it is or in one of four disguises; in prose a clause ends every dozen characters and every
// three hundredth piece is a keyword as it is.
QString MessageOf(int length, const std::vector<FieldValue>& keywords, MessageKind kind) {
    if (kind == kProse && !gProse.isEmpty()) {
        return RepeatedTo(gProse, length);
    }
    std::mt19937 random{unsigned(length + kind)};
    auto below = [&](int bound) {
        return std::uniform_int_distribution<int>(0, bound - 1)(random);
    };
    QString text;
    while (text.size() < length) {
        if (below(kind == kDisguised ? 30 : 300) == 0) {
            const FieldValue& keyword = keywords[std::size_t(below(int(keywords.size())))];
            text +=
                Disguised(keyword.value_or(QString()), kind == kDisguised ? below(5) : 0) + u'，';
        } else if (kind == kProse && below(12) == 0) {
            text += below(3) == 0 ? u'。' : u'，';
        } else {
            text += QChar(0x4E00 + below(3000));
        }
    }
    return text.left(length);
}

// The exact check as KeywordCheck runs it.
KeywordHits ExactHits(const KeywordIndex& index, const std::vector<FieldValue>& column,
                      const QString& message) {
    return message.size() > kShortMessageLimit ? MatchKeywords(message, column)
                                               : index.match(message);
}

// One keyword list with the kept indexes over it.
struct Table {
    std::vector<FieldValue> column;
    std::unique_ptr<KeywordIndex> exact;
    std::unique_ptr<NearMissIndex> nearMisses;
    std::map<std::pair<int, int>, std::vector<std::size_t>> exactRows;  // by length and kind
};

Table& TableOf(int keywordCount) {
    static std::map<int, std::unique_ptr<Table>> tables;
    auto& table = tables[keywordCount];
    if (!table) {
        table = std::make_unique<Table>();
        table->column = keywordCount == kRealList ? ReadKeywordFile(gKeywordFile)
                                                  : test::NumberedKeywords(keywordCount);
        table->exact = std::make_unique<KeywordIndex>(table->column);
        table->nearMisses = std::make_unique<NearMissIndex>(table->column);
        for (const int length : kMessageLengths) {
            for (const MessageKind kind : {kDisguised, kProse}) {
                const QString message = MessageOf(length, table->column, kind);
                std::vector<std::size_t>& rows = table->exactRows[{length, kind}];
                rows = ExactHits(*table->exact, table->column, message).rows;
                table->nearMisses->find(message, table->column, rows);  // builds the automaton
            }
        }
    }
    return *table;
}

void Exact(benchmark::State& state) {
    Table& table = TableOf(int(state.range(0)));
    const QString message =
        MessageOf(int(state.range(1)), table.column, MessageKind(state.range(2)));
    for (auto _ : state) {
        const KeywordHits hits = ExactHits(*table.exact, table.column, message);
        // The report the check writes of them, as it does.
        if (!hits.rows.empty()) {
            benchmark::DoNotOptimize(HitReport(table.column, hits.rows).size());
        }
    }
}

void NearMissSearch(benchmark::State& state) {
    Table& table = TableOf(int(state.range(0)));
    const QString message =
        MessageOf(int(state.range(1)), table.column, MessageKind(state.range(2)));
    const std::vector<std::size_t>& exactRows =
        table.exactRows[{int(state.range(1)), int(state.range(2))}];
    std::size_t listed = 0;
    for (auto _ : state) {
        const NearMisses found = table.nearMisses->find(message, table.column, exactRows);
        QStringList lines;
        for (const NearMiss& nearMiss : found.rows) {
            lines << NearMissLine(message, nearMiss, *table.column[nearMiss.row]);
        }
        benchmark::DoNotOptimize(NearMissReport(lines).size());
        listed = found.rows.size();
    }
    state.counters["listed"] = double(listed);
    state.counters["exact"] = double(exactRows.size());
}

// Ideographs, `count` of them from the `first`, joined by a separator.
QString Joined(int first, int count, QStringView separator) {
    QString text;
    for (int i = 0; i < count; ++i) {
        text += (i > 0 ? separator.toString() : QString()) + QChar(0x4E00 + (first + i) % 20000);
    }
    return text;
}

enum WorstCase { kSeparatorsOnly, kLongKeyword, kSharedPrefix, kManySeparators };
const char* const kWorstCaseNames[] = {
    "a message of separators only (1,000,000 numbered keywords)", "a keyword of 200,000 letters",
    "10,000 keywords sharing 1,000 letters", "a keyword of 29 letters, doubled separators"};

struct WorstInput {
    std::vector<FieldValue> keywords;
    QString message;
};

WorstInput WorstOf(WorstCase which, int length) {
    switch (which) {
        case kSeparatorsOnly:
            return {test::NumberedKeywords(1000 * 1000),
                    RepeatedTo(QStringLiteral(u"-*　\u200B！\u3164"), length)};
        case kLongKeyword:
            return {{Joined(0, 200 * 1000, u"-")}, Joined(0, (length + 1) / 2, u"－")};
        case kSharedPrefix: {
            const QString prefix = Joined(0, 1000, u"");
            std::vector<FieldValue> keywords;
            for (int i = 0; i < 10 * 1000; ++i) {
                keywords.emplace_back(prefix + QString::number(i));
            }
            return {std::move(keywords), RepeatedTo(prefix, length)};
        }
        case kManySeparators:
            return {{Joined(0, 29, u"-")}, RepeatedTo(Joined(0, 29, u"--"), length)};
    }
    return {};
}

void Worst(benchmark::State& state) {
    const WorstInput input = WorstOf(WorstCase(state.range(0)), int(state.range(1)));
    KeywordCheck check;
    check.Check(input.keywords, input.message);  // the kept indexes built, not timed
    std::size_t listed = 0;
    for (auto _ : state) {
        listed = check.Check(input.keywords, input.message).nearMissKeywords.size();
    }
    state.counters["listed"] = double(listed);
}

void BuildExactIndex(benchmark::State& state) {
    Table& table = TableOf(int(state.range(0)));
    for (auto _ : state) {
        KeywordIndex index(table.column);
        benchmark::DoNotOptimize(&index);
    }
}

void BuildNearMissIndex(benchmark::State& state) {
    Table& table = TableOf(int(state.range(0)));
    const QString longMessage = MessageOf(kMessageLengths[1], table.column, kDisguised);
    const bool withAutomaton = state.range(1) != 0;
    for (auto _ : state) {
        NearMissIndex index(table.column);
        if (withAutomaton) {
            index.find(longMessage, table.column, {});
        }
        benchmark::DoNotOptimize(&index);
    }
}

const std::pair<int, MessageKind> kMessages[] = {
    {70, kDisguised}, {70, kProse}, {1000 * 1000, kDisguised}, {1000 * 1000, kProse}};
const std::pair<const char*, void (*)(benchmark::State&)> kTimings[] = {
    {"exact", Exact}, {"near-miss", NearMissSearch}};

void Register() {
    for (const int count : gKeywordCounts) {
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
    for (const int which : {kSeparatorsOnly, kLongKeyword, kSharedPrefix, kManySeparators}) {
        for (const int length : kMessageLengths) {
            benchmark::RegisterBenchmark("worst", Worst)
                ->Args({which, length})
                ->Repetitions(gRepetitions)
                ->Iterations(length > 70 ? 1 : 20)
                ->Unit(benchmark::kMillisecond);
        }
    }
}

using bench::MedianCollector;

std::string ListName(int count) {
    return count == kRealList ? "the keyword file" : std::to_string(count);
}

void PrintSummary(const MedianCollector& collector) {
    std::printf(
        "\nMedians in ms.\n\n| keywords | message | exact | near-miss | (exact + near-miss) "
        "/ exact |\n|---|---|---:|---:|---:|\n");
    for (const int count : gKeywordCounts) {
        for (const auto& [length, kind] : kMessages) {
            const double exact = collector.median("exact", {count, length, kind});
            const double nearMiss = collector.median("near-miss", {count, length, kind});
            if (exact > 0 && nearMiss >= 0) {
                std::printf("| %s | %d, %s | %.4f | %.4f | %.2f |\n", ListName(count).c_str(),
                            length, kind == kDisguised ? "disguised" : "prose", exact, nearMiss,
                            (exact + nearMiss) / exact);
            }
        }
    }
    std::printf("\n| worst case | 70 characters | 1 MB |\n|---|---:|---:|\n");
    for (const int which : {kSeparatorsOnly, kLongKeyword, kSharedPrefix, kManySeparators}) {
        std::printf("| %s | %.3f | %.1f |\n", kWorstCaseNames[which],
                    collector.median("worst", {which, 70}),
                    collector.median("worst", {which, 1000 * 1000}));
    }
    std::printf(
        "\n| keywords | exact index | near-miss index | near-miss index with its automaton "
        "|\n|---|---:|---:|---:|\n");
    for (const int count : gKeywordCounts) {
        std::printf("| %s | %.1f | %.1f | %.1f |\n", ListName(count).c_str(),
                    collector.median("exact-index", {count, 0}),
                    collector.median("near-miss-index", {count, 0}),
                    collector.median("near-miss-index", {count, 1}));
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--prose=", 8) == 0) {
            QFile file(QString::fromLocal8Bit(argv[i] + 8));
            if (file.open(QIODevice::ReadOnly)) {
                gProse = NormaliseMessage(QString::fromUtf8(file.readAll()));
            }
        } else if (std::strncmp(argv[i], "--keywords=", 11) == 0) {
            gKeywordFile = QString::fromLocal8Bit(argv[i] + 11);
            gKeywordCounts.insert(gKeywordCounts.begin(), kRealList);
        } else {
            rest.push_back(argv[i]);
        }
    }
    vorelta::bench::Arguments arguments =
        vorelta::bench::ParseArguments(int(rest.size()), rest.data());
    gRepetitions = arguments.repetitions;
    return vorelta::bench::RunBenchmarks<MedianCollector>(arguments, Register, PrintSummary);
}
