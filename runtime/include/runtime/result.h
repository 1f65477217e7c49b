// A value, or why there is none. Services whose empty value is a good
// answer too (an empty file, a reply without a body) say failure here, not
// by an empty value.
#pragma once

#include <utility>
#include <variant>

namespace rt {

template <class T, class Error>
class Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
  static Result Failure(Error error) { return Result(std::in_place_index<1>, std::move(error)); }

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  // Only when ok().
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  // The value, or `otherwise` on failure.
  T value_or(T otherwise) const& { return ok() ? value() : std::move(otherwise); }
  T value_or(T otherwise) && { return ok() ? std::move(*this).value() : std::move(otherwise); }
  // Only when !ok().
  const Error& error() const { return std::get<1>(state_); }

 private:
  template <std::size_t I, class V>
  Result(std::in_place_index_t<I> index, V&& v) : state_(index, std::forward<V>(v)) {}
  std::variant<T, Error> state_;
};

}  // namespace rt
