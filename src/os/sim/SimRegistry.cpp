// The simulated registry: two hives, case-insensitive keys and value names, the 32-bit view of a
// 64-bit machine, denied operations.
#include "os/sim/SimWorld.h"

#include <cstring>

namespace os::sim {
namespace detail {
namespace {

bool IsRoot(HKEY key) {
    return key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE;
}

RegNode& RootNode(HKEY root) {
    World& world = TheWorld();
    return root == HKEY_CURRENT_USER ? world.currentUser : world.localMachine;
}

KeyHandle* OpenKey(HKEY key) {
    World& world = TheWorld();
    const auto found = world.keys.find(reinterpret_cast<std::uintptr_t>(key));
    return found == world.keys.end() ? nullptr : &found->second;
}

// Where a call on `key` + `subKey` lands, as a path of the native view.
struct Target {
    HKEY root;
    std::vector<std::string> path;
    bool view64;
};

// The 32-bit view of HKLM\Software on a 64-bit machine, applied once.
void RedirectToWow64(std::vector<std::string>& path) {
    if (path.size() >= 2 && EqualNoCase(path[0], "Software") &&
        !EqualNoCase(path[1], "WOW6432Node")) {
        path.insert(path.begin() + 1, "WOW6432Node");
    }
}

std::optional<Target> TargetOf(HKEY key, const char* subKey, REGSAM desired) {
    Target target{key, {}, (desired & KEY_WOW64_64KEY) != 0};
    if (!IsRoot(key)) {
        const KeyHandle* parent = OpenKey(key);
        if (parent == nullptr) {
            return std::nullopt;
        }
        target.root = parent->root;
        target.path = parent->path;
        target.view64 = target.view64 || parent->view64;
    }
    for (auto& part : SplitPath(subKey != nullptr ? subKey : "")) {
        target.path.push_back(std::move(part));
    }
    const World& world = TheWorld();
    if (!world.machine64) {
        target.view64 = true;
    } else if (!target.view64 && target.root == HKEY_LOCAL_MACHINE) {
        RedirectToWow64(target.path);
    }
    return target;
}

// Follows `path` from the root; with `create` makes the missing keys on the way.
RegNode* FindNode(HKEY root, const std::vector<std::string>& path, bool create = false) {
    RegNode* node = &RootNode(root);
    for (const auto& part : path) {
        auto found = node->children.find(Lower(part));
        if (found == node->children.end()) {
            if (!create) {
                return nullptr;
            }
            auto child = std::make_unique<RegNode>();
            child->name = part;
            found = node->children.emplace(Lower(part), std::move(child)).first;
        }
        node = found->second.get();
    }
    return node;
}

// The stored spelling of each component, so handles show the names given at creation.
std::vector<std::string> StoredNames(HKEY root, const std::vector<std::string>& path) {
    std::vector<std::string> names;
    const RegNode* node = &RootNode(root);
    for (const auto& part : path) {
        node = node->children.at(Lower(part)).get();
        names.push_back(node->name);
    }
    return names;
}

bool Denied(HKEY root, const std::vector<std::string>& path, RegOp op) {
    for (const RegDenial& denial : TheWorld().denials) {
        if (denial.root != root || denial.op != op || denial.path.size() > path.size()) {
            continue;
        }
        bool below = true;
        for (std::size_t i = 0; i < denial.path.size() && below; ++i) {
            below = Lower(path[i]) == denial.path[i];
        }
        if (below) {
            return true;
        }
    }
    return false;
}

HKEY AddKey(const Target& target, REGSAM desired) {
    World& world = TheWorld();
    const std::uintptr_t value = world.nextHandle;
    world.nextHandle += 4;
    world.keys.emplace(value, KeyHandle{target.root, StoredNames(target.root, target.path), desired,
                                        target.view64});
    return reinterpret_cast<HKEY>(value);
}

std::string KeyPathText(HKEY key) {
    if (const KeyHandle* handle = OpenKey(key)) {
        return JoinPath(handle->path);
    }
    return {};
}

struct Access {
    RegNode* node;
    const KeyHandle* handle; // null for a root
};

// The key a value call works on, or the error that the call returns.
LONG AccessKey(HKEY key, REGSAM needed, RegOp op, Access& access) {
    if (IsRoot(key)) {
        access = Access{&RootNode(key), nullptr};
        return Denied(key, {}, op) ? static_cast<LONG>(ERROR_ACCESS_DENIED) : ERROR_SUCCESS;
    }
    const KeyHandle* handle = OpenKey(key);
    if (handle == nullptr) {
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    }
    if ((handle->access & needed) == 0 || Denied(handle->root, handle->path, op)) {
        return static_cast<LONG>(ERROR_ACCESS_DENIED);
    }
    access = Access{FindNode(handle->root, handle->path), handle};
    return ERROR_SUCCESS;
}

std::string ValueKey(const char* valueName) {
    return Lower(valueName != nullptr ? valueName : "");
}

void StoreValue(RegNode& node, const std::string& name, DWORD type, std::string data) {
    RegNamedValue& value = node.values[Lower(name)];
    if (value.name.empty()) {
        value.name = name;
    }
    value.type = type;
    value.data = std::move(data);
}

} // namespace
} // namespace detail

using namespace detail;

// ---- Test API ----------------------------------------------------------------------------------

void SetMachine64(bool is64) {
    TheWorld().machine64 = is64;
}

void CreateRegKey(HKEY root, const std::string& path) {
    FindNode(root, SplitPath(path), true);
}

void SetRegRaw(HKEY root, const std::string& path, const std::string& name, DWORD type,
               const std::string& bytes) {
    StoreValue(*FindNode(root, SplitPath(path), true), name, type, bytes);
}

void SetRegString(HKEY root, const std::string& path, const std::string& name,
                  const std::string& value, DWORD type) {
    SetRegRaw(root, path, name, type, value + '\0');
}

void SetRegDword(HKEY root, const std::string& path, const std::string& name, DWORD value) {
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    SetRegRaw(root, path, name, REG_DWORD, bytes);
}

bool RegKeyExists(HKEY root, const std::string& path) {
    return FindNode(root, SplitPath(path)) != nullptr;
}

std::optional<RegValue> GetRegValue(HKEY root, const std::string& path, const std::string& name) {
    const RegNode* node = FindNode(root, SplitPath(path));
    if (node == nullptr) {
        return std::nullopt;
    }
    const auto found = node->values.find(Lower(name));
    if (found == node->values.end()) {
        return std::nullopt;
    }
    return RegValue{found->second.type, found->second.data};
}

std::optional<DWORD> GetRegDword(HKEY root, const std::string& path, const std::string& name) {
    const auto value = GetRegValue(root, path, name);
    if (!value || value->type != REG_DWORD || value->data.size() != 4) {
        return std::nullopt;
    }
    DWORD result = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        result |= static_cast<DWORD>(static_cast<unsigned char>(value->data[i])) << (8 * i);
    }
    return result;
}

void DenyReg(HKEY root, const std::string& path, RegOp op) {
    std::vector<std::string> parts = SplitPath(path);
    for (auto& part : parts) {
        part = Lower(part);
    }
    TheWorld().denials.push_back(RegDenial{root, std::move(parts), op});
}

} // namespace os::sim

// ---- os.h --------------------------------------------------------------------------------------

namespace os {

using namespace sim::detail;
using sim::Call;
using sim::RegOp;

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD /*options*/, REGSAM desired, HKEY* result) {
    const auto target = TargetOf(key, subKey, desired);
    const std::string path = target ? JoinPath(target->path) : "";
    LogCall("RegOpenKeyExA", path);
    DWORD error = 0;
    if (Faulted(Call::RegOpenKeyEx, {path}, error)) {
        return static_cast<LONG>(error);
    }
    if (!target) {
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    }
    if (result == nullptr) {
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    }
    if (IsRoot(key) && target->path.empty()) {
        *result = key; // a predefined key opens as itself
        return ERROR_SUCCESS;
    }
    if (FindNode(target->root, target->path) == nullptr) {
        return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    }
    if (Denied(target->root, target->path, RegOp::Open)) {
        return static_cast<LONG>(ERROR_ACCESS_DENIED);
    }
    *result = AddKey(*target, desired);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD /*reserved*/, char* /*keyClass*/,
                     DWORD /*options*/, REGSAM desired, void* /*security*/, HKEY* result,
                     DWORD* disposition) {
    const auto target = TargetOf(key, subKey, desired);
    const std::string path = target ? JoinPath(target->path) : "";
    LogCall("RegCreateKeyExA", path);
    DWORD error = 0;
    if (Faulted(Call::RegCreateKeyEx, {path}, error)) {
        return static_cast<LONG>(error);
    }
    if (!target) {
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    }
    if (result == nullptr) {
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    }
    const bool exists = FindNode(target->root, target->path) != nullptr;
    const KeyHandle* parent =
        IsRoot(key) ? nullptr : &TheWorld().keys.at(reinterpret_cast<std::uintptr_t>(key));
    const bool mayCreate = parent == nullptr || (parent->access & KEY_CREATE_SUB_KEY) != 0;
    if (Denied(target->root, target->path, RegOp::Create) ||
        (exists && Denied(target->root, target->path, RegOp::Open)) || (!exists && !mayCreate)) {
        return static_cast<LONG>(ERROR_ACCESS_DENIED);
    }
    FindNode(target->root, target->path, true);
    *result = AddKey(*target, desired);
    if (disposition != nullptr) {
        *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    }
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
    const std::string name = valueName != nullptr ? valueName : "";
    const std::string path = KeyPathText(key) + "\\" + name;
    LogCall("RegQueryValueExA", path);
    DWORD error = 0;
    if (Faulted(Call::RegQueryValueEx, {path}, error)) {
        return static_cast<LONG>(error);
    }
    Access access{};
    if (const LONG status = AccessKey(key, KEY_QUERY_VALUE, RegOp::Query, access);
        status != ERROR_SUCCESS) {
        return status;
    }
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    }
    const auto found = access.node->values.find(ValueKey(valueName));
    if (found == access.node->values.end()) {
        return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    }
    const RegNamedValue& value = found->second;
    const auto size = static_cast<DWORD>(value.data.size());
    LONG status = ERROR_SUCCESS;
    if (data != nullptr && *dataSize < size) {
        status = static_cast<LONG>(ERROR_MORE_DATA);
    } else if (data != nullptr) {
        std::memcpy(data, value.data.data(), size);
    }
    if (dataSize != nullptr) {
        *dataSize = size;
    }
    if (type != nullptr) {
        *type = value.type;
    }
    return status;
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD /*reserved*/, DWORD type,
                    const BYTE* data, DWORD dataSize) {
    const std::string name = valueName != nullptr ? valueName : "";
    const std::string path = KeyPathText(key) + "\\" + name;
    LogCall("RegSetValueExA", path);
    DWORD error = 0;
    if (Faulted(Call::RegSetValueEx, {path}, error)) {
        return static_cast<LONG>(error);
    }
    Access access{};
    if (const LONG status = AccessKey(key, KEY_SET_VALUE, RegOp::Set, access);
        status != ERROR_SUCCESS) {
        return status;
    }
    if (data == nullptr && dataSize != 0) {
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    }
    StoreValue(*access.node, name, type,
               data != nullptr ? std::string(reinterpret_cast<const char*>(data), dataSize)
                               : std::string());
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    LogCall("RegCloseKey", KeyPathText(key));
    DWORD error = 0;
    if (Faulted(Call::RegCloseKey, {KeyPathText(key)}, error)) {
        return static_cast<LONG>(error);
    }
    if (IsRoot(key)) {
        return ERROR_SUCCESS;
    }
    return TheWorld().keys.erase(reinterpret_cast<std::uintptr_t>(key)) == 1
               ? ERROR_SUCCESS
               : static_cast<LONG>(ERROR_INVALID_HANDLE);
}

} // namespace os
