// COM automation over IDispatch: late-bound property reads, writes and method calls by name.
#include "text/automation_win.h"

#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "text/code_page.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

namespace korvanel::automation {
namespace {

static_assert(sizeof(VARIANT) <= 24 && alignof(VARIANT) <= 8,
              "Variant's storage must hold a VARIANT");

VARIANT* AsVariant(void* storage) { return static_cast<VARIANT*>(storage); }
const VARIANT* AsVariant(const void* storage) { return static_cast<const VARIANT*>(storage); }

// A BSTR for text, through code page 936; null (the empty BSTR) for the empty text.
BSTR TextToBstr(std::string_view text) {
  const std::u16string units = AnsiToUtf16(text);
  if (units.empty()) return nullptr;
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(units.data()),
                           static_cast<UINT>(units.size()));
}

Text BstrToText(BSTR value) {
  if (value == nullptr) return {};
  return Utf16ToAnsi(
      std::u16string_view(reinterpret_cast<const char16_t*>(value), SysStringLen(value)));
}

// An IDispatch pointer for a member name, or DISPID_UNKNOWN.
DISPID MemberId(IDispatch* dispatch, std::string_view name) {
  if (dispatch == nullptr) return DISPID_UNKNOWN;
  BSTR wideName = TextToBstr(name);
  if (wideName == nullptr) return DISPID_UNKNOWN;
  LPOLESTR names[1] = {wideName};
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  SysFreeString(wideName);
  return SUCCEEDED(hr) ? id : DISPID_UNKNOWN;
}

// Invokes a member by name. IDispatch wants the arguments last to first; the result, when
// asked for, is left in result (empty on failure).
bool Invoke(IDispatch* dispatch, std::string_view name, WORD flags,
            std::initializer_list<Argument> arguments, VARIANT* result) {
  const DISPID id = MemberId(dispatch, name);
  if (id == DISPID_UNKNOWN) return false;
  std::vector<VARIANT> reversed(arguments.size());
  std::size_t slot = arguments.size();
  for (const Argument& argument : arguments) {
    --slot;
    VariantInit(&reversed[slot]);
    // Invoke leaves the arguments alone, so a shallow copy of each would do; copying keeps
    // ownership plain.
    VariantCopy(&reversed[slot], const_cast<VARIANT*>(AsVariant(argument.Value().Native())));
  }
  DISPPARAMS params{};
  params.rgvarg = reversed.empty() ? nullptr : reversed.data();
  params.cArgs = static_cast<UINT>(reversed.size());
  DISPID putId = DISPID_PROPERTYPUT;
  if (flags & DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  EXCEPINFO exception{};
  UINT argumentError = 0;
  const HRESULT hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result,
                                      &exception, &argumentError);
  // An error raised by the object fills the exception record; its strings are ours to free.
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  for (VARIANT& value : reversed) VariantClear(&value);
  if (FAILED(hr) && result != nullptr) VariantClear(result);
  return SUCCEEDED(hr);
}

}  // namespace

// ---- Variant ----

Variant::Variant() { VariantInit(AsVariant(Native())); }

Variant::~Variant() { VariantClear(AsVariant(Native())); }

Variant::Variant(const Variant& other) : Variant() {
  VariantCopy(AsVariant(Native()), const_cast<VARIANT*>(AsVariant(other.Native())));
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    // VariantCopy clears the destination first.
    VariantCopy(AsVariant(Native()), const_cast<VARIANT*>(AsVariant(other.Native())));
  }
  return *this;
}

Variant::Variant(Variant&& other) noexcept : Variant() {
  // A VARIANT may be moved bit for bit; the source is left empty.
  std::memcpy(m_storage, other.m_storage, sizeof(VARIANT));
  VariantInit(AsVariant(other.Native()));
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    VariantClear(AsVariant(Native()));
    std::memcpy(m_storage, other.m_storage, sizeof(VARIANT));
    VariantInit(AsVariant(other.Native()));
  }
  return *this;
}

void Variant::AssignText(std::string_view text) {
  Clear();
  VARIANT* value = AsVariant(Native());
  BSTR string = TextToBstr(text);
  // The empty text is still a string, not an empty variant.
  if (string == nullptr) string = SysAllocStringLen(nullptr, 0);
  if (string == nullptr) return;
  value->vt = VT_BSTR;
  value->bstrVal = string;
}

void Variant::AssignBytes(const ByteSet& bytes) {
  Clear();
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (array == nullptr) return;
  if (!bytes.empty()) {
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) {
      SafeArrayDestroy(array);
      return;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(array);
  }
  VARIANT* value = AsVariant(Native());
  value->vt = VT_ARRAY | VT_UI1;
  value->parray = array;
}

void Variant::AssignInteger(int value) {
  Clear();
  VARIANT* variant = AsVariant(Native());
  variant->vt = VT_I4;
  variant->lVal = value;
}

void Variant::Clear() {
  VARIANT* value = AsVariant(Native());
  VariantClear(value);
  VariantInit(value);
}

bool Variant::IsEmpty() const { return AsVariant(Native())->vt == VT_EMPTY; }

Text Variant::AsText() const {
  if (IsEmpty()) return {};
  VARIANT copy;
  VariantInit(&copy);
  Text result;
  if (SUCCEEDED(VariantChangeType(&copy, const_cast<VARIANT*>(AsVariant(Native())), 0, VT_BSTR)))
    result = BstrToText(copy.bstrVal);
  VariantClear(&copy);
  return result;
}

double Variant::AsNumber() const {
  if (IsEmpty()) return 0;
  VARIANT copy;
  VariantInit(&copy);
  double result = 0;
  if (SUCCEEDED(VariantChangeType(&copy, const_cast<VARIANT*>(AsVariant(Native())), 0, VT_R8)))
    result = copy.dblVal;
  VariantClear(&copy);
  return result;
}

Object Variant::AsObject() const {
  const VARIANT* value = AsVariant(Native());
  if (value->vt == VT_DISPATCH) return Object::FromInterface(value->pdispVal);
  if (value->vt == VT_UNKNOWN) return Object::FromInterface(value->punkVal);
  return {};
}

std::u16string Variant::AsUtf16() const {
  const VARIANT* value = AsVariant(Native());
  if (value->vt != VT_BSTR || value->bstrVal == nullptr) return {};
  std::u16string result(SysStringLen(value->bstrVal), u'\0');
  std::memcpy(result.data(), value->bstrVal, 2 * result.size());
  return result;
}

// ---- Argument ----

Argument::Argument(bool value) {
  VARIANT* variant = AsVariant(m_value.Native());
  variant->vt = VT_BOOL;
  variant->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

Argument::Argument(int value) { m_value.AssignInteger(value); }

Argument::Argument(double value) {
  VARIANT* variant = AsVariant(m_value.Native());
  variant->vt = VT_R8;
  variant->dblVal = value;
}

Argument::Argument(std::string_view value) { m_value.AssignText(value); }

Argument::Argument(const char* value) : Argument(std::string_view(value ? value : "")) {}

Argument::Argument(const Text& value) : Argument(std::string_view(value)) {}

Argument::Argument(const Object& value) {
  auto* dispatch = static_cast<IDispatch*>(value.Native());
  if (dispatch == nullptr) return;  // an empty object travels as an empty variant
  dispatch->AddRef();
  VARIANT* variant = AsVariant(m_value.Native());
  variant->vt = VT_DISPATCH;
  variant->pdispVal = dispatch;
}

Argument::Argument(const Variant& value) : m_value(value) {}

// ---- Object ----

Object::~Object() { Release(); }

Object::Object(const Object& other) : m_dispatch(other.m_dispatch) {
  if (m_dispatch != nullptr) static_cast<IDispatch*>(m_dispatch)->AddRef();
}

Object& Object::operator=(const Object& other) {
  if (this != &other) {
    Object copy(other);
    std::swap(m_dispatch, copy.m_dispatch);
  }
  return *this;
}

Object::Object(Object&& other) noexcept : m_dispatch(std::exchange(other.m_dispatch, nullptr)) {}

Object& Object::operator=(Object&& other) noexcept {
  if (this != &other) {
    Release();
    m_dispatch = std::exchange(other.m_dispatch, nullptr);
  }
  return *this;
}

bool Object::CreateFromProgId(std::string_view progId) {
  Release();
  BSTR name = TextToBstr(progId);
  if (name == nullptr) return false;
  CLSID classId{};
  // CLSIDFromProgID takes only ProgIDs; CLSIDFromString takes both forms.
  HRESULT hr = name[0] == L'{' ? CLSIDFromString(name, &classId) : CLSIDFromProgID(name, &classId);
  SysFreeString(name);
  if (FAILED(hr)) return false;
  IDispatch* dispatch = nullptr;
  hr = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                        IID_IDispatch, reinterpret_cast<void**>(&dispatch));
  if (FAILED(hr) || dispatch == nullptr) return false;
  m_dispatch = dispatch;
  return true;
}

void Object::Release() {
  if (m_dispatch != nullptr) static_cast<IDispatch*>(std::exchange(m_dispatch, nullptr))->Release();
}

bool Object::Write(std::string_view name, const Argument& value) {
  return Invoke(static_cast<IDispatch*>(m_dispatch), name, DISPATCH_PROPERTYPUT, {value},
                nullptr);
}

Variant Object::Read(std::string_view name, std::initializer_list<Argument> arguments) const {
  Variant result;
  // Collections expose Item and their default members as methods or as properties; asking
  // for either lets both kinds answer.
  Invoke(static_cast<IDispatch*>(m_dispatch), name, DISPATCH_PROPERTYGET | DISPATCH_METHOD,
         arguments, AsVariant(result.Native()));
  return result;
}

Text Object::ReadText(std::string_view name, std::initializer_list<Argument> arguments) const {
  return Read(name, arguments).AsText();
}

double Object::ReadNumber(std::string_view name, std::initializer_list<Argument> arguments) const {
  return Read(name, arguments).AsNumber();
}

Object Object::ReadObject(std::string_view name, std::initializer_list<Argument> arguments) const {
  return Read(name, arguments).AsObject();
}

Variant Object::Call(std::string_view name, std::initializer_list<Argument> arguments) const {
  Variant result;
  Invoke(static_cast<IDispatch*>(m_dispatch), name, DISPATCH_METHOD, arguments,
         AsVariant(result.Native()));
  return result;
}

Text Object::CallText(std::string_view name, std::initializer_list<Argument> arguments) const {
  return Call(name, arguments).AsText();
}

Object Object::CallObject(std::string_view name, std::initializer_list<Argument> arguments) const {
  return Call(name, arguments).AsObject();
}

Object Object::FromInterface(void* unknown) {
  Object result;
  if (unknown == nullptr) return result;
  IDispatch* dispatch = nullptr;
  if (SUCCEEDED(static_cast<IUnknown*>(unknown)->QueryInterface(
          IID_IDispatch, reinterpret_cast<void**>(&dispatch))))
    result.m_dispatch = dispatch;
  return result;
}

}  // namespace korvanel::automation
