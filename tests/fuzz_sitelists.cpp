// libFuzzer target for the readers of other clients' site lists, which read
// files from strangers: none may crash or hang on any input, a reader that
// reports an error hands back no sites and says why printably, and a path
// FileZilla's way decodes to one that encodes and decodes again.

#include "cyberduckformat.h"
#include "filezillaformat.h"
#include "winscpformat.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(const ReadResult &result)
{
    if (!result.ok() && !result.sites.empty())
        abort();
    // Messages quote the file's bytes printably, never raw.
    for (const QChar c : result.error) {
        if (c.unicode() < 0x20)
            abort();
    }
    for (const ForeignSite &site : result.sites) {
        if (site.port < 0 || site.port > 65535)
            abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    check(ReadFileZilla(content));
    check(ReadWinScp(content));
    check(ReadCyberduck(content));
    if (const std::optional<QString> path = DecodeFileZillaPath(QString::fromUtf8(content))) {
        const std::optional<QString> again = DecodeFileZillaPath(EncodeFileZillaPath(*path));
        if (!again)
            abort();
    }
    return 0;
}
