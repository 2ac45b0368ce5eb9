#include "windows/edit/EditForm.h"

#include <QDir>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QShortcut>

#include "base/Text.h"
#include "store/KeywordFile.h"
#include "toolkit/ErrorReport.h"
#include "windows/edit/KeywordInsert.h"
#include "windows/edit/StoreWait.h"

namespace vorelta {

namespace {

constexpr TwipsSize kClientSize{7245, 4470};

// Front to back: the text box `key` is drawn over the top of the count line `Label1`.
constexpr ControlDef<edit> kControls[] = {
    {VORELTA_CONTROL(edit, Label3), u"关键字之间用回车符隔开", {240, 240, 3015, 495}, 6},
    {VORELTA_CONTROL(edit, key), u"", {240, 570, 2295, 2400}, 1},
    {VORELTA_CONTROL(edit, Label1), u"", {240, 2760, 3015, 375}, 2},
    {VORELTA_CONTROL(edit, Command1), u"插入关键字到数据库", {240, 3240, 1935, 615}, 0},
    {VORELTA_CONTROL(edit, Label2), u"", {240, 3960, 3135, 375}, 5},
    {VORELTA_CONTROL(edit, List1), u"", {4080, 240, 1695, 3840}, 3},
    {VORELTA_CONTROL(edit, Command2), u">>删除", {6000, 1800, 1095, 495}, 4},
};

const QString kNothingTyped = QStringLiteral(u"至少输入一条内容!");
// The count line while the list shows no rows because they could not be read.
const QString kRowsNotRead = QStringLiteral(u"未能读出关键字列表");
const QString kTextFiles = QStringLiteral(u"文本文件 (*.txt);;所有文件 (*)");

QString InsertResultText(std::int32_t added) {
    return QStringLiteral(u"成功添加%1条关键字").arg(added);
}

// The files a drag carries; none when it carries anything but local files.
QStringList LocalFiles(const QMimeData* data) {
    QStringList paths;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) {
            return {};
        }
        paths << url.toLocalFile();
    }
    return paths;
}

}  // namespace

edit::edit(Module1& state, MessageBoxes& boxes, FileDialogs& files, QWidget* parent)
    : ModalForm(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      state_(state),
      boxes_(boxes),
      files_(files) {
    setObjectName(QStringLiteral("edit"));
    setWindowTitle(QStringLiteral(u"非法字管理"));
    // Sizable, but the controls stay where they are: there is no layout.
    resize(kClientSize.toPixels());
    BuildControls<edit>(this, kControls);
    key->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The text box covers the top of the count line: its text sits at the bottom to stay seen.
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    Command1->setFocus();

    WireHandler(boxes_, Command1, &QPushButton::clicked, this, &edit::Command1_Click);
    WireHandler(boxes_, Command2, &QPushButton::clicked, this, &edit::Command2_Click);

    finder_ = new ListFinder(List1);
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this,
            &edit::FindInList);
    connect(new QShortcut(QKeySequence::FindNext, this), &QShortcut::activated, finder_,
            &ListFinder::next);
    connect(new QShortcut(QKeySequence::FindPrevious, this), &QShortcut::activated, finder_,
            &ListFinder::previous);
    for (QWidget* withMenu : {static_cast<QWidget*>(key), static_cast<QWidget*>(List1)}) {
        withMenu->setContextMenuPolicy(Qt::CustomContextMenu);
    }
    connect(key, &QWidget::customContextMenuRequested, this, &edit::ShowKeyMenu);
    connect(List1, &QWidget::customContextMenuRequested, this, &edit::ShowListMenu);
    key->viewport()->installEventFilter(this);
}

void edit::FindInList() {
    finder_->open();
}

// The box's own menu, and the import beneath it.
void edit::ShowKeyMenu(const QPoint& at) {
    QMenu* menu = key->createStandardContextMenu(at);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addSeparator();
    menu->addAction(QStringLiteral(u"从文件导入…"), this,
                    [this] { RunHandler(boxes_, [this] { ImportKeywordFiles(); }); });
    menu->popup(key->viewport()->mapToGlobal(at));
}

void edit::ShowListMenu(const QPoint& at) {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral(u"查找…"), QKeySequence::Find, this, &edit::FindInList);
    menu->addAction(QStringLiteral(u"导出到文件…"), this,
                    [this] { RunHandler(boxes_, [this] { ExportKeywords(); }); });
    menu->popup(List1->viewport()->mapToGlobal(at));
}

void edit::ImportKeywordFiles() {
    ImportFiles(files_.GetOpenFileNames(this, QStringLiteral(u"从文件导入关键字"), kTextFiles));
}

// The files' lines go to the end of `key`, for the operator to look over and then insert. A file
// that cannot be imported (no text, no regular file, too large) stops the import with a message
// naming it, and nothing is added. Lines with bytes that were no character are pointed out:
// they show U+FFFD, which would be stored as it is.
void edit::ImportFiles(const QStringList& paths) {
    QString imported;
    int linesWithBadBytes = 0;
    try {
        for (const QString& path : paths) {
            const KeywordFileText file = ReadKeywordFile(path);
            linesWithBadBytes += file.linesWithBadBytes;
            if (!file.text.isEmpty()) {
                imported += (imported.isEmpty() ? QString() : kLineBreak) + file.text;
            }
        }
    } catch (const RuntimeError& error) {
        boxes_.MsgBox(error.description());
        return;
    }
    if (!imported.isEmpty()) {
        const QString& typed = key->text();
        const bool endsWithBreak = typed.isEmpty() || typed.endsWith(kLineBreak);
        key->setText(typed + (endsWithBreak ? QString() : kLineBreak) + imported);
    }
    if (linesWithBadBytes > 0) {
        boxes_.MsgBox(QStringLiteral(u"导入的内容中有%1行含有无法识别的字节，已显示为 �，"
                                     u"请检查后再插入。")
                          .arg(linesWithBadBytes));
    }
}

void edit::ExportKeywords() {
    const QString path = files_.GetSaveFileName(this, QStringLiteral(u"导出关键字"),
                                                QStringLiteral("keywords.txt"), kTextFiles);
    if (path.isEmpty()) {
        return;
    }
    // The keywords as the list shows them, read anew only if something may have changed them.
    try {
        RefreshKeyList();
    } catch (...) {
        ReportCancelOrRethrow();
        return;
    }
    const std::vector<FieldValue>& keywords = state_.KeyRecordset.Column(kKeynameField);
    const int changed = WriteKeywordFile(path, keywords);
    QString report = QStringLiteral(u"已导出%1条关键字到“%2”。")
                         .arg(keywords.size())
                         .arg(QDir::toNativeSeparators(path));
    if (changed > 0) {
        report += QStringLiteral(
                      u"其中%1条关键字含换行、首尾空格等，或与前面的重复，"
                      u"从这个文件导入时不会照原样保存。")
                      .arg(changed);
    }
    boxes_.MsgBox(report);
}

// Files dropped on `key` are imported; any other drop is the box's own.
bool edit::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == key->viewport() &&
        (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop)) {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList paths = LocalFiles(drop->mimeData());
        if (!paths.isEmpty()) {
            drop->acceptProposedAction();
            if (type == QEvent::Drop) {
                RunHandler(boxes_, [&] { ImportFiles(paths); });
            }
            return true;
        }
    }
    return ModalForm::eventFilter(watched, event);
}

void edit::Form_Load() {
    RefreshKeyList();
}

// The list shows the shared recordset's rows as they are kept, brought up to date first: no copy
// of them, and nothing selected afterwards. Should the rows not be read, it shows what is kept.
void edit::RefreshKeyList() {
    RunOnStore(kReadingKeywords, [this] { state_.KeyRecordset.Requery(); });
}

// The store's work runs off the window's thread, the window still painting; meanwhile the list
// shows the rows in view as they were, since the work may read the rows anew. Afterwards, also
// after a failure, the list and the count line show what is kept then.
void edit::RunOnStore(const QString& what, const std::function<void()>& work) {
    List1->HoldItems();
    try {
        WaitOnStore(state_, what, work);
    } catch (...) {
        ListKeptKeywords();
        throw;
    }
    ListKeptKeywords();
}

// The count line tells how many keywords the list shows: the store's rows as last read, with
// this window's own changes, which is also the count the program goes on with.
void edit::ListKeptKeywords() {
    Recordset& keys = state_.KeyRecordset;
    List1->ShowItems([&keys] { return keys.KeptColumn(kKeynameField); });
    if (const std::vector<FieldValue>* rows = keys.KeptColumn(kKeynameField)) {
        state_.KeyCount = std::int32_t(rows->size());
        Label1->setCaption(QStringLiteral(u"当前数据库共有%1记录").arg(state_.KeyCount));
    } else {
        Label1->setCaption(kRowsNotRead);
    }
}

// After a change that failed, the list never shows rows the store may not hold: where the kept
// rows were undone (a rollback) they are read anew. Where they still hold, as after a lock held
// too long, they are shown as kept: reading them would only cost a second wait.
void edit::ShowRowsAfterFailure() {
    // After a cancel the user asked to stop waiting: what is kept shows, nothing is read anew.
    if (state_.KeyRecordset.KeptColumn(kKeynameField) || IsCancel(std::current_exception())) {
        return;
    }
    try {
        RefreshKeyList();
    } catch (...) {
        // The error that stopped the change is the one to report.
    }
}

// Inside a handler's catch: a cancel is what the user asked for, said in words and not as an
// error; any other error goes on to be reported.
void edit::ReportCancelOrRethrow() {
    try {
        throw;
    } catch (const RuntimeError& error) {
        if (!IsCancel(error)) {
            throw;
        }
        boxes_.MsgBox(error.description());
    }
}

void edit::Command1_Click() {
    const QString text = key->text();
    const std::vector<QStringView> lines = KeywordLines(text);
    if (lines.empty()) {
        boxes_.MsgBox(kNothingTyped);
        return;
    }
    std::int32_t added = 0;
    std::vector<std::size_t> refused;
    try {
        // The rows are brought up to date in the same wait: another program may have changed
        // them during the insert.
        RunOnStore(kStoringKeywords, [&] {
            StoreNewKeywords(state_, lines, added, refused);
            // Stored: a cancel that came during the commit came too late to stop it, and the
            // list still has to show the new rows.
            state_.KeyConnection.ResumeAfterCancel();
            state_.KeyRecordset.Requery();
        });
    } catch (...) {
        // What was stored before the error counts and shows; the typed text stays for a retry.
        Label2->setCaption(InsertResultText(added));
        ShowRowsAfterFailure();
        ReportCancelOrRethrow();
        return;
    }
    Label2->setCaption(InsertResultText(added));
    if (!refused.empty()) {
        QStringList named;
        for (const std::size_t line : refused) {
            named << QStringLiteral(u"第%1行：%2").arg(line).arg(lines[line - 1].toString());
        }
        boxes_.MsgBox(QStringLiteral(u"以下各行含有关键字服务器无法保存的字符"
                                     u"（单独的代理项或 NUL），没有存入：\r\n") +
                      named.join(kLineBreak));
    }
}

void edit::Command2_Click() {
    const QString item = List1->List(List1->ListIndex());
    if (TrimBlanks(item).isEmpty()) {
        return;
    }
    // The row is found by what the list shows, whatever type or bytes it is stored as: the
    // first one, in the order the list is read, that reads as the selected item.
    Recordset& keys = state_.KeyRecordset;
    try {
        RunOnStore(kDeletingKeyword, [&] {
            keys.Requery();
            keys.Find(kKeynameField, item);
            // Another program may have removed or changed the row since the list was read.
            if (!keys.Eof()) {
                keys.Delete();
            }
            keys.Requery();
        });
    } catch (...) {
        ShowRowsAfterFailure();
        ReportCancelOrRethrow();
    }
}

}  // namespace vorelta
