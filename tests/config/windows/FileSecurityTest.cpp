#include "config/FileBytes.h"
#include "platform/windows/WindowsApi.h"
#include "support/TempFolder.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <optional>
#include <sddl.h>
#include <string>

namespace ostrel::test {
namespace {

namespace fs = std::filesystem;

// An entry no folder hands down: a file that still has it after a rewrite kept its own DACL.
constexpr const wchar_t* OwnDacl = L"D:P(A;;FA;;;OW)(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;S-1-5-21-1-2-3-4242)";
constexpr const wchar_t* OwnEntry = L"S-1-5-21-1-2-3-4242";

std::optional<std::wstring> daclOf(const fs::path& file) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    if (::GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                nullptr, &descriptor) != ERROR_SUCCESS)
        return std::nullopt;
    wchar_t* text = nullptr;
    const bool converted = ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
    ::LocalFree(descriptor);
    if (!converted)
        return std::nullopt;
    std::wstring result(text);
    ::LocalFree(text);
    return result;
}

bool setDacl(const fs::path& file, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    const DWORD result = ::SetNamedSecurityInfoW(const_cast<wchar_t*>(file.c_str()), SE_FILE_OBJECT,
                                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                 nullptr, nullptr, dacl, nullptr);
    ::LocalFree(descriptor);
    return result == ERROR_SUCCESS;
}

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

TEST(FileSecurity, ARewriteKeepsTheFilesOwnDacl) {
    TempFolder folder;
    const fs::path file = folder.path() / "Config.ini";
    writeFileBytes(file, "[RDPOstrel]\r\nSQLPasswort=one\r\n");
    ASSERT_TRUE(setDacl(file, OwnDacl));
    const std::optional<std::wstring> before = daclOf(file);
    ASSERT_TRUE(before);
    if (before->find(OwnEntry) == std::wstring::npos)
        GTEST_SKIP() << "this file system keeps no DACL of a file's own: " << narrow(*before);

    writeFileBytes(file, "[RDPOstrel]\r\nSQLPasswort=two\r\n");

    EXPECT_EQ(readFileBytes(file), "[RDPOstrel]\r\nSQLPasswort=two\r\n");
    const std::optional<std::wstring> after = daclOf(file);
    ASSERT_TRUE(after);
    EXPECT_EQ(narrow(*after), narrow(*before));
}

TEST(FileSecurity, ANewFileIsForItsOwnerAdministratorsAndSystemOnly) {
    TempFolder folder;
    const fs::path file = folder.path() / "Config.ini";
    writeFileBytes(file, "[RDPOstrel]\r\nSQLPasswort=one\r\n");
    const std::optional<std::wstring> dacl = daclOf(file);
    ASSERT_TRUE(dacl);
    const std::string text = narrow(*dacl);
    if (text.find("D:P") == std::string::npos && text.find(";;;BA)") == std::string::npos)
        GTEST_SKIP() << "this file system keeps no DACL of a file's own: " << text;
    EXPECT_EQ(text.rfind("D:P", 0), 0u) << text << ": the folder's entries must not be inherited";
    EXPECT_NE(text.find(";;;BA)"), std::string::npos) << text;
    EXPECT_NE(text.find(";;;SY)"), std::string::npos) << text;
    EXPECT_EQ(text.find(";;;BU)"), std::string::npos) << text << ": Users must not read the password";
    EXPECT_EQ(text.find(";;;WD)"), std::string::npos) << text << ": Everyone must not read the password";
}

} // namespace
} // namespace ostrel::test
