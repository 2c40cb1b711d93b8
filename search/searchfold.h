#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

// How the search compares texts: without regard to case or accents, so that
// "muller" finds "Bäckerei Müller" and "FTP.EXAMPLE" finds
// "ftp://ftp.example.com/". A text is folded to UTF-8: decomposed, its
// accents dropped, case folded, "ß" written "ss". Control characters are
// dropped too; the search index separates its texts with them.
QByteArray FoldedForSearch(QStringView text);
// The same for a text stored as UTF-8 (valid or not), appended to folded;
// plain ASCII, the common case, without a detour through UTF-16.
void AppendFoldedForSearch(QByteArray &folded, QByteArrayView utf8);
