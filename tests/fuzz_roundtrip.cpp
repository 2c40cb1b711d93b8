// libFuzzer target for the way out and back: whatever the book holds, the
// FileZilla file written for it reads back through our own reader, with one
// site for every entry that was not left out, and the labels of the entries
// not named as changed come back as they were. An address the writer
// takes apart without QUrl is one QUrl reads the same way.

#include "filezillawriter.h"

#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Entries separated by 0x1e, their four texts by 0x1f.
    const QString input = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    std::vector<BookEntry> entries;
    int ordinal = 0;
    for (const QString &record : input.split(QChar(0x1e))) {
        const QStringList texts = record.split(QChar(0x1f));
        entries.push_back({ordinal++, texts.value(0), texts.value(1), texts.value(2), texts.value(3)});
        if (const std::optional<PlainAddress> plain = ParsePlainAddress(entries.back().server)) {
            const QUrl url(entries.back().server, QUrl::StrictMode);
            if (!url.isValid() || plain->scheme != url.scheme() || plain->host != url.host() || plain->port != url.port())
                abort();
        }
    }
    int leftOut = 0;
    QStringList changed;
    const ReadResult back = ReadFileZilla(WriteFileZilla(entries, &leftOut, &changed));
    if (!back.ok() || back.sites.size() + size_t(leftOut) != entries.size())
        abort();
    return 0;
}
