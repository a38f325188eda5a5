#include "platform/FileReplace.h"

#include "common/Errors.h"
#include "platform/windows/SystemErrors.h"
#include "platform/windows/UniqueHandle.h"
#include "platform/windows/WindowsApi.h"

#include <aclapi.h>
#include <algorithm>
#include <atomic>
#include <memory>
#include <sddl.h>
#include <string>

namespace ostrel::platform {
namespace fs = std::filesystem;

namespace {

// Who may touch a settings file made from nothing: its owner, Administrators and SYSTEM; no ACE
// of the folder is inherited, so a folder readable by Users does not make the password readable.
constexpr const wchar_t* NewFileSecurity = L"D:P(A;;FA;;;OW)(A;;FA;;;BA)(A;;FA;;;SY)";

// How long a replacement that another process holds up is tried again: 100 times 20 ms.
constexpr int ReplaceAttempts = 100;
constexpr DWORD ReplacePauseMilliseconds = 20;

struct LocalFreeDeleter {
    void operator()(void* memory) const { ::LocalFree(memory); }
};
using LocalMemory = std::unique_ptr<void, LocalFreeDeleter>;

EInOutError writeError(const fs::path& file, const std::string& cause) {
    return EInOutError("Cannot write " + file.string() + ": " + cause);
}

EInOutError writeError(const fs::path& file, const std::string& step, DWORD code) {
    return writeError(file, failureText(step, code));
}

// The security of an existing file: its owner, group and DACL, with whether the DACL stands on
// its own (protected) or takes inherited entries from the folder.
struct FileSecurity {
    LocalMemory descriptor;
    PSID owner = nullptr;
    PSID group = nullptr;
    PACL dacl = nullptr;
    bool protectedDacl = false;
};

// No descriptor when the file is not there.
FileSecurity securityOf(const fs::path& file) {
    FileSecurity security;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD result =
        ::GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                &security.owner, &security.group, &security.dacl, nullptr, &descriptor);
    if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND)
        return security;
    if (result != ERROR_SUCCESS)
        throw writeError(file, "Cannot read the file's security", result);
    security.descriptor.reset(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (::GetSecurityDescriptorControl(descriptor, &control, &revision))
        security.protectedDacl = (control & SE_DACL_PROTECTED) != 0;
    return security;
}

// A name in the file's folder that no other process or thread uses: the process, a counter and
// the tick count, taken with CREATE_NEW so a clash is refused, not shared.
std::wstring pendingName(const fs::path& file, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    return file.native() + L".new-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter.fetch_add(1)) + L"-" + std::to_wstring(::GetTickCount64() + attempt);
}

// Removes the new file unless it took the old one's place.
class PendingFile {
public:
    explicit PendingFile(std::wstring path) : m_path(std::move(path)) {}
    ~PendingFile() {
        if (!m_kept)
            ::DeleteFileW(m_path.c_str());
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    const std::wstring& path() const { return m_path; }
    void keep() { m_kept = true; }

private:
    std::wstring m_path;
    bool m_kept = false;
};

} // namespace

void replaceFileContent(const fs::path& file, std::string_view bytes) {
    const FileSecurity old = securityOf(file);

    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    LocalMemory newDescriptor;
    if (!old.descriptor) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(NewFileSecurity, SDDL_REVISION_1, &descriptor,
                                                                    nullptr))
            throw writeError(file, "Cannot make the new file's security", ::GetLastError());
        newDescriptor.reset(descriptor);
        attributes.lpSecurityDescriptor = descriptor;
    }

    std::unique_ptr<PendingFile> pending;
    UniqueHandle handle;
    for (unsigned attempt = 0; !handle && attempt < 100; ++attempt) {
        const std::wstring name = pendingName(file, attempt);
        handle.reset(::CreateFileW(name.c_str(), GENERIC_WRITE | WRITE_DAC | WRITE_OWNER, 0, &attributes, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle.get() == INVALID_HANDLE_VALUE) {
            const DWORD code = ::GetLastError();
            handle.release();
            if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS)
                throw writeError(file, "Cannot create the new file", code);
            continue;
        }
        pending = std::make_unique<PendingFile>(name);
    }
    if (!handle)
        throw writeError(file, "no free name for the new file");

    if (old.descriptor) {
        // The old file's entries before the first byte: the new one is never readable by more.
        const SECURITY_INFORMATION which =
            DACL_SECURITY_INFORMATION |
            (old.protectedDacl ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
        const DWORD result =
            ::SetSecurityInfo(handle.get(), SE_FILE_OBJECT, which, nullptr, nullptr, old.dacl, nullptr);
        if (result != ERROR_SUCCESS)
            throw writeError(file, "Cannot give the new file the old one's security", result);
        // Only an administrator may give a file away; anyone else writes their own file, as before.
        ::SetSecurityInfo(handle.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION,
                          old.owner, old.group, nullptr, nullptr);
    }

    for (std::string_view rest = bytes; !rest.empty();) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(handle.get(), rest.data(), chunk, &written, nullptr))
            throw writeError(file, "Cannot write the new file", ::GetLastError());
        rest.remove_prefix(written);
    }
    // On disk before it takes the old file's place, or a crash could leave an empty file there.
    if (!::FlushFileBuffers(handle.get()))
        throw writeError(file, "Cannot flush the new file", ::GetLastError());
    handle.reset();

    // Windows refuses to replace a file while someone has it open without sharing its deletion
    // (the other program reading it, a virus scanner) or replaces it at the same moment: such a
    // refusal passes within moments, so it is tried again for a while before it counts.
    for (int attempt = 1;; ++attempt) {
        if (::MoveFileExW(pending->path().c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            break;
        const DWORD code = ::GetLastError();
        if ((code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) || attempt == ReplaceAttempts)
            throw writeError(file, "Cannot replace the file", code);
        ::Sleep(ReplacePauseMilliseconds);
    }
    pending->keep();
}

} // namespace ostrel::platform
