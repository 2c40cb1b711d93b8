#include "passwords.h"

#include "addresscredentials.h"
#include "bookexport.h"
#include "cbookbackups.h"
#include "cserverbookstore.h"
#include "keyring.h"
#include "siteimport.h"
#include "sqlite.h"
#include "storeerror.h"
#include "toolsupport.h"

#include <QSet>

#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

// What to say when the keyring could not be reached, and that nothing of
// the password went anywhere else.
void reportUnreached(const KeyringAnswer &answer)
{
    err() << "kelvo-book: " << answer.why << Qt::endl;
}

std::optional<SignInKey> keyOfEntry(const BookEntry &entry)
{
    const std::optional<SignInKey> key = SignInKeyOf(entry.server);
    if (!key)
        err() << "kelvo-book: Eintrag " << entry.ordinal << " nennt keinen Benutzernamen und keinen Server, unter dem "
              << "ein Passwort liegen kann; \"kelvo-book edit " << entry.ordinal
              << " --server ftp://benutzer@server/\" setzt einen." << Qt::endl;
    return key;
}

// The key of the entry at ordinal; none, after saying why.
std::optional<SignInKey> keyAt(CServerBookStore &store, int ordinal)
{
    if (!store.PositionAt(ordinal)) {
        err() << "kelvo-book: Es gibt keinen Eintrag " << ordinal << '.' << Qt::endl;
        return std::nullopt;
    }
    return keyOfEntry(ReadCurrentEntry(store, ordinal));
}

// A line of standard input, without its line end; on a terminal asked for
// on stderr and read without echo, so that it shows nowhere.
std::optional<QString> readPassword(const QString &prompt)
{
    const bool terminal = ::isatty(STDIN_FILENO);
    termios before{};
    if (terminal && ::tcgetattr(STDIN_FILENO, &before) == 0) {
        termios silent = before;
        silent.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
        err() << prompt << Qt::flush;
    }
    std::string line;
    int c = 0;
    while ((c = std::getchar()) != EOF && c != '\n')
        line.push_back(char(c));
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
        err() << Qt::endl;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.empty() && c == EOF)
        return std::nullopt;
    return QString::fromStdString(line);
}

QString describedKey(const SignInKey &key)
{
    return key.user + QLatin1Char('@') + key.server + (key.port ? QLatin1Char(':') + QString::number(key.port) : QString());
}

} // namespace

bool PutPasswordAside(QString &server)
{
    const AddressCredentials credentials = CredentialsIn(server);
    if (!credentials.hasPassword)
        return true;
    const QString without = WithoutPassword(server);
    const std::optional<SignInKey> key = SignInKeyOf(without);
    if (!key) {
        err() << "kelvo-book: Die Adresse enthält ein Passwort, aber keinen Benutzernamen, unter dem es im "
              << "Schlüsselbund liegen kann. Passwörter werden nie im Serverbook gespeichert; nichts wurde geändert."
              << Qt::endl;
        return false;
    }
    const KeyringAnswer stored = Keyring::Store(*key, credentials.password);
    if (!stored.reached()) {
        err() << "kelvo-book: Das Passwort in der Adresse konnte nicht in den Schlüsselbund gelegt werden. "
              << stored.why << " Im Serverbook wird es nie gespeichert; nichts wurde geändert." << Qt::endl;
        return false;
    }
    err() << "kelvo-book: Das Passwort für " << describedKey(*key)
          << " liegt jetzt im Schlüsselbund der Arbeitsumgebung; im Serverbook steht die Adresse ohne Passwort."
          << Qt::endl;
    server = without;
    return true;
}

int KeepImportedPasswords(const ImportPlan &plan)
{
    int kept = 0, withoutUser = 0;
    for (const ImportItem &item : plan.items) {
        if (item.password.isEmpty() || item.entry.server.isEmpty())
            continue;
        const std::optional<SignInKey> key = SignInKeyOf(item.entry.server);
        if (!key) {
            ++withoutUser;
            continue;
        }
        const KeyringAnswer stored = Keyring::Store(*key, item.password);
        if (!stored.reached()) {
            err() << "kelvo-book: " << kept << " Passwörter liegen im Schlüsselbund, die übrigen nicht. " << stored.why
                  << Qt::endl;
            return 1;
        }
        ++kept;
    }
    err() << "kelvo-book: " << kept << " Passwörter in den Schlüsselbund gelegt";
    if (withoutUser)
        err() << ", " << withoutUser << " ohne Benutzernamen nicht";
    err() << '.' << Qt::endl;
    return 0;
}

int TellPasswordsLeft(const ImportPlan &plan)
{
    const auto left = std::count_if(plan.items.cbegin(), plan.items.cend(),
                                    [](const ImportItem &item) { return !item.password.isEmpty(); });
    if (left)
        err() << "kelvo-book: " << left << " Passwörter der Serverliste wurden nicht übernommen; --passwords legt sie "
              << "in den Schlüsselbund der Arbeitsumgebung." << Qt::endl;
    return 0;
}

int SetPassword(CServerBookStore &store, int ordinal)
{
    const std::optional<SignInKey> key = keyAt(store, ordinal);
    if (!key)
        return 1;
    const std::optional<QString> password = readPassword(QStringLiteral("Passwort für %1: ").arg(describedKey(*key)));
    if (!password || password->isEmpty()) {
        err() << "kelvo-book: Kein Passwort gelesen; nichts wurde gespeichert." << Qt::endl;
        return 1;
    }
    const KeyringAnswer stored = Keyring::Store(*key, *password);
    if (!stored.reached()) {
        reportUnreached(stored);
        return 1;
    }
    return 0;
}

int ClearPassword(CServerBookStore &store, int ordinal)
{
    const std::optional<SignInKey> key = keyAt(store, ordinal);
    if (!key)
        return 1;
    const KeyringAnswer cleared = Keyring::Clear(*key);
    if (!cleared.reached()) {
        reportUnreached(cleared);
        return 1;
    }
    return 0;
}

int ListPasswords(CServerBookStore &store)
{
    for (const BookEntry &entry : ReadBook(store)) {
        QString state;
        if (CredentialsIn(entry.server).hasPassword) {
            state = QStringLiteral("im Serverbook (kelvo-book password move)");
        } else if (const std::optional<SignInKey> key = SignInKeyOf(entry.server)) {
            const KeyringAnswer found = Keyring::Lookup(*key);
            if (!found.reached()) {
                flushOutput();
                reportUnreached(found);
                return 1;
            }
            state = found.status == KeyringAnswer::Status::Found ? QStringLiteral("gespeichert") : QStringLiteral("keins");
        } else {
            state = QStringLiteral("kein Benutzername");
        }
        out() << entry.ordinal << '\t' << EscapedForLine(entry.label) << '\t' << state << '\n';
    }
    return 0;
}

int MovePasswords(CServerBookStore &store)
{
    // Into the keyring first: the book changes only once all are there.
    QSet<QString> moved;
    for (const BookEntry &entry : ReadBook(store)) {
        if (!CredentialsIn(entry.server).hasPassword || moved.contains(entry.server))
            continue;
        QString server = entry.server;
        if (!PutPasswordAside(server)) {
            err() << "kelvo-book: Eintrag " << entry.ordinal << " (" << EscapedForLine(entry.label)
                  << "): nichts im Serverbook wurde geändert." << Qt::endl;
            return 1;
        }
        moved.insert(entry.server);
    }
    // Only addresses whose password is in the keyring now are changed; one
    // another program added meanwhile stays for the next run.
    const int changed = moved.isEmpty() ? 0 : store.ChangeServers([&moved](const QString &server) -> std::optional<QString> {
        return moved.contains(server) ? std::optional<QString>(WithoutPassword(server)) : std::nullopt;
    });
    out() << changed << " Adressen ohne Passwort gespeichert";
    if (!store.BackupMade().isEmpty())
        out() << "; Sicherung vorher: " << store.BackupMade();
    out() << '\n';

    // Backups are copies of the past and stay; the user decides about them.
    const CBookBackups backups(store.File());
    for (const CBookBackups::Backup &backup : backups.List()) {
        if (!backup.complete())
            continue;
        const SqliteConnection copy(backups.PathOf(backup.name), SqliteConnection::Access::Immutable, true);
        SqliteStatement servers = copy.Prepare("SELECT Servername FROM Serverbook");
        bool holds = false;
        while (!holds && servers.Step())
            holds = CredentialsIn(servers.Text(0)).hasPassword;
        if (holds)
            err() << "kelvo-book: Die Sicherung " << backup.name << " enthält noch Passwörter; sie bleibt, bis Sie "
                  << "sie selbst löschen." << Qt::endl;
    }
    return 0;
}
