#pragma once

// For tests that prove memory stays bounded: a limit on the address space
// the test process may add to what it maps now, for as long as it lives.
// AddressSanitizer maps its own memory beyond any such limit, so those
// tests skip under it (KELVO_UNDER_ASAN).

#include <QFile>

#include <sys/resource.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define KELVO_UNDER_ASAN 1
#elif defined(__has_feature)
#define KELVO_UNDER_ASAN __has_feature(address_sanitizer)
#else
#define KELVO_UNDER_ASAN 0
#endif

class AddressSpaceLimit
{
public:
    explicit AddressSpaceLimit(rlim_t beyondNow)
    {
        QFile statm(QStringLiteral("/proc/self/statm"));
        if (!statm.open(QIODevice::ReadOnly) || getrlimit(RLIMIT_AS, &m_usual) != 0)
            return;
        const rlim_t mapped = statm.readAll().split(' ').first().toULongLong() * rlim_t(sysconf(_SC_PAGESIZE));
        rlimit tight = m_usual;
        tight.rlim_cur = mapped + beyondNow;
        m_set = setrlimit(RLIMIT_AS, &tight) == 0;
    }
    ~AddressSpaceLimit()
    {
        if (m_set)
            setrlimit(RLIMIT_AS, &m_usual);
    }
    AddressSpaceLimit(const AddressSpaceLimit &) = delete;
    AddressSpaceLimit &operator=(const AddressSpaceLimit &) = delete;

    bool set() const { return m_set; }

private:
    rlimit m_usual{};
    bool m_set = false;
};
