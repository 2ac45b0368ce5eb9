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
// identity as it is.
bool MayChangeUnseen(const FileIdentity& identity);
// The error for a name that no file has, or that cannot be reached, with `errno`'s `error`.
RuntimeError FileGone(const QString& path, int error);

}  // namespace vorelta
