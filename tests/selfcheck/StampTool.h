// Running build-time commands from tests, and files in a scratch folder.
#pragma once

#include <filesystem>
#include <string>

namespace stamp_tests {

struct CommandResult {
    int exitCode;
    std::string output; // stdout and stderr together
};

// Runs a shell command line; its output is captured through a file in `scratch`.
CommandResult RunCommand(const std::string& commandLine, const std::filesystem::path& scratch);
std::string Quoted(const std::filesystem::path& path);

std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

// A fresh folder under the system's temporary folder, removed again by the destructor.
class ScratchFolder {
public:
    ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder();
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace stamp_tests
