#include "linkactions.h"

#include "addresscredentials.h"
#include "booklistview.h"
#include "cnewentrydialog.h"
#include "entrylink.h"
#include "loadedworkers.h"
#include "messagebox.h"
#include "signinactions.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

#include <optional>

void LinkActions::CopyAddress()
{
    if (m_view.CheckedSelection() == -1)
        return;
    const QString link = LinkOfEntry(WithoutPassword(m_view.ShownServer()), m_view.ShownStartDir());
    if (link.isEmpty()) {
        m_view.Tell(QStringLiteral("Die Adresse \"%1\" ist kein Link und wird nicht kopiert.").arg(m_view.ShownServer()),
                    MessageBoxFlags::Ok);
        return;
    }
    auto *data = new QMimeData;
    data->setText(link);
    data->setUrls({QUrl(link)});
    QGuiApplication::clipboard()->setMimeData(data);
}

void LinkActions::PasteAddress()
{
    if (!m_view.Book() || m_view.RefusedAsReadOnly())
        return;
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    const QString text = data && data->hasUrls() && !data->urls().isEmpty()
                             ? data->urls().first().toString(QUrl::FullyEncoded)
                             : QGuiApplication::clipboard()->text();
    QString why, password;
    const std::optional<BookEntry> entry = EntryOfLink(text, LoadedWorkers(), &why, &password);
    if (!entry) {
        m_view.Tell(why, MessageBoxFlags::Ok);
        return;
    }
    // The password never reaches the entry dialog, where it would show.
    if (!password.isEmpty()) {
        const int answer = m_view.Tell(QStringLiteral("Der Link enthält ein Passwort. Im Serverbook wird es nicht "
                                                      "gespeichert.\n\nSoll es im Schlüsselbund der Arbeitsumgebung "
                                                      "gespeichert werden? (Nein: Es wird verworfen.)"),
                                       MessageBoxFlags::YesNo | MessageBoxFlags::IconQuestion);
        if (answer == IDYES && !SignInActions(m_view).OfferPassword(entry->server, password))
            return;
    }
    m_view.AddEntry([&entry](CNewEntryDialog &dialog) {
        dialog.Prefill(entry->label, entry->server, entry->startDir, entry->pluginFile);
    });
}
