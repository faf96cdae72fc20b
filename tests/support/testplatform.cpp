#include "testplatform.h"

#ifdef _WIN32
#include <float.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cfenv>
#include <climits>

extern char** environ;
#endif

#ifdef _WIN32

namespace {

// One argument as the C runtime's command-line parser reads it back: quoted, with the
// backslashes before a quote doubled.
void AppendQuotedArgument(std::string& CommandLine, const std::string& Argument) {
    CommandLine += '"';
    size_t Backslashes = 0;
    for (char C : Argument) {
        if (C == '\\') {
            Backslashes++;
            continue;
        }
        CommandLine.append(C == '"' ? 2 * Backslashes + 1 : Backslashes, '\\');
        Backslashes = 0;
        CommandLine += C;
    }
    CommandLine.append(2 * Backslashes, '\\');
    CommandLine += '"';
}

} // namespace

TProgramRun RunProgram(const std::string& Program, const std::vector<std::string>& Arguments,
                       TCapture Capture) {
    TProgramRun Run;
    std::string CommandLine;
    AppendQuotedArgument(CommandLine, Program);
    for (const std::string& Argument : Arguments) {
        CommandLine += ' ';
        AppendQuotedArgument(CommandLine, Argument);
    }
    SECURITY_ATTRIBUTES Inherited = {sizeof Inherited, nullptr, TRUE};
    HANDLE ReadEnd, WriteEnd;
    if (!CreatePipe(&ReadEnd, &WriteEnd, &Inherited, 0)) return Run;
    SetHandleInformation(ReadEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE Null = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              &Inherited, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA Startup = {};
    Startup.cb = sizeof Startup;
    Startup.dwFlags = STARTF_USESTDHANDLES;
    Startup.hStdInput = Null;
    Startup.hStdOutput = Capture == TCapture::Errors ? Null : WriteEnd;
    Startup.hStdError = Capture == TCapture::Output ? Null : WriteEnd;
    PROCESS_INFORMATION Process = {};
    BOOL Started = CreateProcessA(nullptr, CommandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &Startup, &Process);
    CloseHandle(WriteEnd);
    CloseHandle(Null);
    if (Started) {
        char Chunk[4096];
        DWORD Read;
        while (ReadFile(ReadEnd, Chunk, sizeof Chunk, &Read, nullptr) && Read > 0)
            Run.Text.append(Chunk, Read);
        WaitForSingleObject(Process.hProcess, INFINITE);
        DWORD ExitCode;
        if (GetExitCodeProcess(Process.hProcess, &ExitCode)) Run.Status = static_cast<int>(ExitCode);
        CloseHandle(Process.hThread);
        CloseHandle(Process.hProcess);
    }
    CloseHandle(ReadEnd);
    return Run;
}

std::string OwnProgramPath() {
    char Path[MAX_PATH + 1] = {};
    DWORD Length = GetModuleFileNameA(nullptr, Path, MAX_PATH);
    return std::string(Path, Length);
}

void TrapDivisionByZeroAndInvalid() {
    _controlfp(_controlfp(0, 0) & ~(_EM_ZERODIVIDE | _EM_INVALID), _MCW_EM);
}

bool FloatingPointExceptionsMasked() {
    return (_controlfp(0, 0) & _MCW_EM) == _MCW_EM;
}

#else

TProgramRun RunProgram(const std::string& Program, const std::vector<std::string>& Arguments,
                       TCapture Capture) {
    TProgramRun Run;
    std::vector<char*> Argv;
    Argv.push_back(const_cast<char*>(Program.c_str()));
    for (const std::string& Argument : Arguments) Argv.push_back(const_cast<char*>(Argument.c_str()));
    Argv.push_back(nullptr);
    int Pipe[2];
    if (pipe(Pipe) != 0) return Run;
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_addopen(&Actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    for (int Stream : {STDOUT_FILENO, STDERR_FILENO}) {
        bool Captured = Capture == TCapture::OutputAndErrors ||
                        (Capture == TCapture::Output) == (Stream == STDOUT_FILENO);
        if (Captured)
            posix_spawn_file_actions_adddup2(&Actions, Pipe[1], Stream);
        else
            posix_spawn_file_actions_addopen(&Actions, Stream, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addclose(&Actions, Pipe[0]);
    posix_spawn_file_actions_addclose(&Actions, Pipe[1]);
    pid_t Child;
    int Failed = posix_spawn(&Child, Program.c_str(), &Actions, nullptr, Argv.data(), environ);
    posix_spawn_file_actions_destroy(&Actions);
    close(Pipe[1]);
    if (Failed == 0) {
        char Chunk[4096];
        ssize_t Read;
        while ((Read = read(Pipe[0], Chunk, sizeof Chunk)) > 0)
            Run.Text.append(Chunk, static_cast<size_t>(Read));
        int Status;
        if (waitpid(Child, &Status, 0) == Child && WIFEXITED(Status)) Run.Status = WEXITSTATUS(Status);
    }
    close(Pipe[0]);
    return Run;
}

std::string OwnProgramPath() {
    char Path[PATH_MAX + 1] = {};
    ssize_t Length = readlink("/proc/self/exe", Path, PATH_MAX);
    return Length > 0 ? std::string(Path, static_cast<size_t>(Length)) : std::string();
}

void TrapDivisionByZeroAndInvalid() {
    feenableexcept(FE_DIVBYZERO | FE_INVALID);
}

bool FloatingPointExceptionsMasked() {
    return fegetexcept() == 0;
}

#endif
