// Adds a DER certificate to the prefix's ROOT store (test equipment, never shipped).
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    FILE* f = _wfopen(argv[1], L"rb");
    if (!f) return 3;
    std::vector<unsigned char> der(65536);
    const size_t n = fread(der.data(), 1, der.size(), f);
    fclose(f);
    if (!CertAddEncodedCertificateToSystemStoreW(L"ROOT", der.data(), static_cast<DWORD>(n))) return 4;
    return 0;
}
