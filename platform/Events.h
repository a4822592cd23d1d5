// Events of the program's components: method references, an object and one
// of its member functions, called only when assigned, with the component
// itself as Sender.
#pragma once

#include <memory>

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
  TMethod(T* object, void (T::*method)(Args...)) : bound(std::make_shared<Bound<T>>(object, method)) {}

  explicit operator bool() const { return bound != nullptr; }

  // Calls the method when one is assigned.
  void operator()(Args... args) const {
    if (bound) bound->call(args...);
  }

  friend bool operator==(const TMethod& a, const TMethod& b) {
    return a.bound == b.bound || (a.bound && b.bound && a.bound->equals(*b.bound));
  }

 private:
  struct Base {
    virtual ~Base() = default;
    virtual void call(Args... args) const = 0;
    virtual bool equals(const Base& other) const = 0;
  };

  template <class T>
  struct Bound final : Base {
    Bound(T* object, void (T::*method)(Args...)) : object(object), method(method) {}
    void call(Args... args) const override { (object->*method)(args...); }
    bool equals(const Base& other) const override {
      const auto* same = dynamic_cast<const Bound*>(&other);
      return same && same->object == object && same->method == method;
    }
    T* object;
    void (T::*method)(Args...);
  };

  std::shared_ptr<const Base> bound;
};

using TNotifyEvent = TMethod<void(TObject* Sender)>;
