#include "tools/kestrunectl/watch_view.h"

#include "protocol/receiver_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace kestrune::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// $GP<type>,1*<checksum>
Bytes sentence(const std::string& type) {
    const std::string body = "GP" + type + ",1";
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    std::array<char, 4> tail{};
    std::snprintf(tail.data(), tail.size(), "*%02X", sum);
    const std::string text = "$" + body + tail.data();
    return Bytes(text.begin(), text.end());
}

// However many sentence types and report IDs arrive, the screen holds a row for each selectable
// type, eight others and sixteen IDs; the rest are counted on an "other" row of each table.
// Control bytes show as '?'.
TEST(WatchView, RowsStayBoundedWhateverTypesArrive) {
    const std::string otherRow = "other     1000\n";
    std::size_t rowsWithoutOthers = 0;
    for (const int extra : {0, 1000}) {
        ctl::WatchView view;
        for (const NmeaSentence& selectable : kNmeaSentences) {
            view.add(sentence(std::string(selectable.name)));
        }
        view.add(sentence("GG\x1b"));
        for (int i = 0; i < 7 + extra; ++i) {
            view.add(sentence({char('A' + i / 676), char('A' + i / 26 % 26), char('A' + i % 26)}));
        }
        for (int i = 0; i < 16 + extra; ++i) {
            view.add(Bytes{static_cast<std::uint8_t>(i < 16 ? i : 0x80 + i % 100), 0x00});
        }
        const std::string screen = view.screen("heading");
        const auto rows = static_cast<std::size_t>(std::count(screen.begin(), screen.end(), '\n'));
        EXPECT_EQ(screen.find('\x1b'), std::string::npos);
        if (extra == 0) {
            rowsWithoutOthers = rows;
            EXPECT_EQ(screen.find("other"), std::string::npos) << screen;
            continue;
        }
        EXPECT_EQ(rows, rowsWithoutOthers + 2) << screen;
        const std::size_t first = screen.find(otherRow);
        EXPECT_NE(screen.find(otherRow, first + 1), std::string::npos) << screen;
    }
}

}  // namespace
}  // namespace kestrune::test
