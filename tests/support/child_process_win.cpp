#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <csignal>
#include <mutex>
#include <thread>

#include "tests/support/child_process.h"

namespace korvanel::test_support {

namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

// One argument as CommandLineToArgvW reads it back: quoted when it holds a space, a tab or a
// quote (or is empty), with the backslashes before a quote doubled.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') backslashes = backslashes * 2 + 1;
    line.append(backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : m_handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  ~Handle() { Reset(); }
  Handle(Handle&& other) noexcept : m_handle(other.Release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Reset();
      m_handle = other.Release();
    }
    return *this;
  }
  HANDLE get() const { return m_handle; }
  explicit operator bool() const { return m_handle != nullptr; }
  HANDLE Release() {
    HANDLE handle = m_handle;
    m_handle = nullptr;
    return handle;
  }
  void Reset() {
    if (m_handle != nullptr) CloseHandle(m_handle);
    m_handle = nullptr;
  }

 private:
  HANDLE m_handle = nullptr;
};

// The handles are made inheritable only while the child is created (see Create), so a child
// started by another thread at the same moment cannot take this child's pipe ends with it
// and keep them open.

// A handle for the child: a file opened for it, or the null device for an empty path.
Handle OpenForChild(const std::string& path, bool forWriting) {
  const std::wstring name = path.empty() ? L"NUL" : Wide(path);
  return Handle(CreateFileW(name.c_str(), forWriting ? GENERIC_WRITE : GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            forWriting ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
}

// A pipe: one end (reading or writing) for the child, the other for us.
bool MakePipe(Handle* childEnd, Handle* ourEnd, bool childReads) {
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) return false;
  *childEnd = Handle(childReads ? readEnd : writeEnd);
  *ourEnd = Handle(childReads ? writeEnd : readEnd);
  return true;
}

std::mutex g_creating;

// CreateProcessW with the three standard handles inherited and, in this process's children,
// nothing else of ours.
bool Create(const std::wstring& program, std::wstring& commandLine, STARTUPINFOW& startup,
            PROCESS_INFORMATION* started) {
  std::lock_guard lock(g_creating);
  const HANDLE handles[] = {startup.hStdInput, startup.hStdOutput, startup.hStdError};
  for (HANDLE handle : handles)
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  const bool created = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                      CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED, nullptr, nullptr,
                                      &startup, started) != 0;
  for (HANDLE handle : handles) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
  return created;
}

}  // namespace

class ChildProcess::Platform {
 public:
  ~Platform() {
    if (m_inputWriter.joinable()) m_inputWriter.join();
  }
  Handle m_process;
  Handle m_job;
  DWORD m_id = 0;
  Handle m_outputPipe;
  std::thread m_inputWriter;  // feeds piped input, which may exceed a pipe's buffer
};

ChildProcess::ChildProcess(const Setup& setup) : m_platform(std::make_unique<Platform>()) {
  if (setup.arguments.empty()) return;
  std::wstring commandLine;
  for (const std::string& argument : setup.arguments) {
    if (!commandLine.empty()) commandLine += L' ';
    AppendQuoted(commandLine, Wide(argument));
  }
  Handle input, inputFeed, output, outputPipe;
  if (setup.pipedInput) {
    if (!MakePipe(&input, &inputFeed, true)) return;
  } else {
    input = OpenForChild(setup.standardInput, false);
  }
  if (setup.pipeOutput) {
    if (!MakePipe(&output, &outputPipe, false)) return;
  } else {
    output = OpenForChild(setup.standardOutput, true);
  }
  Handle error = OpenForChild(setup.standardError, true);
  if (!input || !output || !error) return;

  // A job that ends with its last handle: the child dies with the test process.
  Handle job(CreateJobObjectW(nullptr, nullptr));
  if (job) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = output.get();
  startup.hStdError = error.get();
  PROCESS_INFORMATION started{};
  const std::wstring program = Wide(setup.arguments.front());
  if (!Create(program, commandLine, startup, &started)) return;
  if (job) AssignProcessToJobObject(job.get(), started.hProcess);
  ResumeThread(started.hThread);
  CloseHandle(started.hThread);
  m_platform->m_process = Handle(started.hProcess);
  m_platform->m_id = started.dwProcessId;
  m_platform->m_job = std::move(job);
  m_platform->m_outputPipe = std::move(outputPipe);
  if (setup.pipedInput) {
    m_platform->m_inputWriter =
        std::thread([feed = std::move(inputFeed), bytes = *setup.pipedInput]() mutable {
          std::size_t offset = 0;
          while (offset < bytes.size()) {
            DWORD written = 0;
            const DWORD size =
                static_cast<DWORD>(std::min<std::size_t>(bytes.size() - offset, 65536));
            if (!WriteFile(feed.get(), bytes.data() + offset, size, &written, nullptr)) break;
            offset += written;
          }
        });
  }
}

ChildProcess::~ChildProcess() {
  if (m_platform->m_process && !m_status) {
    TerminateProcess(m_platform->m_process.get(), 137);
    WaitForSingleObject(m_platform->m_process.get(), INFINITE);
  }
}

bool ChildProcess::Started() const { return static_cast<bool>(m_platform->m_process); }

long ChildProcess::Pid() const { return static_cast<long>(m_platform->m_id); }

bool ChildProcess::Running() {
  if (!m_platform->m_process || m_status) return false;
  if (WaitForSingleObject(m_platform->m_process.get(), 0) == WAIT_TIMEOUT) return true;
  Wait(std::chrono::milliseconds(0));
  return false;
}

int ChildProcess::ReadOutput(std::string* chunk, std::chrono::milliseconds timeout) {
  const HANDLE pipe = m_platform->m_outputPipe.get();
  if (pipe == nullptr) return 0;
  // An anonymous pipe cannot be waited on with a time limit: look at it until bytes come.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return 0;  // ended
    if (available > 0) break;
    if (timeout.count() >= 0 && std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  char buffer[4096];
  DWORD got = 0;
  if (!ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) || got == 0) return 0;
  chunk->append(buffer, got);
  return 1;
}

void ChildProcess::Signal(int signal) {
  if (!m_platform->m_process || m_status) return;
  if (signal == SIGINT && GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, m_platform->m_id)) return;
  TerminateProcess(m_platform->m_process.get(), static_cast<UINT>(128 + signal));
}

void ChildProcess::Kill() {
  if (m_platform->m_process && !m_status) TerminateProcess(m_platform->m_process.get(), 137);
  Wait();
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (m_status) return *m_status;
  if (!m_platform->m_process) return -1;
  const HANDLE process = m_platform->m_process.get();
  const DWORD limit = timeout.count() < 0 ? INFINITE : static_cast<DWORD>(timeout.count());
  if (WaitForSingleObject(process, limit) != WAIT_OBJECT_0) {
    TerminateProcess(process, 137);
    WaitForSingleObject(process, INFINITE);
    m_status = -1;
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  if (m_platform->m_inputWriter.joinable()) m_platform->m_inputWriter.join();
  m_status = static_cast<int>(code);
  return *m_status;
}

}  // namespace korvanel::test_support
