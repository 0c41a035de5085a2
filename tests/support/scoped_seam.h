// Installs a test's stand-in in one of the product's test seams for the length of a scope and
// puts back what was there when the scope ends, whatever the test's outcome: a failed ASSERT_
// returns through it too, so no later test in the executable inherits the stand-in.
#pragma once

#include <type_traits>
#include <utility>

template <typename Value> class ScopedSeam {
  public:
    ScopedSeam(Value& seam, std::type_identity_t<Value> stand_in)
        : seam_(seam), saved_(std::exchange(seam, stand_in)) {}
    ~ScopedSeam() { seam_ = saved_; }
    ScopedSeam(const ScopedSeam&) = delete;
    ScopedSeam& operator=(const ScopedSeam&) = delete;

  private:
    Value& seam_;
    Value saved_;
};
