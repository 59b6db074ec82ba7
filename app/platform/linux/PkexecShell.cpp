#include "app/platform/linux/PkexecShell.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <thread>

namespace tw {

namespace {

constexpr int kPollMilliseconds = 200;
constexpr qsizetype kErrorOutputLimit = 2000;

}  // namespace

PkexecShell::PkexecShell(std::string pkexec) : pkexec_(std::move(pkexec)) {}

PkexecShell::~PkexecShell() {
    std::lock_guard lock(mutex_);
    if (current_) current_->stopping = true;
}

std::string PkexecShell::quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

bool PkexecShell::run(const std::string& script, Completion completion) {
    return start(script, std::move(completion)) != Start::missing;
}

void PkexecShell::runAsRoot(const std::string& commandLine, PrivilegedShell::Completion completion) {
    const auto started = start(commandLine, [completion](Result result) {
        if (result.outcome == Outcome::done) return completion({});
        const bool dismissed = result.outcome == Outcome::dismissed;
        auto description = dismissed ? "The administrator's authorisation was dismissed (pkexec exit " +
                                           std::to_string(result.exitCode) + ")"
                                     : "The command line failed (exit " + std::to_string(result.exitCode) +
                                           ")" + (result.errorOutput.empty() ? "" : ": " + result.errorOutput);
        completion(std::unexpected(PrivilegedShell::Failure{dismissed, std::move(description)}));
    });
    if (started == Start::missing) {
        completion(std::unexpected(PrivilegedShell::Failure{false, "pkexec is not installed"}));
    } else if (started == Start::busy) {
        completion(std::unexpected(PrivilegedShell::Failure{false, "Another administrator command is still running"}));
    }
}

PkexecShell::Start PkexecShell::start(const std::string& script, Completion completion) {
    if (QStandardPaths::findExecutable(QString::fromStdString(pkexec_)).isEmpty() &&
        !QFileInfo(QString::fromStdString(pkexec_)).isExecutable()) {
        return Start::missing;
    }
    std::lock_guard lock(mutex_);
    if (current_ && current_->running) return Start::busy;
    current_ = std::make_shared<Script>();
    std::thread([pkexec = pkexec_, script, state = current_, completion = std::move(completion)] {
        execute(pkexec, script, *state, completion);
        state->running = false;
    }).detach();
    return Start::started;
}

void PkexecShell::execute(const std::string& pkexec, const std::string& script, Script& state,
                          const Completion& completion) {
    QProcess process;
    process.start(QString::fromStdString(pkexec), {"/bin/sh", "-c", QString::fromStdString(script)});
    if (!process.waitForStarted()) {
        completion({Outcome::failed, -1, process.errorString().toStdString()});
        return;
    }
    // Polled so that the destructor can end a prompt nobody answers.
    while (!process.waitForFinished(kPollMilliseconds)) {
        if (state.stopping) {
            process.terminate();
            if (!process.waitForFinished(kPollMilliseconds * 5)) process.kill();
            process.waitForFinished();
            return;
        }
    }
    Result result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.errorOutput = process.readAllStandardError().right(kErrorOutputLimit).toStdString();
    result.outcome = result.exitCode == 0     ? Outcome::done
                     : result.exitCode == 126 ? Outcome::dismissed
                                              : Outcome::failed;
    if (!state.stopping) completion(std::move(result));
}

}  // namespace tw
