#pragma once

// Work that may wait (on a lock another program holds, on a server, on a million rows) runs
// off the windows' thread, so that the windows keep painting while it runs. They take no other
// input meanwhile: the user's actions stay in order, one finished before the next begins.
// After a short while a small modal panel says what is being waited for, with "取消" (and Esc)
// to stop it.

#include <QString>
#include <atomic>
#include <chrono>
#include <functional>

class QDialog;

namespace vorelta {

class BusyPanel;

class BusyWait {
public:
    // `what` is the panel's line, such as "正在读取关键字…". `cancel` is called on the windows'
    // thread when the user cancels, while the work still runs: it must make the work end soon.
    BusyWait(QString what, std::function<void()> cancel);
    ~BusyWait();
    BusyWait(const BusyWait&) = delete;
    BusyWait& operator=(const BusyWait&) = delete;

    // Runs `work` on a worker thread, one at a time, and returns once it has ended, raising
    // what it raised. Without an application, off the windows' thread or inside another wait,
    // the work runs in line.
    void run(const std::function<void()>& work);
    // Whether the user cancelled during the last run.
    bool cancelled() const { return cancelled_; }
    // Called on the windows' thread when the panel shows: a wait long enough to be seen, in
    // which the window may put away what no longer holds.
    void whenPanelShows(std::function<void()> shown) { panelShown_ = std::move(shown); }

    // The seam for tests: how long a wait goes on before the panel shows (0.3 s), and a hook
    // called on the windows' thread each time the panel has been shown.
    static void setPanelDelay(std::chrono::milliseconds delay);
    static void setPanelShownHook(std::function<void(QDialog& panel)> hook);

private:
    class InputBlocker;
    void showPanel();
    void cancel();

    QString what_;
    std::function<void()> cancel_;
    std::function<void()> panelShown_;
    BusyPanel* panel_ = nullptr;
    bool cancelled_ = false;
};

}  // namespace vorelta
