// An owning pointer that copies what it owns: the members of tag and record classes hold their
// polymorphic children (fill styles, shape records, inner tags) through it, so the classes' own
// copy constructors, assignments and equality come from the compiler and stay right under
// self-assignment.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace kestrova {

// Owns at most one T. Copying copies the object: through T's virtual Clone() when T has one (a
// polymorphic base), else through T's copy constructor. Two pointers are equal when both are
// empty, or both hold equal objects (T's virtual Equals when it has one, else ==).
template <class T>
class TCopyPtr {
 public:
  TCopyPtr() = default;
  TCopyPtr(std::nullptr_t) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  TCopyPtr(std::unique_ptr<U> owned) : FPtr(std::move(owned)) {}
  TCopyPtr(const TCopyPtr& other) : FPtr(CopyOf(other.FPtr.get())) {}
  TCopyPtr(TCopyPtr&&) noexcept = default;
  // The copy is made before the old object goes, so assigning a pointer to itself (or to what it
  // owns) is safe.
  TCopyPtr& operator=(const TCopyPtr& other) {
    FPtr = CopyOf(other.FPtr.get());
    return *this;
  }
  TCopyPtr& operator=(TCopyPtr&&) noexcept = default;

  T* get() const { return FPtr.get(); }
  T& operator*() const { return *FPtr; }
  T* operator->() const { return FPtr.get(); }
  explicit operator bool() const { return FPtr != nullptr; }
  void reset() { FPtr.reset(); }
  // Gives the object up to the caller, who then owns it.
  std::unique_ptr<T> release() { return std::move(FPtr); }

  bool operator==(const TCopyPtr& other) const {
    if (!FPtr || !other.FPtr) return !FPtr && !other.FPtr;
    if constexpr (requires(const T& a) { a.Equals(a); }) {
      return FPtr->Equals(*other.FPtr);
    } else {
      return *FPtr == *other.FPtr;
    }
  }

 private:
  static std::unique_ptr<T> CopyOf(const T* source) {
    if (!source) return nullptr;
    if constexpr (requires(const T& a) { a.Clone(); }) {
      return source->Clone();
    } else {
      return std::make_unique<T>(*source);
    }
  }
  std::unique_ptr<T> FPtr;
};

// Declares, inside a concrete class derived from the polymorphic Base, the copy operations Base
// asks for: Clone, Equals (same class and equal fields) and Assign (throws std::invalid_argument
// for another class), all made from the class's compiler-made copy and equality.
#define KESTROVA_COPYABLE(Base, Class)                                                  \
  std::unique_ptr<Base> Clone() const override {                                        \
    return std::make_unique<Class>(*this);                                              \
  }                                                                                     \
  bool Equals(const Base& other) const override {                                       \
    return typeid(other) == typeid(*this) && *this == static_cast<const Class&>(other); \
  }                                                                                     \
  void Assign(const TBasedSWFObject& source) override {                                 \
    *this = SameClass(source, *this);                                                   \
  }                                                                                     \
  bool operator==(const Class&) const = default;

}  // namespace kestrova
