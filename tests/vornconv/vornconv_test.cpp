#include <gtest/gtest.h>

#include "converter.hpp"
#include "streamgen.hpp"

TEST(Placeholder, Builds) { SUCCEED(); }
