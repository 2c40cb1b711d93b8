#pragma once

#include <QString>

class QWidget;

// Message box types and answers, combinable as flags.
namespace MessageBoxFlags {
inline constexpr unsigned Ok = 0x0;
inline constexpr unsigned YesNo = 0x4;
inline constexpr unsigned IconQuestion = 0x20;
inline constexpr unsigned DefaultButton2 = 0x100;
}
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Shows text modally over parent and returns the answer: IDOK for a box with
// only OK, IDYES or IDNO for a Yes/No box (Escape answers No). The caption is
// the host application's display name.
int ShowMessageBox(QWidget *parent, const QString &text, unsigned flags);
