// Keyword list files, read and written: any bytes decode without a fault into lines joined by
// CR LF, each bad byte's line counted; and the lines exported and imported again come back
// exactly, but for a NUL, which the export writes as U+FFFD.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "base/Text.h"
#include "fuzz/FuzzInput.h"
#include "store/KeywordFile.h"

using namespace vorelta;

namespace {

// On a memory file system where there is one that this user may write: the export waits for the
// disk.
QString ExportPath() {
    const QFileInfo memory(QStringLiteral("/dev/shm"));
    const QString folder =
        memory.isDir() && memory.isWritable() ? memory.filePath() : QDir::tempPath();
    return folder + QStringLiteral("/vorelta-keyword-file-fuzz-%1.txt")
                        .arg(QCoreApplication::applicationPid());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<KeywordFileText> decoded =
        DecodeKeywordFile(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!decoded) {
        return 0;  // a NUL without a byte order mark: no text
    }
    const std::vector<QStringView> lines = SplitAtLineBreaks(decoded->text);
    fuzz::Require(decoded->linesWithBadBytes >= 0 &&
                  std::size_t(decoded->linesWithBadBytes) <= lines.size());
    std::vector<FieldValue> keywords;
    for (const QStringView line : lines) {
        fuzz::Require(!line.contains(u'\r') && !line.contains(u'\n'));
        keywords.push_back(line.toString());
    }
    // Removed when the run ends.
    static const struct ExportFile {
        QString path = ExportPath();
        ~ExportFile() { QFile::remove(path); }
    } file;
    const QString& path = file.path;
    WriteKeywordFile(path, keywords);
    QString expected = decoded->text;
    expected.replace(QChar(0), QChar::ReplacementCharacter);
    fuzz::Require(ReadKeywordFile(path).text == expected);
    return 0;
}
