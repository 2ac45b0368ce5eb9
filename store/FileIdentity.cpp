#include "store/FileIdentity.h"

#include <sys/stat.h>
#include <sys/statfs.h>

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

// File times are stamped in ticks: a few milliseconds on most local file systems, but a whole
// second on ext2 and ext3, on ext4 with 128-byte inodes and on ReiserFS, and statfs does not
// tell these apart (ext2 and ext3 share ext4's magic number). A later write in the same tick
// could leave the identity as it is, so a time within the last second proves nothing on any
// file system.
bool MayChangeUnseen(const FileIdentity& identity) {
    constexpr std::int64_t kCoarsestTickNs = 1'000'000'000;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t tickStart = Nanoseconds(now) - kCoarsestTickNs;
    return identity.modifiedNs > tickStart || identity.changedNs > tickStart;
}

RuntimeError FileGone(const QString& path, int error) {
    if (error == ENOENT || error == ENOTDIR) {
        return RuntimeError(adErrFileNotFound, QStringLiteral(u"找不到关键字库文件 ") + path);
    }
    return RuntimeError(adErrFileNotFound, QStringLiteral(u"无法访问关键字库文件 ") + path);
}

bool TimesProveIdentityOn(long fileSystemType) {
    // Local file systems that stamp every change, as Linux's magic numbers. Most keep times in
    // nanoseconds; those with one-second times are covered by MayChangeUnseen.
    switch (static_cast<unsigned long>(fileSystemType) & 0xFFFFFFFFu) {
        case 0xEF53:      // ext2, ext3 (one-second times) and ext4 (one-second with small inodes)
        case 0x58465342:  // XFS
        case 0x9123683E:  // Btrfs
        case 0x01021994:  // tmpfs
        case 0x794C7630:  // overlayfs
        case 0x2FC12FC1:  // ZFS
        case 0xF2F52010:  // F2FS
        case 0x3153464A:  // JFS
        case 0x52654973:  // ReiserFS (one-second times)
            return true;
        default:
            return false;
    }
}

bool TimesProveIdentity(const QString& path) {
    struct statfs info {};
    return ::statfs(QFile::encodeName(path).constData(), &info) == 0 &&
           TimesProveIdentityOn(long(info.f_type));
}

RuntimeError FileKeptChanging(const QString& path) {
    return RuntimeError(
        adErrFileReplaced,
        QStringLiteral(u"关键字库文件在打开期间一再被替换，请稍后再试。\r\n\r\n") + path);
}

RuntimeError WrittenToAReplacedFile(const QString& path) {
    return RuntimeError(adErrFileReplaced,
                        QStringLiteral(u"写入期间 key.mdb 被替换，这次的更改没有存入现在的 "
                                       u"key.mdb，请再试一次。\r\n\r\n") +
                            path);
}

}  // namespace vorelta
