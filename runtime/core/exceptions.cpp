#include "runtime/core/exceptions.h"

#include <cstdio>

namespace kiln {

Text TKilnException::ToString() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", static_cast<const void*>(this));
  return Text(buf);
}

const char* TKilnException::what() const noexcept {
  try {
    what_ = ToString().ToUtf8();
  } catch (...) {
    what_.clear();
  }
  return what_.c_str();
}

void ThrowObject(const Ref<TObject>& object) {
  if (auto text = RefCast<TTextObject>(object)) throw text->Value();
  throw object;
}

void RaiseRuntimeError(const Text& text) { throw TRuntimeException(text); }
void RaiseText(const char* bytes) { throw Text(bytes); }
void RaiseNullObject() { throw TNullObjectException(); }
void RaiseAbstractCall() { throw TNullMethodException(); }
void RaiseNullFunction() { throw TNullFunctionException(); }
void RaiseArrayBounds() { throw TArrayBoundsException(); }

Text ThrownObjectText(std::exception_ptr thrown) {
  if (!thrown) return Text();
  try {
    std::rethrow_exception(thrown);
  } catch (const TKilnException& e) {
    return e.ToString();
  } catch (const Text& t) {
    return t;
  } catch (const Ref<TObject>& object) {
    return object ? object->ToString() : Text();
  } catch (const std::exception& e) {
    // A message the text type cannot hold is still reported, byte for byte.
    std::string_view message = e.what();
    for (size_t i = 0; i < message.size();) {
      unsigned code = 0;
      int length = DecodeUtf8Char(message, i, code);
      if (length == 0 || code > 0xFFFF) return Text::FromLatin1(message);
      i += static_cast<size_t>(length);
    }
    return Text::FromUtf8(message);
  } catch (...) {
    return Text("Unknown exception");
  }
}

}  // namespace kiln
