#pragma once

// The file behind key.mdb's name as the operating system tells it: the only place the store
// asks the file system itself.

#include <QString>
#include <cstdint>
#include <optional>

#include "base/RuntimeError.h"

namespace vorelta {

// What tells one state of a file from another without reading it: the file behind the name,
// and its size and times, which every write changes.
struct FileIdentity {
    std::uint64_t device = 0, inode = 0;
    std::int64_t size = 0, modifiedNs = 0, changedNs = 0;
    bool operator==(const FileIdentity&) const = default;
    // The same file, whatever was written to it since.
    bool sameFileAs(const FileIdentity& other) const {
        return device == other.device && inode == other.inode;
    }
};

// The identity of the file the name holds now; errno tells why there is none.
std::optional<FileIdentity> IdentityOf(const QString& path);
// Whether a later write within the same tick of the file system's clock could leave the
// identity as it is: true while the file's times lie within the last second, the coarsest tick
// of the file systems whose times are trusted.
bool MayChangeUnseen(const FileIdentity& identity);
// Whether the times of files on the file system that holds `path` prove a file unchanged:
// true of local disks that stamp every write; false of FAT (2-second times), network shares
// (NFS, SMB/CIFS: the server's clock, attribute caches), FUSE, and any file system not known.
bool TimesProveIdentity(const QString& path);
// The same for a file system of this type, as statfs gives it.
bool TimesProveIdentityOn(long fileSystemType);

// The error for a name that no file has, or that cannot be reached, with `errno`'s `error`.
RuntimeError FileGone(const QString& path, int error);
// The name held another file each time the file was opened.
RuntimeError FileKeptChanging(const QString& path);
// A write went through, but into a file that another has since replaced under the name.
RuntimeError WrittenToAReplacedFile(const QString& path);

}  // namespace vorelta
