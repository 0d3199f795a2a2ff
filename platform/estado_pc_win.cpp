#include "platform/estado_pc.h"

#include <windows.h>

namespace quarvel {

namespace {

// Whether something steers the clock's rate. The precise call (Windows 10
// on) where it exists, the older one otherwise: both tell "disabled" alike.
std::optional<bool> ajuste_activo() {
    using Preciso = BOOL(WINAPI*)(PDWORD64, PDWORD64, PBOOL);
    BOOL desactivado = TRUE;
    if (HMODULE k = GetModuleHandleW(L"kernel32.dll")) {
        const auto preciso = reinterpret_cast<Preciso>(
            reinterpret_cast<void*>(GetProcAddress(k, "GetSystemTimeAdjustmentPrecise")));
        DWORD64 ajuste = 0;
        DWORD64 incremento = 0;
        if (preciso && preciso(&ajuste, &incremento, &desactivado))
            return desactivado == FALSE;
    }
    DWORD ajuste = 0;
    DWORD incremento = 0;
    if (GetSystemTimeAdjustment(&ajuste, &incremento, &desactivado))
        return desactivado == FALSE;
    return std::nullopt;
}

// Whether the time service runs: absent counts as not running.
std::optional<bool> servicio_hora() {
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!scm)
        return std::nullopt;
    std::optional<bool> r;
    if (SC_HANDLE s = OpenServiceW(scm, L"W32Time", SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS estado{};
        if (QueryServiceStatus(s, &estado))
            r = estado.dwCurrentState == SERVICE_RUNNING;
        CloseServiceHandle(s);
    } else if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
        r = false;
    }
    CloseServiceHandle(scm);
    return r;
}

// Under Wine, Windows' answer says nothing of how the host keeps its time.
bool bajo_wine() {
    HMODULE n = GetModuleHandleW(L"ntdll.dll");
    return n && GetProcAddress(n, "wine_get_version");
}

} // namespace

EstadoPc estado_reloj_pc() {
    if (bajo_wine())
        return EstadoPc{};
    return estado_windows(ajuste_activo(), servicio_hora());
}

} // namespace quarvel
