#include "checks.h"

#include "bookexport.h"
#include "cserverbookstore.h"
#include "keyring.h"
#include "sitecheck.h"
#include "toolsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <thread>

namespace {

constexpr int kAtOnce = 4;

const char *outcomeWord(CheckStep::Outcome outcome)
{
    switch (outcome) {
    case CheckStep::Outcome::Passed:
        return "ok";
    case CheckStep::Outcome::Failed:
        return "FEHLER";
    case CheckStep::Outcome::Skipped:
        return "übersprungen";
    }
    return "";
}

// The password the keyring holds for an address; none when it holds none
// or cannot be reached (the check then says what the server makes of that).
QString passwordFor(const QString &server)
{
    const std::optional<SignInKey> key = SignInKeyOf(server);
    if (!key)
        return {};
    // Said once: each entry would say the same.
    static bool toldUnreached = false;
    const KeyringAnswer answer = Keyring::Lookup(*key);
    if (!answer.reached() && !std::exchange(toldUnreached, true))
        err() << "kelvo-book: Ohne Passwörter geprüft. " << answer.why << Qt::endl;
    return answer.password;
}

QJsonObject asJson(const BookEntry &entry, const CheckResult &result)
{
    QJsonArray steps;
    for (const CheckStep &step : result.steps)
        steps.append(QJsonObject{{"step", StepName(step.kind)}, {"outcome", outcomeWord(step.outcome)},
                                 {"ms", step.ms}, {"detail", step.detail}});
    return {{"ordinal", entry.ordinal}, {"label", entry.label}, {"passed", result.passed()},
            {"exit", ExitCodeOf(result.failure)}, {"steps", steps}};
}

void printLines(const BookEntry &entry, const CheckResult &result)
{
    for (const CheckStep &step : result.steps)
        out() << entry.ordinal << '\t' << EscapedForLine(entry.label) << '\t' << StepName(step.kind) << '\t'
              << outcomeWord(step.outcome) << '\t' << step.ms << " ms\t" << EscapedForLine(step.detail) << '\n';
}

} // namespace

int CheckEntries(CServerBookStore &store, const std::vector<WorkerInfo> &workers, const CheckOptions &options)
{
    std::vector<BookEntry> entries = ReadBook(store);
    if (options.ordinal) {
        if (*options.ordinal >= int(entries.size())) {
            err() << "kelvo-book: Es gibt keinen Eintrag " << *options.ordinal << '.' << Qt::endl;
            return 1;
        }
        entries = {entries[size_t(*options.ordinal)]};
    }
    std::vector<CheckRequest> requests;
    for (const BookEntry &entry : entries)
        requests.push_back({entry.server, entry.startDir, entry.pluginFile, workers, passwordFor(entry.server),
                            options.writeTest, DefaultKnownHostsFile(), options.trustHostKey, 10, {}});

    // A few at once: each mostly waits for its server.
    std::vector<CheckResult> results(entries.size());
    std::atomic<size_t> next = 0;
    std::vector<std::thread> checkers;
    for (int i = 0; i < kAtOnce && size_t(i) < entries.size(); ++i) {
        checkers.emplace_back([&] {
            for (size_t at = next++; at < entries.size(); at = next++)
                results[at] = RunSiteCheck(requests[at], {}, nullptr);
        });
    }
    for (std::thread &checker : checkers)
        checker.join();

    int exitCode = 0;
    QJsonArray all;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (options.json)
            all.append(asJson(entries[i], results[i]));
        else
            printLines(entries[i], results[i]);
        if (!exitCode)
            exitCode = ExitCodeOf(results[i].failure);
    }
    if (options.json)
        out() << QJsonDocument(all).toJson(QJsonDocument::Indented);
    return exitCode;
}
