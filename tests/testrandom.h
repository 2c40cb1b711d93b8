#pragma once

#include <QRandomGenerator>
#include <QtTest>

// The random texts of a test start from one number, printed so that a
// failure can be replayed: KELVO_TEST_RANDOM=<number> gives every test
// function the same texts again, run alone or with the others.
inline QRandomGenerator &testRandom()
{
    static const quint32 start = [] {
        bool given = false;
        quint32 chosen = qEnvironmentVariable("KELVO_TEST_RANDOM").toUInt(&given);
        if (!given)
            chosen = QRandomGenerator::system()->generate();
        qInfo("random texts from %u (KELVO_TEST_RANDOM=%u replays them)", chosen, chosen);
        return chosen;
    }();
    static QRandomGenerator generator;
    static QByteArray startedFor;
    if (startedFor != QTest::currentTestFunction()) {
        startedFor = QTest::currentTestFunction();
        generator = QRandomGenerator(start);
    }
    return generator;
}
