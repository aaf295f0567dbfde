// A child for the tests of what a started program inherits: given a handle
// value in decimal, writes "inherited" through it when that value is an open
// file in this process, and says which it was.
//   handle_probe <handle>
#include <windows.h>

#include <cstring>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::wcstoull(argv[1], nullptr, 10)));
    DWORD written = 0;
    const bool wrote = GetFileType(handle) == FILE_TYPE_DISK && WriteFile(handle, "inherited", 9, &written, nullptr);
    const char* said = wrote ? "wrote\n" : "no such handle\n";
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), said, (DWORD)std::strlen(said), &written, nullptr);
    return wrote ? 0 : 1;
}
