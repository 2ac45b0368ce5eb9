#include "toolkit/Form.h"

#include <QApplication>
#include <QDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTranslator>
#include <algorithm>
#include <vector>

#include "toolkit/Label.h"
#include "toolkit/TextBox.h"

namespace vorelta {

namespace {

QWidget* CreateControl(QWidget* form, const ControlDef& def) {
    const QString caption = QString::fromUtf16(def.caption);
    QWidget* control = nullptr;
    switch (def.kind) {
        case ControlKind::CommandButton:
            control = new QPushButton(caption, form);
            break;
        case ControlKind::TextBox: {
            auto* box = new TextBox(form);
            box->setText(caption);
            control = box;
            break;
        }
        case ControlKind::Label: {
            auto* label = new Label(form);
            label->setCaption(caption);
            control = label;
            break;
        }
    }
    control->setObjectName(QString::fromLatin1(def.name));
    control->setGeometry(def.twips.toPixels());
    return control;
}

}  // namespace

void BuildControls(QWidget* form, std::span<const ControlDef> controls) {
    std::vector<std::pair<int, QWidget*>> focusOrder;
    for (const ControlDef& def : controls) {
        QWidget* control = CreateControl(form, def);
        // Each control goes beneath those before it, so the first row ends up in front.
        control->lower();
        if (def.kind != ControlKind::Label) {
            focusOrder.emplace_back(def.tabIndex, control);
        }
    }
    std::sort(focusOrder.begin(), focusOrder.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < focusOrder.size(); ++i) {
        QWidget::setTabOrder(focusOrder[i - 1].second, focusOrder[i].second);
    }
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
