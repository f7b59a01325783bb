// Profile (INI) files through the platform's private-profile functions.
#include <vector>

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace zr::platform {
namespace {

// The profile functions look for a path without a folder in the Windows
// folder. The library's callers name their file relative to the current
// folder, as on every other platform, so relative paths are made absolute.
std::string absolutePath(const std::string& path) {
    if (path.empty()) return path;
    DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::vector<char> full(size);
    DWORD length = GetFullPathNameA(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return path;
    return std::string(full.data(), length);
}

}  // namespace

std::string profileRead(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& fallback) {
    // 260 bytes: at most 259 characters of value text.
    char value[260] = {};
    DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), value, sizeof(value),
                                            absolutePath(path).c_str());
    return std::string(value, length);
}

bool profileWrite(const std::string& path, const std::string& section, const std::string& key,
                  const std::string& value) {
    // The platform's writer updates the file in place; it is not replaced
    // atomically as on Linux.
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), absolutePath(path).c_str()) != 0;
}

}  // namespace zr::platform
