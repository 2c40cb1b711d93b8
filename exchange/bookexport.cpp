#include "bookexport.h"

#include "cserverbookstore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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
    if (field.contains(',') || field.contains('"') || field.contains('\r') || field.contains('\n')) {
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
