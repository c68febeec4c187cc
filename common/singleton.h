#pragma once
// Process-wide objects created on first use and kept until the process ends.

namespace kx {

template <typename T>
class Singleton {
 public:
  virtual ~Singleton() = default;

  // Created with `new` on the first call and never destroyed: its threads end
  // with the process. The function-local static makes concurrent first calls safe.
  static T& instance() {
    static T* const only = new T();
    return *only;
  }

 protected:
  Singleton() = default;
  Singleton(const Singleton&) = delete;
  Singleton& operator=(const Singleton&) = delete;
};

}  // namespace kx
