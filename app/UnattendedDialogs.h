#pragma once

#include <QString>

class QObject;

class QDialog;

namespace qor::app {

// A run without anyone watching (a screenshot, a render) must not wait for a click that never
// comes. From this call on, every modal dialog is refused as it shows, and what it said goes
// to standard error as one line "QorCAD: …". Progress dialogs wait for nobody and show as
// usual. Needs the application object. Returns the refusal, owned by the application;
// deleting it ends the refusal.
QObject* refuseDialogs();

// What a dialog says, on one line: a message box's text and detail, else the texts of its
// labels in order.
QString dialogText(const QDialog& dialog);

} // namespace qor::app
