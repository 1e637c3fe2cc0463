#include "ChildProcess_p.h"

#include <QFileInfo>

#include <windows.h>

#include <string>

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

bool ChildProcessPrivate::launch(const QString &program, const QStringList &arguments, QString *errorString)
{
    SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outputWrite = nullptr;
    if (!CreatePipe(&m_outputRead, &outputWrite, &sa, 0)) {
        *errorString = QStringLiteral("cannot create a pipe");
        return false;
    }
    SetHandleInformation(m_outputRead, HANDLE_FLAG_INHERIT, 0);
    DWORD mode = PIPE_NOWAIT;
    SetNamedPipeHandleState(m_outputRead, &mode, nullptr, nullptr);

    QStringList quotedArguments;
    for (const QString &argument : arguments)
        quotedArguments << quoted(argument);
    std::wstring command = quotedArguments.join(QLatin1Char(' ')).toStdWString();
    // As a command shell does, a program named without its extension is the ".exe" of that name;
    // the tests and a tester's command line name the application as "lumivex" on every platform.
    const bool completed = !QFileInfo::exists(program) && QFileInfo::exists(program + QStringLiteral(".exe"));
    std::wstring application = (completed ? program + QStringLiteral(".exe") : program).toStdWString();

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outputWrite;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    const BOOL ok = CreateProcessW(application.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                   &startup, &info);
    CloseHandle(outputWrite);
    if (!ok) {
        *errorString = QStringLiteral("cannot start %1 (error %2)").arg(program).arg(GetLastError());
        return false;
    }
    m_process = info.hProcess;
    m_thread = info.hThread;
    return true;
}

bool ChildProcessPrivate::readChunk(QByteArray *output)
{
    char buffer[4096];
    DWORD n = 0;
    if (!m_outputRead || !ReadFile(m_outputRead, buffer, sizeof(buffer), &n, nullptr) || n == 0)
        return false;
    output->append(buffer, qsizetype(n));
    return true;
}

bool ChildProcessPrivate::collectExit(bool wait, int *exitCode)
{
    if (WaitForSingleObject(m_process, wait ? INFINITE : 0) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    GetExitCodeProcess(m_process, &code);
    *exitCode = int(code);
    return true;
}

void ChildProcessPrivate::terminate()
{
    TerminateProcess(m_process, 1);
}

void ChildProcessPrivate::releaseHandles()
{
    if (m_started) {
        CloseHandle(m_process);
        CloseHandle(m_thread);
    }
    if (m_outputRead)
        CloseHandle(m_outputRead);
}
