#pragma once

#include "dialogtemplate.h"

// The dialog templates a module has registered: a module registers its own
// when it is loaded, so that its dialogs find them by ID.
void RegisterDialogTemplates(std::span<const DialogTemplate> templates);
void UnregisterDialogTemplates(std::span<const DialogTemplate> templates);
// Null when no registered template has that ID.
const DialogTemplate *FindDialogTemplate(int id);
