// What the kit's programs carry for Windows: the manifest that runs them with the user's own rights
// and declares DPI awareness, the application icon, and the version record of the kit.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/Paths.h"

namespace kestro {
namespace {

std::wstring KitProgram() {
    return (ExecutablePath().parent_path() / "kestro-upgrade.exe").wstring();
}

TEST(ProgramResources, TheManifestRunsAsTheUserAndDeclaresDpiAwarenessBesideTheIcon) {
    const HMODULE program = ::LoadLibraryExW(
        KitProgram().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(program, nullptr) << "cannot load kestro-upgrade.exe beside this test";
    const HRSRC found = ::FindResourceW(program, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr) << "no process manifest (resource 1 of type 24)";
    const HGLOBAL loaded = ::LoadResource(program, found);
    const char* bytes = static_cast<const char*>(::LockResource(loaded));
    ASSERT_NE(bytes, nullptr);
    const std::string manifest(bytes, ::SizeofResource(program, found));
    // 14 = RT_GROUP_ICON
    const bool hasIcon =
        ::FindResourceW(program, L"KESTRO_APP_ICON", MAKEINTRESOURCEW(14)) != nullptr;
    ::FreeLibrary(program);

    EXPECT_TRUE(hasIcon) << "no application icon";
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\""),
              std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos)
        << manifest;
}

TEST(ProgramResources, TheVersionRecordCarriesTheKitsVersion) {
    const std::wstring program = KitProgram();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(program.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version record";
    std::vector<char> record(size);
    ASSERT_TRUE(::GetFileVersionInfoW(program.c_str(), 0, size, record.data()));

    for (const wchar_t* field : {L"ProductVersion", L"FileVersion"}) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + field;
        wchar_t* text = nullptr;
        UINT length = 0;
        ASSERT_TRUE(::VerQueryValueW(record.data(), query.c_str(), reinterpret_cast<void**>(&text),
                                     &length));
        EXPECT_EQ(std::wstring(text), L"R01.04");
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(HIWORD(fixed->dwProductVersionMS), 1);
    EXPECT_EQ(LOWORD(fixed->dwProductVersionMS), 4);
}

}  // namespace
}  // namespace kestro
