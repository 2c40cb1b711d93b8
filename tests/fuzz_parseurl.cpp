// libFuzzer target: the address parser must neither crash nor hang on any
// input, and must keep its promises about what it hands back.

#include "afxparseurl.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString url = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    ServiceCode service = 0;
    QString server, object;
    quint16 port = 0;
    const bool ok = AfxParseURL(url, service, server, object, port);
    if (object.isEmpty())
        abort();
    if (!ok && (service != Service::Unknown || object != QLatin1String("/") || !server.isEmpty() || port))
        abort();
    if (ok && service == Service::Unknown)
        abort();
    return 0;
}
