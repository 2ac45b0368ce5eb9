// The floor of the start-up benchmark: a program that only shows an empty Qt window of the
// main window's size.

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(483, 298);
    window.show();
    return QApplication::exec();
}
