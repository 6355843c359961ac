#include "base/Registry.h"

#include <algorithm>
#include <array>

namespace {

bool IsStringType(os::DWORD type) {
    return type == os::REG_SZ || type == os::REG_EXPAND_SZ;
}

[[noreturn]] void RaiseRegistryError(const char* what, const std::string& name) {
    throw RegistryError(std::string(what) + " for '" + name + "'");
}

[[noreturn]] void RaiseTypeError(const std::string& name) {
    throw RegistryTypeError("Invalid data type for '" + name + "'");
}

// Reads the value into `capacity` bytes. Windows does not promise a terminating zero, so the
// text is cut at the first zero within what was returned.
os::LONG QueryInto(os::HKEY key, const std::string& name, os::DWORD capacity, RegistryText& value) {
    std::string data(capacity, '\0');
    os::DWORD type = os::REG_NONE;
    os::DWORD got = capacity;
    const os::LONG status = os::RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                                 reinterpret_cast<os::BYTE*>(data.data()), &got);
    if (status == os::ERROR_SUCCESS) {
        data.resize(std::min(got, capacity));
        value = RegistryText{type, data.substr(0, data.find('\0'))};
    }
    return status;
}

} // namespace

Registry::Registry(os::REGSAM access) : access_(access) {}

void Registry::SetRootKey(os::HKEY root) {
    if (root != root_) {
        CloseKey();
        root_ = root;
    }
}

bool Registry::OpenKey(const std::string& path, bool canCreate) {
    const bool relative = path.empty() || path.front() != '\\';
    const std::string subKey = relative ? path : path.substr(1);
    const bool belowCurrent = relative && key_.valid();
    const os::HKEY base = belowCurrent ? key_.get() : root_;
    os::ScopedRegHandle opened;
    const os::LONG status =
        canCreate && !subKey.empty()
            ? os::RegCreateKeyExA(base, subKey.c_str(), 0, nullptr, os::REG_OPTION_NON_VOLATILE,
                                  access_, nullptr, opened.receive(), nullptr)
            : os::RegOpenKeyExA(base, subKey.c_str(), 0, access_, opened.receive());
    if (status != os::ERROR_SUCCESS) {
        return false;
    }
    path_ = belowCurrent ? path_ + "\\" + subKey : subKey;
    key_ = std::move(opened);
    return true;
}

bool Registry::ValueExists(const std::string& name) {
    return key_.valid() && os::RegQueryValueExA(key_.get(), name.c_str(), nullptr, nullptr, nullptr,
                                                nullptr) == os::ERROR_SUCCESS;
}

// The size first, then the data; the type that came with the data is the one checked.
std::string Registry::ReadString(const std::string& name) {
    if (!key_.valid()) {
        return "";
    }
    os::DWORD size = 0;
    const os::LONG sized =
        os::RegQueryValueExA(key_.get(), name.c_str(), nullptr, nullptr, nullptr, &size);
    if (sized == static_cast<os::LONG>(os::ERROR_FILE_NOT_FOUND)) {
        return "";
    }
    if (sized != os::ERROR_SUCCESS) {
        RaiseRegistryError("Failed to get data", name);
    }
    if (size == 0) {
        return "";
    }
    RegistryText value;
    if (QueryInto(key_.get(), name, size, value) != os::ERROR_SUCCESS) {
        RaiseRegistryError("Failed to get data", name);
    }
    if (!IsStringType(value.type)) {
        RaiseTypeError(name);
    }
    return value.text;
}

std::optional<RegistryText> Registry::QueryText(const std::string& name, os::DWORD capacity) {
    RegistryText value;
    if (!key_.valid() || QueryInto(key_.get(), name, capacity, value) != os::ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

void Registry::WriteInteger(const std::string& name, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    const std::array<os::BYTE, 4> data = {
        static_cast<os::BYTE>(bits), static_cast<os::BYTE>(bits >> 8),
        static_cast<os::BYTE>(bits >> 16), static_cast<os::BYTE>(bits >> 24)};
    if (!key_.valid() || os::RegSetValueExA(key_.get(), name.c_str(), 0, os::REG_DWORD, data.data(),
                                            4) != os::ERROR_SUCCESS) {
        RaiseRegistryError("Failed to set data", name);
    }
}

void Registry::CloseKey() {
    key_.reset();
    path_.clear();
}
