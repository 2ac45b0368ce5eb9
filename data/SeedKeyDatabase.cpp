// Makes a key.mdb from a keyword list, only where no key.mdb is yet.
//
//   seed_key_mdb [--if-missing] <keywords.txt> <key.mdb>
//
// An existing key.mdb is never touched: the new file is written under a temporary name and
// copied into place only if the name is still free. Where one exists, the tool says so and
// fails, since the user's list went nowhere; with --if-missing (the build's starter key.mdb)
// it does nothing and succeeds.

#include <sqlite3.h>

#include <QList>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "base/Text.h"
#include "store/KeywordFile.h"

namespace fs = std::filesystem;

namespace {

// The keywords of a list file, read as the keyword manager imports files (any of the usual
// encodings, byte order mark or not) and stored as it stores typed lines: without the blanks
// around them (checks remove every blank from a message, so a keyword with one is never found),
// blank lines skipped. Lines starting with '#' are comments.
std::vector<std::string> ReadKeywords(const fs::path& listPath) {
    std::vector<std::string> keywords;
    const QString text = vorelta::ReadKeywordFile(QString::fromStdString(listPath.string())).text;
    for (const QStringView line : QStringView(text).split(u"\r\n")) {
        const QStringView keyword = vorelta::TrimBlanks(line);
        if (!keyword.isEmpty() && keyword.front() != u'#') {
            keywords.push_back(keyword.toUtf8().toStdString());
        }
    }
    return keywords;
}

void Check(sqlite3* db, int rc) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE) {
        throw std::runtime_error(sqlite3_errmsg(db));
    }
}

void WriteDatabase(const fs::path& path, const std::vector<std::string>& keywords) {
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    try {
        Check(db, rc);
        Check(db, sqlite3_exec(db, "create table keys (keyname text); begin", nullptr, nullptr,
                               nullptr));
        sqlite3_stmt* insert = nullptr;
        Check(db, sqlite3_prepare_v2(db, "insert into keys (keyname) values (?)", -1, &insert,
                                     nullptr));
        for (const std::string& keyword : keywords) {
            sqlite3_bind_text(insert, 1, keyword.data(), int(keyword.size()), SQLITE_TRANSIENT);
            Check(db, sqlite3_step(insert));
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        Check(db, sqlite3_exec(db, "commit", nullptr, nullptr, nullptr));
    } catch (...) {
        sqlite3_close(db);
        throw;
    }
    sqlite3_close(db);
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const bool ifMissing = !arguments.empty() && arguments.front() == "--if-missing";
    if (ifMissing) {
        arguments.erase(arguments.begin());
    }
    if (arguments.size() != 2) {
        std::cerr << "usage: seed_key_mdb [--if-missing] <keywords.txt> <key.mdb>\n";
        return 2;
    }
    const fs::path list = arguments[0];
    const fs::path target = arguments[1];
    if (fs::exists(fs::symlink_status(target))) {
        if (ifMissing) {
            return 0;
        }
        std::cerr << "seed_key_mdb: " << target.string()
                  << " exists already and is never overwritten; nothing was stored.\n"
                  << "To add the list's keywords to it, open Vorelta's keyword manager, choose "
                     "从文件导入… in the box's menu, then 插入关键字到数据库.\n";
        return 1;
    }
    const fs::path temporary = target.string() + ".new";
    try {
        fs::remove(temporary);
        const std::vector<std::string> keywords = ReadKeywords(list);
        WriteDatabase(temporary, keywords);
        // Without overwrite options the copy fails if the name was taken meanwhile.
        fs::copy_file(temporary, target, fs::copy_options::none);
        fs::remove(temporary);
        std::cout << "Created " << target.string() << " with " << keywords.size()
                  << " keywords from " << list.string() << '\n';
    } catch (const vorelta::RuntimeError& error) {
        fs::remove(temporary);
        std::cerr << "seed_key_mdb: " << error.description().toStdString() << '\n';
        return 1;
    } catch (const std::exception& error) {
        fs::remove(temporary);
        std::cerr << "seed_key_mdb: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
