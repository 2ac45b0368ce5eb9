#include "toolkit/ErrorReport.h"

namespace vorelta {

QString ErrorReportText(const RuntimeError& error) {
    return QStringLiteral(u"实时错误 '%1':\r\n\r\n%2")
        .arg(QString::number(error.number()), error.description());
}

void ReportError(MessageBoxes& boxes, const RuntimeError& error) {
    boxes.MsgBox(ErrorReportText(error));
}

}  // namespace vorelta
