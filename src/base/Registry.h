// The registry accessor: a root key, an access mask fixed at creation and at most one open key,
// with the reads and writes the updater makes and the errors they raise.
#pragma once

#include "os/os.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

// An error raised by the registry accessor; its text is what the "Application Error" box shows.
class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value of another type than text where text was asked for.
class RegistryTypeError : public RegistryError {
public:
    using RegistryError::RegistryError;
};

struct RegistryText {
    os::DWORD type = os::REG_NONE;
    std::string text; // cut at the first zero byte
};

// Closing a key does not flush it.
class Registry {
public:
    explicit Registry(os::REGSAM access);
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;
    ~Registry() = default; // the owner of the current key closes it

    void SetRootKey(os::HKEY root); // a change of root closes the current key
    [[nodiscard]] os::HKEY RootKey() const { return root_; }
    [[nodiscard]] os::REGSAM Access() const { return access_; }
    // Relative paths open below the current key when one is open; a leading backslash (or no
    // open key) starts from the root. Raises nothing; the new key replaces the current one.
    [[nodiscard]] bool OpenKey(const std::string& path, bool canCreate);
    [[nodiscard]] bool ValueExists(const std::string& name);
    // Empty for a missing value (or no open key) and for one without data; cut at the first zero
    // byte. Raises RegistryTypeError for a value that is neither REG_SZ nor REG_EXPAND_SZ and
    // RegistryError for any other failed query, the size query included.
    std::string ReadString(const std::string& name);
    // At most `capacity` bytes of the value with its type, for callers that choose the types they
    // take; nothing when no key is open or the query fails (a longer value among them). Raises
    // nothing.
    [[nodiscard]] std::optional<RegistryText> QueryText(const std::string& name,
                                                        os::DWORD capacity);
    void WriteInteger(const std::string& name, std::int32_t value); // REG_DWORD; raises on failure
    void CloseKey();
    [[nodiscard]] bool HasCurrentKey() const { return key_.valid(); }
    [[nodiscard]] const std::string& CurrentPath() const { return path_; }

private:
    os::HKEY root_ = os::HKEY_CURRENT_USER;
    os::REGSAM access_;
    os::ScopedRegHandle key_;
    std::string path_;
};

// Closes the accessor's current key when the scope ends, also when a read raises.
class CurrentKeyScope {
public:
    explicit CurrentKeyScope(Registry& registry) : registry_(registry) {}
    CurrentKeyScope(const CurrentKeyScope&) = delete;
    CurrentKeyScope& operator=(const CurrentKeyScope&) = delete;
    ~CurrentKeyScope() { registry_.CloseKey(); }

private:
    Registry& registry_;
};
