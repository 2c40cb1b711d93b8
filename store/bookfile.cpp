#include "bookfile.h"

#include "storeerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

const char *const BookFile::kTable = "Serverbook";
const char *const BookFile::kFields = "Bezeichnung, Servername, Startverzeichnis, Plugindateiname";

namespace {

// SQLite opens no path longer than 512 bytes, with "-journal" after it;
// backups lie two levels further down under longer names. A book whose own
// path leaves them no room is refused with the reason, not with the engine's
// "unable to open database file" at its first backup.
constexpr qsizetype kMostPathBytes = 440;

std::optional<QString> tooLong(const QString &file)
{
    const qsizetype bytes = QFile::encodeName(QFileInfo(file).absoluteFilePath()).size();
    if (bytes <= kMostPathBytes)
        return std::nullopt;
    return QStringLiteral("Der Pfad ist %1 Bytes lang; SQLite kann ein Serverbook mit seinen Sicherungen nur bis "
                          "%2 Bytes öffnen. Bitte einen kürzeren Ordner wählen (--plugin-dir).")
        .arg(bytes)
        .arg(kMostPathBytes);
}

// Why a folder could not be made: the nearest one above it that exists is
// no folder, or the user may not write into it; else what mkdir said.
QString whyNoFolder(const QString &folder, int mkdirError)
{
    QFileInfo above(folder);
    while (!above.exists() && above.absolutePath() != above.absoluteFilePath())
        above = QFileInfo(above.absolutePath());
    const QString shown = QDir::toNativeSeparators(above.absoluteFilePath());
    if (!above.isDir())
        return QStringLiteral("denn %1 ist kein Ordner").arg(shown);
    if (access(QFile::encodeName(above.absoluteFilePath()).constData(), W_OK) != 0)
        return QStringLiteral("denn in %1 dürfen Sie nicht schreiben").arg(shown);
    return QStringLiteral("denn: %1").arg(QString::fromLocal8Bit(std::strerror(mkdirError)));
}

// Why the book at file can only be read: a file system mounted read-only, a
// file or a folder the user may not write (SQLite writes its journal beside
// the book). Empty when it can be changed.
QString readOnlyReasonOf(const QString &file)
{
    const QByteArray path = QFile::encodeName(QFileInfo(file).absoluteFilePath());
    const QByteArray folder = QFile::encodeName(QFileInfo(file).absolutePath());
    struct statvfs system {};
    if (statvfs(path.constData(), &system) == 0 && (system.f_flag & ST_RDONLY))
        return QStringLiteral("das Dateisystem ist schreibgeschützt eingehängt");
    if (access(path.constData(), W_OK) != 0)
        return QStringLiteral("die Datei ist schreibgeschützt");
    if (access(folder.constData(), W_OK) != 0)
        return QStringLiteral("der Ordner %1 ist schreibgeschützt").arg(QDir::toNativeSeparators(QFileInfo(file).absolutePath()));
    return {};
}

bool tableReadable(const SqliteConnection &connection)
{
    try {
        connection.Prepare(QByteArray("SELECT 1 FROM ") + BookFile::kTable + " LIMIT 0").Step();
        return true;
    } catch (const StoreError &) {
        return false;
    }
}

// A table that opens is not yet one that lists: a view has no rowids to
// address rows by, and a table WITHOUT ROWID refuses a statement that reads them.
void requireListableTable(const SqliteConnection &connection)
{
    SqliteStatement kind = connection.Prepare("SELECT type FROM sqlite_schema WHERE name = ? COLLATE NOCASE");
    kind.BindUtf8(1, BookFile::kTable);
    const QString table = QString::fromLatin1(BookFile::kTable);
    if (kind.Step() && kind.Text(0) != QLatin1String("table"))
        throw StoreError(connection.File(), QStringLiteral("%1 ist keine Tabelle, sondern vom Typ %2; "
                                                           "ihre Einträge lassen sich nicht einzeln ansprechen.")
                                                .arg(table, kind.Text(0)));
    try {
        connection.Prepare(QByteArray("SELECT rowid FROM ") + BookFile::kTable);
    } catch (const StoreError &) {
        throw StoreError(connection.File(),
                         QStringLiteral("Die Tabelle %1 lässt sich nicht auflisten: %2").arg(table, connection.EngineText()));
    }
}

// The book's permission bits; owner-only when it cannot be read.
mode_t bookMode(const QString &book)
{
    struct stat info {};
    return ::stat(QFile::encodeName(book).constData(), &info) == 0 ? info.st_mode & 0777 : S_IRUSR | S_IWUSR;
}

} // namespace

void BookFile::KeepAsPrivate(const QString &book, int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) == 0)
        ::fchmod(fd, info.st_mode & 0777 & bookMode(book));
}

void BookFile::KeepFolderAsPrivate(const QString &book, const QString &folder)
{
    const mode_t readable = bookMode(book);
    // Searchable by whoever may read the book.
    const mode_t allowed = readable | ((readable & 0444) >> 2);
    struct stat info {};
    const QByteArray path = QFile::encodeName(folder);
    if (::stat(path.constData(), &info) == 0)
        ::chmod(path.constData(), info.st_mode & 07777 & (allowed | ~mode_t(0777)));
}

void BookFile::Create(const QString &file)
{
    if (const auto why = tooLong(file))
        throw StoreError(file, *why);
    const QFileInfo info(file);
    if (!QDir().mkpath(info.absolutePath())) {
        const int mkdirError = errno;
        throw StoreError(file, QStringLiteral("Der Ordner %1 kann nicht angelegt werden, %2. Bitte einen Ordner "
                                              "wählen, in den Sie schreiben dürfen (--plugin-dir).")
                                   .arg(QDir::toNativeSeparators(info.absolutePath()),
                                        whyNoFolder(info.absolutePath(), mkdirError)));
    }
    // Created exclusively: whatever stands at the path (another book, one
    // being created right now, even a dangling link) stays untouched.
    QFile created(file);
    if (!created.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (QFileInfo::exists(file) || QFileInfo(file).isSymLink())
            throw StoreError(file, QStringLiteral("Es gibt dort bereits ein Serverbook oder eine andere Datei; "
                                                  "sie existiert bereits und wird nicht überschrieben."));
        throw StoreError(file, QStringLiteral("Die Datei kann nicht angelegt werden: %1").arg(created.errorString()));
    }
    created.close();
    try {
        const SqliteConnection connection(file, SqliteConnection::Access::ReadWrite);
        connection.Exec("CREATE TABLE Serverbook (Bezeichnung TEXT, Servername TEXT, "
                        "Startverzeichnis TEXT, Plugindateiname TEXT)");
    } catch (const StoreError &) {
        // Only the file this call created goes again.
        QFile::remove(file);
        throw;
    }
}

BookFile::BookFile(const QString &file)
{
    const QFileInfo info(file);
    if (info.isDir())
        throw StoreError(file, QStringLiteral("Dort steht ein Ordner, keine Serverbook-Datei."));
    if (!info.isFile())
        throw StoreError(file, QStringLiteral("Die Datei wurde nicht gefunden. Ein leeres Serverbook legt "
                                              "\"kelvo-book init\" an; ein anderes wählt --plugin-dir."));
    if (const auto why = tooLong(file))
        throw StoreError(file, *why);

    m_readOnly = readOnlyReasonOf(file);
    struct stat opened {};
    if (::stat(QFile::encodeName(file).constData(), &opened) == 0) {
        m_device = quint64(opened.st_dev);
        m_inode = quint64(opened.st_ino);
    }
    m_access = m_readOnly.isEmpty() ? SqliteConnection::Access::ReadWrite : SqliteConnection::Access::ReadOnly;
    m_connection = SqliteConnection(file, m_access);
    // A book in WAL mode whose folder cannot take the log's files can still
    // be read as it is.
    if (!m_readOnly.isEmpty() && !tableReadable(m_connection)) {
        m_access = SqliteConnection::Access::Immutable;
        m_connection = SqliteConnection(file, m_access);
    }
    // Reading the four fields proves the file is SQLite and has the table.
    m_connection.Prepare(QByteArray("SELECT ") + kFields + " FROM " + kTable + " LIMIT 0").Step();
    requireListableTable(m_connection);
    // A listing reads every page once, in order: a page cache would only
    // hold memory a large book's sort needs.
    m_connection.Exec("PRAGMA cache_size = -256");
}

bool BookFile::Replaced() const
{
    struct stat now {};
    return ::stat(QFile::encodeName(File()).constData(), &now) != 0 || quint64(now.st_dev) != m_device
           || quint64(now.st_ino) != m_inode;
}

SqliteConnection BookFile::OpenAnother() const
{
    SqliteConnection another(File(), m_access);
    another.Exec("PRAGMA cache_size = -256");
    return another;
}
