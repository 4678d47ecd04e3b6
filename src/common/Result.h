#pragma once

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

namespace orvane {

// Wraps an error value so that Result<T, E> can be built from it unambiguously,
// even when T and E are the same type.
template <typename E>
struct Failure {
    E error;
};

template <typename E>
Failure<std::decay_t<E>> fail(E&& error) {
    return {std::forward<E>(error)};
}

// Either a value or an error; the return type of every codec and file operation that
// can meet bad input. Errors are values: nothing here throws.
//
// Accessing value() on an error (or error() on a value) is a programming mistake and
// asserts; callers test ok() or the bool conversion first.
template <typename T, typename E>
class [[nodiscard]] Result {
public:
    Result(const T& value)
        : state_(std::in_place_index<0>, value) {}
    Result(T&& value)
        : state_(std::in_place_index<0>, std::move(value)) {}
    template <typename F>
    Result(Failure<F> failure)
        : state_(std::in_place_index<1>, std::move(failure.error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & {
        assert(ok());
        return std::get<0>(state_);
    }
    const T& value() const& {
        assert(ok());
        return std::get<0>(state_);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(state_));
    }
    const E& error() const {
        assert(!ok());
        return std::get<1>(state_);
    }

    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

private:
    std::variant<T, E> state_;
};

// The result of an operation that produces nothing but can fail.
struct Done {
    friend bool operator==(Done, Done) = default;
};

template <typename E>
using Status = Result<Done, E>;

} // namespace orvane
