// Plays a photo manager that launches the application: copied under the names of real ones
// (LightroomClassic.exe, P1.C1.PluginHostProcess.exe, ...), it starts the program named by its
// first argument as its child, with the arguments after it, on its own console, and ends with
// the child's exit code.
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
    WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}
