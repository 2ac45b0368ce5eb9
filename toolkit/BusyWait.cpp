#include "toolkit/BusyWait.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <exception>
#include <system_error>
#include <thread>

#include "toolkit/Runtime.h"

namespace vorelta {

namespace {

std::chrono::milliseconds gPanelDelay{300};
std::function<void(QDialog&)> gPanelShown;
bool gWaiting = false;  // a wait is running: another runs in line

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::InputMethod:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            return true;
        default:
            return false;
    }
}

}  // namespace

// The panel: what is waited for, a bar that moves while it lasts, and the cancel. Esc and the
// close box cancel too; the panel itself stays until the work has ended.
class BusyPanel final : public QDialog {
public:
    BusyPanel(QWidget* owner, const QString& what, std::function<void()> onCancel)
        : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowCloseButtonHint),
          onCancel_(std::move(onCancel)) {
        setObjectName(QStringLiteral("BusyPanel"));
        setWindowTitle(App::Title);
        setWindowModality(Qt::ApplicationModal);
        auto* layout = new QVBoxLayout(this);
        line_ = new QLabel(what, this);
        layout->addWidget(line_);
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 0);  // no end known: the bar keeps moving
        bar->setTextVisible(false);
        layout->addWidget(bar);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        button_ = new QPushButton(QStringLiteral(u"取消"), this);
        buttons->addWidget(button_);
        layout->addLayout(buttons);
        connect(button_, &QPushButton::clicked, this, [this] { onCancel_(); });
        line_->setMinimumWidth(240);
        layout->setSizeConstraint(QLayout::SetFixedSize);
    }

    // The cancel has been asked for; the work may take a moment to stop.
    void showCancelling() {
        line_->setText(QStringLiteral(u"正在取消…"));
        button_->setEnabled(false);
    }

    void reject() override { onCancel_(); }

protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        onCancel_();
    }

private:
    std::function<void()> onCancel_;
    QLabel* line_ = nullptr;
    QPushButton* button_ = nullptr;
};

// While the work runs, the user's input goes to the panel alone, and no window closes: the
// windows wait for the work's outcome as they would inside a handler.
class BusyWait::InputBlocker final : public QObject {
public:
    explicit InputBlocker(BusyWait& wait) : wait_(wait) { qApp->installEventFilter(this); }
    ~InputBlocker() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if ((IsUserInput(type) || type == QEvent::Close) && !isPanel(watched)) {
            // An accepted override keeps a shortcut from firing; an ignored close keeps the
            // window open.
            if (type == QEvent::ShortcutOverride) {
                event->accept();
            } else {
                event->ignore();
            }
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool isPanel(QObject* watched) const {
        QWidget* panel = wait_.panel_;
        if (!panel) {
            return false;
        }
        if (watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            return widget == panel || panel->isAncestorOf(widget);
        }
        return watched == panel->windowHandle();
    }

    BusyWait& wait_;
};

BusyWait::BusyWait(QString what, std::function<void()> cancel)
    : what_(std::move(what)), cancel_(std::move(cancel)) {}

BusyWait::~BusyWait() {
    delete panel_;
}

void BusyWait::setPanelDelay(std::chrono::milliseconds delay) {
    gPanelDelay = delay;
}

void BusyWait::setPanelShownHook(std::function<void(QDialog&)> hook) {
    gPanelShown = std::move(hook);
}

void BusyWait::run(const std::function<void()>& work) {
    cancelled_ = false;
    QCoreApplication* app = QCoreApplication::instance();
    if (gWaiting || !qobject_cast<QApplication*>(app) ||
        QThread::currentThread() != app->thread()) {
        work();
        return;
    }
    std::exception_ptr failure;
    QEventLoop loop;
    {
        std::jthread worker;
        try {
            worker = std::jthread([&] {
                try {
                    work();
                } catch (...) {
                    failure = std::current_exception();
                }
                // Ends the loop from its own thread; it may not have started yet.
                QCoreApplication::postEvent(&loop, new QEvent(QEvent::Quit));
            });
        } catch (const std::system_error&) {
            work();  // no thread to be had: in line, as before
            return;
        }
        gWaiting = true;
        InputBlocker blocker(*this);
        QTimer panelTimer;
        panelTimer.setSingleShot(true);
        QObject::connect(&panelTimer, &QTimer::timeout, [this] { showPanel(); });
        panelTimer.start(gPanelDelay);
        // Returns when the worker is done; also when the program is told to quit, and then the
        // worker is waited for as it ends.
        loop.exec();
    }
    gWaiting = false;
    delete panel_;
    panel_ = nullptr;
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void BusyWait::showPanel() {
    panel_ = new BusyPanel(QApplication::activeWindow(), what_, [this] { cancel(); });
    panel_->show();
    if (panelShown_) {
        panelShown_();
    }
    if (gPanelShown) {
        gPanelShown(*panel_);
    }
}

void BusyWait::cancel() {
    if (cancelled_) {
        return;
    }
    cancelled_ = true;
    if (panel_) {
        panel_->showCancelling();
    }
    if (cancel_) {
        cancel_();
    }
}

}  // namespace vorelta
