// The machine as a whole: its lifetime, the last error, injected faults and leak counters.
#include "os/sim/SimWorld.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace os::sim {
namespace detail {
namespace {

constexpr const char* kTempFolder = "C:\\Users\\user\\AppData\\Local\\Temp";

// The temporary folder behind the simulated drives, removed when the process exits. A forked
// child (a death test) that exits normally must leave its parent's disk alone.
struct DiskFolder {
    std::string path;
    pid_t owner = getpid();
    DiskFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zelm-sim-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort(); // no disk for the simulation: nothing can be tested
        }
        path = pattern;
    }
    ~DiskFolder() {
        if (getpid() != owner) {
            return;
        }
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    DiskFolder(const DiskFolder&) = delete;
    DiskFolder& operator=(const DiskFolder&) = delete;
};

void ClearDisk() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(DiskRoot(), ignored)) {
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

std::unique_ptr<World>& WorldSlot() {
    static std::unique_ptr<World> world;
    return world;
}

void AddEnv(World& world, const std::string& name, const std::string& value) {
    world.environment[Lower(name)] = EnvVar{name, value};
}

} // namespace

World::World() {
    verOutput = "\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n";
    AddEnv(*this, "ComSpec", "C:\\Windows\\system32\\cmd.exe");
    AddEnv(*this, "Temp", kTempFolder);
    AddEnv(*this, "TMP", kTempFolder);
    AddEnv(*this, "SystemRoot", "C:\\Windows");
    AddEnv(*this, "windir", "C:\\Windows");
    AddEnv(*this, "USERPROFILE", "C:\\Users\\user");
}

World::~World() {
    for (const auto& [handle, object] : objects) {
        if (const auto* file = std::get_if<OpenFile>(&object)) {
            close(file->fd);
        }
    }
    for (const auto& [id, hold] : holds) {
        close(hold.fd);
    }
}

const std::string& DiskRoot() {
    static DiskFolder folder;
    return folder.path;
}

World& TheWorld() {
    if (!WorldSlot()) {
        Reset();
    }
    return *WorldSlot();
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return lower;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && Lower(a) == Lower(b);
}

bool ContainsNoCase(std::string_view text, std::string_view lowerPart) {
    return Lower(text).find(lowerPart) != std::string::npos;
}

std::vector<std::string> SplitPath(std::string_view path) {
    std::vector<std::string> parts;
    std::string part;
    for (const char c : path) {
        if (c == '\\' || c == '/') {
            if (!part.empty()) {
                parts.push_back(std::move(part));
            }
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) {
        parts.push_back(std::move(part));
    }
    return parts;
}

std::string JoinPath(const std::vector<std::string>& parts) {
    std::string joined;
    for (const auto& part : parts) {
        if (!joined.empty()) {
            joined += '\\';
        }
        joined += part;
    }
    return joined;
}

void SetError(DWORD error) {
    TheWorld().lastError = error;
}

void LogCall(const char* function, std::string subject) {
    TheWorld().log.push_back(LoggedCall{function, std::move(subject)});
}

bool Faulted(Call call, const std::vector<std::string>& paths, DWORD& error) {
    World& world = TheWorld();
    const auto index = static_cast<std::size_t>(call);
    const int count = ++world.callCounts[index];
    // A copy: the action may hook further calls.
    const std::vector<CallHook> hooks = world.hooks[index];
    for (const CallHook& hook : hooks) {
        if (hook.nth == count) {
            hook.action();
        }
    }
    for (const NthFault& fault : world.nthFaults[index]) {
        if (fault.nth == count) {
            error = fault.error;
            return true;
        }
    }
    for (const PathFault& fault : world.pathFaults[index]) {
        if (fault.pathPart.empty()) {
            error = fault.error;
            return true;
        }
        for (const auto& path : paths) {
            if (ContainsNoCase(path, fault.pathPart)) {
                error = fault.error;
                return true;
            }
        }
    }
    return false;
}

HANDLE AddObject(KernelObject object) {
    World& world = TheWorld();
    const std::uintptr_t value = world.nextHandle;
    world.nextHandle += 4;
    world.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

} // namespace detail

using namespace detail;

void Reset() {
    WorldSlot().reset();
    ClearDisk();
    WorldSlot() = std::make_unique<World>();
    MakeFolder(WorldSlot()->currentDirectory);
    MakeFolder(kTempFolder);
}

void FailCall(Call call, int nth, DWORD error) {
    TheWorld().nthFaults[static_cast<std::size_t>(call)].push_back(NthFault{nth, error});
}

void FailCallsOn(Call call, const std::string& pathPart, DWORD error) {
    TheWorld().pathFaults[static_cast<std::size_t>(call)].push_back(
        PathFault{Lower(pathPart), error});
}

void OnCall(Call call, int nth, std::function<void()> action) {
    TheWorld().hooks[static_cast<std::size_t>(call)].push_back(CallHook{nth, std::move(action)});
}

int CallCount(Call call) {
    return TheWorld().callCounts[static_cast<std::size_t>(call)];
}

const std::vector<LoggedCall>& CallLog() {
    return TheWorld().log;
}

int FirstCall(const std::string& function, const std::string& subjectPart) {
    const std::vector<LoggedCall>& log = TheWorld().log;
    const std::string part = Lower(subjectPart);
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log[i].function == function && ContainsNoCase(log[i].subject, part)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// An attribute list not deleted is memory of the system's that leaks like a handle.
int OpenHandles() {
    const World& world = TheWorld();
    return static_cast<int>(world.objects.size() + world.attributeLists.size());
}

int OpenKeys() {
    return static_cast<int>(TheWorld().keys.size());
}

} // namespace os::sim

namespace os {

DWORD GetLastError() {
    return sim::detail::TheWorld().lastError;
}

void SetLastError(DWORD errorCode) {
    sim::detail::TheWorld().lastError = errorCode;
}

} // namespace os
