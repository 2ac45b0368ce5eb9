// How often ordinary messages get near-misses, and how often disguised keywords still do, with
// each of the rules that keep ordinary text quiet left out in turn:
//
//   nearmiss_noise KEYWORD_FILE MESSAGES...
//
// KEYWORD_FILE holds one keyword a line; each MESSAGES file holds ordinary messages separated by
// NUL characters, each checked as the window would check it. The warned share is counted by a
// plain search whose rules can be switched off; with all of them it must agree with the check's
// own search, which is counted beside it. The disguises are made of the keywords themselves, each
// put in the middle of an ordinary message.

#include <opencc/opencc.h>

#include <QByteArray>
#include <QFile>
#include <cstdio>
#include <random>
#include <unordered_map>

#include "check/KeywordMatcher.h"
#include "check/MessageCheck.h"
#include "check/NearMissMatcher.h"
#include "check/TextFolding.h"
#include "tests/support/NearMissOracle.h"

namespace {

using namespace vorelta;

struct Rules {
    const char* name;
    bool twoLetters = true;
    bool wholeWords = true;
    bool breaks = true;
    bool exactTwins = true;
};

const Rules kRuleSets[] = {
    {"all rules"},
    {"without: at least two letters", false, true, true, true},
    {"without: whole words for Latin letters and digits", true, false, true, true},
    {"without: breaks passed by 3+ letters only", true, true, false, true},
    {"without: no near-miss at an exact hit folding alike", true, true, true, false},
    {"none of the rules", false, false, false, false},
};

QByteArray ReadAll(const char* path) {
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", path);
        std::exit(1);
    }
    return file.readAll();
}

// The keywords' letters, for looking up every stretch of a message's letters.
class LetterIndex {
public:
    explicit LetterIndex(const std::vector<FieldValue>& keywords) {
        for (std::size_t row = 0; row < keywords.size(); ++row) {
            const std::u32string letters = keywords[row] ? test::LettersOf(*keywords[row]) : U"";
            if (!letters.empty()) {
                longest_ = std::max(longest_, letters.size());
                rows_[letters].push_back(row);
            }
        }
    }

    // Whether the message has a near-miss under these rules.
    bool warned(const QString& message, const std::vector<FieldValue>& keywords,
                const std::vector<std::size_t>& exactRows, const Rules& rules) const {
        const FoldedText text = FoldText(message);
        std::vector<std::size_t> letterUnits;
        for (std::size_t unit = 0; unit < text.units.size(); ++unit) {
            if (!IsSeparator(text.units[unit])) {
                letterUnits.push_back(unit);
            }
        }
        for (std::size_t i = 0; i < letterUnits.size(); ++i) {
            std::u32string letters;
            for (std::size_t end = i; end < letterUnits.size() && end - i < longest_; ++end) {
                if (end > i && !passable(text, letterUnits[end - 1], letterUnits[end], 3)) {
                    break;
                }
                letters += text.units[letterUnits[end]];
                const auto found = rows_.find(letters);
                if (found == rows_.end()) {
                    continue;
                }
                for (const std::size_t row : found->second) {
                    if (metAt(text, letterUnits, i, end, letters, row, message, keywords, exactRows,
                              rules)) {
                        return true;
                    }
                }
            }
        }
        return false;
    }

private:
    static bool passable(const FoldedText& text, std::size_t before, std::size_t after,
                         std::size_t count) {
        return test::Passable(text, before, after, count);
    }

    static bool metAt(const FoldedText& text, const std::vector<std::size_t>& letterUnits,
                      std::size_t first, std::size_t last, const std::u32string& letters,
                      std::size_t row, const QString& message,
                      const std::vector<FieldValue>& keywords,
                      const std::vector<std::size_t>& exactRows, const Rules& rules) {
        if (std::binary_search(exactRows.begin(), exactRows.end(), row) ||
            (rules.twoLetters && letters.size() < 2)) {
            return false;
        }
        for (std::size_t k = first + 1; rules.breaks && k <= last; ++k) {
            if (!passable(text, letterUnits[k - 1], letterUnits[k], letters.size())) {
                return false;
            }
        }
        if (rules.wholeWords && (test::CarriedOn(text, letterUnits[first], false) ||
                                 test::CarriedOn(text, letterUnits[last], true))) {
            return false;
        }
        const TextRun written = text.written(letterUnits[first], letterUnits[last]);
        return !rules.exactTwins ||
               !test::AtExactTwin(message, written, letters, keywords, exactRows);
    }

    std::unordered_map<std::u32string, std::vector<std::size_t>> rows_;
    std::size_t longest_ = 0;
};

QString Traditional(const QString& text) {
    static const opencc_t converter = opencc_open("s2t.json");
    const QByteArray utf8 = text.toUtf8();
    char* converted = opencc_convert_utf8(converter, utf8.constData(), std::size_t(utf8.size()));
    const QString result = QString::fromUtf8(converted);
    opencc_convert_utf8_free(converted);
    return result;
}

QString Interleaved(const QString& text, const QString& separator) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        out += (i > 0 && !text[i].isLowSurrogate() ? separator : QString()) + text[i];
    }
    return out;
}

QString FullWidth(const QString& keyword) {
    QString text = keyword;
    for (QChar& c : text) {
        if (c.unicode() > 0x20 && c.unicode() < 0x7F) {
            c = QChar(c.unicode() - 0x20 + 0xFF00);
        }
    }
    return text;
}

struct Disguise {
    const char* name;
    QString (*make)(const QString&);
    std::size_t fewestLetters;
};

const Disguise kDisguises[] = {
    {"\"*\" between the characters", [](const QString& k) { return Interleaved(k, "*"); }, 2},
    {"\"-*-\" between them", [](const QString& k) { return Interleaved(k, "-*-"); }, 2},
    {"zero-width space between them",
     [](const QString& k) { return Interleaved(k, QString(QChar(0x200B))); }, 2},
    {"U+3164 HANGUL FILLER between them",
     [](const QString& k) { return Interleaved(k, QString(QChar(0x3164))); }, 2},
    {"traditional characters", Traditional, 2},
    {"full width", FullWidth, 2},
    {"upper case", [](const QString& k) { return k.toUpper(); }, 2},
    {"\"，\" between them (3+ letters)", [](const QString& k) { return Interleaved(k, "，"); }, 3},
};

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "nearmiss_noise KEYWORD_FILE MESSAGES...\n");
        return 2;
    }
    std::vector<FieldValue> keywords;
    for (const QByteArray& line : ReadAll(argv[1]).split('\n')) {
        keywords.emplace_back(QString::fromUtf8(line));
    }
    const KeywordIndex exact(keywords);
    NearMissIndex nearMisses(keywords);
    const LetterIndex plain(keywords);
    std::vector<QString> allMessages;
    for (int file = 2; file < argc; ++file) {
        std::vector<QString> messages;
        for (const QByteArray& piece : ReadAll(argv[file]).split('\0')) {
            messages.push_back(NormaliseMessage(QString::fromUtf8(piece)));
        }
        std::printf("\n%s: %zu messages\n\n| rules | warned | share |\n|---|---:|---:|\n",
                    argv[file], messages.size());
        std::size_t byCheck = 0;
        for (const Rules& rules : kRuleSets) {
            std::size_t warned = 0;
            for (const QString& message : messages) {
                const std::vector<std::size_t> exactRows = exact.match(message).rows;
                const bool plainWarns = plain.warned(message, keywords, exactRows, rules);
                warned += plainWarns;
                if (&rules == &kRuleSets[0]) {
                    const bool checkWarns =
                        !nearMisses.find(message, keywords, exactRows).rows.empty();
                    byCheck += checkWarns;
                    if (checkWarns != plainWarns) {
                        std::printf("disagree: %s\n", qPrintable(message));
                    }
                }
            }
            std::printf("| %s | %zu | %.2f %% |\n", rules.name, warned,
                        100.0 * double(warned) / double(messages.size()));
        }
        std::printf("| the check's own search, all rules | %zu | %.2f %% |\n", byCheck,
                    100.0 * double(byCheck) / double(messages.size()));
        allMessages.insert(allMessages.end(), messages.begin(), messages.end());
    }
    // Disguised keywords, each in the middle of an ordinary message.
    std::mt19937 random(27);
    std::printf(
        "\n| disguise | keywords | caught | of them without a Latin letter or digit at an end | "
        "caught |\n|---|---:|---:|---:|---:|\n");
    for (const Disguise& disguise : kDisguises) {
        std::size_t tried = 0;
        std::size_t caught = 0;
        std::size_t triedOther = 0;  // keywords neither beginning nor ending with Latin or digit
        std::size_t caughtOther = 0;
        for (int i = 0; i < 2000; ++i) {
            const std::size_t row = random() % keywords.size();
            const QString keyword = keywords[row].value_or(QString());
            const QString disguised = disguise.make(keyword);
            if (test::LettersOf(keyword).size() < disguise.fewestLetters || disguised == keyword) {
                continue;
            }
            const QString& around = allMessages[random() % allMessages.size()];
            const QString message = around.left(20) + disguised + around.mid(20, 20);
            const KeywordHits hits = exact.match(message);
            const NearMisses found = nearMisses.find(message, keywords, hits.rows);
            // Caught: the row itself, or another with the same letters, is told in some way.
            bool told = false;
            for (const std::size_t other : hits.rows) {
                told |= test::LettersOf(*keywords[other]) == test::LettersOf(keyword);
            }
            for (const NearMiss& nearMiss : found.rows) {
                told |= test::LettersOf(*keywords[nearMiss.row]) == test::LettersOf(keyword);
            }
            ++tried;
            caught += told;
            const std::u32string letters = test::LettersOf(keyword);
            if (KindOf(letters.front()) != CodePointKind::LatinOrDigit &&
                KindOf(letters.back()) != CodePointKind::LatinOrDigit) {
                ++triedOther;
                caughtOther += told;
            }
            if (!told && qEnvironmentVariableIsSet("NOISE_SHOW_MISSES")) {
                std::printf("missed: %s in %s\n", qPrintable(keyword), qPrintable(message));
            }
        }
        std::printf("| %s | %zu | %.1f %% | %zu | %.1f %% |\n", disguise.name, tried,
                    100.0 * double(caught) / double(std::max<std::size_t>(tried, 1)), triedOther,
                    100.0 * double(caughtOther) / double(std::max<std::size_t>(triedOther, 1)));
    }
    return 0;
}
