// Profile (INI) files, read and written the way the Windows private-profile
// services treat them:
//   - section and key names match case-insensitively, blanks and tabs around
//     them trimmed;
//   - the value is trimmed of blanks and tabs, then loses one pair of
//     matching surrounding quotes (" or ');
//   - the first occurrence of a key in the first matching section wins;
//   - a line without '=' is not a key; ';' is not special here;
//   - values are cut at 259 characters; CRLF and LF line ends both work.
// Writing replaces the file atomically so a crash never leaves half a file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/platform.h"

namespace zr::platform {
namespace {

constexpr size_t kMaxValueLength = 259;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// [begin, end) of `line` without surrounding blanks and tabs.
std::string trimmed(const std::string& text, size_t begin, size_t end) {
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// One line of a profile file, without its line end.
struct Line {
    std::string text;
    std::string ending;  // "\n", "\r\n" or "" (last line without an end)
};

std::vector<Line> splitLines(const std::string& content) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t nl = content.find('\n', pos);
        Line line;
        if (nl == std::string::npos) {
            line.text = content.substr(pos);
            pos = content.size();
        } else {
            size_t end = nl;
            if (end > pos && content[end - 1] == '\r') --end;
            line.text = content.substr(pos, end - pos);
            line.ending = content.substr(end, nl + 1 - end);
            pos = nl + 1;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// The section name of a header line "[name]" (last ']' closes it), or false.
bool sectionHeader(const std::string& text, std::string& name) {
    size_t first = 0;
    while (first < text.size() && isBlank(text[first])) ++first;
    if (first >= text.size() || text[first] != '[') return false;
    size_t close = text.rfind(']');
    if (close == std::string::npos || close < first) return false;
    name = trimmed(text, first + 1, close);
    return true;
}

// The key of a "key = value" line, or false for a line without '='.
bool keyOf(const std::string& text, std::string& key, size_t& equals) {
    equals = text.find('=');
    if (equals == std::string::npos) return false;
    key = trimmed(text, 0, equals);
    return true;
}

std::string valueOf(const std::string& text, size_t equals) {
    std::string value = trimmed(text, equals + 1, text.size());
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    if (value.size() > kMaxValueLength) value.resize(kMaxValueLength);
    return value;
}

bool readWholeFile(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Writes `content` next to `path` and renames it over `path`.
bool replaceFileAtomically(const std::string& path, const std::string& content) {
    std::string tmpl = path + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return false;
    struct stat st {};
    mode_t mode = 0644;
    if (stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
    bool ok = fchmod(fd, mode) == 0;
    size_t done = 0;
    while (ok && done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<size_t>(n);
    }
    if (ok && fsync(fd) != 0) ok = false;
    if (close(fd) != 0) ok = false;
    if (ok && rename(name.data(), path.c_str()) != 0) ok = false;
    if (!ok) unlink(name.data());
    return ok;
}

}  // namespace

std::string profileRead(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& fallback) {
    std::string content;
    if (!readWholeFile(path, content)) return fallback;
    const std::string wantedSection = trimmed(section, 0, section.size());
    const std::string wantedKey = trimmed(key, 0, key.size());
    bool inSection = false;
    bool sectionSeen = false;
    for (const Line& line : splitLines(content)) {
        std::string name;
        if (sectionHeader(line.text, name)) {
            // Only the first section of that name is searched.
            if (sectionSeen) return fallback;
            inSection = sameName(name, wantedSection);
            sectionSeen = inSection;
            continue;
        }
        if (!inSection) continue;
        size_t equals = 0;
        if (keyOf(line.text, name, equals) && sameName(name, wantedKey)) return valueOf(line.text, equals);
    }
    return fallback;
}

bool profileWrite(const std::string& path, const std::string& section, const std::string& key,
                  const std::string& value) {
    std::string content;
    if (!readWholeFile(path, content)) {
        // A missing file is created; an unreadable existing one is left alone.
        if (access(path.c_str(), F_OK) == 0) return false;
        content.clear();
    }
    std::vector<Line> lines = splitLines(content);
    const std::string newline = (!lines.empty() && lines.front().ending == "\r\n") ? "\r\n" : "\n";
    const std::string wantedSection = trimmed(section, 0, section.size());
    const std::string wantedKey = trimmed(key, 0, key.size());
    const std::string keyLine = wantedKey + "=" + value;

    // Locate the first matching section, its key, and its last non-blank line.
    long header = -1, keyIndex = -1, lastContent = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string name;
        if (sectionHeader(lines[i].text, name)) {
            if (header >= 0) break;
            if (sameName(name, wantedSection)) header = lastContent = static_cast<long>(i);
            continue;
        }
        if (header < 0) continue;
        size_t equals = 0;
        if (keyIndex < 0 && keyOf(lines[i].text, name, equals) && sameName(name, wantedKey))
            keyIndex = static_cast<long>(i);
        if (!trimmed(lines[i].text, 0, lines[i].text.size()).empty()) lastContent = static_cast<long>(i);
    }

    if (keyIndex >= 0) {
        lines[keyIndex].text = keyLine;
    } else if (header >= 0) {
        Line& after = lines[lastContent];
        if (after.ending.empty()) after.ending = newline;
        lines.insert(lines.begin() + lastContent + 1, Line{keyLine, newline});
    } else {
        if (!lines.empty() && lines.back().ending.empty()) lines.back().ending = newline;
        lines.push_back(Line{"[" + wantedSection + "]", newline});
        lines.push_back(Line{keyLine, newline});
    }

    std::string out;
    for (const Line& line : lines) out += line.text + line.ending;
    return replaceFileAtomically(path, out);
}

}  // namespace zr::platform
