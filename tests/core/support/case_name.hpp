// Names parametrized cases by their `name` field, so that a failure says
// which case broke.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace quorvel::test {

template <class Case>
std::string case_name(const testing::TestParamInfo<Case>& param_info) {
  return std::string(param_info.param.name);
}

}  // namespace quorvel::test
