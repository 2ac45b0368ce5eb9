#include "store/StoreErrors.h"

namespace vorelta {

RuntimeError ObjectClosed() {
    return RuntimeError(adErrObjectClosed, QStringLiteral(u"对象关闭时，不允许操作。"));
}

RuntimeError ObjectOpen() {
    return RuntimeError(3705, QStringLiteral(u"对象打开时，不允许操作。"));
}

RuntimeError RowGone() {
    return RuntimeError(adErrNoCurrentRecord,
                        QStringLiteral(u"要删除的记录已被其他程序删除或更改。"));
}

RuntimeError NoCurrentRecord() {
    return RuntimeError(adErrNoCurrentRecord,
                        QStringLiteral(u"BOF 或 EOF 中有一个是“真”，或者当前的记录已被删除。"));
}

RuntimeError Cancelled() {
    return RuntimeError(adErrCancelled, kCancelledText);
}

}  // namespace vorelta
