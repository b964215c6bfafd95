// The root object type and its intrusive reference-counted pointer.
//
// Every runtime object derives from TObject. Ownership is carried by Ref<T>; an empty Ref is the
// runtime's "no object". Adopting a new object (MakeRef) and sharing an existing one (Ref<T>::Share)
// are explicit; raw new/delete of objects happens only here.
//
// One spelling each, everywhere:
// - the empty reference is written nullptr: `return nullptr;`, `Call(nullptr)`, and `ref = nullptr;`
//   to drop a reference (Reset() is the same, with no argument, as in other smart pointers);
// - a new object comes from MakeRef, another reference to a held object from Ref<T>::Share, and
//   Detach() hands a reference over uncounted;
// - an abstract operation is pure virtual; only a base whose abstract operations must throw when
//   called (TStreamFactory, TSystemDriver) implements them, with RaiseAbstractCall.
#pragma once

#include <cstdint>
#include <utility>

#include "runtime/core/text.h"

namespace kiln {

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  // The object's address in hexadecimal.
  virtual Text ToString() const;
  // Orders objects by address; types with a natural order override it.
  virtual int Compare(const TObject& other) const;

  void Retain() const { ++refCount_; }
  void Release() const {
    if (--refCount_ == 0) delete this;
  }
  int32_t RefCount() const { return refCount_; }

 private:
  mutable int32_t refCount_ = 0;
};

template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(std::nullptr_t) {}  // NOLINT(google-explicit-constructor)
  Ref(const Ref& other) : ptr_(other.ptr_) { Acquire(); }
  Ref(Ref&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  template <class U>
  Ref(const Ref<U>& other) : ptr_(other.Get()) {  // NOLINT(google-explicit-constructor)
    Acquire();
  }
  template <class U>
  Ref(Ref<U>&& other) noexcept : ptr_(other.Detach()) {}  // NOLINT(google-explicit-constructor)
  ~Ref() {
    if (ptr_ != nullptr) ptr_->Release();
  }

  // Counts the new object up before counting the old one down, so self-assignment is safe.
  Ref& operator=(const Ref& other) {
    if (other.ptr_ != nullptr) other.ptr_->Retain();
    T* old = std::exchange(ptr_, other.ptr_);
    if (old != nullptr) old->Release();
    return *this;
  }
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      T* old = std::exchange(ptr_, std::exchange(other.ptr_, nullptr));
      if (old != nullptr) old->Release();
    }
    return *this;
  }

  // Takes another reference to an object that someone already owns.
  static Ref Share(T* object) {
    Ref r;
    r.ptr_ = object;
    r.Acquire();
    return r;
  }

  T* Get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  T& operator*() const { return *ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  // Drops this reference; the pointer is empty afterwards.
  void Reset() {
    T* old = std::exchange(ptr_, nullptr);
    if (old != nullptr) old->Release();
  }
  // Gives up this reference without releasing it; the caller now owns one count.
  T* Detach() { return std::exchange(ptr_, nullptr); }

  template <class U>
  bool operator==(const Ref<U>& other) const {
    return static_cast<const TObject*>(ptr_) == static_cast<const TObject*>(other.Get());
  }
  bool operator==(std::nullptr_t) const { return ptr_ == nullptr; }

 private:
  template <class U, class... Args>
  friend Ref<U> MakeRef(Args&&... args);
  void Acquire() {
    if (ptr_ != nullptr) ptr_->Retain();
  }
  T* ptr_ = nullptr;
};

// Creates a new object and adopts its first reference.
template <class T, class... Args>
Ref<T> MakeRef(Args&&... args) {
  Ref<T> r;
  r.ptr_ = new T(std::forward<Args>(args)...);
  r.ptr_->Retain();
  return r;
}

// The object as a U, or the empty pointer when it is not one.
template <class U, class T>
Ref<U> RefCast(const Ref<T>& from) {
  return Ref<U>::Share(dynamic_cast<U*>(from.Get()));
}

// A text carried where an object is expected (event extras, thrown-object reports).
class TTextObject : public TObject {
 public:
  explicit TTextObject(Text value) : value_(std::move(value)) {}
  const Text& Value() const { return value_; }
  Text ToString() const override { return value_; }
  int Compare(const TObject& other) const override;

 private:
  Text value_;
};

}  // namespace kiln
