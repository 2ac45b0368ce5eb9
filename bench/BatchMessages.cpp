// Writes what bench/batch-vs-grep times: a key.mdb holding the lines of a keyword list, and a
// file of messages of 70 characters, one per line, as UTF-8.
//
//   batch_messages LIST COUNT FOLDER     (FOLDER/key.mdb and FOLDER/messages.txt)
//
// The messages are the list's own characters, drawn as often as its keywords use them, with a
// blank now and then, and one in twenty holds a whole keyword somewhere; the same seed gives the
// same file.

#include <sqlite3.h>

#include <QCoreApplication>
#include <QFile>
#include <cstdio>
#include <random>
#include <string>

#include "base/Text.h"
#include "store/KeywordFile.h"

namespace {

using namespace vorelta;

constexpr int kMessageLength = 70;

bool WriteKeyDatabase(const std::vector<QStringView>& keywords, const QString& path) {
    QFile::remove(path);
    sqlite3* db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK) {
        return false;
    }
    sqlite3_exec(db, "create table keys (keyname text); begin", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "insert into keys (keyname) values (?)", -1, &insert, nullptr);
    for (const QStringView keyword : keywords) {
        const QByteArray bytes = keyword.toUtf8();
        sqlite3_bind_text(insert, 1, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    const bool committed = sqlite3_exec(db, "commit", nullptr, nullptr, nullptr) == SQLITE_OK;
    return sqlite3_close(db) == SQLITE_OK && committed;
}

std::string Messages(const std::vector<QStringView>& keywords, long count) {
    std::mt19937 random(28);
    const auto pick = [&random](std::size_t bound) {
        return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random);
    };
    // The characters as often as the keywords use them: text of the list's own words, which
    // starts many partial matches, as real messages about the same things do.
    std::vector<QChar> characters;
    for (const QStringView keyword : keywords) {
        for (const QChar c : keyword) {
            if (!c.isSurrogate() && c != u' ') {
                characters.push_back(c);
            }
        }
    }
    std::string out;
    out.reserve(std::size_t(count) * (3 * kMessageLength + 1));
    for (long i = 0; i < count; ++i) {
        QString message;
        while (message.size() < kMessageLength) {
            message += pick(12) == 0 ? QChar(u' ') : characters[pick(characters.size())];
        }
        if (pick(20) == 0) {
            const QStringView keyword = keywords[pick(keywords.size())];
            const qsizetype at = qsizetype(pick(std::size_t(kMessageLength)));
            message.insert(at, keyword);
            message.truncate(kMessageLength);
        }
        out += message.toStdString();
        out += '\n';
    }
    return out;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fputs("usage: batch_messages LIST COUNT FOLDER\n", stderr);
        return 2;
    }
    const KeywordFileText list = ReadKeywordFile(QString::fromLocal8Bit(argv[1]));
    std::vector<QStringView> keywords;
    for (const QStringView line : SplitAtLineBreaks(list.text)) {
        if (!line.isEmpty()) {
            keywords.push_back(line);
        }
    }
    const QString folder = QString::fromLocal8Bit(argv[3]);
    QFile messages(folder + QStringLiteral("/messages.txt"));
    const std::string text = Messages(keywords, std::stol(argv[2]));
    if (!WriteKeyDatabase(keywords, folder + QStringLiteral("/key.mdb")) ||
        !messages.open(QIODevice::WriteOnly) ||
        messages.write(text.data(), qint64(text.size())) != qint64(text.size())) {
        std::fputs("batch_messages: could not write the files\n", stderr);
        return 1;
    }
    std::printf("%zu keywords, %s messages\n", keywords.size(), argv[2]);
    return 0;
}
