#include "messagebox.h"

#include <QGuiApplication>
#include <QMessageBox>

int ShowMessageBox(QWidget *parent, const QString &text, unsigned flags)
{
    QMessageBox box(parent);
    box.setWindowTitle(QGuiApplication::applicationDisplayName());
    box.setText(text);
    if (flags & MessageBoxFlags::IconQuestion)
        box.setIcon(QMessageBox::Question);
    if ((flags & 0xF) != MessageBoxFlags::YesNo) {
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return IDOK;
    }
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(flags & MessageBoxFlags::DefaultButton2 ? QMessageBox::No : QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
}
