// COM automation through IDispatch, for the Windows backends: create an object from its
// ProgID, read and write its properties by name, call its methods, and carry values in OLE
// variants. Every operation is silent on failure: it gives the empty value of its kind (false,
// the empty text, 0, an empty object or an empty variant) and the caller carries on.
//
// Text crosses into COM and back through code page 936, never the machine's ANSI code page.
// The caller initialises COM on the thread first (RegexObject does so for its lifetime).
//
// This header stays free of the Windows headers: the variant is kept as opaque storage and
// the object as an untyped interface pointer.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string_view>

#include "text/text.h"

namespace korvanel::automation {

class Object;

// An OLE VARIANT that this value owns; cleared when it goes away.
class Variant {
 public:
  Variant();
  ~Variant();
  Variant(const Variant& other);
  Variant& operator=(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(Variant&& other) noexcept;

  // Each assignment clears what the variant held first.
  void AssignText(std::string_view text);  // a string (BSTR)
  void AssignBytes(const ByteSet& bytes);  // an array of bytes (VT_ARRAY | VT_UI1)
  void AssignInteger(int value);           // a 4-byte integer
  // VariantClear: the variant is empty afterwards.
  void Clear();

  bool IsEmpty() const;
  // A copy converted to a string; the empty text for an empty or unconvertible variant.
  Text AsText() const;
  // A copy converted to a double; 0 for an empty or unconvertible variant.
  double AsNumber() const;
  // The object the variant holds; an empty object when it holds none.
  Object AsObject() const;
  // The subject of a match, as UTF-16 code units (the form the script engine counts in);
  // empty unless the variant holds a string.
  std::u16string AsUtf16() const;

  void* Native() { return m_storage; }  // VARIANT*
  const void* Native() const { return m_storage; }

 private:
  // Large enough and aligned for a VARIANT on 32- and 64-bit Windows (checked where the
  // Windows headers are in scope).
  alignas(8) unsigned char m_storage[24];
};

// One argument of a property write or a method call, travelling as a VARIANT: a logical as
// a boolean (true is -1), an integer as a 4-byte integer, a number as a double, a text as a
// string, an object as its interface, a variant as a copy of its value.
class Argument {
 public:
  Argument(bool value);              // NOLINT: arguments convert implicitly
  Argument(int value);               // NOLINT
  Argument(double value);            // NOLINT
  Argument(std::string_view value);  // NOLINT
  Argument(const char* value);       // NOLINT
  Argument(const Text& value);       // NOLINT
  Argument(const Object& value);     // NOLINT
  Argument(const Variant& value);    // NOLINT

  const Variant& Value() const { return m_value; }

 private:
  Variant m_value;
};

// One reference to a COM object's IDispatch interface, or nothing.
class Object {
 public:
  Object() = default;
  ~Object();
  Object(const Object& other);
  Object& operator=(const Object& other);
  Object(Object&& other) noexcept;
  Object& operator=(Object&& other) noexcept;

  // Releases what the object held, then creates an instance of the class registered under
  // progId (a class identifier in braces is accepted too). False, and empty, on failure.
  bool CreateFromProgId(std::string_view progId);
  // Releases the reference; the object is empty afterwards.
  void Release();
  bool IsEmpty() const { return m_dispatch == nullptr; }

  // Writes a property.
  bool Write(std::string_view name, const Argument& value);
  // Reads a property; the arguments are its index, if it takes one.
  Variant Read(std::string_view name, std::initializer_list<Argument> arguments = {}) const;
  Text ReadText(std::string_view name, std::initializer_list<Argument> arguments = {}) const;
  double ReadNumber(std::string_view name, std::initializer_list<Argument> arguments = {}) const;
  Object ReadObject(std::string_view name, std::initializer_list<Argument> arguments = {}) const;
  // A method call; its result as a variant, a text or an object.
  Variant Call(std::string_view name, std::initializer_list<Argument> arguments = {}) const;
  Text CallText(std::string_view name, std::initializer_list<Argument> arguments = {}) const;
  Object CallObject(std::string_view name, std::initializer_list<Argument> arguments = {}) const;

  // Holds the IDispatch that unknown (any interface pointer, or null) yields, with a
  // reference of its own; the caller keeps its reference.
  static Object FromInterface(void* unknown);
  void* Native() const { return m_dispatch; }  // IDispatch*

 private:
  void* m_dispatch = nullptr;
};

}  // namespace korvanel::automation
