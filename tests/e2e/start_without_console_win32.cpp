// Starts a program the way the Task Scheduler starts one: without a console
// (DETACHED_PROCESS) and without standard handles. The end-to-end tests run the
// server through it under Wine.
//
//     start_without_console.exe none|invalid PROGRAM [ARGUMENT...]
//
// "none" hands the program no handles at all, "invalid" INVALID_HANDLE_VALUE for
// each of them. Prints "started" once the program runs, then waits. When the
// program ends, its exit code becomes this one's; when this program's own input
// ends first, it ends the program (and exits with 0). A job object ends the
// program as well when this one is killed.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

HANDLE input_ended = nullptr;

DWORD WINAPI watch_input(void*) {
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    }
    SetEvent(input_ended);
    return 0;
}

// One argument as the C runtime of the started program splits it again.
std::wstring quoted(const std::wstring& argument) {
    std::wstring result = L"\"";
    for (const wchar_t c : argument) {
        if (c == L'"') result += L'\\';
        result += c;
    }
    return result + L"\"";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || (std::wstring(argv[1]) != L"none" && std::wstring(argv[1]) != L"invalid")) {
        std::fprintf(stderr, "usage: start_without_console none|invalid PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    std::wstring command_line = quoted(argv[2]);
    for (int i = 3; i < argc; ++i) command_line += L" " + quoted(argv[i]);

    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!job || !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        std::fprintf(stderr, "no job object: %lu\n", GetLastError());
        return 2;
    }

    const HANDLE given = std::wstring(argv[1]) == L"none" ? nullptr : INVALID_HANDLE_VALUE;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = given;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS | CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "CreateProcess failed: %lu\n", GetLastError());
        return 2;
    }
    AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    std::printf("started\n");
    std::fflush(stdout);

    input_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(CreateThread(nullptr, 0, watch_input, nullptr, 0, nullptr));
    HANDLE waits[] = {process.hProcess, input_ended};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        return static_cast<int>(code);
    }
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 30000);
    return 0;
}
