#include "cplugindll.h"

#include <QFile>
#include <QFileInfo>
#include <QLibrary>

#ifdef Q_OF_ELF
#include <elf.h>

#include <cstring>
#endif

namespace {

template<typename Fn>
Fn resolve(QLibrary &library, const char *symbol)
{
    return reinterpret_cast<Fn>(library.resolve(symbol));
}

#ifdef Q_OF_ELF
// The loader maps every segment that a module's program headers announce; a
// file cut short (a copy still under way) faults inside the loader instead of
// failing. Says why when the file does not hold them all.
template<typename Header, typename ProgramHeader>
bool segmentsPresent(const QByteArray &file, QString *why)
{
    const auto size = quint64(file.size());
    Header header;
    if (size < sizeof header) {
        *why = QStringLiteral("the file is cut short: it ends inside its ELF header");
        return false;
    }
    memcpy(&header, file.constData(), sizeof header);
    if (header.e_phentsize != sizeof(ProgramHeader)
        || header.e_phoff > size || quint64(header.e_phnum) * sizeof(ProgramHeader) > size - header.e_phoff) {
        *why = QStringLiteral("the file is cut short: it ends inside its program headers");
        return false;
    }
    for (int i = 0; i < header.e_phnum; ++i) {
        ProgramHeader segment;
        memcpy(&segment, file.constData() + header.e_phoff + i * sizeof segment, sizeof segment);
        if (segment.p_offset > size || segment.p_filesz > size - segment.p_offset) {
            *why = QStringLiteral("the file is cut short: it holds %1 bytes, its segment %2 needs %3")
                       .arg(size).arg(i).arg(quint64(segment.p_offset) + segment.p_filesz);
            return false;
        }
    }
    return true;
}

bool moduleFileComplete(const QString &path, QString *why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true;  // the loader says why
    const uchar *mapped = file.map(0, file.size());
    const QByteArray bytes = mapped ? QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), file.size())
                                    : file.readAll();
    if (!bytes.startsWith(ELFMAG))
        return true;  // no ELF file at all: the loader refuses it cleanly
    if (bytes.size() > EI_CLASS && bytes[EI_CLASS] == ELFCLASS64)
        return segmentsPresent<Elf64_Ehdr, Elf64_Phdr>(bytes, why);
    return segmentsPresent<Elf32_Ehdr, Elf32_Phdr>(bytes, why);
}
#else
bool moduleFileComplete(const QString &, QString *)
{
    return true;
}
#endif

QString callString(PluginStringExport fn)
{
    QString text;
    if (fn)
        fn(&text);
    return text;
}

} // namespace

CPluginDLL::CPluginDLL(std::unique_ptr<QLibrary> library, const Identity &identity)
    : m_library(std::move(library)), m_identity(identity)
{
}

CPluginDLL::~CPluginDLL() = default;

std::shared_ptr<CPluginDLL> CPluginDLL::Load(const QString &path, QString *errorString)
{
    auto fail = [errorString](const QString &why) {
        if (errorString)
            *errorString = why;
        return std::shared_ptr<CPluginDLL>();
    };

    QString incomplete;
    if (!moduleFileComplete(path, &incomplete))
        return fail(incomplete);
    auto library = std::make_unique<QLibrary>(path);
    // A module registers meta-objects, logging categories and library statics
    // from its own image; unmapping it while the process still runs (at exit,
    // when Qt tears those down) would call into freed code. Modules stay
    // loaded until the process ends.
    library->setLoadHints(QLibrary::PreventUnloadHint);
    if (!library->load())
        return fail(library->errorString());

    Identity identity;
    identity.name = resolve<PluginStringExport>(*library, "GetPluginName");
    identity.info = resolve<PluginStringExport>(*library, "GetPluginInfo");
    identity.typeString = resolve<PluginStringExport>(*library, "GetPluginTypeAsString");
    identity.typeCode = resolve<PluginTypeExport>(*library, "GetPluginTypeAsInteger");
    identity.showDialog = resolve<ShowPluginDialogExport>(*library, "ShowPluginDialog");

    auto missing = [&fail](const char *symbol) {
        return fail(QStringLiteral("not a plug-in: export %1 is missing").arg(QLatin1String(symbol)));
    };
    if (!identity.name)
        return missing("GetPluginName");
    if (!identity.info)
        return missing("GetPluginInfo");
    if (!identity.typeString)
        return missing("GetPluginTypeAsString");
    if (!identity.typeCode)
        return missing("GetPluginTypeAsInteger");

    int type = 0;
    identity.typeCode(&type);
    switch (type) {
    case PLUGINTYPE_PUBWORKER: {
        auto service = resolve<GetSupportedServiceExport>(*library, "GetSupportedService");
        if (!service)
            return missing("GetSupportedService");
        return std::shared_ptr<CPluginDLL>(
            new CPubWorkerPluginDLL(std::move(library), identity, service));
    }
    case PLUGINTYPE_SERVERBOOK: {
        auto show = resolve<ShowServerBookExport>(*library, "ShowServerBook");
        if (!show)
            return missing("ShowServerBook");
        auto last = resolve<GetLastServerBookEntryExport>(*library, "GetLastServerBookEntry");
        if (!last)
            return missing("GetLastServerBookEntry");
        const CServerbookExtPluginDLL::Exports exports{
            show, last, resolve<PluginStringExport>(*library, "GetLastServerBookError"),
            resolve<GetLastServerBookPasswordExport>(*library, "GetLastServerBookPassword")};
        return std::shared_ptr<CPluginDLL>(new CServerbookExtPluginDLL(std::move(library), identity, exports));
    }
    default:
        return std::shared_ptr<CPluginDLL>(new CPluginDLL(std::move(library), identity));
    }
}

QString CPluginDLL::GetPluginName() const
{
    return callString(m_identity.name);
}

QString CPluginDLL::GetPluginInfo() const
{
    return callString(m_identity.info);
}

int CPluginDLL::GetPluginType(QString *typeString) const
{
    if (typeString)
        *typeString = callString(m_identity.typeString);
    int type = 0;
    m_identity.typeCode(&type);
    return type;
}

void CPluginDLL::ShowPluginDialog() const
{
    if (m_identity.showDialog)
        m_identity.showDialog();
}

QString CPluginDLL::GetPluginFileName() const
{
    return QFileInfo(m_library->fileName()).fileName();
}

CPubWorkerPluginDLL::CPubWorkerPluginDLL(std::unique_ptr<QLibrary> library,
                                         const Identity &identity,
                                         GetSupportedServiceExport supportedService)
    : CPluginDLL(std::move(library), identity), m_supportedService(supportedService)
{
}

ServiceCode CPubWorkerPluginDLL::GetSupportedService() const
{
    return m_supportedService();
}

CServerbookExtPluginDLL::CServerbookExtPluginDLL(std::unique_ptr<QLibrary> library,
                                                 const Identity &identity, const Exports &exports)
    : CPluginDLL(std::move(library), identity), m_exports(exports)
{
}

void CServerbookExtPluginDLL::ShowServerBook(int ignored) const
{
    m_exports.show(ignored);
}

int CServerbookExtPluginDLL::GetLastServerBookEntry(void *entry) const
{
    return m_exports.last(static_cast<SERVERBOOKENTRYSTRUC *>(entry));
}

QString CServerbookExtPluginDLL::GetLastServerBookError() const
{
    return callString(m_exports.lastError);
}

int CServerbookExtPluginDLL::GetLastServerBookPassword(QString *password) const
{
    return m_exports.lastPassword ? m_exports.lastPassword(password) : 0;
}
