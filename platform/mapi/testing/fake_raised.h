// What a wrapper call threw, for the access layer's tests.
#pragma once

#include <functional>

#include <gtest/gtest.h>

#include "MapiException.h"

namespace fake {

// Runs f, which must throw CMAPIException, and returns what it threw.
inline CMAPIException Raised(const std::function<void()>& f) {
    try {
        f();
    } catch (CMAPIException e) {
        return e;
    }
    ADD_FAILURE() << "no CMAPIException";
    return CMAPIException(S_OK, nullptr);
}

}  // namespace fake
