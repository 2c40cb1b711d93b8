#include "qtgermantexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

QtGermanTexts::QtGermanTexts()
{
    if (!QCoreApplication::instance())
        return;
    // The text of QMessageBox's Yes button, as Qt looks it up.
    if (QCoreApplication::translate("QPlatformTheme", "&Yes") != QLatin1String("&Yes"))
        return;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        || !QCoreApplication::installTranslator(translator.get()))
        return;
    m_translator = std::move(translator);
}

QtGermanTexts::~QtGermanTexts()
{
    if (m_translator)
        QCoreApplication::removeTranslator(m_translator.get());
}
