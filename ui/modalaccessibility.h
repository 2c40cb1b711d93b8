#pragma once

class QWidget;

// A screen reader learns that a dialog is modal only from its accessible
// state, which Qt does not set for dialogs. Our dialogs are marked, and
// while a ModalAccessibility lives they report themselves modal when they
// run modally. It is made once by the module and gone before the module
// unloads, so that Qt keeps no pointer into unloaded code.
void MarkForScreenReaders(QWidget *dialog);

class ModalAccessibility
{
public:
    ModalAccessibility();
    ~ModalAccessibility();
    ModalAccessibility(const ModalAccessibility &) = delete;
    ModalAccessibility &operator=(const ModalAccessibility &) = delete;
};
