#pragma once

// How errors reach the user. A handler's error is shown in a message box with its number and
// description, and the program goes on with the window as the handler left it.

#include <QObject>
#include <exception>
#include <new>

#include "base/RuntimeError.h"
#include "toolkit/Runtime.h"

namespace vorelta {

// "实时错误 'N':", a blank line, then the description.
QString ErrorReportText(const RuntimeError& error);

void ReportError(MessageBoxes& boxes, const RuntimeError& error);

// Runs one event handler; an error it raises is reported and goes no further.
template <class Handler>
void RunHandler(MessageBoxes& boxes, Handler&& handler) noexcept {
    try {
        handler();
    } catch (const RuntimeError& error) {
        ReportError(boxes, error);
    } catch (const std::bad_alloc&) {
        ReportError(boxes, RuntimeError(7, QStringLiteral(u"内存溢出")));
    } catch (const std::exception& error) {
        ReportError(boxes, RuntimeError(51, QStringLiteral(u"内部错误：") +
                                                QString::fromLocal8Bit(error.what())));
    }
}

// Connects a signal to a window's handler, which runs under RunHandler.
template <class Sender, class Signal, class Form>
void WireHandler(MessageBoxes& boxes, Sender* sender, Signal signal, Form* form,
                 void (Form::*handler)()) {
    QObject::connect(sender, signal, form,
                     [&boxes, form, handler] { RunHandler(boxes, [&] { (form->*handler)(); }); });
}

}  // namespace vorelta
