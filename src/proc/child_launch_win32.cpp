#include <windows.h>

#include <algorithm>
#include <array>
#include <memory>

#include "base/wide_text.hpp"
#include "proc/child_launch.hpp"

namespace korvane {

struct ChildAccess {
    static UniqueOsHandle& Process(ChildHandle& child) { return child.process_; }
    static const UniqueOsHandle& Process(const ChildHandle& child) { return child.process_; }
    static UniqueOsHandle& Job(ChildHandle& child) { return child.job_; }
    static const UniqueOsHandle& Job(const ChildHandle& child) { return child.job_; }
    static unsigned long& Id(ChildHandle& child) { return child.id_; }
    static std::mutex& Mutex(PipeReadStop& stop) { return stop.mutex_; }
    static bool Requested(const PipeReadStop& stop) { return stop.requested_; }
    static std::vector<void*>& Readers(PipeReadStop& stop) { return stop.reading_threads_; }
};

namespace {

std::error_code LastError() noexcept {
    return {static_cast<int>(::GetLastError()), std::system_category()};
}

// One word as the child's C runtime (CommandLineToArgvW's rules) reads it
// back: quoted when it holds a blank or a quote or is empty, with the
// backslashes before a quote doubled.
void AppendArgument(std::wstring& line, const std::wstring& word) {
    if (!line.empty()) {
        line.push_back(L' ');
    }
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line.append(word);
        return;
    }
    line.push_back(L'"');
    std::size_t backslashes = 0;
    for (const wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        line.push_back(c);
        backslashes = 0;
    }
    line.append(2 * backslashes, L'\\');
    line.push_back(L'"');
}

struct Pipe {
    UniqueOsHandle read;
    UniqueOsHandle write;
};

// A pipe whose child's end is inheritable (CreateProcessW gives the child only
// inheritable handles) and whose parent's end is a non-inheritable copy.
bool MakePipe(Pipe& pipe, bool parent_reads) {
    SECURITY_ATTRIBUTES inheritable{.nLength = sizeof(SECURITY_ATTRIBUTES),
                                    .lpSecurityDescriptor = nullptr,
                                    .bInheritHandle = TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (::CreatePipe(&read, &write, &inheritable, 0) == FALSE) {
        return false;
    }
    pipe.read.Reset(read);
    pipe.write.Reset(write);
    UniqueOsHandle& parent_end = parent_reads ? pipe.read : pipe.write;
    HANDLE copy = nullptr;
    if (::DuplicateHandle(::GetCurrentProcess(), parent_end.Get(), ::GetCurrentProcess(), &copy, 0,
                          FALSE, DUPLICATE_SAME_ACCESS) == FALSE) {
        return false;
    }
    parent_end.Reset(copy);
    return true;
}

// The attribute list that names the only handles the child inherits: with it,
// a child started by another thread meanwhile (with its own list) does not
// inherit this child's pipe ends. Wine 8 honours it too.
class InheritedHandles {
public:
    explicit InheritedHandles(std::array<HANDLE, 3> handles) : handles_(handles) {
        SIZE_T size = 0;
        (void)::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_ = std::make_unique<std::byte[]>(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.get());
        if (::InitializeProcThreadAttributeList(list, 1, 0, &size) == FALSE) {
            return;
        }
        list_ = list;
        if (::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                        handles_.data(), sizeof handles_, nullptr,
                                        nullptr) == FALSE) {
            ::DeleteProcThreadAttributeList(list_);
            list_ = nullptr;
        }
    }
    ~InheritedHandles() {
        if (list_ != nullptr) {
            ::DeleteProcThreadAttributeList(list_);
        }
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;

    [[nodiscard]] LPPROC_THREAD_ATTRIBUTE_LIST List() const noexcept { return list_; }

private:
    std::array<HANDLE, 3> handles_;  // read by CreateProcessW: lives as long as the list
    std::unique_ptr<std::byte[]> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

std::optional<int> ExitCode(const UniqueOsHandle& process) {
    DWORD code = 0;
    if (::GetExitCodeProcess(process.Get(), &code) == FALSE || code == STILL_ACTIVE) {
        return std::nullopt;
    }
    return static_cast<int>(code);
}

}  // namespace

void UniqueOsHandle::Reset(Native handle) noexcept {
    const Native old = std::exchange(handle_, handle);
    if (old != NONE) {
        ::CloseHandle(old);
    }
}

ChildHandle::ChildHandle(ChildHandle&& other) noexcept
    : process_(std::move(other.process_)),
      job_(std::move(other.job_)),
      id_(std::exchange(other.id_, 0)) {}

ChildHandle& ChildHandle::operator=(ChildHandle&& other) noexcept {
    process_ = std::move(other.process_);
    job_ = std::move(other.job_);
    id_ = std::exchange(other.id_, 0);
    return *this;
}

// Closing the job does not end what runs in it: only SignalChildGroup does.
ChildHandle::~ChildHandle() = default;

bool ChildHandle::Valid() const noexcept {
    return process_.Valid();
}

std::int64_t ChildHandle::Id() const noexcept {
    return id_;
}

LaunchedChild LaunchChild(std::span<const std::string> words, bool show_window) {
    LaunchedChild child;
    if (words.empty() || words.front().empty()) {
        child.error = {ERROR_FILE_NOT_FOUND, std::system_category()};
        return child;
    }
    std::wstring command_line;
    for (const std::string& word : words) {
        AppendArgument(command_line, WideFromUtf8(word));
    }
    Pipe in;
    Pipe out;
    Pipe err;
    if (!MakePipe(in, false) || !MakePipe(out, true) || !MakePipe(err, true)) {
        child.error = LastError();
        return child;
    }
    const InheritedHandles inherited({in.read.Get(), out.write.Get(), err.write.Get()});
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = show_window ? SW_SHOW : SW_HIDE;
    startup.StartupInfo.hStdInput = in.read.Get();
    startup.StartupInfo.hStdOutput = out.write.Get();
    startup.StartupInfo.hStdError = err.write.Get();
    startup.lpAttributeList = inherited.List();
    // Suspended until it is in its job, so that nothing it starts escapes the
    // job. A process group of its own: a console's Ctrl-C meant for this
    // process does not reach it. A console of its own, shown, or none at all.
    const DWORD flags = CREATE_SUSPENDED | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT |
                        (show_window ? CREATE_NEW_CONSOLE : CREATE_NO_WINDOW) |
                        (inherited.List() != nullptr ? EXTENDED_STARTUPINFO_PRESENT : 0);
    PROCESS_INFORMATION started{};
    // No application name: the first word is searched as the system does.
    if (::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                         nullptr, &startup.StartupInfo, &started) == FALSE) {
        child.error = LastError();
        return child;
    }
    ChildAccess::Process(child.process).Reset(started.hProcess);
    ChildAccess::Id(child.process) = started.dwProcessId;
    // Without a job (this process is in one that allows none) only the child
    // itself can be ended.
    UniqueOsHandle job(::CreateJobObjectW(nullptr, nullptr));
    if (job.Valid() && ::AssignProcessToJobObject(job.Get(), started.hProcess) != FALSE) {
        ChildAccess::Job(child.process) = std::move(job);
    }
    ::ResumeThread(started.hThread);
    ::CloseHandle(started.hThread);
    child.stdin_write = std::move(in.write);
    child.stdout_read = std::move(out.read);
    child.stderr_read = std::move(err.read);
    // The child's ends close here, in the parent: only the child and what it
    // starts keep the output pipes open.
    return child;
}

PipeReadStop::PipeReadStop() noexcept = default;
PipeReadStop::~PipeReadStop() = default;

bool PipeReadStop::Valid() const noexcept {
    return true;
}

void PipeReadStop::RequestStop() noexcept {
    // A reader about to enter ReadFile has no read to cancel yet: cancel
    // again until no reader is left inside (each leaves at once when cancelled).
    for (int attempt = 0; attempt < 5000; ++attempt) {
        {
            const std::lock_guard lock(mutex_);
            requested_ = true;
            if (reading_threads_.empty()) {
                return;
            }
            for (void* thread : reading_threads_) {
                (void)::CancelSynchronousIo(thread);
            }
        }
        ::Sleep(1);
    }
}

// Anonymous pipes cannot be waited on with the stop's event: a waiting read
// blocks in ReadFile, and RequestStop cancels it (CancelSynchronousIo).
PipeChunk ReadPipe(const UniqueOsHandle& pipe, std::span<char> buffer, PipeReadStop& stop,
                   bool wait) {
    DWORD size = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), MAXDWORD));
    if (!wait) {
        DWORD available = 0;
        if (::PeekNamedPipe(pipe.Get(), nullptr, 0, nullptr, &available, nullptr) == FALSE) {
            return {};  // every writer has gone (ERROR_BROKEN_PIPE), or an error
        }
        if (available == 0) {
            return {.result = PipeRead::Empty};
        }
        size = std::min(size, available);
    }
    for (;;) {
        HANDLE self = nullptr;
        if (wait) {
            const std::lock_guard lock(ChildAccess::Mutex(stop));
            if (ChildAccess::Requested(stop)) {
                return {.result = PipeRead::Stopped};
            }
            if (::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(),
                                  ::GetCurrentProcess(), &self, THREAD_TERMINATE, FALSE,
                                  0) != FALSE) {
                ChildAccess::Readers(stop).push_back(self);
            }
        }
        DWORD n = 0;
        const BOOL ok = ::ReadFile(pipe.Get(), buffer.data(), size, &n, nullptr);
        const DWORD error = ::GetLastError();
        if (self != nullptr) {
            const std::lock_guard lock(ChildAccess::Mutex(stop));
            std::erase(ChildAccess::Readers(stop), self);
            ::CloseHandle(self);
        }
        if (ok != FALSE && n > 0) {
            return {.result = PipeRead::Data, .size = n};
        }
        if (wait && (ok != FALSE || error == ERROR_OPERATION_ABORTED)) {
            continue;  // a writer's empty write, or the stop: asked again above
        }
        return {};  // ERROR_BROKEN_PIPE: every writer has gone; other errors end it too
    }
}

bool WriteToPipe(const UniqueOsHandle& pipe, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD n = 0;
        const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), MAXDWORD));
        if (::WriteFile(pipe.Get(), bytes.data(), size, &n, nullptr) == FALSE || n == 0) {
            return false;
        }
        bytes.remove_prefix(n);
    }
    return true;
}

ChildEnd WaitForChildExit(const ChildHandle& child, bool wait) {
    const DWORD result =
        ::WaitForSingleObject(ChildAccess::Process(child).Get(), wait ? INFINITE : 0);
    if (result == WAIT_TIMEOUT) {
        return {};
    }
    if (result != WAIT_OBJECT_0) {
        return {.ended = true, .lost = true};
    }
    return {.ended = true, .status = ExitCode(ChildAccess::Process(child))};
}

// Windows has no request to end a process that it may handle (no SIGTERM):
// TerminateProcess ends it at once. Nor can it interrupt this child: a
// console's Ctrl-Break (GenerateConsoleCtrlEvent with the child's group) reaches
// only processes that share the sender's console, and the child has a console
// of its own or none; wine 8 refuses the call for a group in any case. So
// Interrupt and Terminate do nothing here, and the caller ends the child.
bool SignalChildGroup(const ChildHandle& child, ChildSignal signal) noexcept {
    if (signal != ChildSignal::Kill) {
        return false;
    }
    // The job takes what the child started with it; exit code 1 for all.
    const UniqueOsHandle& job = ChildAccess::Job(child);
    if (job.Valid() && ::TerminateJobObject(job.Get(), 1) != FALSE) {
        return true;
    }
    return ::TerminateProcess(ChildAccess::Process(child).Get(), 1) != FALSE;
}

std::optional<int> ReapChild(ChildHandle& child) {
    (void)::WaitForSingleObject(ChildAccess::Process(child).Get(), INFINITE);
    const std::optional<int> status = ExitCode(ChildAccess::Process(child));
    child = ChildHandle();
    return status;
}

}  // namespace korvane
