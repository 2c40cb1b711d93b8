#pragma once

#include "dialogtemplate.h"

#include <QHash>

class QDialog;
class QWidget;

// Builds the widgets of a template on dialog: geometry from dialog units,
// objectName = decimal ID, tab order = template order. Returns the controls
// that have an ID, by ID.
QHash<int, QWidget *> BuildDialogFromTemplate(QDialog *dialog, const DialogTemplate &dialogTemplate);
