#include "store/KeptRows.h"

namespace vorelta {

void KeptRowsRule::Read(const StoreEvidence& now, const SourceTraits& source) {
    valid_ = true;
    under_ = now;
    source_ = source;
}

bool KeptRowsRule::Holds(const StoreEvidence& now) const {
    return valid_ && source_.isTable && now.provable && under_ == now;
}

void KeptRowsRule::Noted(OwnChange change) {
    under_.ownChanges += 1;
    // The kept rows follow an insert only when the row goes last and nothing else went with it.
    if (change == OwnChange::Added && !(source_.addsAtTheEnd && source_.countsEveryChange)) {
        valid_ = false;
    }
}

}  // namespace vorelta
