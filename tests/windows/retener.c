/* retener FILE MARK: holds FILE open as another program would (sharing
   neither writing nor removing), writes MARK once it does, and waits to be
   killed. The installer's tests build it with MinGW. */
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3)
        return 2;
    HANDLE h = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE m = CreateFileW(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (m != INVALID_HANDLE_VALUE)
        CloseHandle(m);
    Sleep(INFINITE);
    return 0;
}
