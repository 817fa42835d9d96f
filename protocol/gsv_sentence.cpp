#include "protocol/gsv_sentence.h"

#include <string_view>

#include "protocol/nmea_sentence.h"

namespace kestrune {

namespace {

constexpr std::string_view kGsvType = "GSV";
// The sentence's field separator, as the text it is searched for in.
constexpr char kSeparator = static_cast<char>(kFieldSeparator);
constexpr char kChecksumMark = '*';
// After the address field: the three counts that open the sentence.
constexpr std::size_t kLeadingNumbers = 3;
// PRN, elevation, azimuth, SNR.
constexpr std::size_t kFieldsPerSatellite = 4;
constexpr std::size_t kSnrField = 3;
constexpr unsigned kDecimalBase = 10;
// A PRN travels on as one byte; an SNR in dB-Hz has two digits at most.
constexpr unsigned kHighestPrn = 255;
constexpr unsigned kHighestSnr = 99;
// Longer than any of the fields this decoder reads; stops an absurd one from overflowing.
constexpr std::size_t kLongestNumber = 4;

// Splits the text between the address field and the checksum at its commas.
class Fields {
  public:
    explicit Fields(std::string_view text) : rest_(text) {}
    std::optional<std::string_view> next() {
        if (done_) {
            return std::nullopt;
        }
        const std::size_t end = rest_.find(kSeparator);
        const std::string_view field = rest_.substr(0, end);
        done_ = end == std::string_view::npos;
        rest_ = done_ ? std::string_view{} : rest_.substr(end + 1);
        return field;
    }

  private:
    std::string_view rest_;
    bool done_ = false;
};

std::optional<unsigned> number(std::string_view field, unsigned highest) {
    if (field.empty() || field.size() > kLongestNumber) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : field) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * kDecimalBase + static_cast<unsigned>(c - '0');
    }
    return value <= highest ? std::optional(value) : std::nullopt;
}

// The fields after "$xxGSV,", up to the checksum mark.
std::string_view body(std::span<const std::uint8_t> sentence) {
    const std::string_view text(reinterpret_cast<const char*>(sentence.data()), sentence.size());
    const std::size_t start = text.find(kSeparator) + 1;
    return text.substr(start, text.rfind(kChecksumMark) - start);
}

}  // namespace

// $GPGSV,2,1,07,03,71,118,50,07,54,301,48,11,38,042,45,17,27,197,42*7B
std::optional<GsvSatellites> decodeGsv(std::span<const std::uint8_t> sentence) {
    if (nmeaSentenceType(sentence) != kGsvType || !nmeaChecksumHolds(sentence)) {
        return std::nullopt;
    }
    Fields fields(body(sentence));
    for (std::size_t i = 0; i < kLeadingNumbers; ++i) {
        const std::optional<std::string_view> field = fields.next();
        if (!field || !number(*field, kHighestPrn)) {
            return std::nullopt;
        }
    }
    GsvSatellites satellites;
    std::array<std::string_view, kFieldsPerSatellite> satellite{};
    std::size_t present = 0;
    while (satellites.count < kGsvSatellitesPerSentence) {
        const std::optional<std::string_view> field = fields.next();
        if (field) {
            satellite[present++] = *field;
        }
        if (field && present < kFieldsPerSatellite) {
            continue;
        }
        // A last satellite may end before its SNR field, which then counts as empty; a shorter
        // tail (the signal identifier of newer sentences) is no satellite.
        const std::optional<unsigned> prn = number(satellite[0], kHighestPrn);
        const std::string_view snrField = satellite[kSnrField];
        const std::optional<unsigned> snr =
            snrField.empty() ? std::optional(0u) : number(snrField, kHighestSnr);
        if (present >= kSnrField && prn && *prn > 0 && snr) {
            satellites.entries[satellites.count++] = {static_cast<std::uint8_t>(*prn),
                                                      static_cast<std::int32_t>(*snr)};
        }
        if (!field) {
            break;
        }
        satellite = {};
        present = 0;
    }
    return satellites;
}

}  // namespace kestrune
