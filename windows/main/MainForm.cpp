#include "windows/main/MainForm.h"

#include <QPushButton>
#include <algorithm>

#include "base/Text.h"
#include "check/MessageCheck.h"
#include "toolkit/ErrorReport.h"
#include "toolkit/Form.h"
#include "toolkit/Label.h"
#include "toolkit/ScrollingLabel.h"
#include "toolkit/TextBox.h"
#include "windows/about/AboutForm.h"
#include "windows/edit/EditForm.h"
#include "windows/edit/StoreWait.h"

namespace vorelta {

namespace {

constexpr TwipsSize kClientSize{7245, 4470};

// Front to back.
constexpr ControlDef<main> kControls[] = {
    {VORELTA_CONTROL(main, Command4), u"复制内容到剪切板", {360, 1800, 2055, 375}, 7},
    {VORELTA_CONTROL(main, Command3), u"关于本软件", {5640, 3645, 1335, 375}, 6},
    {VORELTA_CONTROL(main, Command2), u"开 始 检 测", {225, 3000, 3645, 555}, 4},
    {VORELTA_CONTROL(main, Command1), u"管理关键字库", {4035, 3645, 1455, 375}, 3},
    {VORELTA_CONTROL(main, smsmsg), u"", {240, 480, 3615, 1815}, 0},
    {VORELTA_CONTROL(main, Label2), u"", {4200, 360, 2895, 3015}, 5},
    {VORELTA_CONTROL(main, lrs), u"请输入", {240, 2520, 4215, 255}, 2},
    {VORELTA_CONTROL(main, Label1), u"输入要检测的内容:", {360, 240, 2895, 735}, 1},
};

constexpr qreal kMessageFontPoints = 10.5;
const QColor kNearMissColour(204, 102, 0);  // dark orange

// The stretches of the near-misses that no hit covers, so that the orange, painted last, never
// hides a hit's red. Both lists are in text order and do not overlap within themselves.
std::vector<TextRun> OutsideHits(const std::vector<TextRun>& nearMisses,
                                 const std::vector<TextRun>& hits) {
    std::vector<TextRun> outside;
    auto hit = hits.begin();
    for (TextRun rest : nearMisses) {
        for (; hit != hits.end() && hit->start < rest.end; ++hit) {
            if (hit->end <= rest.start) {
                continue;
            }
            if (hit->start > rest.start) {
                outside.push_back({rest.start, hit->start});
            }
            rest.start = std::max(rest.start, hit->end);
            if (hit->end > rest.end) {
                break;
            }
        }
        if (rest.start < rest.end) {
            outside.push_back(rest);
        }
    }
    return outside;
}

}  // namespace

main::main(Module1& state, QString appPath, MessageBoxes& boxes, FileDialogs& files,
           ProcessStarter& starter, sysinfo::Registry& registry, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      state_(state),
      appPath_(std::move(appPath)),
      boxes_(boxes),
      files_(files),
      starter_(starter),
      registry_(registry) {
    setObjectName(QStringLiteral("main"));
    setWindowTitle(App::Title);
    FixClientSize(this, kClientSize);
    BuildControls<main>(this, kControls);

    smsmsg->setFont(SongFont(kMessageFontPoints));
    smsmsg->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    smsmsg->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Label2->setFont(SongFont(kMessageFontPoints));
    lrs->setForeColor(kDarkBlue);
    Command4->hide();
    smsmsg->setFocus();

    WireHandler(boxes_, Command1, &QPushButton::clicked, this, &main::Command1_Click);
    WireHandler(boxes_, Command3, &QPushButton::clicked, this, &main::Command3_Click);
    WireHandler(boxes_, Command2, &QPushButton::clicked, this, &main::Command2_Click);
    WireHandler(boxes_, Command4, &QPushButton::clicked, this, &main::Command4_Click);
    WireHandler(boxes_, smsmsg, &TextBox::Change, this, &main::smsmsg_Change);
    WireHandler(boxes_, lrs, &Label::DblClick, this, &main::lrs_DblClick);
    WireHandler(boxes_, Label2, &ScrollingLabel::LineClick, this, &main::Label2_LineClick);
}

bool main::Load() {
    try {
        Form_Load();
        return true;
    } catch (const RuntimeError& error) {
        reportStartupFailure(error);
    } catch (const std::bad_alloc&) {
        // A huge or hostile key.mdb may not fit in memory.
        reportStartupFailure(RuntimeError(7, QStringLiteral(u"内存溢出")));
    } catch (const std::exception& error) {
        reportStartupFailure(
            RuntimeError(51, QStringLiteral(u"内部错误：") + QString::fromLocal8Bit(error.what())));
    }
    return false;
}

void main::reportStartupFailure(const RuntimeError& error) {
    const QString where = KeyStoreLocation(appPath_);
    boxes_.MsgBox(ErrorReportText(error) +
                  (where.isEmpty() ? QString() : QStringLiteral("\r\n\r\n") + where));
}

void main::Form_Load() {
    const KeywordSource source = FindKeywordSource(appPath_);
    WaitOnStore(state_, kOpeningKeywords, [&] { OpenKeyStore(state_, source); });
    Label2->setCaption(QStringLiteral(u"当前数据库中有%1条关键字").arg(state_.KeyCount));
}

void main::Command1_Click() {
    // Each opening loads the window anew. The count line here keeps its start-up text.
    edit manager(state_, boxes_, files_);
    manager.Form_Load();
    ShowModal(manager);
}

void main::Command3_Click() {
    frmAbout about(boxes_, starter_, registry_, this);
    about.ShowKeywordSource(state_.Source.description);
    about.Form_Load();
    ShowModal(about);
}

void main::smsmsg_Change() {
    const qsizetype length = smsmsg->text().size();
    if (length > kLengthLimit) {
        lrs->setForeColor(kRed);
        lrs->setCaption(OverLimitText(length));
    } else {
        // The colour stays: red until the next cut, even while the user shortens the text.
        lrs->setCaption(WithinLimitText(length));
    }
}

void main::lrs_DblClick() {
    // The cut counts code units and ignores line breaks: it may keep a CR without its LF.
    smsmsg->setText(smsmsg->text().left(kLengthLimit));
    lrs->setForeColor(kBlack);
}

void main::Command2_Click() {
    const QString normalised = NormaliseMessage(smsmsg->text());
    smsmsg->setText(normalised);
    smsmsg->setMarks({});  // the last check's, when the text was already as normalised
    ScanResult result;
    try {
        // A verdict on the earlier message must not stand beside this one while it waits.
        WaitOnStore(
            state_, kReadingKeywords,
            [&] { result = scanner_.Scan(state_.KeyRecordset, normalised); },
            [this] { putAwayVerdict(); });
    } catch (const RuntimeError& error) {
        showCheckFailed();
        if (IsCancel(error)) {
            return;  // the result label says that the check did not finish
        }
        throw;  // reported as every handler's error is
    } catch (...) {
        showCheckFailed();
        throw;
    }
    if (result.hitCount > 0) {
        Label2->setForeColor(kRed);
        Label2->setCaption(result.report);
        reportedKeywords_ = std::move(result.keywords);
    } else if (!smsmsg->text().isEmpty()) {
        Label2->setForeColor(kBlack);
        Label2->setCaption(kCleanVerdict);
        reportedKeywords_.clear();
        Command4->show();
    } else {
        return;  // nothing to check: the label stays as it is
    }
    showNearMisses(result);
    markInMessage(std::move(result.runs), std::move(result.nearMissRuns));
}

// The near-misses go on after the verdict, in dark orange, whatever the verdict's colour.
void main::showNearMisses(const ScanResult& result) {
    nearMissesWritten_ = result.nearMissesWritten;
    nearMissKeywords_ = result.nearMissKeywords;
    if (result.nearMissReport.isEmpty()) {
        return;
    }
    const QString& verdict = Label2->caption();
    firstNearMissLine_ = int(verdict.count(kLineBreak)) + 2;
    const qsizetype start = verdict.size() + kLineBreak.size();
    Label2->setCaption(verdict + kLineBreak + result.nearMissReport);
    Label2->setTextColour({start, Label2->caption().size()}, kNearMissColour);
}

// Every occurrence of the reported keywords, and every near-miss, marked where it stands; the
// first of them scrolled into view.
void main::markInMessage(std::vector<TextRun> hits, std::vector<TextRun> nearMisses) {
    if (hits.empty() && nearMisses.empty()) {
        return;
    }
    const qsizetype first =
        std::min(hits.empty() ? smsmsg->text().size() : hits.front().start,
                 nearMisses.empty() ? smsmsg->text().size() : nearMisses.front().start);
    smsmsg->scrollTo(first);
    std::vector<TextRun> orange = OutsideHits(nearMisses, hits);
    smsmsg->setMarks(std::move(hits), std::move(orange));
}

// A check that could not read the keywords leaves no verdict behind: the earlier message's
// "clean" beside this message would pass it unchecked, and its copy button would copy it.
void main::showCheckFailed() {
    putAwayVerdict();
    Label2->setForeColor(kRed);
    Label2->setCaption(kCheckFailedText);
}

void main::putAwayVerdict() {
    Label2->setCaption({});
    reportedKeywords_.clear();
    nearMissesWritten_.clear();
    nearMissKeywords_.clear();
    Command4->hide();
}

void main::Command4_Click() {
    Clipboard::Clear();
    Clipboard::SetText(smsmsg->text());
    Command4->hide();
    Label2->setCaption(kCopiedText);
    reportedKeywords_.clear();
    nearMissesWritten_.clear();
    nearMissKeywords_.clear();
}

// A keyword's line in the report selects the keyword's next occurrence in the message, after
// the selection or the caret, going round to the start after the last one; a near-miss's line
// selects its next occurrence as written.
void main::Label2_LineClick() {
    const QString* wanted = reportedKeywordAt(Label2->ClickedLine());
    // A stored keyword holding line breaks takes more lines here too.
    for (std::size_t i = 0, line = std::size_t(firstNearMissLine_);
         !wanted && i < nearMissKeywords_.size() && int(line) <= Label2->ClickedLine(); ++i) {
        line += std::size_t(nearMissesWritten_[i].count(kLineBreak) +
                            nearMissKeywords_[i].count(kLineBreak)) +
                1;
        if (Label2->ClickedLine() < int(line)) {
            wanted = &nearMissesWritten_[i];
        }
    }
    if (!wanted || wanted->isEmpty()) {
        return;
    }
    const QString& message = smsmsg->text();
    const TextRun selected = smsmsg->selection();
    qsizetype at = message.indexOf(*wanted, selected.start + (selected.end > selected.start));
    if (at < 0) {
        at = message.indexOf(*wanted);
    }
    if (at >= 0) {
        smsmsg->select({at, at + wanted->size()});
    }
}

// The keyword the report lists on this line; none for the heading, the count and any other.
const QString* main::reportedKeywordAt(int clickedLine) const {
    // The report's first line is its heading; a keyword holding line breaks takes more lines.
    int line = 1;
    for (const QString& reported : reportedKeywords_) {
        line += int(reported.count(kLineBreak)) + 1;
        if (clickedLine < line) {
            return clickedLine > 0 ? &reported : nullptr;
        }
    }
    return nullptr;
}

}  // namespace vorelta
