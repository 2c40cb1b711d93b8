// kelvo-book at size, each path against a floor in a process of its own,
// in interleaved pairs (median and min–max of the per-pair ratios, and the
// peak resident memory of each side):
//   list, list --json, export --format json|csv|filezilla of a book of
//   ENTRIES entries (default 1,000,000), written to a file, against the
//   sqlite3 shell's -csv / -json output of the same columns to a file;
//   import of FileZilla, WinSCP and Cyberduck site lists of 10,000 and
//   100,000 sites into an empty book, against a floor that parses the same
//   file with Qt's XML reader (a plain line reader for WinSCP) and inserts
//   the rows with one prepared statement in one transaction.
// Usage: bench_kelvobook [ENTRIES] [PAIRS=7] [--tool PATH], where PATH is
// another build's kelvo-book to measure instead (an older one, to compare
// on the same machine in the same sitting). Left out: the page cache is
// warm for both sides (each path runs once before it is timed); the floor
// neither checks for duplicates nor makes a backup.

#include "benchfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QXmlStreamReader>

#include <sqlite3.h>

#include <spawn.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fcntl.h>

extern char **environ;

namespace {

struct Run {
    double ms = 0;
    double peakMb = 0;
};

// Runs argv with standard output to outFile; its wall time and peak memory.
// The child is started by GNU time, whose own child's peak it reports: the
// peak of a process this large spawned itself would count this one's pages.
Run measured(const QStringList &argv, const QString &outFile)
{
    const QString peakFile = outFile + ".peak";
    QStringList command{QStringLiteral("/usr/bin/time"), QStringLiteral("-f"), QStringLiteral("%M"),
                        QStringLiteral("-o"), peakFile};
    command += argv;
    std::vector<QByteArray> words;
    for (const QString &word : command)
        words.push_back(word.toLocal8Bit());
    std::vector<char *> pointers;
    for (QByteArray &word : words)
        pointers.push_back(word.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, QFile::encodeName(outFile).constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    QElapsedTimer clock;
    clock.start();
    pid_t child = 0;
    Run run;
    if (posix_spawn(&child, pointers[0], &actions, nullptr, pointers.data(), environ) == 0) {
        int status = 0;
        waitpid(child, &status, 0);
        run.ms = double(clock.nsecsElapsed()) / 1e6;
        QFile peak(peakFile);
        if (peak.open(QIODevice::ReadOnly))
            run.peakMb = peak.readAll().trimmed().toDouble() / 1024;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            QTextStream(stderr) << "failed: " << argv.join(' ') << Qt::endl;
    }
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

struct Path {
    QString name;
    QStringList ours, floor;
    QString prepare;  // an empty book copied to this path before each run
};

void comparePairs(QTextStream &out, const Path &path, const QString &work, const QString &emptyBook, int pairs)
{
    auto runOnce = [&](const QStringList &argv, const char *side) {
        if (!path.prepare.isEmpty()) {
            QDir(path.prepare).removeRecursively();
            QDir().mkpath(path.prepare + "/DATA");
            QFile::copy(emptyBook, path.prepare + "/DATA/kelvo.mdb");
        }
        return measured(argv, work + "/out-" + side);
    };
    runOnce(path.ours, "ours");
    runOnce(path.floor, "floor");
    std::vector<double> ours, floors, ratios, oursMb, floorMb;
    for (int pair = 0; pair < pairs; ++pair) {
        const Run a = runOnce(path.ours, "ours");
        const Run b = runOnce(path.floor, "floor");
        ours.push_back(a.ms);
        floors.push_back(b.ms);
        ratios.push_back(a.ms / b.ms);
        oursMb.push_back(a.peakMb);
        floorMb.push_back(b.peakMb);
    }
    const Spread ratio = spreadOf(ratios);
    out << qSetFieldWidth(30) << Qt::left << path.name << qSetFieldWidth(0) << Qt::right << spreadOf(ours).median << " ms vs "
        << spreadOf(floors).median << " ms   ratio " << ratio.median << " (" << ratio.min << "–" << ratio.max
        << ")   peak " << spreadOf(oursMb).max << " MB vs " << spreadOf(floorMb).max << " MB" << Qt::endl;
}

void writeSiteLists(const QString &folder, int sites)
{
    QDir().mkpath(folder + "/duck");
    QFile fileZilla(folder + "/sitemanager.xml"), winScp(folder + "/WinSCP.ini");
    fileZilla.open(QIODevice::WriteOnly);
    winScp.open(QIODevice::WriteOnly);
    fileZilla.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FileZilla3 version=\"3.66.0\">\n<Servers>\n");
    for (int i = 0; i < sites; ++i) {
        const QByteArray n = QByteArray::number(i);
        // All the fields FileZilla writes for a site.
        fileZilla.write("<Server><Host>host" + n + ".example.com</Host><Port>21</Port><Protocol>0</Protocol>"
                        "<Type>0</Type><User>user" + n + "</User><Logontype>1</Logontype><EncodingType>Auto"
                        "</EncodingType><BypassProxy>0</BypassProxy><Name>Site " + n + "</Name><Comments />"
                        "<Colour>0</Colour><LocalDir /><RemoteDir>1 0 3 www 4 site</RemoteDir>"
                        "<SyncBrowsing>0</SyncBrowsing><DirectoryComparison>0</DirectoryComparison></Server>\n");
        winScp.write("[Sessions\\Site%20" + n + "]\nHostName=host" + n + ".example.com\nUserName=user" + n
                     + "\nFSProtocol=5\nRemoteDirectory=/www/site\n\n");
        QFile duck(folder + "/duck/" + n + ".duck");
        duck.open(QIODevice::WriteOnly);
        duck.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                   "<key>Protocol</key><string>ftp</string><key>Nickname</key><string>Site " + n + "</string>"
                   "<key>Hostname</key><string>host" + n + ".example.com</string><key>Port</key><string>21</string>"
                   "<key>Path</key><string>/www/site</string></dict></plist>\n");
    }
    fileZilla.write("</Servers>\n</FileZilla3>\n");
}

// The import floor, run as a child: parse, then insert in one transaction.
int importFloor(const QString &format, const QString &input, const QString &book)
{
    std::vector<std::array<QByteArray, 2>> rows;  // label, host
    auto readXml = [&rows](QIODevice *device, const char *nameTag, bool plist) {
        QXmlStreamReader xml(device);
        QByteArray label, host, key;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (plist && xml.name() == QLatin1String("key")) {
                key = xml.readElementText().toUtf8();
            } else if (plist && xml.name() == QLatin1String("string")) {
                const QByteArray value = xml.readElementText().toUtf8();
                if (key == "Nickname")
                    label = value;
                else if (key == "Hostname")
                    host = value;
            } else if (!plist && xml.name() == QLatin1String("Host")) {
                host = xml.readElementText().toUtf8();
            } else if (!plist && xml.name() == QLatin1String(nameTag)) {
                label = xml.readElementText().toUtf8();
                rows.push_back({label, host});
            }
        }
        if (plist)
            rows.push_back({label, host});
    };
    if (format == "duck") {
        for (const QString &name : QDir(input).entryList({"*.duck"}, QDir::Files)) {
            QFile duck(input + '/' + name);
            duck.open(QIODevice::ReadOnly);
            readXml(&duck, "", true);
        }
    } else {
        QFile file(input);
        file.open(QIODevice::ReadOnly);
        if (format == "filezilla") {
            readXml(&file, "Name", false);
        } else {
            QByteArray label;
            while (!file.atEnd()) {
                const QByteArray line = file.readLine().trimmed();
                if (line.startsWith("[Sessions\\"))
                    label = line.mid(10).chopped(1);
                else if (line.startsWith("HostName="))
                    rows.push_back({label, line.mid(9)});
            }
        }
    }
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(book).constData(), &db);
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO Serverbook VALUES (?, ?, '/', 'FtpWorker.so')", -1, &insert, nullptr);
    for (const auto &[label, host] : rows) {
        sqlite3_bind_text(insert, 1, label.constData(), int(label.size()), SQLITE_TRANSIENT);
        const QByteArray server = "ftp://" + host + "/";
        sqlite3_bind_text(insert, 2, server.constData(), int(server.size()), SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rows.empty() ? 1 : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == "import-floor")
        return importFloor(args.value(2), args.value(3), args.value(4));
    QStringList numbers = args.mid(1);
    QString tool = QStringLiteral(KELVO_TOOLS_DIR "/kelvo-book");
    if (const qsizetype option = numbers.indexOf(QLatin1String("--tool")); option >= 0) {
        tool = numbers.value(option + 1);
        numbers.remove(option, std::min<qsizetype>(2, numbers.size() - option));
    }
    const int entries = numbers.value(0, "1000000").toInt();
    const int pairs = numbers.value(1, "7").toInt();
    QTextStream out(stdout);
    const QString self = app.applicationFilePath();

    QTemporaryDir work;
    const QString book = work.filePath("book");
    QDir().mkpath(book + "/DATA");
    writeBenchStore(book + "/DATA/kelvo.mdb", entries);
    const QString file = book + "/DATA/kelvo.mdb";
    const QString columns = "SELECT rowid - 1 AS ordinal, Bezeichnung AS label, Servername AS server, "
                            "Startverzeichnis AS startdir, Plugindateiname AS pluginfile FROM Serverbook ORDER BY rowid";
    const QString dir = "--plugin-dir";
    out << tool << " at " << entries << " entries, " << pairs << " pairs each" << Qt::endl;
    const QList<Path> exports = {
        {"list (vs sqlite3 -csv)", {tool, dir, book, "list"}, {"sqlite3", "-csv", file, columns}, {}},
        {"list --json (vs -json)", {tool, dir, book, "list", "--json"}, {"sqlite3", "-json", file, columns}, {}},
        {"export json (vs -json)", {tool, dir, book, "export", "--format", "json", work.filePath("e.json")},
         {"sqlite3", "-json", file, columns}, {}},
        {"export csv (vs -csv)", {tool, dir, book, "export", "--format", "csv", work.filePath("e.csv")},
         {"sqlite3", "-csv", file, columns}, {}},
        {"export filezilla (vs -json)", {tool, dir, book, "export", "--format", "filezilla", work.filePath("e.xml")},
         {"sqlite3", "-json", file, columns}, {}},
    };
    for (const Path &path : exports)
        comparePairs(out, path, work.path(), {}, pairs);

    // An empty book, and the workers an import gives its sites.
    const QString empty = work.filePath("empty.mdb");
    {
        sqlite3 *db = nullptr;
        sqlite3_open(QFile::encodeName(empty).constData(), &db);
        sqlite3_exec(db, "CREATE TABLE Serverbook (Bezeichnung TEXT, Servername TEXT, Startverzeichnis TEXT, "
                         "Plugindateiname TEXT)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    const QString target = work.filePath("target");
    for (const int sites : {10000, 100000}) {
        const QString lists = work.filePath("lists-" + QString::number(sites));
        writeSiteLists(lists, sites);
        for (const auto &[format, input] : std::vector<std::pair<QString, QString>>{
                 {"filezilla", lists + "/sitemanager.xml"}, {"winscp", lists + "/WinSCP.ini"}, {"duck", lists + "/duck"}}) {
            Path path{QStringLiteral("import %1 %2").arg(format).arg(sites),
                      {tool, dir, target, "import", "--keep-unmatched", input},
                      {self, "import-floor", format, input, target + "/DATA/kelvo.mdb"},
                      target};
            comparePairs(out, path, work.path(), empty, pairs);
        }
    }
    return 0;
}
