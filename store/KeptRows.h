#pragma once

// When the rows a recordset keeps between actions still answer as a fresh read of its source
// would. The whole rule is here; the engines only report what they see.

#include <cstdint>

namespace vorelta {

// What a connection vouches for at one moment.
struct StoreEvidence {
    // Changes whenever the connection cannot vouch that the database holds what it read before:
    // another file opened, the file changed unseen, the raw handle lent out, a rollback.
    std::uint64_t session = 0;
    // Other writers' commits as the engine counts them.
    std::uint64_t othersVersion = 0;
    // Rows the connection itself has written, as the engine counts them.
    std::int64_t ownChanges = 0;
    // False where nothing the engine sees can prove the database unchanged (file times on FAT,
    // network shares and FUSE): nothing kept is then trusted.
    bool provable = true;
    bool operator==(const StoreEvidence&) const = default;
};

// What the rows of a source are, found out when they were read.
struct SourceTraits {
    // The rows come from one table directly; a view's rows may depend on the time or on chance.
    bool isTable = false;
    // Rows added to the table come last in what the source delivers.
    bool addsAtTheEnd = false;
    // An insert changes only the row it adds: no REPLACE conflict clause removes rows uncounted.
    bool countsEveryChange = false;
};

class KeptRowsRule {
public:
    enum class OwnChange { Added, Removed };

    // The rows were just read under this evidence.
    void Read(const StoreEvidence& now, const SourceTraits& source);
    // Whether the rows read then still hold now.
    bool Holds(const StoreEvidence& now) const;
    // A write of the recordset's own went through and the kept rows were changed to match.
    void Noted(OwnChange change);

private:
    bool valid_ = false;
    StoreEvidence under_;
    SourceTraits source_;
};

}  // namespace vorelta
