#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "base/RuntimeError.h"

namespace vorelta::test {

// The number of the error the action raises, whose description must say something; 0 for none.
inline int ErrorNumberOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const RuntimeError& error) {
        EXPECT_FALSE(error.description().isEmpty());
        return error.number();
    }
    return 0;
}

}  // namespace vorelta::test
