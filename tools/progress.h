#pragma once

// A progress line for long work, on standard error: only when it is a
// terminal (scripts and the lines on standard output stay clean), at most
// four times a second, as "what: done / total unit (rate/s)". The line is
// cleared when the work ends.

#include "toolsupport.h"

#include <QElapsedTimer>
#include <QString>

#include <unistd.h>

class CProgress
{
public:
    // divisor turns counts into the unit shown (1 for entries, 1 MB for bytes).
    CProgress(const QString &what, const QString &unit, double divisor = 1)
        : m_what(what), m_unit(unit), m_divisor(divisor), m_shown(isatty(STDERR_FILENO) == 1)
    {
        m_clock.start();
    }
    ~CProgress()
    {
        if (m_shown && m_lastShownMs >= 0)
            err() << "\r\033[K" << Qt::flush;
    }
    CProgress(const CProgress &) = delete;
    CProgress &operator=(const CProgress &) = delete;

    void Show(qint64 done, qint64 total)
    {
        const qint64 now = m_clock.elapsed();
        if (!m_shown || (m_lastShownMs >= 0 && now - m_lastShownMs < 250) || now < 250)
            return;
        m_lastShownMs = now;
        const double rate = done / m_divisor / (double(now) / 1000);
        err() << '\r' << m_what << ": " << QString::number(done / m_divisor, 'f', m_divisor > 1 ? 1 : 0) << " / "
              << QString::number(total / m_divisor, 'f', m_divisor > 1 ? 1 : 0) << ' ' << m_unit << " ("
              << QString::number(rate, 'f', 0) << ' ' << m_unit << "/s)\033[K" << Qt::flush;
    }

private:
    QString m_what;
    QString m_unit;
    double m_divisor;
    bool m_shown;
    QElapsedTimer m_clock;
    qint64 m_lastShownMs = -1;
};
