#include "store/FileIdentity.h"

#include <sys/stat.h>

#include <QFile>
#include <cerrno>
#include <ctime>

#include "store/Database.h"

namespace vorelta {

namespace {

std::int64_t Nanoseconds(const timespec& time) {
    return std::int64_t(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

}  // namespace

std::optional<FileIdentity> IdentityOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return FileIdentity{std::uint64_t(info.st_dev), std::uint64_t(info.st_ino),
                        std::int64_t(info.st_size), Nanoseconds(info.st_mtim),
                        Nanoseconds(info.st_ctim)};
}

// File times are stamped from a clock that advances in ticks of a few milliseconds. A time that
// is not older than the current tick may be shared by a later write in the same tick, which
// the file's identity would then not show: such an identity proves nothing.
bool MayChangeUnseen(const FileIdentity& identity) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    const std::int64_t tick = Nanoseconds(now);
    return identity.modifiedNs >= tick || identity.changedNs >= tick;
}

RuntimeError FileGone(const QString& path, int error) {
    if (error == ENOENT || error == ENOTDIR) {
        return RuntimeError(adErrFileNotFound, QStringLiteral(u"找不到关键字库文件 ") + path);
    }
    return RuntimeError(adErrFileNotFound, QStringLiteral(u"无法访问关键字库文件 ") + path);
}

}  // namespace vorelta
