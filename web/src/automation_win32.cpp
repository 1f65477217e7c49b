// Creation by name on Windows: components registered in the process come
// first (tests use them), then the HTTP request component on the platform's
// HTTP functions; every other name goes to the platform's component library
// and is driven late-bound through its dispatch interface.
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "automation_platform.h"
#include "component_registry.h"
#include "redirect_guard.h"
#include "runtime/codepage.h"
#include "runtime/text.h"
#include "winhttp_win32.h"

namespace web {
namespace {

std::wstring Wide(std::string_view text) {
  const std::u16string w = rt::TextToWide(text);
  return std::wstring(w.begin(), w.end());
}

class DispatchComponent;

// A runtime value as a VARIANT (by value); the caller clears it.
void ToVariant(const Variant& v, VARIANT& out);
Variant FromVariant(const VARIANT& v);

// A platform instance driven through IDispatch.
class DispatchComponent final : public Component {
 public:
  explicit DispatchComponent(IDispatch* dispatch) : dispatch_(dispatch) {}
  ~DispatchComponent() override { dispatch_->Release(); }
  IDispatch* dispatch() const { return dispatch_; }

  ResultCode Invoke(std::string_view member, AccessKind kind, std::span<Variant> args,
                    Variant& result) override {
    std::wstring name = Wide(member);
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, GetUserDefaultLCID(), &id);
    if (FAILED(hr)) return hr;

    // A read also accepts a member that is a method without arguments
    // ("GetAllResponseHeaders" is one), as late-bound callers expect.
    WORD flags = kind == AccessKind::kMethod        ? DISPATCH_METHOD
                 : kind == AccessKind::kPropertyGet ? DISPATCH_PROPERTYGET | DISPATCH_METHOD
                                                    : DISPATCH_PROPERTYPUT;
    std::vector<bool> byRef(args.size(), false);
    ReadTypeInfo(id, kind, byRef, flags);

    // Arguments go in reverse order; by-reference ones point at storage
    // whose value is read back after the call.
    const std::size_t n = args.size();
    std::vector<VARIANT> values(n), passed(n);
    for (std::size_t i = 0; i < n; ++i) {
      VariantInit(&values[i]);
      ToVariant(args[i], values[i]);
      VARIANT& slot = passed[n - 1 - i];
      VariantInit(&slot);
      if (byRef[i]) {
        slot.vt = VT_BYREF | VT_VARIANT;
        slot.pvarVal = &values[i];
      } else {
        slot = values[i];
      }
    }
    DISPPARAMS params{passed.data(), nullptr, static_cast<UINT>(n), 0};
    DISPID putId = DISPID_PROPERTYPUT;
    if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) && n > 0) {
      params.rgdispidNamedArgs = &putId;
      params.cNamedArgs = 1;
    }
    VARIANT out;
    VariantInit(&out);
    UINT argError = 0;
    EXCEPINFO exception{};
    hr = dispatch_->Invoke(id, IID_NULL, 0, flags, &params, &out, &exception, &argError);
    if (hr == DISP_E_EXCEPTION) {
      // The member's own failure (for a request: time-out, no connection,
      // certificate) says more than "exception".
      if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
      if (FAILED(exception.scode)) hr = exception.scode;
      SysFreeString(exception.bstrSource);
      SysFreeString(exception.bstrDescription);
      SysFreeString(exception.bstrHelpFile);
    }
    for (std::size_t i = 0; i < n; ++i) {
      if (byRef[i]) args[i] = FromVariant(values[i]);
      VariantClear(&values[i]);
    }
    result = SUCCEEDED(hr) ? FromVariant(out) : Variant{};
    VariantClear(&out);
    return hr;
  }

 private:
  // Which parameters the member takes by reference, and its own invocation
  // kind, from the type information when the instance has it.
  void ReadTypeInfo(DISPID id, AccessKind kind, std::vector<bool>& byRef, WORD& flags) {
    ITypeInfo* info = nullptr;
    if (FAILED(dispatch_->GetTypeInfo(0, GetUserDefaultLCID(), &info)) || !info) return;
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attr))) {
      bool found = false;
      for (UINT f = 0; kind == AccessKind::kMethod && !found && f < attr->cFuncs; ++f) {
        FUNCDESC* fd = nullptr;
        if (FAILED(info->GetFuncDesc(f, &fd))) continue;
        if (fd->memid == id) {
          found = true;
          for (std::size_t i = 0; i < byRef.size() && i < static_cast<std::size_t>(fd->cParams);
               ++i) {
            const VARTYPE vt = fd->lprgelemdescParam[i].tdesc.vt;
            byRef[i] = vt == VT_PTR || (vt & VT_BYREF);
          }
          flags = static_cast<WORD>(fd->invkind);
          if ((flags & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) && byRef.empty()) {
            flags = DISPATCH_PROPERTYGET;
          }
        }
        info->ReleaseFuncDesc(fd);
      }
      for (UINT v = 0; !found && v < attr->cVars; ++v) {
        VARDESC* vd = nullptr;
        if (FAILED(info->GetVarDesc(v, &vd))) continue;
        if (vd->memid == id) {
          found = true;
          const VARTYPE vt = vd->elemdescVar.tdesc.vt;
          if (!byRef.empty()) byRef[0] = vt == VT_PTR || (vt & VT_BYREF);
          if (kind == AccessKind::kMethod) flags = DISPATCH_PROPERTYGET;
        }
        info->ReleaseVarDesc(vd);
      }
      info->ReleaseTypeAttr(attr);
    }
    info->Release();
  }

  IDispatch* dispatch_;
};

void ToVariant(const Variant& v, VARIANT& out) {
  struct Visitor {
    VARIANT& out;
    void operator()(std::monostate) {}
    // The variant's type set, for its field to be filled.
    VARIANT& Typed(VARTYPE vt) {
      out.vt = vt;
      return out;
    }
    void operator()(bool b) { Typed(VT_BOOL).boolVal = b ? VARIANT_TRUE : VARIANT_FALSE; }
    void operator()(std::uint8_t b) { Typed(VT_UI1).bVal = b; }
    void operator()(std::int16_t i) { Typed(VT_I2).iVal = i; }
    void operator()(std::int32_t i) { Typed(VT_I4).lVal = i; }
    void operator()(std::int64_t i) { Typed(VT_I8).llVal = i; }
    void operator()(float f) { Typed(VT_R4).fltVal = f; }
    void operator()(double d) { Typed(VT_R8).dblVal = d; }
    void operator()(rt::DateTimeValue d) { Typed(VT_DATE).date = d.days; }
    void operator()(const std::u16string& s) {
      Typed(VT_BSTR).bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()),
                                                 static_cast<UINT>(s.size()));
    }
    void operator()(const rt::Bytes& bytes) {
      SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
      if (!array) return;
      void* data = nullptr;
      if (SUCCEEDED(SafeArrayAccessData(array, &data))) {
        if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
        SafeArrayUnaccessData(array);
      }
      out.vt = VT_ARRAY | VT_UI1;
      out.parray = array;
    }
    void operator()(const AutomationObject& object) {
      out.vt = VT_DISPATCH;
      out.pdispVal = nullptr;
      if (auto* d = dynamic_cast<DispatchComponent*>(object.instance.get())) {
        out.pdispVal = d->dispatch();
        out.pdispVal->AddRef();
      }
    }
  };
  std::visit(Visitor{out}, v);
}

rt::Bytes BytesOf(SAFEARRAY* array) {
  rt::Bytes bytes;
  if (!array) return bytes;
  std::size_t count = 1;
  for (UINT d = 1; d <= SafeArrayGetDim(array); ++d) {
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(array, d, &lo);
    SafeArrayGetUBound(array, d, &hi);
    count *= hi >= lo ? static_cast<std::size_t>(hi - lo + 1) : 0;
  }
  void* data = nullptr;
  if (count > 0 && SUCCEEDED(SafeArrayAccessData(array, &data))) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    bytes.assign(p, p + count);
    SafeArrayUnaccessData(array);
  }
  return bytes;
}

// Currency, decimals and the rest: as a number when they are one.
Variant NumberOf(const VARIANT& v) {
  VARIANT number;
  VariantInit(&number);
  if (SUCCEEDED(VariantChangeType(&number, const_cast<VARIANT*>(&v), 0, VT_R8))) {
    return number.dblVal;
  }
  return {};
}

Variant FromVariant(const VARIANT& in) {
  const VARIANT* v = &in;
  while (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
  switch (v->vt) {
    case VT_EMPTY:
    case VT_NULL:
      return {};
    case VT_BOOL:
      return v->boolVal != VARIANT_FALSE;
    case VT_UI1:
      return v->bVal;
    case VT_I1:
      return static_cast<std::int16_t>(v->cVal);
    case VT_I2:
      return v->iVal;
    case VT_UI2:
      return static_cast<std::int32_t>(v->uiVal);
    case VT_I4:
    case VT_INT:
      return static_cast<std::int32_t>(v->lVal);
    case VT_UI4:
    case VT_UINT:
      return static_cast<std::int64_t>(v->ulVal);
    case VT_I8:
      return static_cast<std::int64_t>(v->llVal);
    case VT_R4:
      return v->fltVal;
    case VT_R8:
      return v->dblVal;
    case VT_DATE:
      return rt::DateTimeValue{v->date};
    case VT_BSTR:
      return v->bstrVal ? std::u16string(reinterpret_cast<const char16_t*>(v->bstrVal),
                                         SysStringLen(v->bstrVal))
                        : std::u16string();
    case VT_ARRAY | VT_UI1:
    case VT_ARRAY | VT_I1:
      return BytesOf(v->parray);
    case VT_DISPATCH:
      if (v->pdispVal) {
        v->pdispVal->AddRef();
        return AutomationObject{std::make_shared<DispatchComponent>(v->pdispVal)};
      }
      return {};
    default:
      return NumberOf(*v);
  }
}

}  // namespace

namespace detail {

ComponentLibraryScope::ComponentLibraryScope() {
  CoInitialize(nullptr);
}
ComponentLibraryScope::~ComponentLibraryScope() {
  CoUninitialize();
}

ResultCode CreateInstance(std::string_view progId, std::shared_ptr<Component>& instance) {
  if (ComponentFactory factory = FindRegisteredComponent(progId)) {
    instance = factory();
    return instance ? kOk : kClassNotRegistered;
  }
  // The HTTP request object is ours, on the platform's HTTP functions: the
  // scriptable one cannot bound what a reply costs, nor be given up safely.
  if (rt::EqualsIgnoreCase(progId, kHttpRequestProgId)) {
    instance = std::make_shared<RedirectGuard>(MakeWinHttpRequest());
    return kOk;
  }
  const std::wstring wide = Wide(progId);
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(wide.c_str(), &clsid);
  if (FAILED(hr)) hr = CLSIDFromString(wide.c_str(), &clsid);
  if (FAILED(hr)) return hr;
  IUnknown* unknown = nullptr;
  hr = CoCreateInstance(clsid, nullptr, 23, IID_IUnknown, reinterpret_cast<void**>(&unknown));
  if (hr == E_INVALIDARG) {
    hr = CoCreateInstance(clsid, nullptr, 7, IID_IUnknown, reinterpret_cast<void**>(&unknown));
  }
  if (FAILED(hr)) return hr;
  hr = OleRun(unknown);
  IDispatch* dispatch = nullptr;
  if (SUCCEEDED(hr)) {
    hr = unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
  }
  unknown->Release();
  if (FAILED(hr)) return hr;
  instance = std::make_shared<DispatchComponent>(dispatch);
  return kOk;
}

}  // namespace detail
}  // namespace web
