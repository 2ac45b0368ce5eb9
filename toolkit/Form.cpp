#include "toolkit/Form.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTranslator>
#include <algorithm>
#include <vector>

namespace vorelta {

namespace form_detail {

void SetCaption(QPushButton* button, const QString& caption) {
    button->setText(caption);
    // Enter is handled by the window itself: no button becomes the default by having the focus.
    button->setAutoDefault(false);
}

void SetCaption(TextBox* box, const QString& caption) {
    box->setText(caption);
}

void SetCaption(Label* label, const QString& caption) {
    label->setCaption(caption);
}

void SetCaption(ScrollingLabel* label, const QString& caption) {
    label->setCaption(caption);
}

void SetCaption(ListBox* /*list*/, const QString& /*caption*/) {
    // A list box starts empty; it has no caption.
}

void Place(QWidget* control, const char* name, TwipsRect twips) {
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(twips.toPixels());
    // Each control goes beneath those before it, so the first row ends up in front.
    control->lower();
}

void OrderFocus(std::vector<std::pair<int, QWidget*>> focusOrder) {
    std::sort(focusOrder.begin(), focusOrder.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < focusOrder.size(); ++i) {
        QWidget::setTabOrder(focusOrder[i - 1].second, focusOrder[i].second);
    }
}

}  // namespace form_detail

ModalForm::ModalForm(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags) {}

void ModalForm::setDefaultButton(QPushButton* button) {
    default_ = button;
    button->setDefault(true);
}

void ModalForm::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() & ~Qt::KeypadModifier) {
        QDialog::keyPressEvent(event);
        return;
    }
    QPushButton* target = nullptr;
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            target = qobject_cast<QPushButton*>(focusWidget());
            if (!target) {
                target = default_;
            }
            break;
        case Qt::Key_Escape:
            target = cancel_;
            break;
        default:
            QDialog::keyPressEvent(event);
            return;
    }
    if (target && target->isVisible() && target->isEnabled()) {
        target->click();
    }
    event->accept();
}

void ShowModal(QDialog& form) {
    form.setWindowModality(Qt::ApplicationModal);
    form.exec();
}

void FixClientSize(QWidget* form, TwipsSize size) {
    form->setFixedSize(size.toPixels());
}

QFont SongFont(qreal pointSize) {
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral(u"宋体"), QStringLiteral("NSimSun"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("AR PL UMing CN")});
    font.setStyleHint(QFont::Serif);
    font.setPointSizeF(pointSize);
    font.setWeight(QFont::Normal);
    return font;
}

QIcon ApplicationIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    // Hard edges, as a 16-colour icon has them.
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QPolygon diamond({QPoint(16, 1), QPoint(30, 15), QPoint(16, 29), QPoint(2, 15)});
    painter.setPen(QPen(Qt::black, 2));
    painter.setBrush(QColor(255, 255, 0));
    painter.drawPolygon(diamond);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawRect(15, 7, 3, 12);  // the stroke of the exclamation mark
    painter.drawRect(15, 21, 3, 3);  // its dot
    painter.end();
    return QIcon(pixmap);
}

void InstallChineseTranslations(QCoreApplication& app) {
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        app.installTranslator(translator);
    }
}

void ApplyApplicationLook(QCoreApplication& app) {
    InstallChineseTranslations(app);
    if (auto* gui = qobject_cast<QApplication*>(&app)) {
        // The window font of a Chinese desktop: buttons and plain labels use it.
        gui->setFont(SongFont(9));
        gui->setWindowIcon(ApplicationIcon());
    }
}

}  // namespace vorelta
