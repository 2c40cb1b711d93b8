#include "foreignsite.h"

int StandardPort(const QString &scheme)
{
    static const struct {
        const char *scheme;
        int port;
    } ports[] = {{"ftp", 21}, {"ftps", 990}, {"sftp", 22}, {"scp", 22}, {"http", 80},
                 {"https", 443}, {"dav", 80}, {"davs", 443}, {"s3", 443}};
    for (const auto &known : ports) {
        if (scheme == QLatin1String(known.scheme))
            return known.port;
    }
    return 0;
}
