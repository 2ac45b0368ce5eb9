// Makes the starter key.mdb from a keyword list, only when no key.mdb is there yet.
//
//   seed_key_mdb <keywords.txt> <key.mdb>
//
// An existing key.mdb is never touched: the new file is written under a temporary name and
// copied into place only if the name is still free.

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The line without the blanks around it, as the keyword manager stores a typed line: checks
// remove every blank from a message, so a keyword with one could never be found.
std::string_view TrimBlanks(std::string_view line) {
    const std::size_t begin = line.find_first_not_of(' ');
    if (begin == std::string_view::npos) {
        return {};
    }
    return line.substr(begin, line.find_last_not_of(' ') - begin + 1);
}

std::vector<std::string> ReadKeywords(const fs::path& listPath) {
    std::ifstream in(listPath);
    if (!in) {
        throw std::runtime_error("cannot read " + listPath.string());
    }
    std::vector<std::string> keywords;
    bool firstLine = true;
    for (std::string line; std::getline(in, line); firstLine = false) {
        // Editors on Windows start a UTF-8 file with a byte order mark; it is no keyword's.
        if (firstLine && line.starts_with("\xEF\xBB\xBF")) {
            line.erase(0, 3);
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::string_view keyword = TrimBlanks(line);
        if (!keyword.empty() && keyword.front() != '#') {
            keywords.emplace_back(keyword);
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
    if (argc != 3) {
        std::cerr << "usage: seed_key_mdb <keywords.txt> <key.mdb>\n";
        return 2;
    }
    const fs::path target = argv[2];
    if (fs::exists(fs::symlink_status(target))) {
        return 0;
    }
    const fs::path temporary = target.string() + ".new";
    try {
        fs::remove(temporary);
        WriteDatabase(temporary, ReadKeywords(argv[1]));
        // Without overwrite options the copy fails if the name was taken meanwhile.
        fs::copy_file(temporary, target, fs::copy_options::none);
        fs::remove(temporary);
        std::cout << "Created " << target.string() << " with the starter keywords\n";
    } catch (const std::exception& error) {
        fs::remove(temporary);
        std::cerr << "seed_key_mdb: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
