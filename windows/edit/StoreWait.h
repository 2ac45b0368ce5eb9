#pragma once

// The windows' calls to the keyword store that may wait: off the windows' thread under a
// BusyWait, whose cancel stops the statement running on the shared connection.

#include <QString>
#include <exception>
#include <functional>

#include "store/Module1.h"
#include "toolkit/BusyWait.h"

namespace vorelta {

inline const QString kReadingKeywords = QStringLiteral(u"正在读取关键字…");
inline const QString kStoringKeywords = QStringLiteral(u"正在保存关键字…");
inline const QString kDeletingKeyword = QStringLiteral(u"正在删除关键字…");
inline const QString kOpeningKeywords = QStringLiteral(u"正在打开关键字库…");

// Runs `work`, which may touch the shared state and nothing else, and returns once it has
// ended, raising what it raised; a cancel makes it fail with adErrCancelled.
// `whenSeen` runs when the wait has lasted long enough for its panel to show.
inline void WaitOnStore(Module1& state, const QString& what, const std::function<void()>& work,
                        std::function<void()> whenSeen = {}) {
    state.KeyConnection.ResumeAfterCancel();
    BusyWait wait(what, [&state] { state.KeyConnection.Cancel(); });
    wait.whenPanelShows(std::move(whenSeen));
    wait.run(work);
}

inline bool IsCancel(const RuntimeError& error) {
    return error.number() == adErrCancelled;
}

inline bool IsCancel(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const RuntimeError& error) {
        return IsCancel(error);
    } catch (...) {
        return false;
    }
}

}  // namespace vorelta
