#include "storeerror.h"

#include <QDir>

StoreError::StoreError(const QString &file, const QString &cause)
    : m_message(QStringLiteral("Serverbook-Datei %1: %2").arg(QDir::toNativeSeparators(file), cause)),
      m_utf8(m_message.toUtf8())
{
}
