#include "bookexport.h"

#include "addresscredentials.h"
#include "bookfile.h"

#include "cserverbookstore.h"
#include "filezillawriter.h"

#include <QBuffer>
#include <QFile>
#include <QSaveFile>

#include <sys/stat.h>

#include <algorithm>
#include <charconv>

BookEntry ReadCurrentEntry(CServerBookStore &store, int ordinal)
{
    return {ordinal, store.GetFieldText(QStringLiteral("Bezeichnung")),
            store.GetFieldText(QStringLiteral("Servername")),
            store.GetFieldText(QStringLiteral("Startverzeichnis")),
            store.GetFieldText(QStringLiteral("Plugindateiname"))};
}

void ForEachEntry(CServerBookStore &store, const std::function<void(const BookEntry &)> &perEntry)
{
    int ordinal = 0;
    BookEntry entry;
    store.ScanEntries([&](const CServerBookStore::StoredEntry &stored) {
        entry = {ordinal++, QString::fromUtf8(stored.label), QString::fromUtf8(stored.server),
                 QString::fromUtf8(stored.startDir), QString::fromUtf8(stored.pluginFile)};
        perEntry(entry);
    });
}

std::vector<BookEntry> ReadBook(CServerBookStore &store)
{
    std::vector<BookEntry> entries;
    ForEachEntry(store, [&entries](const BookEntry &entry) { entries.push_back(entry); });
    return entries;
}

namespace {

// A text as QJsonDocument writes it: quoted, with ", \\ and control
// characters escaped, everything else as UTF-8.
void appendJsonString(QByteArray &out, const QString &text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    qsizetype plain = 0;  // the start of the run not yet appended
    const auto appendRun = [&](qsizetype upTo) {
        if (upTo > plain)
            AppendUtf8(out, QStringView(text).mid(plain, upTo - plain));
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u >= 0x20 && u != u'"' && u != u'\\')
            continue;
        appendRun(i);
        plain = i + 1;
        out += '\\';
        switch (u) {
        case u'"': out += '"'; break;
        case u'\\': out += '\\'; break;
        case u'\b': out += 'b'; break;
        case u'\f': out += 'f'; break;
        case u'\n': out += 'n'; break;
        case u'\r': out += 'r'; break;
        case u'\t': out += 't'; break;
        default:
            out += "u00";
            out += hex[u >> 4];
            out += hex[u & 0xF];
        }
    }
    appendRun(text.size());
    out += '"';
}

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

QByteArray writtenWhole(CBookWriter::Format format, const std::vector<BookEntry> &entries)
{
    QByteArray content;
    QBuffer buffer(&content);
    buffer.open(QIODevice::WriteOnly);
    CBookWriter writer(format, &buffer);
    for (const BookEntry &entry : entries)
        writer.Add(entry);
    writer.Finish();
    return content;
}

} // namespace

void AppendEscapedForLine(QByteArray &out, const QString &text)
{
    const auto special = [](QChar c) { return c == u'\\' || IsControlCharacter(c); };
    if (std::none_of(text.begin(), text.end(), special)) {
        AppendUtf8(out, text);
        return;
    }
    // Every control character escaped: another program's ESC sequence in a
    // label must not drive the user's terminal.
    QString escaped;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\': escaped += QLatin1String("\\\\"); break;
        case u'\t': escaped += QLatin1String("\\t"); break;
        case u'\r': escaped += QLatin1String("\\r"); break;
        case u'\n': escaped += QLatin1String("\\n"); break;
        default:
            if (!IsControlCharacter(c))
                escaped += c;
            else if (c.unicode() < 0x80)
                escaped += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                escaped += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        }
    }
    AppendUtf8(out, escaped);
}

QString EscapedForLine(const QString &text)
{
    QByteArray escaped;
    AppendEscapedForLine(escaped, text);
    return QString::fromUtf8(escaped);
}

QString NoteIfNotReadable(const BookEntry &entry)
{
    for (const QString &text : {entry.label, entry.server, entry.startDir, entry.pluginFile}) {
        if (text.contains(QChar::ReplacementCharacter))
            return QStringLiteral("Eintrag %1 \"%2\": enthält Bytes, die kein UTF-8 sind; sie stehen als "
                                  "\uFFFD in der Datei").arg(entry.ordinal).arg(Printable(entry.label));
    }
    return {};
}

QStringList EntriesNotReadable(const std::vector<BookEntry> &entries)
{
    QStringList notes;
    for (const BookEntry &entry : entries) {
        if (const QString note = NoteIfNotReadable(entry); !note.isEmpty())
            notes << note;
    }
    return notes;
}

CBookWriter::CBookWriter(Format format, QIODevice *out) : m_format(format), m_out(out)
{
    m_buffer.reserve(kFlushBytes + 4096);
    if (m_format == Format::FileZilla)
        m_fileZilla = std::make_unique<CFileZillaWriter>(&m_buffer);
    else if (m_format == Format::Csv)
        m_buffer = "ordinal,label,server,startdir,pluginfile\r\n";
    else if (m_format == Format::Json)
        m_buffer = "[\n";
}

CBookWriter::~CBookWriter() = default;

void CBookWriter::Add(const BookEntry &entry)
{
    // A password an older version left in an address goes nowhere.
    const QString server = WithoutPassword(entry.server);
    char number[16];
    const QByteArrayView ordinal(number, std::to_chars(number, number + sizeof number, entry.ordinal).ptr - number);
    switch (m_format) {
    case Format::Lines:
        m_buffer += ordinal;
        for (const QString *text : {&entry.label, &server, &entry.startDir, &entry.pluginFile}) {
            m_buffer += '\t';
            AppendEscapedForLine(m_buffer, *text);
        }
        m_buffer += '\n';
        break;
    case Format::Csv:
        m_buffer += ordinal;
        for (const QString *text : {&entry.label, &server, &entry.startDir, &entry.pluginFile}) {
            m_buffer += ',';
            m_buffer += csvField(*text);
        }
        m_buffer += "\r\n";
        break;
    case Format::Json:
        // As QJsonDocument writes an array of objects: indented, keys in order.
        if (m_entries)
            m_buffer += ",\n";
        m_buffer += "    {\n        \"label\": ";
        appendJsonString(m_buffer, entry.label);
        m_buffer += ",\n        \"ordinal\": ";
        m_buffer += ordinal;
        m_buffer += ",\n        \"pluginfile\": ";
        appendJsonString(m_buffer, entry.pluginFile);
        m_buffer += ",\n        \"server\": ";
        appendJsonString(m_buffer, server);
        m_buffer += ",\n        \"startdir\": ";
        appendJsonString(m_buffer, entry.startDir);
        m_buffer += "\n    }";
        break;
    case Format::FileZilla:
        m_fileZilla->Add(entry);
        break;
    }
    ++m_entries;
    if (const QString note = NoteIfNotReadable(entry); !note.isEmpty())
        m_notes << note;
    if (m_buffer.size() >= kFlushBytes)
        flush();
}

bool CBookWriter::Finish()
{
    if (m_format == Format::Json)
        m_buffer += m_entries ? "\n]\n" : "]\n";
    if (m_fileZilla)
        m_fileZilla->Finish();
    flush();
    return m_ok;
}

int CBookWriter::LeftOut() const
{
    return m_fileZilla ? m_fileZilla->LeftOut() : 0;
}

QStringList CBookWriter::Notes() const
{
    return m_fileZilla ? m_notes + m_fileZilla->Changed() : m_notes;
}

void CBookWriter::flush()
{
    // A short write is no error yet: the next one says why (a full disk).
    for (qsizetype done = 0; m_ok && done < m_buffer.size();) {
        const qint64 now = m_out->write(m_buffer.constData() + done, m_buffer.size() - done);
        m_ok = now > 0;
        done += now;
    }
    // Emptied, not freed: the next entries fill the same memory.
    m_buffer.truncate(0);
}

QByteArray BookToJson(const std::vector<BookEntry> &entries)
{
    return writtenWhole(CBookWriter::Format::Json, entries);
}

QByteArray BookToCsv(const std::vector<BookEntry> &entries)
{
    return writtenWhole(CBookWriter::Format::Csv, entries);
}

bool OpenExportTarget(QSaveFile &file, const QString &book, QString *error)
{
    struct stat target {};
    if (::stat(QFile::encodeName(file.fileName()).constData(), &target) == 0 && !S_ISREG(target.st_mode)) {
        *error = QStringLiteral("%1 ist keine gewöhnliche Datei und wird nicht ersetzt").arg(file.fileName());
        return false;
    }
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    BookFile::KeepAsPrivate(book, file.handle());
    return true;
}

bool SaveWhole(const QString &path, const QString &book, const QByteArray &content, QString *error)
{
    QSaveFile file(path);
    if (!OpenExportTarget(file, book, error))
        return false;
    bool written = true;
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
