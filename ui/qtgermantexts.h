#pragma once

#include <QTranslator>

#include <memory>

// The dialogs speak German whatever the host's language; the buttons and
// file dialogs that Qt itself provides ("Ja", "Nein", "Öffnen") must too.
// While an object of this class lives, Qt's own German translation is
// installed in the application, unless Qt's texts are German already (the
// host runs in German) or the translation is not installed (then Qt's
// English texts stay).
class QtGermanTexts
{
public:
    QtGermanTexts();
    ~QtGermanTexts();
    QtGermanTexts(const QtGermanTexts &) = delete;
    QtGermanTexts &operator=(const QtGermanTexts &) = delete;

    // Whether this object installed the translation.
    bool Installed() const { return m_translator != nullptr; }

private:
    std::unique_ptr<QTranslator> m_translator;
};
