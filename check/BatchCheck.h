#pragma once

// The check of many messages at once, one per line of a text, as vorelta-check runs it: each
// message normalised and checked exactly as the window checks one, on every core, with the
// verdicts written in input order as JSON lines or in a short human form.

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/FieldValue.h"
#include "check/MessageCheck.h"

namespace vorelta {

enum class Verdict { Clean, Hits, Empty };

struct BatchCounts {
    std::int64_t messages = 0;
    std::int64_t withHits = 0;
    std::int64_t withNearMisses = 0;  // among all messages, whatever their verdict
    std::int64_t empty = 0;
    BatchCounts& operator+=(const BatchCounts& other);
};

struct BatchOptions {
    bool json = false;
    // Named in each verdict when several inputs are checked; empty for one.
    QString inputName;
    int threads = 1;
};

// Where the verdicts go, in input order, a block of lines at a time; and how far the check has
// got (messages done, messages in all), told from the calling thread.
using VerdictSink = std::function<void(const QByteArray& lines)>;
using ProgressSink = std::function<void(std::int64_t done, std::int64_t total)>;

// Checks every line against the keywords on `options.threads` threads, each with a KeywordCheck
// of its own over the same column, which nobody may change meanwhile. Lines are numbered from 1.
// An error in the check (no memory, say) is raised here once the verdicts before it are out.
BatchCounts CheckMessages(const std::vector<FieldValue>& keywords,
                          const std::vector<QStringView>& lines, const BatchOptions& options,
                          const VerdictSink& write, const ProgressSink& progress = {});

// One message's verdict: the JSON object on a line of its own, added to the end of out (a batch
// fills a block of them at once), or in the human form a line for a message with hits and one
// for its near-misses (nothing for a clean message without any).
void AppendJsonVerdict(QByteArray& out, std::int64_t line, const QString& normalised,
                       const ScanResult& result, const QString& inputName = {});
QByteArray HumanVerdict(std::int64_t line, const ScanResult& result, const QString& inputName = {});

// The human form's last line: "共N条短信：M条含有关键字，K条另有近似关键字，E条为空。"
QString SummaryText(const BatchCounts& counts);

// The cores this process may run on.
int UsableCores();

}  // namespace vorelta
