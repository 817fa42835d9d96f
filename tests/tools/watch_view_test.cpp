#include "tools/kestrunectl/watch_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

namespace kestrune::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// $GP<type>,1*<checksum>
Bytes sentence(const std::string& type) {
    std::string text = "$GP" + type + ",1*";
    const int sum = std::accumulate(text.begin() + 1, text.end() - 1, 0, std::bit_xor<>());
    text += {"0123456789ABCDEF"[sum >> 4], "0123456789ABCDEF"[sum & 0xF]};
    return Bytes(text.begin(), text.end());
}

// However many sentence types and report IDs arrive, the screen holds a row for eight types
// besides the selectable ones and for sixteen IDs; the rest are counted on an "other" row of each
// table. A sentence holding a control byte is damaged, and the byte never reaches the screen.
TEST(WatchView, RowsStayBoundedWhateverTypesArrive) {
    std::vector<std::string> screens;
    for (const int extra : {1000, 2000}) {
        ctl::WatchView view;
        view.add(sentence("GG\x1b"));
        for (int i = 0; i < 8 + extra; ++i) {
            view.add(sentence({char('A' + i / 676), char('A' + i / 26 % 26), char('A' + i % 26)}));
        }
        for (int i = 0; i < 16 + extra; ++i) {
            view.add(Bytes{static_cast<std::uint8_t>(i < 16 ? i : 0x80 + i % 100), 0x00});
        }
        screens.push_back(view.screen("heading"));
    }
    const std::string otherRow = "other     1000\n";
    EXPECT_EQ(screens[0].find('\x1b'), std::string::npos);
    EXPECT_NE(screens[0].find(otherRow, screens[0].find(otherRow) + 1), std::string::npos);
    EXPECT_EQ(std::count(screens[0].begin(), screens[0].end(), '\n'),
              std::count(screens[1].begin(), screens[1].end(), '\n'));
}

}  // namespace
}  // namespace kestrune::test
