// The state of the simulated machine, private to os/sim. Everything lives in one World object so
// that Reset() is a matter of replacing it.
#pragma once

#include "os/sim/Sim.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <variant>
#include <vector>

namespace os::sim::detail {

// ---- Registry ----------------------------------------------------------------------------------

struct RegNamedValue {
    std::string name; // as given when first set
    DWORD type;
    std::string data;
};

struct RegNode {
    std::string name;                                         // as given at creation
    std::map<std::string, std::unique_ptr<RegNode>> children; // by lower-case name
    std::map<std::string, RegNamedValue> values;              // by lower-case name
};

// An open key: where it resolved to (native view, components as stored) and what it may do.
struct KeyHandle {
    HKEY root;
    std::vector<std::string> path;
    REGSAM access;
    bool view64; // opened in the 64-bit view (no further redirection below it)
};

struct RegDenial {
    HKEY root;
    std::vector<std::string> path; // lower case
    RegOp op;
};

// ---- Files and other kernel objects ------------------------------------------------------------

struct FileIdentity {
    dev_t device;
    ino_t inode;
    bool operator==(const FileIdentity& other) const {
        return device == other.device && inode == other.inode;
    }
    bool operator<(const FileIdentity& other) const {
        return device != other.device ? device < other.device : inode < other.inode;
    }
};

struct OpenFile {
    std::string winPath; // full path as opened, for faults matched by path
    int fd;
    FileIdentity identity;
    DWORD access; // GENERIC_READ / GENERIC_WRITE / DELETE bits as requested
    DWORD share;
    std::uint64_t position = 0;
    std::uint64_t written = 0; // bytes written through this handle, for FailWritesAfter
};

struct FindSearch {
    std::string winPath;
    std::vector<WIN32_FIND_DATAA> entries;
    std::size_t next = 0;
};

struct MappingRef {
    std::string key; // key of World::mappings
};

struct Waitable {            // an ended process or thread
    std::string commandLine; // for faults matched by path
};

struct PipeEnd {
    int pipe; // key of World::pipes
    bool write;
};

// As UpdateProcThreadAttribute keeps it: the caller's array, read when the process starts.
struct HandleList {
    const HANDLE* handles = nullptr;
    std::size_t count = 0;
};

struct Pipe {
    std::string bytes; // written and not yet read
    int writeEnds = 0; // handles of the write end still open, in any process
};

using KernelObject = std::variant<OpenFile, FindSearch, MappingRef, Waitable, PipeEnd>;

struct Hold { // a file held open by another process
    int fd;
    FileIdentity identity;
    DWORD share;
    std::optional<std::uint64_t> releaseAt; // on the virtual clock; none: until released
};

struct WriteLimit {
    std::string pathPart; // lower case
    std::uint64_t bytes;
};

struct NoFileIndex {
    std::string pathPart; // lower case
    DWORD volumeSerialNumber;
};

struct NamedMapping {
    int ourHandles = 0;         // handles of our process
    bool heldElsewhere = false; // another process (the host) keeps it
};

struct PathFault {
    std::string pathPart; // lower case
    DWORD error;
};
struct NthFault {
    int nth;
    DWORD error;
};
struct CallHook {
    int nth;
    std::function<void()> action;
};

struct HostState {
    HostOptions options;
    bool started = false;
    bool quit = false;  // WM_QUIT accepted: window and mapping are gone
    bool ended = false; // files released too
    std::uint64_t releaseAt = 0;
    std::optional<int> holdId;
};

struct Resource {
    std::string type; // upper case, "#n" for numeric identifiers
    std::string name;
    std::string bytes;
};

struct EnvVar {
    std::string name;
    std::string value;
};

struct World {
    World();
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    DWORD lastError = 0;

    // Registry.
    bool machine64 = true;
    RegNode currentUser;
    RegNode localMachine;
    std::map<std::uintptr_t, KeyHandle> keys;
    std::vector<RegDenial> denials;

    // Kernel objects (everything but keys) and files held by other processes.
    std::map<std::uintptr_t, KernelObject> objects;
    std::set<std::uintptr_t> inheritable; // handles made with bInheritHandle
    std::map<int, Pipe> pipes;
    int nextPipe = 1;
    std::map<const void*, HandleList> attributeLists; // initialized, with their handle lists
    std::set<std::string> objectDirectories; // Linux folders that stand for object directories
    std::uintptr_t nextHandle = 0x1000;
    std::map<int, Hold> holds;
    int nextHold = 1;
    std::vector<WriteLimit> writeLimits;
    std::map<FileIdentity, DWORD> fileAttributes; // read-only, hidden, system; per file
    std::vector<NoFileIndex> noFileIndexes;
    std::string currentDirectory = "C:\\Users\\user\\Downloads\\";

    // Faults and the call log.
    std::array<int, static_cast<std::size_t>(Call::Count)> callCounts{};
    std::array<std::vector<NthFault>, static_cast<std::size_t>(Call::Count)> nthFaults;
    std::array<std::vector<PathFault>, static_cast<std::size_t>(Call::Count)> pathFaults;
    std::array<std::vector<CallHook>, static_cast<std::size_t>(Call::Count)> hooks;
    std::vector<LoggedCall> log;

    // Boxes and time.
    std::vector<Box> boxes;
    std::deque<int> answers;
    std::uint64_t clockMs = 0;
    bool performanceCounter = true;

    // Processes and windows.
    HostState host;
    std::map<std::string, NamedMapping> mappings; // by lower-case name
    int anonymousMappings = 0;
    int quitsToHost = 0;
    int quitsToOwnThread = 0;
    std::optional<std::string> verOutput;
    std::vector<ProcessRecord> processes;
    std::vector<ShellExecuteRecord> shellExecutes;
    bool desktopShell = true;
    DWORD nextProcessId = 1000;

    // System.
    Version version;
    WORD architecture = PROCESSOR_ARCHITECTURE_AMD64;
    std::map<int, int> metrics;
    LCID userLocale = 0x0409;
    bool admin = true;
    std::optional<DWORD> elevationType = TokenElevationTypeFull;
    std::map<std::string, EnvVar> environment; // by lower-case name
    std::optional<std::string> commandLine;
    std::string commandLineText; // the buffer GetCommandLineA hands out
    bool dllSearchFunctions = true;
    DllSearch dllSearch{};
    std::string ownModulePath = "C:\\Users\\user\\Downloads\\ZelmSoundUpdate.exe";
    std::u16string
        ownModulePathW; // when set, the path itself, of which ownModulePath is the ANSI form
    std::vector<std::unique_ptr<Resource>> resources; // stable addresses for LockResource
};

World& TheWorld();             // creates a fresh machine on first use
const std::string& DiskRoot(); // the Linux folder holding the drive folders

// ---- Helpers shared by the parts ---------------------------------------------------------------

std::string Lower(std::string_view text);
bool EqualNoCase(std::string_view a, std::string_view b);
bool ContainsNoCase(std::string_view text, std::string_view lowerPart);
std::vector<std::string> SplitPath(std::string_view path); // on '\\' and '/', no empty parts
std::string JoinPath(const std::vector<std::string>& parts);

void SetError(DWORD error);
// Records an os.h call in the call log; the first thing each simulated function does.
void LogCall(const char* function, std::string subject = {});
// Counts the call and tells whether an injected fault applies; `paths` are what FailCallsOn
// matches against. On a fault `error` receives the error to report.
bool Faulted(Call call, const std::vector<std::string>& paths, DWORD& error);

template <class T> T* ObjectAs(HANDLE handle) {
    World& world = TheWorld();
    const auto found = world.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == world.objects.end() ? nullptr : std::get_if<T>(&found->second);
}
HANDLE AddObject(KernelObject object);

// Lets the host release its files once the virtual clock has passed the release time.
void CatchUpHost();
// Opens and holds a file for another process; nullopt when the file does not exist.
std::optional<int> HoldFileFor(const std::string& winPath, DWORD shareMode);
// Ends the holds whose time on the virtual clock has come (HoldFileBriefly).
void ReleaseDueHolds();
void CloseMappingHandle(const std::string& key);
// A pipe goes when the last handle to either of its ends does.
void ClosePipeEnd(const PipeEnd& end);
// Writes bytes into a file of the simulated disk, as the test fixture does.
void WriteFileContents(const std::string& winPath, const std::string& bytes);

} // namespace os::sim::detail
