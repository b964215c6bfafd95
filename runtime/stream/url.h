// A URL: a text ("protocol::path" or a plain file path) or an object, usually a stream.
#pragma once

#include "runtime/core/object.h"
#include "runtime/core/text.h"

namespace kiln {

class TStream;

class Url {
 public:
  Url() = default;
  Url(const Text& text) : text_(text) {}                 // NOLINT(google-explicit-constructor)
  Url(const char* text) : text_(text) {}                 // NOLINT(google-explicit-constructor)
  Url(const char16_t* text) : text_(text) {}             // NOLINT(google-explicit-constructor)
  // A text object is a text URL, not an object one.
  template <class T>
  Url(const Ref<T>& object) : object_(object) {          // NOLINT(google-explicit-constructor)
    if (auto text = RefCast<TTextObject>(object_)) {
      text_ = text->Value();
      object_ = nullptr;
    }
  }

  bool IsObject() const { return static_cast<bool>(object_); }
  // The text of a text URL; any other object URL counts as the empty text.
  const Text& AsText() const { return text_; }
  const Ref<TObject>& AsObject() const { return object_; }
  // The stream an object URL names, or the empty pointer.
  Ref<TStream> AsStream() const;

 private:
  Text text_;
  Ref<TObject> object_;
};

}  // namespace kiln
