#pragma once

// A small INI reader for vorelta.conf, strict where QSettings is lenient: a file that a person
// wrote by hand either reads as they meant it or says where it does not.
//
// - The text is UTF-8, with or without a byte order mark, or UTF-16 with one.
// - A line is blank, a comment (its first character past the blanks is ';' or '#'), a section
//   "[name]" or a setting "name=value". Anything else is refused by its line number.
// - A ';' or '#' after a blank, outside '...' or "...", starts a comment that runs to the end of
//   the line; within quotes (a backslash escaping the next character) or straight after other
//   text it belongs to the value: "application_name='a;b'", "password=x;y". The quotes are
//   libpq's own, so a connection string reads as libpq reads it.
// - Names and values lose their outer blanks. A value wholly inside double quotes loses them.
//   Nothing else is unescaped and nothing is split: "host=a,b" stays one value.
// - Names are given as written; the caller compares them regardless of case.

#include <QByteArray>
#include <QString>
#include <vector>

namespace vorelta {

struct IniLine {
    enum Kind { Section, Setting };
    Kind kind;
    int number;  // from 1, as an editor counts
    QString name;
    QString value;  // settings only
};

// What is wrong with a file, and on which line (0: the file as a whole).
struct IniError {
    int line;
    QString why;
};

// The file's sections and settings in their order. Throws IniError.
std::vector<IniLine> ReadIni(const QByteArray& bytes);

}  // namespace vorelta
