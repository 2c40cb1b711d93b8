#include "rememberedorder.h"

#include "collationsort.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <tuple>
#include <utility>

namespace {

// The file: this header, then the order as count 32-bit indexes, all in the
// machine's byte order (a file from a machine of the other order does not
// match and is replaced).
struct Header {
    char magic[8];
    quint32 format;
    quint32 count;
    quint64 collation;  // hash of CollationIdentity()
    quint64 listing;    // listingHash of the texts it orders
    quint64 order;      // hash of the order itself, so that damage shows
};
static_assert(sizeof(Header) == 40);
constexpr char kMagic[8] = {'K', 'e', 'l', 'v', 'o', 'O', 'r', 'd'};
constexpr quint32 kFormat = 2;

__extension__ typedef unsigned __int128 Product;

// The 128-bit product of two words folded to 64 bits: one multiplication
// mixes sixteen bytes.
quint64 folded(quint64 a, quint64 b)
{
    const Product product = Product(a) * b;
    return quint64(product) ^ quint64(product >> 64);
}

constexpr quint64 kKeys[] = {0xA0761D6478BD642FULL, 0xE7037ED1A0B428DBULL, 0x8EBC6AF09C88C6E3ULL};

// Thirty-two bytes at a time in two independent lanes, which the processor
// works on at once (the hash of the listing is on the path to the first
// paint); the length goes in last, so that texts that differ only in
// trailing zero bytes differ.
quint64 hashed(const void *data, size_t bytes, quint64 hash)
{
    const auto *at = static_cast<const unsigned char *>(data);
    const size_t length = bytes;
    quint64 lanes[2] = {hash ^ kKeys[0], hash ^ kKeys[1]};
    for (; bytes >= 4 * sizeof(quint64); bytes -= 4 * sizeof(quint64), at += 4 * sizeof(quint64)) {
        quint64 words[4];
        std::memcpy(words, at, sizeof words);
        lanes[0] = folded(words[0] ^ lanes[0], words[1] ^ kKeys[0]);
        lanes[1] = folded(words[2] ^ lanes[1], words[3] ^ kKeys[1]);
    }
    quint64 tail[4] = {};
    std::memcpy(tail, at, bytes);
    lanes[0] = folded(tail[0] ^ lanes[0], tail[1] ^ kKeys[0]);
    lanes[1] = folded(tail[2] ^ lanes[1], tail[3] ^ kKeys[1]);
    return folded(lanes[0] ^ length, lanes[1] ^ kKeys[2]);
}

quint64 collationHash()
{
    static const quint64 hash = [] {
        const QByteArray identity = CollationIdentity();
        return hashed(identity.constData(), size_t(identity.size()), 0);
    }();
    return hash;
}

quint64 orderHash(const std::vector<uint32_t> &order)
{
    return hashed(order.data(), order.size() * sizeof(uint32_t), 0);
}

// The hash that ties a file to its listing: 64 bits over the texts' UTF-16
// units and their ends.
quint64 listingHash(const QString &texts, const std::vector<quint32> &ends)
{
    const quint64 hash = hashed(texts.utf16(), size_t(texts.size()) * sizeof(char16_t), 0);
    return hashed(ends.data(), ends.size() * sizeof(quint32), hash);
}

// The order the file holds and the hash of the listing it was made for;
// no order unless it is whole, made under this collation and a
// permutation.
std::pair<std::vector<uint32_t>, quint64> read(const QString &file, quint64 mostTexts)
{
    // Only a regular file of the user's own, opened without waiting (another
    // program may have put a pipe there) and without following a link.
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat info {};
    QFile in;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()
        || !in.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    Header header{};
    if (in.read(reinterpret_cast<char *>(&header), sizeof header) != qint64(sizeof header)
        || std::memcmp(header.magic, kMagic, sizeof kMagic) != 0 || header.format != kFormat
        || header.collation != collationHash() || header.count > mostTexts
        || in.size() != qint64(sizeof header + header.count * sizeof(uint32_t)))
        return {};
    const size_t count = header.count;
    std::vector<uint32_t> order(count);
    const qint64 bytes = qint64(count * sizeof(uint32_t));
    if (in.read(reinterpret_cast<char *>(order.data()), bytes) != bytes || orderHash(order) != header.order)
        return {};
    std::vector<uint8_t> seen(count);
    for (const uint32_t index : order) {
        if (index >= count || seen[index])
            return {};
        seen[index] = 1;
    }
    return {std::move(order), header.listing};
}

// Written under a name of its own and then renamed, so that a reader sees
// the old file or the new one whole. Failing is no error: the file is
// only a shortcut.
void write(const QString &file, quint64 listing, const std::vector<uint32_t> &order)
{
    Header header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.format = kFormat;
    header.count = quint32(order.size());
    header.collation = collationHash();
    header.listing = listing;
    header.order = orderHash(order);
    QTemporaryFile out(file + QStringLiteral(".XXXXXX"));
    out.setAutoRemove(false);
    if (!out.open())
        return;
    const qint64 bytes = qint64(order.size() * sizeof(uint32_t));
    const bool written = out.write(reinterpret_cast<const char *>(&header), sizeof header) == qint64(sizeof header)
                         && out.write(reinterpret_cast<const char *>(order.data()), bytes) == bytes && out.flush();
    out.close();
    // rename(2) replaces the old file in one step, as QFile::rename does not.
    if (!written || std::rename(QFile::encodeName(out.fileName()).constData(), QFile::encodeName(file).constData()) != 0)
        QFile::remove(out.fileName());
}

// What writers killed between writing and renaming left beside the file,
// once no writer can still be at work on it.
void removeLeftovers(const QString &file)
{
    constexpr qint64 kLeftoverAfterSeconds = 10 * 60;
    const QFileInfo order(file);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QFileInfoList written = order.dir().entryInfoList({order.fileName() + QStringLiteral(".??????")},
                                                            QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo &left : written) {
        if (left.ownerId() == ::geteuid() && left.lastModified().secsTo(now) > kLeftoverAfterSeconds)
            QFile::remove(left.absoluteFilePath());
    }
}

} // namespace

RememberedOrder::RememberedOrder(const QString &file, quint64 mostTexts) : m_file(file)
{
    if (file.isEmpty())
        return;
    removeLeftovers(file);
    std::tie(m_order, m_listing) = read(file, mostTexts);
}

std::vector<uint32_t> RememberedOrder::OrderOf(const QString &texts, const std::vector<quint32> &ends)
{
    if (m_file.isEmpty() || ends.size() < kRememberedFrom)
        return CollatedOrder(texts, ends);
    const quint64 listing = listingHash(texts, ends);
    if (m_order.size() == ends.size() && m_listing == listing)
        return std::exchange(m_order, {});
    std::vector<uint32_t> order = CollatedOrder(texts, ends);
    write(m_file, listing, order);
    return order;
}
