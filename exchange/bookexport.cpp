#include "bookexport.h"

#include "cserverbookstore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

BookEntry ReadCurrentEntry(CServerBookStore &store, int ordinal)
{
    return {ordinal, store.GetFieldText(QStringLiteral("Bezeichnung")),
            store.GetFieldText(QStringLiteral("Servername")),
            store.GetFieldText(QStringLiteral("Startverzeichnis")),
            store.GetFieldText(QStringLiteral("Plugindateiname"))};
}

std::vector<BookEntry> ReadBook(CServerBookStore &store)
{
    std::vector<BookEntry> entries;
    int ordinal = 0;
    for (store.MoveFirst(); !store.IsEOF(); store.MoveNext(), ++ordinal)
        entries.push_back(ReadCurrentEntry(store, ordinal));
    return entries;
}

QByteArray BookToJson(const std::vector<BookEntry> &entries)
{
    QJsonArray array;
    for (const BookEntry &entry : entries) {
        array.append(QJsonObject{{QStringLiteral("ordinal"), entry.ordinal},
                                 {QStringLiteral("label"), entry.label},
                                 {QStringLiteral("server"), entry.server},
                                 {QStringLiteral("startdir"), entry.startDir},
                                 {QStringLiteral("pluginfile"), entry.pluginFile}});
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

namespace {

QByteArray csvField(const QString &text)
{
    QByteArray field = text.toUtf8();
    // As OWASP advises against formula injection: such a cell is quoted and
    // begins with a ', which spreadsheets show and do not run.
    const bool formula = !field.isEmpty() && QByteArrayView("=+-@\t\r").contains(field[0]);
    if (formula)
        field.prepend('\'');
    if (formula || field.contains(',') || field.contains('"') || field.contains('\r') || field.contains('\n')) {
        field.replace("\"", "\"\"");
        field = '"' + field + '"';
    }
    return field;
}

} // namespace

QByteArray BookToCsv(const std::vector<BookEntry> &entries)
{
    QByteArray csv = "ordinal,label,server,startdir,pluginfile\r\n";
    for (const BookEntry &entry : entries) {
        csv += QByteArray::number(entry.ordinal) + ',' + csvField(entry.label) + ',' + csvField(entry.server)
               + ',' + csvField(entry.startDir) + ',' + csvField(entry.pluginFile) + "\r\n";
    }
    return csv;
}

QStringList EntriesNotReadable(const std::vector<BookEntry> &entries)
{
    QStringList notes;
    for (const BookEntry &entry : entries) {
        for (const QString &text : {entry.label, entry.server, entry.startDir, entry.pluginFile}) {
            if (text.contains(QChar::ReplacementCharacter)) {
                notes << QStringLiteral("Eintrag %1 \"%2\": enthält Bytes, die kein UTF-8 sind; sie stehen als "
                                        "\uFFFD in der Datei").arg(entry.ordinal).arg(Printable(entry.label));
                break;
            }
        }
    }
    return notes;
}

bool SaveWhole(const QString &path, const QByteArray &content, QString *error)
{
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly);
    // A short write is no error yet: the next one says why (a full disk).
    for (qsizetype done = 0; written && done < content.size();) {
        const qint64 now = file.write(content.constData() + done, content.size() - done);
        written = now > 0;
        done += now;
    }
    if (written && file.flush() && file.commit())
        return true;
    *error = file.errorString();
    return false;
}
