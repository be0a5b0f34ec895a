// Entry of every test program: GoogleTest, or a child role when started with --child.
#include <gtest/gtest.h>
#include <cwchar>
#include <map>
#include <string>
#include "harness.h"

namespace harness {

static std::map<std::wstring, ChildRole>& Roles() {
    static std::map<std::wstring, ChildRole> roles;
    return roles;
}

bool RegisterChildRole(const wchar_t* name, ChildRole role) {
    Roles()[name] = role;
    return true;
}

} // namespace harness

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && wcscmp(argv[1], L"--child") == 0) {
        auto role = harness::Roles().find(argv[2]);
        return role == harness::Roles().end() ? 97 : role->second(argc - 3, argv + 3);
    }
    // Deliverables look up relative program names in the current directory, which on the
    // device is \Windows.
    SetCurrentDirectoryW(harness::WindowsDir().c_str());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
