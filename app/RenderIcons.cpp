// Draws Vorelta's icon for the desktop's icon theme: a PNG at each size a desktop asks for and
// a scalable SVG, all from one outline laid on the program's 32-pixel grid.
//
//   render_icons <output folder>
//
// writes <output folder>/<N>x<N>/apps/vorelta.png and <output folder>/scalable/apps/vorelta.svg.
// The 32-pixel drawing must match the window icon the program paints itself, pixel for pixel,
// so that the menu and the window show the same sign; if it does not, nothing is written.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPolygon>
#include <QRect>
#include <QTemporaryDir>
#include <cstdio>

#include "toolkit/Form.h"

namespace {

constexpr int kGrid = 32;
constexpr int kEdgeWidth = 2;
const QColor kSignYellow(255, 255, 0);
const QPolygon kDiamond({QPoint(16, 1), QPoint(30, 15), QPoint(16, 29), QPoint(2, 15)});
const QRect kStroke(15, 7, 3, 12);
const QRect kDot(15, 21, 3, 3);
constexpr int kSizes[] = {16, 22, 24, 32, 48, 64, 96, 128, 256};

// At the program's own size the edges stay hard, as in a 16-colour icon; other sizes are
// smoothed, since a staircase scaled up or thinned down reads poorly in a menu.
QImage DrawIcon(int size) {
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, size != kGrid);
    painter.scale(double(size) / kGrid, double(size) / kGrid);
    painter.setPen(QPen(Qt::black, kEdgeWidth));
    painter.setBrush(kSignYellow);
    painter.drawPolygon(kDiamond);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawRect(kStroke);
    painter.drawRect(kDot);
    return image;
}

QString SvgPoint(const QPoint& point) {
    return QStringLiteral("%1,%2").arg(point.x()).arg(point.y());
}

QString SvgRect(const QRect& rect) {
    return QStringLiteral(
               "  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"#000000\"/>\n")
        .arg(rect.x())
        .arg(rect.y())
        .arg(rect.width())
        .arg(rect.height());
}

// Qt's default pen joins corners with a bevel; the SVG says so to keep the same outline.
QString DrawSvg() {
    QStringList points;
    for (const QPoint& point : kDiamond) {
        points << SvgPoint(point);
    }
    return QStringLiteral(
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" "
               "viewBox=\"0 0 %1 %1\">\n"
               "  <rect width=\"%1\" height=\"%1\" fill=\"#ffffff\"/>\n"
               "  <polygon points=\"%2\" fill=\"%3\" stroke=\"#000000\" stroke-width=\"%4\" "
               "stroke-linejoin=\"bevel\"/>\n")
               .arg(kGrid)
               .arg(points.join(QLatin1Char(' ')))
               .arg(kSignYellow.name())
               .arg(kEdgeWidth) +
           SvgRect(kStroke) + SvgRect(kDot) + QStringLiteral("</svg>\n");
}

bool MatchesWindowIcon() {
    const QImage windowIcon = vorelta::ApplicationIcon()
                                  .pixmap(kGrid, kGrid)
                                  .toImage()
                                  .convertToFormat(QImage::Format_RGB32);
    return windowIcon == DrawIcon(kGrid);
}

bool WriteFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

bool WriteIcons(const QDir& output) {
    for (const int size : kSizes) {
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        if (!output.mkpath(folder) ||
            !DrawIcon(size).save(output.filePath(folder + "/vorelta.png"))) {
            return false;
        }
    }
    return output.mkpath(QStringLiteral("scalable/apps")) &&
           WriteFile(output.filePath(QStringLiteral("scalable/apps/vorelta.svg")),
                     DrawSvg().toUtf8());
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fputs("usage: render_icons <output folder>\n", stderr);
        return 2;
    }
    // Nothing is shown: the window icon only needs a pixmap, which needs a GUI application.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // A build shell often has no runtime folder; Qt would warn of it, and nothing here needs
    // one, so a private one of its own for the run keeps the build quiet.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid()) {
        QFile::setPermissions(runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }
    QGuiApplication app(argc, argv);
    if (!MatchesWindowIcon()) {
        std::fputs(
            "render_icons: the window icon (ApplicationIcon in toolkit/Form.cpp) no longer matches "
            "the outline in app/RenderIcons.cpp; change both together\n",
            stderr);
        return 1;
    }
    if (!WriteIcons(QDir(QString::fromLocal8Bit(argv[1])))) {
        std::fprintf(stderr, "render_icons: cannot write the icons into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
