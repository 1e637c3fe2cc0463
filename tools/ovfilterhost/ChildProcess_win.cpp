#include "ChildProcess.h"

#include <windows.h>

struct ChildProcess::Private
{
    PROCESS_INFORMATION info{};
    HANDLE outputRead = nullptr;
    bool started = false;
    bool ended = false;
    int exitCode = -1;
};

namespace {

// Quoting as the C runtime's argument parser expects it.
QString quoted(const QString &arg)
{
    if (!arg.isEmpty() && !arg.contains(QLatin1Char(' ')) && !arg.contains(QLatin1Char('"'))
        && !arg.contains(QLatin1Char('\t')))
        return arg;
    QString result = QStringLiteral("\"");
    int backslashes = 0;
    for (QChar c : arg) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        if (c == QLatin1Char('"'))
            result += QString(backslashes * 2 + 1, QLatin1Char('\\'));
        else
            result += QString(backslashes, QLatin1Char('\\'));
        backslashes = 0;
        result += c;
    }
    result += QString(backslashes * 2, QLatin1Char('\\'));
    result += QLatin1Char('"');
    return result;
}

} // namespace

ChildProcess::ChildProcess()
    : d(std::make_unique<Private>())
{
}

ChildProcess::~ChildProcess()
{
    if (d->started && !hasEnded()) {
        kill();
        WaitForSingleObject(d->info.hProcess, INFINITE);
    }
    if (d->started) {
        CloseHandle(d->info.hProcess);
        CloseHandle(d->info.hThread);
    }
    if (d->outputRead)
        CloseHandle(d->outputRead);
}

bool ChildProcess::start(const QString &program, const QString &argv0, const QStringList &args, QString *error)
{
    SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outputWrite = nullptr;
    if (!CreatePipe(&d->outputRead, &outputWrite, &sa, 0)) {
        *error = QStringLiteral("cannot create a pipe");
        return false;
    }
    SetHandleInformation(d->outputRead, HANDLE_FLAG_INHERIT, 0);
    DWORD mode = PIPE_NOWAIT;
    SetNamedPipeHandleState(d->outputRead, &mode, nullptr, nullptr);

    QString commandLine = quoted(argv0);
    for (const QString &arg : args)
        commandLine += QLatin1Char(' ') + quoted(arg);
    std::wstring command = commandLine.toStdWString();
    std::wstring application = program.toStdWString();

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outputWrite;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    const BOOL ok = CreateProcessW(application.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                   nullptr, &startup, &d->info);
    CloseHandle(outputWrite);
    if (!ok) {
        *error = QStringLiteral("cannot start %1 (error %2)").arg(program).arg(GetLastError());
        return false;
    }
    d->started = true;
    return true;
}

QByteArray ChildProcess::readOutput()
{
    QByteArray output;
    char buffer[4096];
    DWORD n = 0;
    while (d->outputRead && ReadFile(d->outputRead, buffer, sizeof(buffer), &n, nullptr) && n > 0)
        output.append(buffer, qsizetype(n));
    return output;
}

bool ChildProcess::hasEnded()
{
    if (d->ended || !d->started)
        return true;
    if (WaitForSingleObject(d->info.hProcess, 0) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    GetExitCodeProcess(d->info.hProcess, &code);
    d->exitCode = int(code);
    d->ended = true;
    return true;
}

int ChildProcess::exitCode() const
{
    return d->exitCode;
}

void ChildProcess::kill()
{
    if (d->started && !d->ended)
        TerminateProcess(d->info.hProcess, 1);
}
