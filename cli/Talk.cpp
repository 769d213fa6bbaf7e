// The half of kelvara-cli that talks to a module: sending a list, a session on a terminal,
// finding the settings and listing the ports. Each runs the link's policies on the event loop.
#include "Talk.h"

#include "Cli.h"
#include "CommandFile.h"
#include "Console.h"
#include "ListSender.h"
#include "ModuleLink.h"
#include "Printable.h"
#include "SerialPorts.h"
#include "Session.h"
#include "SettingsFinder.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>

using namespace kelvara::link;

namespace kelvara::cli {


int SendCommands(const TTalkRequest& request, std::ostream& out, std::ostream& err) {
    TSession session(request.Port, out, err);
    TSendSettings settings = request.Settings;
    if (const int status = session.Connect(request, settings); status != kExitOk)
        return status;
    const std::size_t total = request.Commands.size();
    std::optional<TEvent> failure;
    const auto result = session.Run(
        std::make_unique<TListSender>(request.Commands, settings), [&](const TEvent& event) {
            if (event.Kind == TEventKind::Written) {
                session.Progress().Show(event.Index, total, Printable(event.Command));
            } else if (event.Kind == TEventKind::Acknowledged) {
                session.Progress().Clear();
                session.Print(AcknowledgedLine(event));
            } else if (event.IsOutcome()) {
                failure = event;
            }
        });
    if (!result || *result == TResult::Cancelled) {
        // A command that failed while stopping is what happened to the module.
        if (failure)
            err << FailureLine(*failure);
        return session.Finish(failure ? kExitNotAcknowledged : session.ReportInterrupted());
    }
    if (*result == TResult::Failed) {
        err << FailureLine(*failure);
        return session.Finish(kExitNotAcknowledged);
    }
    return session.Finish(kExitOk);
}

int TalkInteractively(const TTalkRequest& request, std::ostream& out, std::ostream& err) {
    TSession session(request.Port, out, err);
    TSendSettings settings = request.Settings;
    if (const int status = session.Connect(request, settings); status != kExitOk)
        return status;
    TModuleLink& link = session.Link();

    // Lines typed are read as the terminal hands them over, each sent when it is complete.
    std::string pending;
    std::size_t lineNumber = 0;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n > 0)
            pending.append(buffer, static_cast<std::size_t>(n));
        const bool ended = n <= 0;
        std::size_t end = 0;
        while ((end = pending.find('\n')) != std::string::npos || (ended && !pending.empty())) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end == std::string::npos ? pending.size() : end + 1);
            auto read = ReadCommandLine(line, ++lineNumber);
            if (const auto* refused = std::get_if<TCommandFileError>(&read))
                err << kProgram << ": line " << refused->Line << ": " << refused->Reason << '\n';
            else if (!std::get<std::string>(read).empty())
                link.Submit(std::move(std::get<std::string>(read)));
        }
        if (pending.size() > kMaxCommandBytes * 4)
            pending.clear(); // a line far too long to be a command
        if (ended) {
            input.setEnabled(false);
            link.EndConsole();
        }
    });

    const auto result = session.Run(
        std::make_unique<TConsole>(settings.LineEnd, settings.TimeoutMs), [&](const TEvent& event) {
            if (event.Kind == TEventKind::Acknowledged)
                session.Print(AcknowledgedLine(event));
            else if (event.IsOutcome() || event.Kind == TEventKind::NotSent)
                err << FailureLine(event);
            else if (event.Kind == TEventKind::Unasked)
                session.Print('\t' + ShownReply(event.Bytes));
        });
    if (session.Lost())
        return session.Finish(session.PortLost());
    if (!result || *result == TResult::Cancelled)
        return session.Finish(session.ReportInterrupted());
    return session.Finish(kExitOk);
}

int FindSettings(const std::string& port, std::ostream& out, std::ostream& err) {
    TSession session(port, out, err);
    TSendSettings settings;
    if (!session.Open(settings.BaudRate))
        return kExitPort;
    bool echoes = false;
    if (const int status = session.Find(settings, false, &echoes); status != kExitOk)
        return session.Finish(status);
    session.Print(std::to_string(settings.BaudRate) + ' ' +
                  std::string(LineEndName(settings.LineEnd)) + (echoes ? " echo" : ""));
    return session.Finish(kExitOk);
}

int ListPorts(std::ostream& out, std::ostream& err) {
    for (const TPortDescription& port : AvailablePorts())
        out << Shown(port.Name) << '\t' << Shown(port.Description) << '\n';
    out.flush();
    if (!out) {
        err << kProgram << ": could not write to standard output\n";
        return kExitRejected;
    }
    return kExitOk;
}

} // namespace kelvara::cli
