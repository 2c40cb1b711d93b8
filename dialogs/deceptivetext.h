#pragma once

#include <QString>
#include <QStringView>

// Texts that look like something they are not: a word that mixes scripts
// (a Cyrillic "а" among Latin letters in "аpple.de"), or controls that turn
// the direction text is shown in (an override that makes "exe.txt" of
// "txt.exe"). Another program may have put such text into the book; the
// user sees it marked before it decides where a site goes.
namespace DeceptiveText {

// What is deceptive about text, in words for the user; empty when nothing.
QString WhyDeceptive(QStringView text);
// text as shown with its deceptions visible: each direction control as
// "⟨U+202E⟩", and a "⚠ " before a text that mixes scripts.
QString Marked(const QString &text);
// The question before an entry with such texts is used: what deceives in
// which of its texts; empty when none does.
QString Question(const QString &label, const QString &server, const QString &startDir);

}
