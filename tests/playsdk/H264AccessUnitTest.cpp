// Collecting the NAL units of a recording into access units: one picture per unit, whole,
// however many slices it has and whatever the camera repeats between them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "H264AccessUnit.h"

namespace {

using kx::play::H264AccessUnit;

// A NAL unit with start code. Slices: 'I' (IDR) or 'P' (non-IDR, reference) or 'b'
// (non-reference) followed by first_mb_in_slice as a digit, then optionally '#' and the picture
// parameter set id. Others: 'S' SPS, 'Q' PPS, 'E' SEI, 'D' delimiter.
std::vector<uint8_t> nal(const std::string& code) {
    std::vector<uint8_t> out{0, 0, 0, 1};
    const char kind = code[0];
    if (kind == 'S') out.insert(out.end(), {0x67, 0x42, 0xC0, 0x1E});
    if (kind == 'Q') out.insert(out.end(), {0x68, 0xCE, 0x38, 0x80});
    if (kind == 'E') out.insert(out.end(), {0x06, 0x05, 0x01, 0x00, 0x80});
    if (kind == 'D') out.insert(out.end(), {0x09, 0xF0});
    if (kind != 'I' && kind != 'P' && kind != 'b') return out;
    out.push_back(kind == 'I' ? 0x65 : kind == 'P' ? 0x41 : 0x01);
    const unsigned firstMb = static_cast<unsigned>(code[1] - '0');
    const size_t hash = code.find('#');
    const unsigned ppsId =
        hash == std::string::npos ? 0 : static_cast<unsigned>(code[hash + 1] - '0');
    // Exp-Golomb first_mb_in_slice, slice_type 0, pic_parameter_set_id, then stop bits.
    std::string bits;
    auto ue = [&bits](unsigned v) {
        std::string b;
        for (unsigned x = v + 1; x != 0; x >>= 1)
            b.insert(b.begin(), static_cast<char>('0' + (x & 1)));
        bits += std::string(b.size() - 1, '0') + b;
    };
    ue(firstMb);
    ue(0);
    ue(ppsId);
    bits += "1";
    while (bits.size() % 8 != 0) bits += "0";
    bits += "10101010";
    for (size_t i = 0; i < bits.size(); i += 8) {
        out.push_back(static_cast<uint8_t>(std::stoi(bits.substr(i, 8), nullptr, 2)));
    }
    return out;
}

// Pushes the NAL units and gives the units handed out, each as its codes joined by ' '.
std::vector<std::string> split(const std::vector<std::string>& codes) {
    H264AccessUnit au;
    std::vector<std::string> units;
    std::vector<std::vector<uint8_t>> nals;
    for (const auto& c : codes) nals.push_back(nal(c));
    // Maps the bytes of a unit back to its codes.
    auto decodeUnit = [&](const H264AccessUnit::Unit& u) {
        std::string text;
        size_t at = 0;
        while (at < u.size) {
            bool found = false;
            for (size_t i = 0; i < nals.size(); ++i) {
                const auto& n = nals[i];
                if (at + n.size() <= u.size && std::equal(n.begin(), n.end(), u.data + at)) {
                    text += (text.empty() ? "" : " ") + codes[i];
                    at += n.size();
                    found = true;
                    break;
                }
            }
            if (!found) return text + " ?";
        }
        return text;
    };
    for (size_t i = 0; i < nals.size(); ++i) {
        H264AccessUnit::Unit u;
        if (au.push(nals[i].data(), nals[i].size(), static_cast<int64_t>(i), false, u)) {
            units.push_back(decodeUnit(u));
        }
    }
    H264AccessUnit::Unit u;
    if (au.flush(u)) units.push_back(decodeUnit(u));
    return units;
}

struct SplitCase {
    const char* name;
    std::vector<std::string> in;
    std::vector<std::string> units;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << c.name;
}

class AccessUnitSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(AccessUnitSplit, OnePicturePerUnit) {
    EXPECT_EQ(split(GetParam().in), GetParam().units);
}

INSTANTIATE_TEST_SUITE_P(
    Slices, AccessUnitSplit,
    ::testing::Values(
        SplitCase{"OneSlicePerPicture", {"S", "Q", "I0", "P0", "P0"}, {"S Q I0", "P0", "P0"}},
        SplitCase{
            "SeveralSlices", {"S", "Q", "I0", "I3", "I6", "P0", "P3"}, {"S Q I0 I3 I6", "P0 P3"}},
        // A camera repeating its parameter sets in front of every slice of a key picture.
        SplitCase{"ParameterSetsBetweenSlices",
                  {"S", "Q", "I0", "S", "Q", "I3", "S", "Q", "I6", "P0", "P3"},
                  {"S Q I0 S Q I3 S Q I6", "P0 P3"}},
        SplitCase{"ParameterSetsBeforeTheNextPicture",
                  {"P0", "P3", "S", "Q", "I0", "I3"},
                  {"P0 P3", "S Q I0 I3"}},
        SplitCase{"SeiAndDelimiter",
                  {"D", "P0", "P3", "E", "P0", "D", "P0"},
                  {"D P0 P3", "E P0", "D P0"}},
        // The first slice of a picture lost: the next picture still begins a unit.
        SplitCase{"FirstSliceLost", {"P0", "P3", "P3", "P6"}, {"P0 P3", "P3 P6"}},
        SplitCase{"KindChanges", {"I3", "P3", "b3", "b3#1"}, {"I3", "P3", "b3", "b3#1"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
