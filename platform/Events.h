// Events of the program's components: method references, an object and one
// of its member functions, called only when assigned, with the component
// itself as Sender.
#pragma once

#include <cstring>
#include <type_traits>

// The common base of everything that can be a Sender.
class TObject {
 public:
  virtual ~TObject() = default;
};

template <class Signature>
class TMethod;

template <class... Args>
class TMethod<void(Args...)> {
 public:
  TMethod() = default;

  template <class T>
  TMethod(T* object, void (T::*method)(Args...)) : object(object), invoke(&call<T>) {
    static_assert(sizeof method <= sizeof storage, "member function pointer too large");
    std::memcpy(storage, &method, sizeof method);
  }

  explicit operator bool() const { return invoke != nullptr; }

  // Calls the method when one is assigned.
  void operator()(Args... args) const {
    if (invoke) invoke(object, storage, args...);
  }

  friend bool operator==(const TMethod& a, const TMethod& b) {
    return a.object == b.object && a.invoke == b.invoke && std::memcmp(a.storage, b.storage, sizeof a.storage) == 0;
  }

 private:
  template <class T>
  static void call(void* object, const unsigned char* storage, Args... args) {
    void (T::*method)(Args...) = nullptr;
    std::memcpy(&method, storage, sizeof method);
    (static_cast<T*>(object)->*method)(args...);
  }

  void* object = nullptr;
  void (*invoke)(void*, const unsigned char*, Args...) = nullptr;
  alignas(void*) unsigned char storage[2 * sizeof(void*)] = {};
};

using TNotifyEvent = TMethod<void(TObject* Sender)>;
