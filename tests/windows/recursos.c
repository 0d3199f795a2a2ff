/* recursos PROGRAM.exe: what Windows reads of a program without running it,
   one line each: "version X" (its version resource, as Explorer's Details
   tab shows it) and "manifiesto <...>" (its application manifest). The
   Windows tests build it with MinGW. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 2;
    DWORD nada = 0;
    DWORD largo = GetFileVersionInfoSizeW(argv[1], &nada);
    if (largo > 0) {
        void* datos = malloc(largo);
        wchar_t* texto = NULL;
        UINT n = 0;
        if (GetFileVersionInfoW(argv[1], 0, largo, datos) &&
            VerQueryValueW(datos, L"\\StringFileInfo\\0c0a04b0\\ProductVersion", (void**)&texto, &n))
            wprintf(L"version %ls\n", texto);
        free(datos);
    }
    HMODULE m = LoadLibraryExW(argv[1], NULL, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC r = m ? FindResourceW(m, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)) : NULL;
    HGLOBAL g = r ? LoadResource(m, r) : NULL;
    if (g) {
        DWORD t = SizeofResource(m, r);
        const char* x = (const char*)LockResource(g);
        printf("manifiesto ");
        for (DWORD i = 0; i < t; ++i)
            putchar(x[i] == '\r' || x[i] == '\n' ? ' ' : x[i]);
        putchar('\n');
    }
    return 0;
}
