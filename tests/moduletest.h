#pragma once

// The real Kelvo module in a plug-in directory of the test's own, loaded
// through the host framework, with a real store file beside it.

#include "cplugindll.h"
#include "cpluginhost.h"
#include "storefixture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// Sets up a ModuleFixture named name with the given arguments; when the
// set-up fails the test ends there, failed with the set-up's message, instead
// of going on with no module.
#define KELVO_LOAD_MODULE(name, ...)                                                                  \
    ModuleFixture name{__VA_ARGS__};                                                                 \
    if (!name.loaded())                                                                              \
    return

class ModuleFixture
{
public:
    // Copies Kelvo (from moduleDir) and the given workers (sample or test
    // fixtures) into a fresh plug-in directory and loads it.
    explicit ModuleFixture(const QStringList &workers = {}, const QString &moduleDir = KELVO_PLUGIN_DIR)
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(QFile::copy(moduleDir + "/Kelvo.so", m_dir.filePath("Kelvo.so")), qPrintable(moduleDir));
        for (const QString &file : workers) {
            const QString sample = KELVO_PLUGIN_DIR "/" + file;
            const QString from = QFile::exists(sample) ? sample : KELVO_TEST_PLUGIN_DIR "/" + file;
            QVERIFY2(QFile::copy(from, m_dir.filePath(file)), qPrintable(file));
        }
        QString why;
        m_host = CPluginHost::Open(m_dir.path(), &why);
        QVERIFY2(m_host, qPrintable(why));
        for (int i = 0; i < m_host->Plugins()->GetPluginCount(); ++i) {
            if (auto *book = dynamic_cast<CServerbookExtPluginDLL *>(m_host->Plugins()->GetPluginAt(i)))
                m_book = book;
        }
        QVERIFY2(m_book, qPrintable("no server book module loaded from " + m_dir.path()));
    }

    // False when the set-up failed; the failure is already recorded.
    bool loaded() const { return m_book != nullptr; }

    QString pluginDir() const { return m_dir.path(); }
    QString storeFile() const { return CServerBookStore::FileIn(m_dir.path()); }
    CServerbookExtPluginDLL *book() const { return m_book; }

    // Runs ShowServerBook and returns what GetLastServerBookEntry reports.
    std::pair<int, SERVERBOOKENTRYSTRUC> select() const
    {
        m_book->ShowServerBook(0);
        SERVERBOOKENTRYSTRUC entry;
        const int result = m_book->GetLastServerBookEntry(&entry);
        return {result, entry};
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<CPluginHost> m_host;
    CServerbookExtPluginDLL *m_book = nullptr;
};
