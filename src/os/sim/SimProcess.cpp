// Other processes and the user: the host with its mapping, window and held file, named mappings,
// started processes and the command interpreter, message boxes, the virtual clock.
#include "os/sim/SimPaths.h"

#include <algorithm>

namespace os::sim {
namespace detail {
namespace {

constexpr const char* kHostMapping = "zelm_memfile";
constexpr const char* kHostWindowClass = "TZelmMainForm";
constexpr const char* kHostWindowTitle = "Zelm";
constexpr const char* kHostBank = "zorv.3bs";
const HWND kHostWindow = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x000A0132));

bool HostWindowShown() {
    const HostState& host = TheWorld().host;
    return host.started && !host.quit && host.options.hasWindow;
}

void DropMappingIfUnused(const std::string& key) {
    World& world = TheWorld();
    const auto found = world.mappings.find(key);
    if (found != world.mappings.end() && found->second.ourHandles == 0 &&
        !found->second.heldElsewhere) {
        world.mappings.erase(found);
    }
}

// The host's window and mapping go at once; its file only when its release time has come.
void QuitHost() {
    World& world = TheWorld();
    world.host.quit = true;
    world.host.releaseAt = world.clockMs + world.host.options.releaseDelayMs;
    if (const auto mapping = world.mappings.find(kHostMapping); mapping != world.mappings.end()) {
        mapping->second.heldElsewhere = false;
        DropMappingIfUnused(kHostMapping);
    }
    CatchUpHost();
}

std::string Trim(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    const auto last = text.find_last_not_of(' ');
    return first == std::string_view::npos ? std::string()
                                           : std::string(text.substr(first, last - first + 1));
}

// A command line as the program it starts (its first word, quoted or not) and the rest.
struct CommandLine {
    std::string program;
    std::string arguments;
};

CommandLine SplitCommandLine(const std::string& line) {
    if (!line.empty() && line.front() == '"') {
        const auto close = line.find('"', 1);
        if (close == std::string::npos) {
            return CommandLine{line.substr(1), ""};
        }
        return CommandLine{line.substr(1, close - 1), line.substr(close + 1)};
    }
    const auto blank = line.find(' ');
    if (blank == std::string::npos) {
        return CommandLine{line, ""};
    }
    return CommandLine{line.substr(0, blank), line.substr(blank)};
}

bool IsInterpreter(const std::string& program) {
    const World& world = TheWorld();
    const auto comSpec = world.environment.find("comspec");
    if (comSpec != world.environment.end() && EqualNoCase(program, comSpec->second.value)) {
        return true;
    }
    const std::string lower = Lower(program);
    return lower == "cmd.exe" ||
           (lower.size() > 8 && lower.compare(lower.size() - 8, 8, "\\cmd.exe") == 0);
}

// "[/d ]/c ver": whether that is the command the interpreter runs.
bool RunsVer(const std::string& arguments) {
    std::string args = Trim(arguments);
    if (args.size() >= 3 && EqualNoCase(args.substr(0, 3), "/d ")) {
        args = Trim(args.substr(3));
    }
    return args.size() >= 3 && EqualNoCase(args.substr(0, 3), "/c ") &&
           EqualNoCase(Trim(args.substr(3)), "ver");
}

std::string HandleKind(HANDLE handle) {
    if (const auto* end = ObjectAs<PipeEnd>(handle)) {
        return end->write ? "pipe write end" : "pipe read end";
    }
    if (const auto* file = ObjectAs<OpenFile>(handle)) {
        return "file " + file->winPath;
    }
    return "handle";
}

// The handles a child inherits: none without inheritHandles; else those of the handle list,
// each of which must be inheritable, or without a list every inheritable handle.
std::optional<std::vector<HANDLE>> InheritedHandles(BOOL inheritHandles, DWORD creationFlags,
                                                    const STARTUPINFOA* startupInfo) {
    const World& world = TheWorld();
    std::vector<HANDLE> inherited;
    if (inheritHandles == 0) {
        return inherited;
    }
    const void* list = (creationFlags & EXTENDED_STARTUPINFO_PRESENT) != 0 && startupInfo != nullptr
                           ? reinterpret_cast<const STARTUPINFOEXA*>(startupInfo)->lpAttributeList
                           : nullptr;
    if (list == nullptr) {
        for (const std::uintptr_t handle : world.inheritable) {
            inherited.push_back(reinterpret_cast<HANDLE>(handle));
        }
        return inherited;
    }
    const auto found = world.attributeLists.find(list);
    if (found == world.attributeLists.end()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < found->second.count; ++i) {
        const HANDLE handle = found->second.handles[i];
        if (world.inheritable.count(reinterpret_cast<std::uintptr_t>(handle)) == 0) {
            return std::nullopt;
        }
        inherited.push_back(handle);
    }
    return inherited;
}

int DefaultAnswer(UINT type) {
    switch (type & 0xF) {
    case MB_YESNO:
        return IDNO;
    case MB_OK:
        return IDOK;
    default:
        return IDCANCEL;
    }
}

int ShowBox(Box box) {
    World& world = TheWorld();
    DWORD error = 0;
    if (Faulted(Call::MessageBox, {box.caption, box.text}, error)) {
        SetError(error);
        return 0;
    }
    int answer = DefaultAnswer(box.style);
    if (!world.answers.empty()) {
        answer = world.answers.front();
        world.answers.pop_front();
    }
    world.boxes.push_back(std::move(box));
    return answer;
}

std::string TextOf(const char* text) {
    return text != nullptr ? text : "";
}

} // namespace

void CatchUpHost() {
    World& world = TheWorld();
    HostState& host = world.host;
    if (!host.quit || host.ended || world.clockMs < host.releaseAt) {
        return;
    }
    if (host.holdId) {
        ReleaseFile(*host.holdId);
        host.holdId.reset();
    }
    host.ended = true;
}

void ClosePipeEnd(const PipeEnd& end) {
    World& world = TheWorld();
    if (end.write) {
        --world.pipes.at(end.pipe).writeEnds;
    }
    int handles = 0;
    for (const auto& [value, object] : world.objects) {
        const auto* other = std::get_if<PipeEnd>(&object);
        handles += other != nullptr && other->pipe == end.pipe ? 1 : 0;
    }
    if (handles <= 1) { // the one being closed
        world.pipes.erase(end.pipe);
    }
}

void CloseMappingHandle(const std::string& key) {
    World& world = TheWorld();
    const auto found = world.mappings.find(key);
    if (found != world.mappings.end()) {
        --found->second.ourHandles;
        DropMappingIfUnused(key);
    }
}

} // namespace detail

using namespace detail;

// ---- Test API ----------------------------------------------------------------------------------

void StartHost(const HostOptions& options) {
    World& world = TheWorld();
    if (world.host.holdId) {
        ReleaseFile(*world.host.holdId);
    }
    world.host = HostState{options, true, false, false, 0, std::nullopt};
    world.mappings[kHostMapping].heldElsewhere = true;
    const std::string& folder = options.folder;
    const bool endsInBackslash = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
    world.host.holdId =
        HoldFileFor(folder + (endsInBackslash ? "" : "\\") + kHostBank, FILE_SHARE_READ);
}

bool HostRunning() {
    CatchUpHost();
    const HostState& host = TheWorld().host;
    return host.started && !host.ended;
}

int QuitMessagesToHost() {
    return TheWorld().quitsToHost;
}

int QuitMessagesToOwnThread() {
    return TheWorld().quitsToOwnThread;
}

void AddNamedMapping(const std::string& name) {
    TheWorld().mappings[Lower(name)].heldElsewhere = true;
}

void SetVerOutput(std::optional<std::string> oemText) {
    TheWorld().verOutput = std::move(oemText);
}

const std::vector<ProcessRecord>& StartedProcesses() {
    return TheWorld().processes;
}

const std::vector<ShellExecuteRecord>& ShellExecutes() {
    return TheWorld().shellExecutes;
}

void SetDesktopShell(bool running) {
    TheWorld().desktopShell = running;
}

const std::vector<Box>& Boxes() {
    return TheWorld().boxes;
}

void AnswerBoxes(std::vector<int> answers) {
    TheWorld().answers.assign(answers.begin(), answers.end());
}

DWORD Now() {
    return static_cast<DWORD>(TheWorld().clockMs);
}

void SetQueryPerformanceCounterAvailable(bool available) {
    TheWorld().performanceCounter = available;
}

} // namespace os::sim

// ---- os.h --------------------------------------------------------------------------------------

namespace os {

using namespace sim::detail;
using sim::Box;
using sim::Call;
using sim::ProcessRecord;
using sim::ShellExecuteRecord;

HANDLE CreateFileMappingA(HANDLE file, void* /*security*/, DWORD /*protect*/, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, const char* name) {
    LogCall("CreateFileMappingA", TextOf(name));
    DWORD error = 0;
    if (Faulted(Call::CreateFileMapping, {TextOf(name)}, error)) {
        SetError(error);
        return nullptr;
    }
    const bool pagingFile = file == INVALID_HANDLE_VALUE;
    if ((!pagingFile && ObjectAs<OpenFile>(file) == nullptr)) {
        SetError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (pagingFile && maximumSizeHigh == 0 && maximumSizeLow == 0) {
        SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    World& world = TheWorld();
    const std::string key = name != nullptr && *name != '\0'
                                ? Lower(name)
                                : "\x01unnamed" + std::to_string(world.anonymousMappings++);
    const bool existed = world.mappings.count(key) != 0;
    ++world.mappings[key].ourHandles;
    const HANDLE handle = AddObject(MappingRef{key});
    SetError(existed ? ERROR_ALREADY_EXISTS : NO_ERROR);
    return handle;
}

void Sleep(DWORD milliseconds) {
    LogCall("Sleep", std::to_string(milliseconds));
    TheWorld().clockMs += milliseconds;
    CatchUpHost();
}

DWORD GetTickCount() {
    LogCall("GetTickCount");
    return static_cast<DWORD>(TheWorld().clockMs);
}

BOOL QueryPerformanceCounter(LONGLONG* count) {
    LogCall("QueryPerformanceCounter");
    const World& world = TheWorld();
    if (!world.performanceCounter || count == nullptr) {
        SetError(count == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_FUNCTION);
        return 0;
    }
    *count = static_cast<LONGLONG>(world.clockMs * 1000);
    return 1;
}

BOOL CreateProcessA(const char* applicationName, char* commandLine, void* /*processAttributes*/,
                    void* /*threadAttributes*/, BOOL inheritHandles, DWORD creationFlags,
                    void* /*environment*/, const char* /*currentDirectory*/,
                    STARTUPINFOA* startupInfo, PROCESS_INFORMATION* processInformation) {
    const std::string line = commandLine != nullptr ? commandLine : TextOf(applicationName);
    LogCall("CreateProcessA", line);
    DWORD error = 0;
    if (Faulted(Call::CreateProcess, {line}, error)) {
        SetError(error);
        return 0;
    }
    const auto inherited = InheritedHandles(inheritHandles, creationFlags, startupInfo);
    if (line.empty() || processInformation == nullptr || !inherited) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    World& world = TheWorld();
    const CommandLine command = SplitCommandLine(line);
    const bool interpreter =
        IsInterpreter(applicationName != nullptr ? applicationName : command.program);
    if (interpreter && !world.verOutput) {
        SetError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    const bool stdHandles =
        startupInfo != nullptr && (startupInfo->dwFlags & STARTF_USESTDHANDLES) != 0;
    const bool stdOutputInherited =
        stdHandles && std::find(inherited->begin(), inherited->end(), startupInfo->hStdOutput) !=
                          inherited->end();
    // The child has ended by the time anyone looks: what it wrote is in the pipe, and its own
    // copy of the write end is closed.
    if (interpreter && RunsVer(command.arguments) && stdOutputInherited) {
        if (const auto* end = ObjectAs<PipeEnd>(startupInfo->hStdOutput); end && end->write) {
            world.pipes.at(end->pipe).bytes += *world.verOutput;
        }
    }
    std::vector<std::string> kinds;
    for (const HANDLE handle : *inherited) {
        kinds.push_back(HandleKind(handle));
    }
    world.processes.push_back(
        ProcessRecord{TextOf(applicationName), line, creationFlags,
                      startupInfo != nullptr ? startupInfo->dwFlags : 0,
                      startupInfo != nullptr ? startupInfo->wShowWindow : WORD{0},
                      inheritHandles != 0, std::move(kinds), stdOutputInherited});
    processInformation->hProcess = AddObject(Waitable{line});
    processInformation->hThread = AddObject(Waitable{line});
    processInformation->dwProcessId = world.nextProcessId++;
    processInformation->dwThreadId = world.nextProcessId++;
    return 1;
}

BOOL CreatePipe(HANDLE* readPipe, HANDLE* writePipe, SECURITY_ATTRIBUTES* attributes,
                DWORD /*size*/) {
    LogCall("CreatePipe");
    DWORD error = 0;
    if (Faulted(Call::CreatePipe, {}, error)) {
        SetError(error);
        return 0;
    }
    if (readPipe == nullptr || writePipe == nullptr) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    World& world = TheWorld();
    const int pipe = world.nextPipe++;
    world.pipes[pipe].writeEnds = 1;
    *readPipe = AddObject(PipeEnd{pipe, false});
    *writePipe = AddObject(PipeEnd{pipe, true});
    if (attributes != nullptr && attributes->bInheritHandle != 0) {
        world.inheritable.insert(reinterpret_cast<std::uintptr_t>(*readPipe));
        world.inheritable.insert(reinterpret_cast<std::uintptr_t>(*writePipe));
    }
    return 1;
}

namespace {

// Logs a call of a function that came with Vista; true, with the last error set, where an
// injected fault or a Windows without it refuses the call.
bool RefusedVistaCall(const char* function, Call call) {
    LogCall(function);
    DWORD error = 0;
    if (Faulted(call, {}, error)) {
        SetError(error);
        return true;
    }
    if (!TheWorld().version.vistaFunctions) {
        SetError(ERROR_PROC_NOT_FOUND);
        return true;
    }
    return false;
}

} // namespace

BOOL InitializeProcThreadAttributeList(void* list, DWORD count, DWORD flags, std::size_t* size) {
    if (RefusedVistaCall("InitializeProcThreadAttributeList",
                         Call::InitializeProcThreadAttributeList)) {
        return 0;
    }
    World& world = TheWorld();
    if (size == nullptr || count == 0 || flags != 0) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    constexpr std::size_t kListSize = 48; // what Windows asks for one attribute, give or take
    if (list == nullptr || *size < kListSize) {
        *size = kListSize;
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    world.attributeLists[list] = HandleList{};
    return 1;
}

BOOL UpdateProcThreadAttribute(void* list, DWORD flags, std::uintptr_t attribute, void* value,
                               std::size_t size, void* previousValue, std::size_t* returnSize) {
    if (RefusedVistaCall("UpdateProcThreadAttribute", Call::UpdateProcThreadAttribute)) {
        return 0;
    }
    World& world = TheWorld();
    const auto found = world.attributeLists.find(list);
    if (found == world.attributeLists.end() || flags != 0 ||
        attribute != PROC_THREAD_ATTRIBUTE_HANDLE_LIST || value == nullptr || size == 0 ||
        size % sizeof(HANDLE) != 0 || previousValue != nullptr || returnSize != nullptr) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    found->second = HandleList{static_cast<const HANDLE*>(value), size / sizeof(HANDLE)};
    return 1;
}

void DeleteProcThreadAttributeList(void* list) {
    LogCall("DeleteProcThreadAttributeList");
    TheWorld().attributeLists.erase(list);
}

DWORD WaitForSingleObject(HANDLE object, DWORD /*milliseconds*/) {
    const Waitable* waitable = ObjectAs<Waitable>(object);
    LogCall("WaitForSingleObject", waitable != nullptr ? waitable->commandLine : "");
    DWORD error = 0;
    if (Faulted(Call::WaitForSingleObject, {waitable != nullptr ? waitable->commandLine : ""},
                error)) {
        SetError(error);
        return WAIT_FAILED;
    }
    // Every process of this machine has ended by the time anyone waits for it.
    if (waitable != nullptr || ObjectAs<OpenFile>(object) != nullptr) {
        return WAIT_OBJECT_0;
    }
    SetError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    LogCall("MessageBoxA", TextOf(caption));
    return ShowBox(Box{false, owner != nullptr, TextOf(text), TextOf(caption), type, 0});
}

int MessageBoxExA(HWND owner, const char* text, const char* caption, UINT type, WORD languageId) {
    LogCall("MessageBoxExA", TextOf(caption));
    return ShowBox(Box{true, owner != nullptr, TextOf(text), TextOf(caption), type, languageId});
}

HWND FindWindowA(const char* className, const char* windowName) {
    LogCall("FindWindowA", TextOf(className));
    const bool classMatches = className == nullptr || EqualNoCase(className, kHostWindowClass);
    const bool titleMatches = windowName == nullptr || std::string(windowName) == kHostWindowTitle;
    return HostWindowShown() && classMatches && titleMatches ? kHostWindow : nullptr;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    LogCall("PostMessageA", window == kHostWindow ? kHostWindowClass : "");
    World& world = TheWorld();
    if (window == nullptr) { // the calling thread's own queue
        world.quitsToOwnThread += message == WM_QUIT ? 1 : 0;
        return 1;
    }
    if (window != kHostWindow || !HostWindowShown()) {
        SetError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (message == WM_QUIT) {
        ++world.quitsToHost;
        if (!world.host.options.neverReleases) {
            QuitHost();
        }
    }
    return 1;
}

HINSTANCE ShellExecuteA(HWND owner, const char* operation, const char* file, const char* parameters,
                        const char* directory, int showCommand) {
    LogCall("ShellExecuteA", TextOf(file));
    DWORD error = 0;
    if (Faulted(Call::ShellExecute, {TextOf(file)}, error)) {
        SetError(error);
        // Failures come back as values of 32 and below, the old error codes.
        return reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(error <= 32 ? error : 0));
    }
    World& world = TheWorld();
    world.shellExecutes.push_back(ShellExecuteRecord{
        false, owner != nullptr, TextOf(operation), TextOf(file), TextOf(parameters),
        TextOf(directory), showCommand, world.currentDirectory});
    return reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(42));
}

HRESULT DesktopShellExecute(const char* file, const char* parameters, const char* directory,
                            const char* operation, int showCommand) {
    LogCall("DesktopShellExecute", TextOf(file));
    DWORD error = 0;
    if (Faulted(Call::DesktopShellExecute, {TextOf(file)}, error)) {
        return static_cast<HRESULT>(error);
    }
    World& world = TheWorld();
    if (!world.desktopShell) {
        return S_FALSE;
    }
    world.shellExecutes.push_back(ShellExecuteRecord{true, false, TextOf(operation), TextOf(file),
                                                     TextOf(parameters), TextOf(directory),
                                                     showCommand, world.currentDirectory});
    return S_OK;
}

} // namespace os
