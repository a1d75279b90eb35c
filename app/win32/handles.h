// Owning holders for Windows handles and COM pointers: each releases what it holds when it
// goes, on every path, and can be moved but not copied.
#pragma once

#include <utility>

#include "app/win32/windows_api.h"

namespace korvanel {

// Holds one handle of type T and passes it to Release when it is reset or goes away; T{} is
// "no handle".
template <typename T, auto Release>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(T handle) : m_handle(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  T get() const { return m_handle; }
  explicit operator bool() const { return m_handle != T{}; }
  T release() { return std::exchange(m_handle, T{}); }
  void reset(T handle = T{}) {
    if (T old = std::exchange(m_handle, handle); old != T{}) Release(old);
  }

 private:
  T m_handle{};
};

inline void DestroyWindowHandle(HWND window) { ::DestroyWindow(window); }
inline void FreeModuleHandle(HMODULE module) { ::FreeLibrary(module); }
inline void FreeBstr(BSTR text) { ::SysFreeString(text); }

using UniqueHwnd = UniqueHandle<HWND, &DestroyWindowHandle>;
using UniqueHmodule = UniqueHandle<HMODULE, &FreeModuleHandle>;
using UniqueBstr = UniqueHandle<BSTR, &FreeBstr>;

// One reference to a COM object.
template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(ComPtr&& other) noexcept : m_pointer(std::exchange(other.m_pointer, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      m_pointer = std::exchange(other.m_pointer, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  Interface* get() const { return m_pointer; }
  Interface* operator->() const { return m_pointer; }
  explicit operator bool() const { return m_pointer != nullptr; }
  // Releases what is held and gives the address a call fills with a new reference.
  Interface** put() {
    reset();
    return &m_pointer;
  }
  void reset() {
    if (Interface* old = std::exchange(m_pointer, nullptr)) old->Release();
  }
  // Another interface of the same object; empty when the object has none.
  template <typename Other>
  ComPtr<Other> As(REFIID id) const {
    ComPtr<Other> other;
    if (m_pointer) m_pointer->QueryInterface(id, reinterpret_cast<void**>(other.put()));
    return other;
  }

 private:
  Interface* m_pointer = nullptr;
};

}  // namespace korvanel
