#include "store/KeywordFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <utility>

#include "base/Text.h"
#include "store/TextCodec.h"

namespace vorelta {

// A file may grow while it is read, and the system may not know its size beforehand.
std::optional<QByteArray> ReadUpTo(int fd, qint64 expectedSize, qint64 sizeLimit) {
    constexpr qint64 kStep = 64 * 1024;
    QByteArray bytes(qsizetype(std::min(expectedSize, sizeLimit) + 1), Qt::Uninitialized);
    qsizetype filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (filled > sizeLimit) {
                break;
            }
            bytes.resize(qsizetype(std::min(sizeLimit + 1, std::max(2 * qint64(filled), kStep))));
        }
        const ssize_t got = ::read(fd, bytes.data() + filled, std::size_t(bytes.size() - filled));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        filled += got;
    }
    bytes.truncate(filled);
    return bytes;
}

namespace {

constexpr int kFileError = 75;  // the runtime's "path/file access error"
constexpr qint64 kMegabyte = qint64(1) << 20;
constexpr QChar kReplacement = QChar::ReplacementCharacter;

RuntimeError FileError(const QString& why, const QString& path) {
    return RuntimeError(kFileError, why.arg(QDir::toNativeSeparators(path)));
}

// Rounded up, so that a file just over the limit does not read as the limit itself.
qint64 Megabytes(qint64 bytes) {
    return (bytes + kMegabyte - 1) / kMegabyte;
}

// ---- Lines ----

// A character of a text or a byte of a file.
template <class Unit>
bool IsLineBreak(Unit c) {
    return c == u'\r' || c == u'\n';
}

// Calls `onLine` for each line: LF, CR and CR LF all end one, and a break at the very end ends
// the last line rather than starting an empty one.
template <class View, class OnLine>
void ForEachLine(View text, OnLine onLine) {
    const qsizetype end = text.size();
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < end; ++i) {
        if (!IsLineBreak(text[i])) {
            continue;
        }
        onLine(text.sliced(lineStart, i - lineStart));
        if (text[i] == u'\r' && i + 1 < end && text[i + 1] == u'\n') {
            ++i;
        }
        lineStart = i + 1;
    }
    if (lineStart < end) {
        onLine(text.sliced(lineStart));
    }
}

// The lines of a file one after another, each break CR LF.
class LineJoiner {
public:
    explicit LineJoiner(qsizetype sizeHint) { text_.reserve(sizeHint + sizeHint / 8); }

    void add(QStringView line, bool hadBadBytes) {
        if (lines_++ > 0) {
            text_ += kLineBreak;
        }
        text_ += line;
        lastLineBad_ = hadBadBytes;
        badLines_ += hadBadBytes ? 1 : 0;
    }

    void markLastLineBad() {
        if (!std::exchange(lastLineBad_, true)) {
            ++badLines_;
        }
    }

    KeywordFileText take() && { return {std::move(text_), badLines_}; }

private:
    QString text_;
    qsizetype lines_ = 0;
    int badLines_ = 0;
    bool lastLineBad_ = false;
};

KeywordFileText WithCrLfLineBreaks(QStringView text) {
    LineJoiner joiner(text.size());
    ForEachLine(text, [&](QStringView line) { joiner.add(line, false); });
    return std::move(joiner).take();
}

// ---- Encodings ----

// Stateless: the bytes are the whole file. A U+FEFF after the byte order mark is a character
// of the first keyword (a zero-width no-break space), not a second mark to drop.
constexpr QStringConverter::Flags kDecoding =
    QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom;

// The decoders report only that some bytes were no character, not where: only lines decoded
// one by one tell which had them. A line break byte is never part of a character in UTF-8 or
// GB18030, so the lines decode as the whole file would.
template <class DecodeLine>
KeywordFileText DecodedByLine(QByteArrayView bytes, DecodeLine decodeLine) {
    LineJoiner joiner(bytes.size());
    ForEachLine(bytes, [&](QByteArrayView line) {
        bool bad = false;
        const QString text = decodeLine(line, bad);
        joiner.add(text, bad);
    });
    return std::move(joiner).take();
}

QString DecodeUtf8Line(QByteArrayView line, bool& bad) {
    QStringDecoder decoder(QStringConverter::Utf8, kDecoding);
    QString text = decoder(line);
    bad = decoder.hasError();
    return text;
}

QString DecodeGb18030Line(QByteArrayView line, bool& bad) {
    // A line break after the line: the decoder drops a character cut off at the end of its
    // input without a U+FFFD for it, but not one cut off by the next character.
    QByteArray withBreak;
    withBreak.reserve(line.size() + 1);
    withBreak.append(line).append('\n');
    QStringDecoder decoder("GB18030", QStringConverter::Flag::Stateless);
    QString text = decoder(withBreak);
    bad = decoder.hasError();
    text.chop(1);
    return text;
}

// How many bytes at the end start a UTF-8 character that the bytes do not finish: 0 to 3.
qsizetype CutCharacterLength(QByteArrayView bytes) {
    for (qsizetype length = 1; length <= std::min<qsizetype>(3, bytes.size()); ++length) {
        const auto byte = static_cast<unsigned char>(bytes[bytes.size() - length]);
        if ((byte & 0xC0) == 0x80) {
            continue;  // a continuation byte: the start is further back
        }
        const qsizetype needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 ? 2 : 1;
        return byte <= 0xF4 && length < needed ? length : 0;
    }
    return 0;
}

bool IsAscii(QByteArrayView bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; });
}

// The bytes as UTF-8 if they are UTF-8 but perhaps for a character cut off at the end, as of a
// file still being written or a copy broken off; the cut character reads as one U+FFFD.
// Without a byte order mark UTF-8 characters must come before the cut one: a plain ASCII text
// may end in a GB18030 character whose two bytes start a UTF-8 one.
std::optional<KeywordFileText> AsUtf8(QByteArrayView bytes, bool marked) {
    const qsizetype cut = CutCharacterLength(bytes);
    const QByteArrayView whole = bytes.first(bytes.size() - cut);
    if (cut > 0 && !marked && IsAscii(whole)) {
        return std::nullopt;
    }
    QStringDecoder decoder(QStringConverter::Utf8, kDecoding);
    QString text = decoder(whole);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    if (cut == 0) {
        return WithCrLfLineBreaks(text);
    }
    text += kReplacement;
    KeywordFileText result = WithCrLfLineBreaks(text);
    result.linesWithBadBytes = 1;
    return result;
}

KeywordFileText FromMarkedUtf8(QByteArrayView bytes) {
    if (std::optional<KeywordFileText> text = AsUtf8(bytes, true)) {
        return *std::move(text);
    }
    return DecodedByLine(bytes, DecodeUtf8Line);
}

KeywordFileText FromGb18030(QByteArrayView bytes) {
    QStringDecoder decoder("GB18030", QStringConverter::Flag::Stateless);
    const QString text = decoder(bytes);
    if (!decoder.hasError()) {
        return WithCrLfLineBreaks(text);
    }
    return DecodedByLine(bytes, DecodeGb18030Line);
}

// The UTF-16 decoder passes a lone surrogate through and reports no odd byte at the end: both
// are bad bytes all the same.
KeywordFileText FromUtf16(QStringConverter::Encoding encoding, QByteArrayView bytes) {
    const bool oddByte = bytes.size() % 2 != 0;
    QStringDecoder decoder(encoding, kDecoding);
    QString text = decoder(bytes.first(bytes.size() - (oddByte ? 1 : 0)));
    if (oddByte) {
        text += kReplacement;
    } else if (LoneSurrogateAt(text) < 0) {
        return WithCrLfLineBreaks(text);
    }
    LineJoiner joiner(text.size());
    ForEachLine(QStringView(text), [&](QStringView line) {
        QString checked = line.toString();
        const bool bad = LoneSurrogateAt(checked) >= 0;
        for (qsizetype at = 0; (at = LoneSurrogateAt(checked, at)) >= 0; ++at) {
            checked[at] = kReplacement;
        }
        joiner.add(checked, bad);
    });
    if (oddByte) {
        joiner.markLastLineBad();
    }
    return std::move(joiner).take();
}

// ---- Reading ----

// A descriptor closed when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes it now: some file systems report a failed write only here.
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

QString KindOfSpecialFile(mode_t mode) {
    if (S_ISFIFO(mode)) {
        return QStringLiteral(u"命名管道（FIFO）");
    }
    if (S_ISCHR(mode)) {
        return QStringLiteral(u"字符设备");
    }
    if (S_ISBLK(mode)) {
        return QStringLiteral(u"块设备");
    }
    if (S_ISSOCK(mode)) {
        return QStringLiteral(u"套接字");
    }
    return QStringLiteral(u"特殊文件");
}

// Only a regular file ends, and opens without waiting for another program.
void RefuseUnlessRegularWithin(const struct stat& status, qint64 sizeLimit, const QString& path) {
    if (S_ISDIR(status.st_mode)) {
        throw FileError(QStringLiteral(u"“%1”是文件夹，不是文本文件。"), path);
    }
    if (!S_ISREG(status.st_mode)) {
        throw RuntimeError(kFileError, QStringLiteral(u"“%1”是%2，不是文本文件。")
                                           .arg(QDir::toNativeSeparators(path),
                                                KindOfSpecialFile(status.st_mode)));
    }
    if (status.st_size > sizeLimit) {
        throw RuntimeError(kFileError,
                           QStringLiteral(u"“%1”有%2 MB，超过可导入的上限%3 MB，未导入。")
                               .arg(QDir::toNativeSeparators(path))
                               .arg(Megabytes(status.st_size))
                               .arg(Megabytes(sizeLimit)));
    }
}

QByteArray ReadRegularFile(const QString& path, qint64 sizeLimit) {
    const QByteArray name = QFile::encodeName(path);
    struct stat status {};
    if (::stat(name.constData(), &status) != 0) {
        throw FileError(QStringLiteral(u"无法读取文件“%1”。"), path);
    }
    RefuseUnlessRegularWithin(status, sizeLimit, path);
    // Without waiting, should another program have put a FIFO in the file's place meanwhile;
    // what was opened is checked again.
    FileDescriptor file(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.valid() || ::fstat(file.get(), &status) != 0) {
        throw FileError(QStringLiteral(u"无法读取文件“%1”。"), path);
    }
    RefuseUnlessRegularWithin(status, sizeLimit, path);
    std::optional<QByteArray> bytes = ReadUpTo(file.get(), status.st_size, sizeLimit);
    if (!bytes) {
        throw FileError(QStringLiteral(u"无法读取文件“%1”。"), path);
    }
    if (bytes->size() > sizeLimit) {
        throw RuntimeError(kFileError, QStringLiteral(u"“%1”超过可导入的上限%2 MB，未导入。")
                                           .arg(QDir::toNativeSeparators(path))
                                           .arg(Megabytes(sizeLimit)));
    }
    return *std::move(bytes);
}

// ---- Writing ----

// Whether a keyword comes back from a line of the file as it is stored.
bool SurvivesALine(QStringView keyword) {
    return !keyword.isEmpty() && TrimBlanks(keyword).size() == keyword.size() &&
           !keyword.contains(u'\r') && !keyword.contains(u'\n') && !keyword.contains(QChar(0)) &&
           LoneSurrogateAt(keyword) < 0;
}

// The file's bytes; returns how many keywords would not come back from them as they are.
int EncodeKeywords(const std::vector<FieldValue>& keywords, std::string& bytes) {
    // One buffer for the whole list: a million keywords, one allocation.
    bytes = "\xEF\xBB\xBF";
    std::size_t units = 0;
    for (const FieldValue& keyword : keywords) {
        units += std::size_t(keyword ? keyword->size() : 0) + 2;
    }
    bytes.reserve(3 + 3 * units);
    QSet<QStringView> written;
    written.reserve(qsizetype(keywords.size()));
    int changed = 0;
    for (const FieldValue& keyword : keywords) {
        const QStringView text = keyword ? QStringView(*keyword) : QStringView();
        if (text.contains(QChar(0))) {
            // Most programs take a file with a NUL for no text, and so does the import here
            // when the file has no byte order mark.
            AppendUtf8(text.toString().replace(QChar(0), kReplacement), bytes);
        } else {
            AppendUtf8(text, bytes);
        }
        bytes += "\r\n";
        const qsizetype before = written.size();
        if (!SurvivesALine(text) || (written.insert(text), written.size() == before)) {
            ++changed;
        }
    }
    return changed;
}

bool WriteAll(int fd, const std::string& bytes) {
    const char* at = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t wrote = ::write(fd, at, left);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        at += wrote;
        left -= std::size_t(wrote);
    }
    return true;
}

bool WriteAndClose(FileDescriptor& file, const std::string& bytes) {
    return WriteAll(file.get(), bytes) && ::fsync(file.get()) == 0 && file.close();
}

// The file a path names through any symbolic links: an export over a link writes the file it
// points to, and the link stays.
QByteArray TargetOf(const QString& path) {
    const QString target = QFileInfo(path).canonicalFilePath();  // empty if there is none yet
    return QFile::encodeName(target.isEmpty() ? path : target);
}

// A new file beside the target, only the user's until it has the mode meant for it.
FileDescriptor CreateBeside(const QByteArray& target, mode_t mode, QByteArray& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = target + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return FileDescriptor(fd);
        }
    }
    return FileDescriptor(-1);
}

// The owner, group and mode of the file replaced, as far as the user may set them: the owner
// only with privileges, the group only as a member of it. Whatever is refused stays as any
// new file of the user's would be, its mode no wider than the replaced file's.
void TakeOwnerAndMode(int fd, const struct stat& replaced) {
    if (::fchown(fd, replaced.st_uid, replaced.st_gid) != 0) {
        (void)::fchown(fd, uid_t(-1), replaced.st_gid);
    }
    // After the owner: a change of owner clears the set-user-ID and set-group-ID bits.
    (void)::fchmod(fd, replaced.st_mode & 07777);
}

// Whole or not at all: the list goes to a new file that is renamed over the target once
// complete.
bool ReplaceWhole(const QByteArray& target, const struct stat* replaced, const std::string& bytes) {
    QByteArray temporary;
    FileDescriptor file = CreateBeside(target, replaced ? S_IRUSR | S_IWUSR : 0666, temporary);
    if (!file.valid()) {
        return false;
    }
    if (replaced) {
        TakeOwnerAndMode(file.get(), *replaced);
    }
    const bool written =
        WriteAndClose(file, bytes) && ::rename(temporary.constData(), target.constData()) == 0;
    if (!written) {
        ::unlink(temporary.constData());
    }
    return written;
}

// A file with other hard links is written where it is, so that all its names stay one file.
// Not whole or not at all: a write that fails partway leaves the file cut short.
bool WriteInPlace(const QByteArray& target, const std::string& bytes) {
    FileDescriptor file(::open(target.constData(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC));
    return file.valid() && WriteAndClose(file, bytes);
}

}  // namespace

std::optional<KeywordFileText> DecodeKeywordFile(QByteArrayView bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        return FromMarkedUtf8(bytes.sliced(3));
    }
    if (bytes.startsWith("\xFF\xFE")) {
        return FromUtf16(QStringConverter::Utf16LE, bytes.sliced(2));
    }
    if (bytes.startsWith("\xFE\xFF")) {
        return FromUtf16(QStringConverter::Utf16BE, bytes.sliced(2));
    }
    if (bytes.contains('\0')) {
        return std::nullopt;
    }
    if (std::optional<KeywordFileText> text = AsUtf8(bytes, false)) {
        return text;
    }
    return FromGb18030(bytes);
}

KeywordFileText ReadKeywordFile(const QString& path, qint64 sizeLimit) {
    std::optional<KeywordFileText> text = DecodeKeywordFile(ReadRegularFile(path, sizeLimit));
    if (!text) {
        throw FileError(QStringLiteral(u"“%1”不是文本文件。"), path);
    }
    return *std::move(text);
}

int WriteKeywordFile(const QString& path, const std::vector<FieldValue>& keywords) {
    std::string bytes;
    const int changed = EncodeKeywords(keywords, bytes);
    const QByteArray target = TargetOf(path);
    struct stat existing {};
    const bool replaces = ::stat(target.constData(), &existing) == 0 && S_ISREG(existing.st_mode);
    const bool written = replaces && existing.st_nlink > 1
                             ? WriteInPlace(target, bytes)
                             : ReplaceWhole(target, replaces ? &existing : nullptr, bytes);
    if (!written) {
        throw FileError(QStringLiteral(u"无法写入文件“%1”。"), path);
    }
    return changed;
}

}  // namespace vorelta
