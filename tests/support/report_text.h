// A report's text as a test writes its expected value.
#pragma once

#include <algorithm>
#include <string_view>

#include "protocol/tsip_identity.h"

namespace kestrune::test {

inline ReportText named(std::string_view text) {
    ReportText name;
    name.length = std::min(text.size(), ReportText::kLongest);
    std::copy_n(text.begin(), name.length, name.chars.begin());
    return name;
}

}  // namespace kestrune::test
