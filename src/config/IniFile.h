#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

// The settings store `ini`: the one reader and writer of Config.ini.
//
// Paths: "Key" names a key of the default section "RDPOstrel"; "Section\Key" names a key
// of another section (a leading "\" is ignored, an empty section part means the default).
// Sections and keys compare without regard to case; the first occurrence of a key counts.
// The file is read again whenever its modification time changed, rewritten whole after
// every write outside a batch, and kept in its encoding: a UTF-8, UTF-16LE or UTF-16BE
// byte-order mark is kept, anything else is Windows-1252 on disk. Texts are UTF-8 here.
// A rewrite replaces the file as one step (a new file that takes the old one's place), so a
// full disk or a crash never leaves a cut or empty file; a rewrite that fails leaves the old
// file whole and is told to the write-failure handler. A read-only file skips writes
// silently. Every method is safe to call from any thread.
class IniFile {
public:
    static constexpr const char* DefaultSection = "RDPOstrel";
    // Told why a rewrite failed (one sentence, naming the file). Called with the store locked:
    // it must not use the store.
    using WriteFailureHandler = std::function<void(const std::string& message)>;

    // ReadOnly: a store for a program that only looks (the command-line tool): every write is
    // skipped, as for a read-only file, so it never overwrites what a running guard saves.
    enum class Access { ReadWrite, ReadOnly };

    // Reads the file if it exists (the store is created with the window).
    explicit IniFile(std::filesystem::path file, Access access = Access::ReadWrite);
    // Rewrites the file once more from memory, as the store does at program end.
    ~IniFile();

    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    const std::filesystem::path& path() const { return m_path; }

    std::string ReadString(const std::string& path, const std::string& defaultValue);
    // Empty value: 0. Not a whole number: EConvertError.
    std::int32_t ReadInteger(const std::string& path, std::int32_t defaultValue);
    // TRUE/YES/Y and FALSE/NO/N in any case; otherwise as a whole number (empty: false).
    bool ReadBoolean(const std::string& path, bool defaultValue);
    // True when the key is present, also with an empty value.
    bool ValueExists(const std::string& path);

    void WriteString(const std::string& path, const std::string& value);
    void WriteInteger(const std::string& path, std::int32_t value);
    void WriteBoolean(const std::string& path, bool value);

    // Batches nest; the file is rewritten once when the outermost batch ends.
    void BeginUpdate();
    void EndUpdate();
    // Ends the outermost batch like EndUpdate, but a rewrite that fails or is skipped (a
    // read-only or unreadable file) raises EInOutError saying why: for a Save the operator sees.
    void CommitUpdate();

    // Why the file exists but cannot be read ("Cannot read <file>: Permission denied"); empty
    // when it was read or is absent. While it can't be read, nothing rewrites it: memory does
    // not hold what it holds.
    std::string readProblem();

    // Rewrites the file from memory now (also used by the destructor). Skipped for a
    // read-only file, and when there is neither a file nor anything to put into one.
    void UpdateFile();

    // Where failed rewrites are told from now on; none by default. The rewrite of the
    // destructor tells nobody, since the handler's receiver may be gone by then.
    void setWriteFailureHandler(WriteFailureHandler handler);

private:
    enum class Encoding { Ansi, Utf8Bom, Utf16LE, Utf16BE };
    struct Line {
        bool entry = false; // holds "=": a key with its value
        std::string text;   // a line without "=", trimmed, written back as is
        std::string key;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Line> lines;
    };

    // Reads the file again when it changed on disk, empties memory when it is gone.
    void refreshLocked();
    void parseLocked(const std::string& bytes);
    std::string renderLocked() const;
    // Rewrites the file; raises EInOutError when that fails.
    void rewriteOrRaiseLocked();
    // Rewrites the file; a failure goes to the handler.
    void rewriteLocked();
    bool readOnlyLocked() const;
    Section* findSectionLocked(const std::string& name);
    // The entry a path names, after the check for changes (outside a batch).
    const Line* lookupLocked(const std::string& path);
    // A copy of the value a path names, taken under the lock; nullopt when the key is absent.
    std::optional<std::string> readValue(const std::string& path);
    void writeLocked(const std::string& path, const std::string& value);

    std::filesystem::path m_path;
    std::mutex m_mutex;
    std::vector<Section> m_sections;
    Encoding m_encoding = Encoding::Ansi;
    // Identity of the content last read: a change of either means the file changed, as a
    // coarse timestamp alone could miss a quick edit.
    bool m_haveTime = false;
    Access m_access = Access::ReadWrite;
    std::string m_readProblem;
    std::filesystem::file_time_type m_modified{};
    std::uintmax_t m_size = 0;
    int m_batch = 0;
    WriteFailureHandler m_writeFailure;
};

} // namespace ostrel
