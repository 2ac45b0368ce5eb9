#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "store/Database.h"

struct sqlite3;

namespace vorelta::test {

// Lookup of one keyword; the keyword is bound to the parameter, never pasted into the text.
inline const QString kSelectByKeyname = QStringLiteral("select * from keys where keyname=?");

// A program directory of its own in a temporary folder, with or without a key.mdb.
class TempProgramDir {
public:
    TempProgramDir();
    // The program directory is a folder of this name inside the temporary folder.
    explicit TempProgramDir(const QString& folderName);

    const QString& path() const { return path_; }
    QString keyDatabase() const;
    bool hasKeyDatabase() const;

    // Creates key.mdb with table keys (keyname text) holding these rows, in this order.
    void createKeys(const std::vector<FieldValue>& rows);
    // Creates key.mdb from any schema, for unusual tables.
    void createWithSql(const std::string& sql);
    // Writes arbitrary bytes as key.mdb.
    void writeFile(const QByteArray& bytes);

    // Adds rows behind the program's back, as another program would.
    void insertKeys(const std::vector<FieldValue>& rows);
    // Runs statements on key.mdb behind the program's back, as another program would.
    void exec(const std::string& sql) const;
    // The first column of every row the query gives, as another program reads it.
    std::vector<FieldValue> column(const std::string& sql) const;
    // Every keyname in the table, in rowid order.
    std::vector<FieldValue> storedKeys() const;
    // key.mdb's bytes as they are now; empty when there is no such file.
    QByteArray fileBytes() const;
    // Names of the files in the program directory, key.mdb included.
    QStringList files() const;

private:
    QTemporaryDir dir_;
    QString path_;
};

// Makes `count` distinct keywords.
std::vector<FieldValue> NumberedKeywords(int count);

}  // namespace vorelta::test
