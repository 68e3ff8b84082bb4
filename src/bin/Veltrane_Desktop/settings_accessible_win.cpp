#include "settings_accessible_win.h"

#include <commctrl.h>
#include <oleacc.h>

namespace veltrane {
namespace {

// The import libraries' copy of this id is wrong in a static link.
constexpr IID kAccessibleId{0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr IID kDispatchId{0x00020400, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kUnknownId{0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

bool is_self(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

HRESULT text_out(const std::wstring& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocString(text.c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT nothing(BSTR* out) {
    if (out) *out = nullptr;
    return S_FALSE;
}

// One control's object. It holds only the window handle and asks the window for everything,
// so it never shows a stale state, and answers "not connected" once the control is gone.
class ControlAccessible final : public IAccessible {
public:
    ControlAccessible(HWND control, DescribeControl describe) : control_(control), describe_(describe) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(id, kAccessibleId) && !IsEqualIID(id, kDispatchId) && !IsEqualIID(id, kUnknownId)) {
            return E_NOINTERFACE;
        }
        *out = static_cast<IAccessible*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;  // COM's own lifetime rule: the last reference frees it
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (!parent) return E_POINTER;
        if (!IsWindow(control_)) return CO_E_OBJNOTCONNECTED;
        return AccessibleObjectFromWindow(control_, static_cast<DWORD>(OBJID_WINDOW), kDispatchId,
                                          reinterpret_cast<void**>(parent));
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT, IDispatch** child) override {
        if (child) *child = nullptr;
        return E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        AccessibleDescription d;
        if (const HRESULT hr = describe(child, d); hr != S_OK) return hr;
        return text_out(d.name, name);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT, BSTR* value) override { return nothing(value); }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
        AccessibleDescription d;
        if (const HRESULT hr = describe(child, d); hr != S_OK) return hr;
        return d.description.empty() ? nothing(text) : text_out(d.description, text);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        return number_out(child, &AccessibleDescription::role, role);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        return number_out(child, &AccessibleDescription::state, state);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* help) override { return nothing(help); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) override {
        if (topic) *topic = 0;
        return nothing(file);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT, BSTR* keys) override { return nothing(keys); }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (!focus) return E_POINTER;
        focus->vt = VT_EMPTY;
        if (GetFocus() != control_) return S_FALSE;
        focus->vt = VT_I4;
        focus->lVal = CHILDID_SELF;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (!selection) return E_POINTER;
        selection->vt = VT_EMPTY;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        AccessibleDescription d;
        if (const HRESULT hr = describe(child, d); hr != S_OK) return hr;
        return text_out(d.role == ROLE_SYSTEM_PUSHBUTTON ? L"누르기" : d.role == ROLE_SYSTEM_RADIOBUTTON ? L"선택" : L"전환",
                        action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
        if (!is_self(child)) return E_INVALIDARG;
        if (!(flags & SELFLAG_TAKEFOCUS)) return E_NOTIMPL;
        SetFocus(control_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override {
        if (!left || !top || !width || !height) return E_POINTER;
        if (!is_self(child)) return E_INVALIDARG;
        RECT r;
        if (!GetWindowRect(control_, &r)) return CO_E_OBJNOTCONNECTED;
        *left = r.left;
        *top = r.top;
        *width = r.right - r.left;
        *height = r.bottom - r.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG, VARIANT, VARIANT* end) override {
        if (end) end->vt = VT_EMPTY;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* hit) override {
        if (!hit) return E_POINTER;
        hit->vt = VT_EMPTY;
        RECT r;
        if (!GetWindowRect(control_, &r) || !PtInRect(&r, POINT{x, y})) return S_FALSE;
        hit->vt = VT_I4;
        hit->lVal = CHILDID_SELF;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        if (!is_self(child)) return E_INVALIDARG;
        if (!IsWindowEnabled(control_)) return E_FAIL;
        PostMessageW(control_, BM_CLICK, 0, 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    HRESULT describe(const VARIANT& child, AccessibleDescription& d) const {
        if (!is_self(child)) return E_INVALIDARG;
        if (!IsWindow(control_)) return CO_E_OBJNOTCONNECTED;
        d = describe_(control_);
        return S_OK;
    }
    HRESULT number_out(const VARIANT& child, long AccessibleDescription::*field, VARIANT* out) const {
        if (!out) return E_POINTER;
        AccessibleDescription d;
        if (const HRESULT hr = describe(child, d); hr != S_OK) return hr;
        out->vt = VT_I4;
        out->lVal = d.*field;
        return S_OK;
    }

    LONG references_ = 1;
    HWND control_;
    DescribeControl describe_;
};

LRESULT CALLBACK accessible_button(HWND button, UINT message, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR data) {
    if (message == WM_GETOBJECT) {
        if (const LRESULT answer = accessible_object(button, w, l, reinterpret_cast<DescribeControl>(data))) {
            return answer;
        }
    }
    return DefSubclassProc(button, message, w, l);
}

}  // namespace

LRESULT accessible_object(HWND control, WPARAM w, LPARAM l, DescribeControl describe) {
    if (static_cast<LONG>(l) != OBJID_CLIENT) return 0;
    auto* object = new ControlAccessible(control, describe);  // owned by its references
    const LRESULT answer = LresultFromObject(kAccessibleId, w, object);
    object->Release();
    return answer < 0 ? 0 : answer;
}

void make_accessible(HWND button, DescribeControl describe) {
    SetWindowSubclass(button, accessible_button, 1, reinterpret_cast<DWORD_PTR>(describe));
}

void notify_state_change(HWND control) { NotifyWinEvent(EVENT_OBJECT_STATECHANGE, control, OBJID_CLIENT, CHILDID_SELF); }

}  // namespace veltrane
