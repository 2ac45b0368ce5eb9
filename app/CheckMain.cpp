// vorelta-check: checks many messages at once, one per line of its input, against the keywords
// the program beside it uses, exactly as the window checks one message.
//
//   vorelta-check [--database PATH|CONNINFO] [--json] [FILE ...]
//
// Exit status: 0 when no message has a hit, 1 when one has, 2 on an error.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <limits>
#include <optional>
#include <utility>

#include "base/RuntimeError.h"
#include "base/Text.h"
#include "check/BatchCheck.h"
#include "store/Database.h"
#include "store/KeywordFile.h"
#include "store/Module1.h"

using namespace vorelta;

namespace {

enum ExitStatus { kClean = 0, kHits = 1, kError = 2 };

const char kHelp[] =
    "用法：vorelta-check [--database 路径|连接串] [--json] [文件 ...]\n"
    "\n"
    "逐行检测短信内容是否含有关键字，每行一条短信，检测方式与主窗口的“开 始 检 测”相同。\n"
    "没有文件或文件为 - 时读取标准输入。文件的编码与关键字导入相同：\n"
    "有字节顺序标记时按标记，否则是 UTF-8 就按 UTF-8，不是就按 GB18030。\n"
    "\n"
    "  --database 路径|连接串  使用这个关键字库：key.mdb 文件的路径，或 PostgreSQL 的\n"
    "                         连接串（host=... dbname=... 或 postgresql://...）。\n"
    "                         不指定时与程序相同：先看 vorelta.conf，再用程序旁的 key.mdb。\n"
    "  --json                 每条短信输出一行 JSON：{\"line\": 行号, \"message\": "
    "规范化后的内容,\n"
    "                         \"verdict\": \"clean\"|\"hits\"|\"empty\", \"hits\": [...],\n"
    "                         \"near_misses\": [{\"written\": ..., \"keyword\": ...}]}\n"
    "  --help                 显示本说明\n"
    "\n"
    "退出状态：0 没有短信含有关键字；1 有短信含有关键字；2 出错（错误说明写到标准错误）。\n";

struct Command {
    std::optional<QString> database;
    bool json = false;
    bool help = false;
    QStringList inputs;
};

void PrintError(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    std::fprintf(stderr, "vorelta-check: %s\n", shown.toUtf8().constData());
}

// Options may come in any order before or between the files; "--" ends them.
std::optional<Command> ParseCommand(const QStringList& arguments) {
    Command command;
    bool options = true;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!options || argument == u"-" || !argument.startsWith(u'-')) {
            command.inputs << argument;
        } else if (argument == u"--") {
            options = false;
        } else if (argument == u"--json") {
            command.json = true;
        } else if (argument == u"--help" || argument == u"-h") {
            command.help = true;
        } else if (argument == u"--database" && i + 1 < arguments.size()) {
            command.database = arguments[++i];
        } else if (argument.startsWith(u"--database=")) {
            command.database = argument.sliced(11);
        } else {
            PrintError(argument == u"--database"
                           ? QStringLiteral(u"--database 后面缺少关键字库的路径或连接串。")
                           : QStringLiteral(u"不认识的选项“%1”。").arg(argument));
            std::fputs("用法见 vorelta-check --help\n", stderr);
            return std::nullopt;
        }
    }
    return command;
}

// A libpq connection string has "name=value" pieces or is a URI; anything else names a file.
// An existing file is a file whatever its name holds.
bool NamesServer(const QString& database) {
    if (database.startsWith(u"postgresql://") || database.startsWith(u"postgres://")) {
        return true;
    }
    return database.contains(u'=') && !QFileInfo::exists(database);
}

// Read only: the check writes nothing, and so works on a key.mdb installed for all users.
DataSource ReadOnlyDataSource(const std::optional<QString>& database, const QString& appPath) {
    DataSource source;
    if (!database) {
        source = KeyDataSource(appPath);
    } else if (NamesServer(*database)) {
        source = {DataSource::Kind::Server, *database};
    } else {
        source = {DataSource::Kind::File, QDir::toNativeSeparators(*database)};
    }
    source.readOnly = true;
    return source;
}

// As the window's start-up reports it: "实时错误 'N':", a blank line, the description, and for a
// file where the keywords were looked for.
QString StoreErrorText(const RuntimeError& error, const std::optional<QString>& database,
                       const QString& appPath) {
    QString where;
    if (!database) {
        where = KeyStoreLocation(appPath);
    } else if (!NamesServer(*database)) {
        where = QDir::toNativeSeparators(QFileInfo(*database).absoluteFilePath());
    }
    return QStringLiteral(u"实时错误 '%1':\n\n%2").arg(error.number()).arg(error.description()) +
           (where.isEmpty() ? QString() : QStringLiteral("\n\n") + where);
}

// The messages of one input, decoded as the keyword import decodes a file; the import's texts
// for what cannot be read.
KeywordFileText ReadInput(const QString& input) {
    const bool standardInput = input == u"-";
    const QString name = standardInput ? QStringLiteral(u"标准输入") : input;
    int fd = STDIN_FILENO;
    if (!standardInput) {
        fd = ::open(QFile::encodeName(input).constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            throw RuntimeError(75, QStringLiteral(u"无法读取文件“%1”。").arg(name));
        }
    }
    struct stat status {};
    const bool folder = ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
    std::optional<QByteArray> bytes;
    if (!folder) {
        bytes = ReadUpTo(fd, S_ISREG(status.st_mode) ? status.st_size : 0,
                         std::numeric_limits<qint64>::max() - 1);
    }
    if (!standardInput) {
        ::close(fd);
    }
    if (folder) {
        throw RuntimeError(75, QStringLiteral(u"“%1”是文件夹，不是文本文件。").arg(name));
    }
    if (!bytes) {
        throw RuntimeError(75, QStringLiteral(u"无法读取文件“%1”。").arg(name));
    }
    std::optional<KeywordFileText> text = DecodeKeywordFile(*bytes);
    if (!text) {
        throw RuntimeError(75, QStringLiteral(u"“%1”不是文本文件。").arg(name));
    }
    return *std::move(text);
}

// A line on standard error that counts the messages checked, at most a few times a second; on
// a terminal only, and only for inputs long enough to wait for.
class ProgressLine {
public:
    explicit ProgressLine(bool shown) : shown_(shown) {}

    void show(std::int64_t done, std::int64_t total) {
        const auto now = std::chrono::steady_clock::now();
        if (!shown_ || total < 100000 || now - last_ < std::chrono::milliseconds(200)) {
            return;
        }
        last_ = now;
        drawn_ = true;
        std::fprintf(stderr, "\r已检测 %lld / %lld 条", static_cast<long long>(done),
                     static_cast<long long>(total));
        std::fflush(stderr);
    }

    void clear() {
        if (std::exchange(drawn_, false)) {
            std::fputs("\r\033[K", stderr);
        }
    }

private:
    bool shown_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_{};
};

struct Output {
    bool failed = false;
    void write(const QByteArray& bytes) {
        if (!failed && std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout) !=
                           std::size_t(bytes.size())) {
            failed = true;
        }
    }
};

int Run(const Command& command, const QString& appPath) {
    const std::optional<QString>& database = command.database;
    Connection connection;
    Recordset keys;
    try {
        connection.Open(ReadOnlyDataSource(database, appPath));
        keys.Open(sql::kSelectAllKeys, connection, adLockReadOnly);
        keys.Column(kKeynameField);
    } catch (const RuntimeError& error) {
        PrintError(StoreErrorText(error, database, appPath));
        return kError;
    }
    const std::vector<FieldValue>& keywords = keys.Column(kKeynameField);

    const QStringList inputs =
        command.inputs.isEmpty() ? QStringList{QStringLiteral("-")} : command.inputs;
    BatchOptions options{command.json, {}, UsableCores()};
    Output output;
    ProgressLine progress(::isatty(STDERR_FILENO) == 1);
    BatchCounts counts;
    bool failed = false;
    for (const QString& input : inputs) {
        options.inputName = inputs.size() > 1 ? input : QString();
        try {
            const KeywordFileText text = ReadInput(input);
            counts += CheckMessages(
                keywords, SplitAtLineBreaks(text.text), options,
                [&output](const QByteArray& lines) { output.write(lines); },
                [&progress](std::int64_t done, std::int64_t total) { progress.show(done, total); });
            progress.clear();
            if (text.linesWithBadBytes > 0) {
                PrintError(QStringLiteral(u"“%1”中有%2行含有无法识别的字节，已按 � 检测。")
                               .arg(input == u"-" ? QStringLiteral(u"标准输入") : input)
                               .arg(text.linesWithBadBytes));
            }
        } catch (const RuntimeError& error) {
            progress.clear();
            PrintError(error.description());
            failed = true;
        } catch (const std::bad_alloc&) {
            progress.clear();
            PrintError(QStringLiteral(u"实时错误 '7':\n\n内存溢出"));
            return kError;
        }
    }
    // A summary of part of the input would pass for the whole: none after an input failed.
    if (!command.json && !failed) {
        output.write((SummaryText(counts) + u'\n').toUtf8());
    }
    if (std::fflush(stdout) != 0 || output.failed) {
        PrintError(QStringLiteral(u"无法写入标准输出。"));
        return kError;
    }
    if (failed) {
        return kError;
    }
    return counts.withHits > 0 ? kHits : kClean;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const std::optional<Command> command = ParseCommand(QCoreApplication::arguments());
    if (!command) {
        return kError;
    }
    if (command->help) {
        std::fputs(kHelp, stdout);
        return kClean;
    }
    static char buffer[1 << 20];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    return Run(*command, QCoreApplication::applicationDirPath());
}
