// The runtime's thrown values.
//
// A thrown value is one of the exception types below (thrown by value, caught by reference to
// TKilnException or a subtype), a plain Text, or any other runtime object thrown by ThrowObject
// (caught as const Ref<TObject>&). Whatever is thrown, ThrownObjectText gives the text that the
// uncaught-exception report prints.
//
// The runtime raises only through the Raise functions (here, and RaiseStreamRead/RaiseStreamWrite
// beside the stream exceptions), never with a throw expression of its own; `throw;` and
// std::rethrow_exception pass on what was caught. Tests may throw directly to fake a failing part.
#pragma once

#include <exception>
#include <string>

#include "runtime/core/object.h"
#include "runtime/core/text.h"

namespace kiln {

class TKilnException : public std::exception {
 public:
  // The exception object's address in hexadecimal.
  virtual Text ToString() const;
  const char* what() const noexcept override;

 private:
  mutable std::string what_;
};

class TNullObjectException : public TKilnException {
 public:
  Text ToString() const override { return "Attempt to access field or method of Null object"; }
};

class TNullMethodException : public TKilnException {
 public:
  Text ToString() const override { return "Attempt to call abstract method"; }
};

class TNullFunctionException : public TKilnException {
 public:
  Text ToString() const override { return "Attempt to call uninitialized function pointer"; }
};

class TArrayBoundsException : public TKilnException {
 public:
  Text ToString() const override { return "Attempt to index array element beyond array length"; }
};

class TOutOfDataException : public TKilnException {
 public:
  Text ToString() const override { return "Attempt to read beyond end of data"; }
};

class TRuntimeException : public TKilnException {
 public:
  explicit TRuntimeException(Text error) : error_(std::move(error)) {}
  static TRuntimeException Create(Text error) { return TRuntimeException(std::move(error)); }
  const Text& Error() const { return error_; }
  Text ToString() const override { return error_; }

 private:
  Text error_;
};

// Throws a runtime object as itself: a text object as its Text, anything else (the empty pointer
// included) as a Ref<TObject>.
[[noreturn]] void ThrowObject(const Ref<TObject>& object);
[[noreturn]] void RaiseRuntimeError(const Text& text);
[[noreturn]] void RaiseText(const char* bytes);
[[noreturn]] void RaiseNullObject();
[[noreturn]] void RaiseAbstractCall();
[[noreturn]] void RaiseNullFunction();
[[noreturn]] void RaiseArrayBounds();

// The ToString of whatever `thrown` holds: a runtime exception, a thrown text or object, or a
// foreign C++ exception (its what(), as UTF-8 when it is that, else byte for byte).
Text ThrownObjectText(std::exception_ptr thrown);

}  // namespace kiln
