#include "check/BatchCheck.h"

#include <QStringList>
#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#ifdef __linux__
#include <sched.h>
#endif

#include "base/Text.h"

namespace vorelta {

BatchCounts& BatchCounts::operator+=(const BatchCounts& other) {
    messages += other.messages;
    withHits += other.withHits;
    withNearMisses += other.withNearMisses;
    empty += other.empty;
    return *this;
}

int UsableCores() {
#ifdef __linux__
    cpu_set_t cores;
    if (sched_getaffinity(0, sizeof cores, &cores) == 0) {
        return std::max(1, CPU_COUNT(&cores));
    }
#endif
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

namespace {

// JSON text of a string, quotes included. A lone surrogate, which a stored keyword may hold
// and UTF-8 cannot, is written as its \u escape, so that nothing is lost; so are the controls,
// U+FEFF and the line and paragraph separators.
void AppendJsonString(QByteArray& out, QStringView text) {
    static constexpr char kHex[] = "0123456789abcdef";
    // Written through a pointer into room for the longest form, six bytes a code unit (its \u
    // escape): adding a byte at a time to the array costs a call each.
    const qsizetype begin = out.size();
    out.resize(begin + 2 + 6 * text.size());
    char* to = out.data() + begin;
    const auto escape = [&to](char16_t unit) {
        *to++ = '\\';
        *to++ = 'u';
        for (int shift = 12; shift >= 0; shift -= 4) {
            *to++ = kHex[(unit >> shift) & 0xF];
        }
    };
    *to++ = '"';
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'"' || c == u'\\') {
            *to++ = '\\';
            *to++ = char(c);
        } else if (c < 0x20 || c == 0xFEFF || c == 0x2028 || c == 0x2029) {
            // Also what some readers take for a byte order mark or a line break.
            escape(c);
        } else if (c < 0x80) {
            *to++ = char(c);
        } else if (const CodePoint pair = CodePointAt(text, i); pair.size == 2) {
            const char32_t point = pair.value;
            ++i;
            *to++ = char(0xF0 | (point >> 18));
            *to++ = char(0x80 | ((point >> 12) & 0x3F));
            *to++ = char(0x80 | ((point >> 6) & 0x3F));
            *to++ = char(0x80 | (point & 0x3F));
        } else if (QChar::isSurrogate(c)) {
            escape(c);
        } else if (c < 0x800) {
            *to++ = char(0xC0 | (c >> 6));
            *to++ = char(0x80 | (c & 0x3F));
        } else {
            *to++ = char(0xE0 | (c >> 12));
            *to++ = char(0x80 | ((c >> 6) & 0x3F));
            *to++ = char(0x80 | (c & 0x3F));
        }
    }
    *to++ = '"';
    out.truncate(to - out.data());
}

Verdict VerdictOf(const QString& normalised, const ScanResult& result) {
    if (normalised.isEmpty()) {
        return Verdict::Empty;
    }
    return result.hitCount > 0 ? Verdict::Hits : Verdict::Clean;
}

const char* VerdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::Clean:
            return "clean";
        case Verdict::Hits:
            return "hits";
        case Verdict::Empty:
            return "empty";
    }
    return "";
}

QString LinePrefix(std::int64_t line, const QString& inputName) {
    const QString where = QStringLiteral(u"第%1行").arg(line);
    return inputName.isEmpty() ? where : inputName + u':' + where;
}

}  // namespace

void AppendJsonVerdict(QByteArray& out, std::int64_t line, const QString& normalised,
                       const ScanResult& result, const QString& inputName) {
    out += '{';
    if (!inputName.isEmpty()) {
        out += "\"file\": ";
        AppendJsonString(out, inputName);
        out += ", ";
    }
    out += "\"line\": ";
    out += QByteArray::number(line);
    out += ", \"message\": ";
    AppendJsonString(out, normalised);
    out += ", \"verdict\": \"";
    out += VerdictName(VerdictOf(normalised, result));
    out += "\", \"hits\": [";
    for (std::size_t i = 0; i < result.keywords.size(); ++i) {
        out += i > 0 ? ", " : "";
        AppendJsonString(out, result.keywords[i]);
    }
    out += "], \"near_misses\": [";
    for (std::size_t i = 0; i < result.nearMissKeywords.size(); ++i) {
        out += i > 0 ? ", {\"written\": " : "{\"written\": ";
        AppendJsonString(out, result.nearMissesWritten[i]);
        out += ", \"keyword\": ";
        AppendJsonString(out, result.nearMissKeywords[i]);
        out += '}';
    }
    out += "]}\n";
}

QByteArray HumanVerdict(std::int64_t line, const ScanResult& result, const QString& inputName) {
    QString out;
    if (result.hitCount > 0) {
        QStringList keywords(result.keywords.begin(), result.keywords.end());
        out += LinePrefix(line, inputName) +
               QStringLiteral(u"：检测到%1条关键字：").arg(result.hitCount) + keywords.join(u'、') +
               u'\n';
    }
    if (!result.nearMissKeywords.empty()) {
        QStringList pairs;
        for (std::size_t i = 0; i < result.nearMissKeywords.size(); ++i) {
            pairs << result.nearMissesWritten[i] + QStringLiteral(u" ≈ ") +
                         result.nearMissKeywords[i];
        }
        out += LinePrefix(line, inputName) +
               QStringLiteral(u"：另有%1处近似关键字：").arg(pairs.size()) + pairs.join(u'、') +
               u'\n';
    }
    return out.toUtf8();
}

QString SummaryText(const BatchCounts& counts) {
    return QStringLiteral(u"共%1条短信：%2条含有关键字，%3条另有近似关键字，%4条为空。")
        .arg(counts.messages)
        .arg(counts.withHits)
        .arg(counts.withNearMisses)
        .arg(counts.empty);
}

namespace {

constexpr std::size_t kBlockLines = 512;

struct Block {
    QByteArray verdicts;
    BatchCounts counts;
    bool done = false;
};

// Workers take blocks of lines in turn, each with a KeywordCheck of its own (its indexes are
// built at its first message and are not shared); the calling thread writes the finished
// blocks in input order. Workers stay within a window of blocks ahead of the writer, so the
// verdicts waiting in memory stay few however large the input.
class BatchRun {
public:
    BatchRun(const std::vector<FieldValue>& keywords, const std::vector<QStringView>& lines,
             const BatchOptions& options)
        : keywords_(keywords),
          lines_(lines),
          options_(options),
          blocks_((lines.size() + kBlockLines - 1) / kBlockLines),
          window_(16 * std::size_t(std::max(1, options.threads))) {}

    BatchCounts run(const VerdictSink& write, const ProgressSink& progress) {
        std::vector<std::thread> workers;
        try {
            for (int i = 0; i < std::max(1, options_.threads); ++i) {
                workers.emplace_back([this] { work(); });
            }
        } catch (const std::system_error&) {
            if (workers.empty()) {
                throw;
            }
            // Fewer threads than cores: those there are take every block.
        }
        BatchCounts counts;
        std::size_t next = 0;
        for (; next < blocks_.size(); ++next) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return blocks_[next].done || failure_; });
            if (!blocks_[next].done) {
                break;
            }
            Block block = std::move(blocks_[next]);
            written_ = next + 1;
            lock.unlock();
            changed_.notify_all();
            write(block.verdicts);
            counts += block.counts;
            if (progress) {
                progress(counts.messages, std::int64_t(lines_.size()));
            }
        }
        for (std::thread& worker : workers) {
            worker.join();
        }
        if (failure_) {
            // The blocks finished before the one that failed are checked: their verdicts go out.
            for (; next < blocks_.size() && blocks_[next].done; ++next) {
                write(blocks_[next].verdicts);
            }
            std::rethrow_exception(failure_);
        }
        return counts;
    }

private:
    void work() {
        KeywordCheck check;
        for (;;) {
            std::size_t index;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] {
                    return failure_ || claimed_ >= blocks_.size() || claimed_ < written_ + window_;
                });
                if (failure_ || claimed_ >= blocks_.size()) {
                    return;
                }
                index = claimed_++;
            }
            Block block;
            try {
                checkBlock(check, index, block);
            } catch (...) {
                const std::lock_guard lock(mutex_);
                failure_ = std::current_exception();
                changed_.notify_all();
                return;
            }
            {
                const std::lock_guard lock(mutex_);
                blocks_[index] = std::move(block);
                blocks_[index].done = true;
            }
            changed_.notify_all();
        }
    }

    void checkBlock(KeywordCheck& check, std::size_t index, Block& block) const {
        const std::size_t end = std::min(lines_.size(), (index + 1) * kBlockLines);
        block.verdicts.reserve(qsizetype(kBlockLines) * 256);  // a verdict of a short message
        for (std::size_t i = index * kBlockLines; i < end; ++i) {
            const QString normalised = NormaliseMessage(lines_[i].toString());
            const ScanResult result = check.Check(keywords_, normalised);
            const auto line = std::int64_t(i + 1);
            if (options_.json) {
                AppendJsonVerdict(block.verdicts, line, normalised, result, options_.inputName);
            } else {
                block.verdicts += HumanVerdict(line, result, options_.inputName);
            }
            ++block.counts.messages;
            block.counts.withHits += result.hitCount > 0 ? 1 : 0;
            block.counts.withNearMisses += result.nearMissKeywords.empty() ? 0 : 1;
            block.counts.empty += normalised.isEmpty() ? 1 : 0;
        }
    }

    const std::vector<FieldValue>& keywords_;
    const std::vector<QStringView>& lines_;
    const BatchOptions& options_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Block> blocks_;
    const std::size_t window_;
    std::size_t claimed_ = 0;
    std::size_t written_ = 0;
    std::exception_ptr failure_;
};

}  // namespace

BatchCounts CheckMessages(const std::vector<FieldValue>& keywords,
                          const std::vector<QStringView>& lines, const BatchOptions& options,
                          const VerdictSink& write, const ProgressSink& progress) {
    if (lines.empty()) {
        return {};
    }
    return BatchRun(keywords, lines, options).run(write, progress);
}

}  // namespace vorelta
