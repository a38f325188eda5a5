#include "config/IniFile.h"

#include "common/Conversion.h"
#include "common/Errors.h"
#include "config/FileBytes.h"
#include "config/TextEncoding.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <system_error>

namespace ostrel {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view Utf16LEMark = "\xFF\xFE";
constexpr std::string_view Utf16BEMark = "\xFE\xFF";
constexpr std::string_view LineEnd = "\r\n";

constexpr std::array<std::string_view, 3> TrueWords = {"TRUE", "YES", "Y"};
constexpr std::array<std::string_view, 3> FalseWords = {"FALSE", "NO", "N"};

char foldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return foldAscii(x) == foldAscii(y); });
}

bool isAnyOf(std::string_view value, const std::array<std::string_view, 3>& words) {
    return std::any_of(words.begin(), words.end(),
                       [&](std::string_view word) { return equalsIgnoreCase(value, word); });
}

// Blanks, tabs and the other control characters, as the classic trim removes them.
bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

struct KeyPath {
    std::string section;
    std::string key;
};

KeyPath splitPath(std::string_view path) {
    if (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    const auto slash = path.rfind('\\');
    if (slash == std::string_view::npos)
        return {IniFile::DefaultSection, std::string(path)};
    std::string section(path.substr(0, slash));
    if (section.empty())
        section = IniFile::DefaultSection;
    return {std::move(section), std::string(path.substr(slash + 1))};
}

// Splits on CR LF, LF or a lone CR.
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

} // namespace

IniFile::IniFile(fs::path file, Access access) : m_path(std::move(file)), m_access(access) {
    std::lock_guard lock(m_mutex);
    refreshLocked();
}

IniFile::~IniFile() {
    std::lock_guard lock(m_mutex);
    try {
        rewriteOrRaiseLocked();
    } catch (...) {
        // Nobody is left to tell at program end; the old file stays whole.
    }
}

void IniFile::setWriteFailureHandler(WriteFailureHandler handler) {
    std::lock_guard lock(m_mutex);
    m_writeFailure = std::move(handler);
}

std::optional<std::string> IniFile::readValue(const std::string& path) {
    std::lock_guard lock(m_mutex);
    const Line* line = lookupLocked(path);
    return line ? std::optional<std::string>(line->value) : std::nullopt;
}

std::string IniFile::ReadString(const std::string& path, const std::string& defaultValue) {
    return readValue(path).value_or(defaultValue);
}

std::int32_t IniFile::ReadInteger(const std::string& path, std::int32_t defaultValue) {
    const std::optional<std::string> value = readValue(path);
    if (!value)
        return defaultValue;
    return value->empty() ? 0 : StrToInt(*value);
}

bool IniFile::ReadBoolean(const std::string& path, bool defaultValue) {
    const std::optional<std::string> value = readValue(path);
    if (!value)
        return defaultValue;
    if (isAnyOf(*value, TrueWords))
        return true;
    if (isAnyOf(*value, FalseWords))
        return false;
    return !value->empty() && StrToInt(*value) != 0;
}

bool IniFile::ValueExists(const std::string& path) {
    return readValue(path).has_value();
}

void IniFile::WriteString(const std::string& path, const std::string& value) {
    std::lock_guard lock(m_mutex);
    writeLocked(path, value);
}

void IniFile::WriteInteger(const std::string& path, std::int32_t value) {
    std::lock_guard lock(m_mutex);
    writeLocked(path, std::to_string(value));
}

void IniFile::WriteBoolean(const std::string& path, bool value) {
    std::lock_guard lock(m_mutex);
    writeLocked(path, std::string(value ? TrueWords[0] : FalseWords[0]));
}

void IniFile::BeginUpdate() {
    std::lock_guard lock(m_mutex);
    if (m_batch == 0)
        refreshLocked();
    ++m_batch;
}

void IniFile::EndUpdate() {
    std::lock_guard lock(m_mutex);
    if (m_batch == 0)
        return;
    if (--m_batch == 0)
        rewriteLocked();
}

void IniFile::CommitUpdate() {
    std::lock_guard lock(m_mutex);
    if (m_batch == 0 || --m_batch > 0)
        return;
    if (m_readProblem.empty() && readOnlyLocked() && m_access == Access::ReadWrite)
        throw EInOutError("Cannot write " + m_path.string() + ": the file is read-only");
    rewriteOrRaiseLocked();
}

std::string IniFile::readProblem() {
    std::lock_guard lock(m_mutex);
    if (m_batch == 0)
        refreshLocked();
    return m_readProblem;
}

void IniFile::UpdateFile() {
    std::lock_guard lock(m_mutex);
    rewriteLocked();
}

void IniFile::refreshLocked() {
    std::error_code error;
    const fs::file_status status = fs::status(m_path, error);
    if (status.type() == fs::file_type::not_found) {
        m_sections.clear();
        m_encoding = Encoding::Ansi;
        m_haveTime = false;
        m_readProblem.clear();
        return;
    }
    const auto unreadable = [this](const std::string& reason) {
        m_readProblem = "Cannot read " + m_path.string() + ": " + reason;
    };
    if (error)
        return unreadable(error.message());
    if (fs::is_directory(status))
        return unreadable(std::make_error_code(std::errc::is_a_directory).message());
    const fs::file_time_type modified = fs::last_write_time(m_path, error);
    if (error)
        return unreadable(error.message());
    const std::uintmax_t size = fs::file_size(m_path, error);
    if (error)
        return unreadable(error.message());
    if (m_haveTime && modified == m_modified && size == m_size && m_readProblem.empty())
        return;
    // An unreadable file leaves memory as it was; the next access tries again.
    const auto bytes = readFileBytes(m_path);
    if (!bytes)
        return unreadable(std::strerror(errno));
    m_readProblem.clear();
    parseLocked(*bytes);
    m_modified = modified;
    m_size = size;
    m_haveTime = true;
}

void IniFile::parseLocked(const std::string& bytes) {
    const std::string_view raw(bytes);
    std::string text;
    if (raw.starts_with(Utf8Mark)) {
        m_encoding = Encoding::Utf8Bom;
        text = raw.substr(Utf8Mark.size());
    } else if (raw.starts_with(Utf16LEMark)) {
        m_encoding = Encoding::Utf16LE;
        text = utf16ToUtf8(raw.substr(Utf16LEMark.size()), false);
    } else if (raw.starts_with(Utf16BEMark)) {
        m_encoding = Encoding::Utf16BE;
        text = utf16ToUtf8(raw.substr(Utf16BEMark.size()), true);
    } else {
        m_encoding = Encoding::Ansi;
        text = windows1252ToUtf8(raw);
    }

    m_sections.clear();
    Section* current = nullptr;
    for (const std::string_view rawLine : splitLines(text)) {
        const std::string_view line = trim(rawLine);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            const std::string name(trim(line.substr(1, line.size() - 2)));
            // A section opened twice continues where it was first opened.
            current = findSectionLocked(name);
            if (!current)
                current = &m_sections.emplace_back(Section{name, {}});
            continue;
        }
        if (!current)
            continue;
        Line entry;
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            entry.text = line;
        } else {
            entry.entry = true;
            entry.key = trim(line.substr(0, equals));
            entry.value = trim(line.substr(equals + 1));
        }
        current->lines.push_back(std::move(entry));
    }
}

std::string IniFile::renderLocked() const {
    std::string text;
    for (const Section& section : m_sections) {
        text.append("[").append(section.name).append("]").append(LineEnd);
        for (const Line& line : section.lines) {
            if (line.entry)
                text.append(line.key).append("=").append(line.value);
            else
                text.append(line.text);
            text.append(LineEnd);
        }
        text.append(LineEnd);
    }
    switch (m_encoding) {
    case Encoding::Utf8Bom:
        return std::string(Utf8Mark) + text;
    case Encoding::Utf16LE:
        return std::string(Utf16LEMark) + utf8ToUtf16(text, false);
    case Encoding::Utf16BE:
        return std::string(Utf16BEMark) + utf8ToUtf16(text, true);
    case Encoding::Ansi:
        break;
    }
    return utf8ToWindows1252(text);
}

void IniFile::rewriteOrRaiseLocked() {
    if (!m_readProblem.empty() && m_access == Access::ReadWrite)
        throw EInOutError(m_readProblem + "; it is not rewritten, so that nothing it holds is lost");
    if (readOnlyLocked())
        return;
    std::error_code error;
    const bool exists = fs::exists(m_path, error);
    if (!exists && m_sections.empty())
        return;
    if (!exists && m_path.has_parent_path())
        fs::create_directories(m_path.parent_path(), error);
    // The recorded modification time stays as it is, so the next access reads the file back.
    writeFileBytes(m_path, renderLocked());
}

void IniFile::rewriteLocked() {
    try {
        rewriteOrRaiseLocked();
    } catch (const std::exception& error) {
        // Memory keeps the values until the file is read again; the file keeps its old content.
        if (m_writeFailure)
            m_writeFailure(std::string(error.what()) + "; the file keeps its previous content");
    }
}

// Decided by the permission bits alone: a process running as root could still open the
// file for writing, yet the owner marked it read-only.
bool IniFile::readOnlyLocked() const {
    if (m_access == Access::ReadOnly)
        return true;
    std::error_code error;
    const fs::file_status status = fs::status(m_path, error);
    if (error || !fs::exists(status))
        return false;
    return (status.permissions() & fs::perms::owner_write) == fs::perms::none;
}

IniFile::Section* IniFile::findSectionLocked(const std::string& name) {
    const auto found = std::find_if(m_sections.begin(), m_sections.end(),
                                    [&](const Section& section) { return equalsIgnoreCase(section.name, name); });
    return found == m_sections.end() ? nullptr : &*found;
}

const IniFile::Line* IniFile::lookupLocked(const std::string& path) {
    if (m_batch == 0)
        refreshLocked();
    const KeyPath keyPath = splitPath(path);
    const Section* section = findSectionLocked(keyPath.section);
    if (!section)
        return nullptr;
    for (const Line& line : section->lines)
        if (line.entry && equalsIgnoreCase(line.key, keyPath.key))
            return &line;
    return nullptr;
}

void IniFile::writeLocked(const std::string& path, const std::string& value) {
    if (m_batch == 0)
        refreshLocked();
    if (readOnlyLocked())
        return;
    KeyPath keyPath = splitPath(path);
    Section* section = findSectionLocked(keyPath.section);
    if (!section)
        section = &m_sections.emplace_back(Section{keyPath.section, {}});
    const auto found = std::find_if(section->lines.begin(), section->lines.end(), [&](const Line& line) {
        return line.entry && equalsIgnoreCase(line.key, keyPath.key);
    });
    if (found != section->lines.end()) {
        found->key = std::move(keyPath.key);
        found->value = value;
    } else {
        section->lines.push_back(Line{true, {}, std::move(keyPath.key), value});
    }
    if (m_batch == 0)
        rewriteLocked();
}

} // namespace ostrel
