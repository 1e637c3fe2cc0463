// Plays a photo manager that launches the application: copied under the names of real ones
// (LightroomClassic.exe, P1.C1.PluginHostProcess.exe, ...), it starts the program named by its
// first argument as its child, with the arguments after it, on its own console, and ends with
// the child's exit code (3 when the child does not end within a minute).
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char *argv[])
{
    if (argc < 2)
        return 4;
    // No application name, so that Windows completes a program name without ".exe" as a shell does.
    std::string commandLine;
    for (int i = 1; i < argc; ++i)
        commandLine += (i > 1 ? " \"" : "\"") + std::string(argv[i]) + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        std::printf("FAIL CreateProcess error %lu\n", GetLastError());
        return 1;
    }
    // A child that outlives the wait is ended here: left running it would hold the test's output
    // pipes open, and the test would not end until the child did.
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 3);
        WaitForSingleObject(process.hProcess, 5000);
        std::printf("FAIL the child did not end within 60 s\n");
        return 3;
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}
