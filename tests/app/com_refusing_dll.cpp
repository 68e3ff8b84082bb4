// Test equipment: a DLL that makes COM refuse to start on the thread that loads it. A test
// queues its loading on a new process's main thread, so the program's own CoInitializeEx
// fails there, as it can on a broken system, with no switch in the product.
#include <windows.h>

#include <objbase.h>
#include <objidl.h>

namespace {

// Lives as long as the process: the spy is never revoked.
class RefusingSpy final : public IInitializeSpy {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = (iid == IID_IUnknown || iid == IID_IInitializeSpy) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE PreInitialize(DWORD, DWORD) override { return S_OK; }
    // What this returns is what CoInitializeEx returns. The test hears of each refusal.
    HRESULT STDMETHODCALLTYPE PostInitialize(HRESULT, DWORD, DWORD) override {
        if (HANDLE seen = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"VeltraneTestComRefused")) {
            SetEvent(seen);
            CloseHandle(seen);
        }
        return E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE PreUninitialize(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostUninitialize(DWORD) override { return S_OK; }
};

RefusingSpy spy;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    ULARGE_INTEGER cookie;
    if (reason == DLL_PROCESS_ATTACH) return SUCCEEDED(CoRegisterInitializeSpy(&spy, &cookie));
    return TRUE;
}
