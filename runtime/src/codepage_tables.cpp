// The data of the four-byte codes and of code page 936's private-use pairs.
#include <algorithm>
#include <array>

#include "codepage_internal.h"

namespace rt::codepage {
namespace {

// Numbers of the basic plane's four-byte codes, in runs: from `number` on,
// consecutive numbers stand for consecutive units from `unit`, up to the
// next run. These are GB18030's (the 2005 edition's, whose 18 codes for
// U+9FB4-9FBB and U+FE10-FE19 the 2022 edition withdrew), with one change:
// where GB18030 gives a four-byte code to a private-use character that code
// page 936 holds on a pair (A8BC is U+E7C7 there), that code stands for the
// character GB18030 puts on the pair instead (U+1E3F), so both keep a code.
struct Run {
  std::uint16_t number;
  std::uint16_t unit;
};
constexpr Run kRuns[] = {
    {0, 0x0080},     {36, 0x00A5},    {38, 0x00A9},    {45, 0x00B2},    {50, 0x00B8},
    {81, 0x00D8},    {89, 0x00E2},    {95, 0x00EB},    {96, 0x00EE},    {100, 0x00F4},
    {103, 0x00F8},   {104, 0x00FB},   {105, 0x00FD},   {109, 0x0102},   {126, 0x0114},
    {133, 0x011C},   {148, 0x012C},   {172, 0x0145},   {175, 0x0149},   {179, 0x014E},
    {208, 0x016C},   {306, 0x01CF},   {307, 0x01D1},   {308, 0x01D3},   {309, 0x01D5},
    {310, 0x01D7},   {311, 0x01D9},   {312, 0x01DB},   {313, 0x01DD},   {341, 0x01FA},
    {428, 0x0252},   {443, 0x0262},   {544, 0x02C8},   {545, 0x02CC},   {558, 0x02DA},
    {741, 0x03A2},   {742, 0x03AA},   {749, 0x03C2},   {750, 0x03CA},   {805, 0x0402},
    {819, 0x0450},   {820, 0x0452},   {7922, 0x2011},  {7924, 0x2017},  {7925, 0x201A},
    {7927, 0x201E},  {7934, 0x2027},  {7943, 0x2031},  {7944, 0x2034},  {7945, 0x2036},
    {7950, 0x203C},  {8062, 0x20AD},  {8148, 0x2104},  {8149, 0x2106},  {8152, 0x210A},
    {8164, 0x2117},  {8174, 0x2122},  {8236, 0x216C},  {8240, 0x217A},  {8262, 0x2194},
    {8264, 0x219A},  {8374, 0x2209},  {8380, 0x2210},  {8381, 0x2212},  {8384, 0x2216},
    {8388, 0x221B},  {8390, 0x2221},  {8392, 0x2224},  {8393, 0x2226},  {8394, 0x222C},
    {8396, 0x222F},  {8401, 0x2238},  {8406, 0x223E},  {8416, 0x2249},  {8419, 0x224D},
    {8424, 0x2253},  {8437, 0x2262},  {8439, 0x2268},  {8445, 0x2270},  {8482, 0x2296},
    {8485, 0x229A},  {8496, 0x22A6},  {8521, 0x22C0},  {8603, 0x2313},  {8936, 0x246A},
    {8946, 0x249C},  {9046, 0x254C},  {9050, 0x2574},  {9063, 0x2590},  {9066, 0x2596},
    {9076, 0x25A2},  {9092, 0x25B4},  {9100, 0x25BE},  {9108, 0x25C8},  {9111, 0x25CC},
    {9113, 0x25D0},  {9131, 0x25E6},  {9162, 0x2607},  {9164, 0x260A},  {9218, 0x2641},
    {9219, 0x2643},  {11329, 0x2E82}, {11331, 0x2E85}, {11334, 0x2E89}, {11336, 0x2E8D},
    {11346, 0x2E98}, {11361, 0x2EA8}, {11363, 0x2EAB}, {11366, 0x2EAF}, {11370, 0x2EB4},
    {11372, 0x2EB8}, {11375, 0x2EBC}, {11389, 0x2ECB}, {11682, 0x2FFC}, {11686, 0x3004},
    {11687, 0x3018}, {11692, 0x301F}, {11694, 0x302A}, {11714, 0x303F}, {11716, 0x3094},
    {11723, 0x309F}, {11725, 0x30F7}, {11730, 0x30FF}, {11736, 0x312A}, {11982, 0x322A},
    {11989, 0x3232}, {12102, 0x32A4}, {12336, 0x3390}, {12348, 0x339F}, {12350, 0x33A2},
    {12384, 0x33C5}, {12393, 0x33CF}, {12395, 0x33D3}, {12397, 0x33D6}, {12510, 0x3448},
    {12553, 0x3474}, {12851, 0x359F}, {12962, 0x360F}, {12973, 0x361B}, {13738, 0x3919},
    {13823, 0x396F}, {13919, 0x39D1}, {13933, 0x39E0}, {14080, 0x3A74}, {14298, 0x3B4F},
    {14585, 0x3C6F}, {14698, 0x3CE1}, {15583, 0x4057}, {15847, 0x4160}, {16318, 0x4338},
    {16434, 0x43AD}, {16438, 0x43B2}, {16481, 0x43DE}, {16729, 0x44D7}, {17102, 0x464D},
    {17122, 0x4662}, {17315, 0x4724}, {17320, 0x472A}, {17402, 0x477D}, {17418, 0x478E},
    {17859, 0x4948}, {17909, 0x497B}, {17911, 0x497E}, {17915, 0x4984}, {17916, 0x4987},
    {17936, 0x499C}, {17939, 0x49A0}, {17961, 0x49B8}, {18664, 0x4C78}, {18703, 0x4CA4},
    {18814, 0x4D1A}, {18962, 0x4DAF}, {19043, 0x9FA6}, {33469, 0x20AC}, {33470, 0x01F9},
    {33471, 0x303E}, {33472, 0x2FF0}, {33484, 0x2E81}, {33485, 0x2E84}, {33486, 0x3473},
    {33487, 0x3447}, {33488, 0x2E88}, {33489, 0x2E8B}, {33490, 0x359E}, {33491, 0x361A},
    {33492, 0x360E}, {33493, 0x2E8C}, {33494, 0x2E97}, {33495, 0x396E}, {33496, 0x3918},
    {33497, 0x39CF}, {33498, 0x39DF}, {33499, 0x3A73}, {33500, 0x39D0}, {33501, 0x3B4E},
    {33502, 0x3C6E}, {33503, 0x3CE0}, {33504, 0x2EA7}, {33505, 0x2EAA}, {33506, 0x4056},
    {33507, 0x415F}, {33508, 0x2EAE}, {33509, 0x4337}, {33510, 0x2EB3}, {33511, 0x2EB6},
    {33513, 0x43B1}, {33514, 0x43AC}, {33515, 0x2EBB}, {33516, 0x43DD}, {33517, 0x44D6},
    {33518, 0x4661}, {33519, 0x464C}, {33520, 0x4723}, {33521, 0x4729}, {33522, 0x477C},
    {33523, 0x478D}, {33524, 0x2ECA}, {33525, 0x4947}, {33526, 0x497A}, {33527, 0x497D},
    {33528, 0x4982}, {33530, 0x4985}, {33532, 0x499F}, {33533, 0x499B}, {33534, 0x49B7},
    {33535, 0x49B6}, {33536, 0x4CA3}, {33537, 0x4C9F}, {33540, 0x4C77}, {33541, 0x4CA2},
    {33542, 0x4D13}, {33549, 0x4DAE}, {33550, 0xE865}, {37845, 0xF92D}, {37921, 0xF97A},
    {37948, 0xF996}, {38029, 0xF9E8}, {38038, 0xF9F2}, {38064, 0xFA10}, {38065, 0xFA12},
    {38066, 0xFA15}, {38069, 0xFA19}, {38075, 0xFA22}, {38076, 0xFA25}, {38078, 0xFA2A},
    {39108, 0xFE32}, {39109, 0xFE45}, {39113, 0xFE53}, {39114, 0xFE58}, {39115, 0xFE67},
    {39116, 0xFE6C}, {39265, 0xFF5F}, {39394, 0xFFE6},
};
constexpr std::size_t kRunCount = std::size(kRuns);

struct UnitRun {
  std::uint16_t unit;
  std::uint16_t number;
  std::uint16_t count;
};

// The runs in unit order, for the way back.
constexpr std::array<UnitRun, kRunCount> ByUnit() {
  std::array<UnitRun, kRunCount> out{};
  for (std::size_t i = 0; i < kRunCount; ++i) {
    const std::uint32_t end = i + 1 < kRunCount ? kRuns[i + 1].number : kBasicFourByteCount;
    out[i] = {kRuns[i].unit, kRuns[i].number, static_cast<std::uint16_t>(end - kRuns[i].number)};
  }
  std::sort(out.begin(), out.end(),
            [](const UnitRun& a, const UnitRun& b) { return a.unit < b.unit; });
  return out;
}
constexpr std::array<UnitRun, kRunCount> kByUnit = ByUnit();

// Code page 936's private-use characters: the pairs of `lead` with the
// trail bytes first to last (0x7F is never a trail) stand for consecutive
// units from `unit`.
struct PrivateRun {
  unsigned char lead;
  unsigned char first;
  unsigned char last;
  std::uint16_t unit;
};
constexpr PrivateRun kPrivateRuns[] = {
    {0xA1, 0x40, 0xA0, 0xE4C6}, {0xA2, 0x40, 0xA0, 0xE526}, {0xA2, 0xAB, 0xB0, 0xE766},
    {0xA2, 0xE3, 0xE4, 0xE76C}, {0xA2, 0xEF, 0xF0, 0xE76E}, {0xA2, 0xFD, 0xFE, 0xE770},
    {0xA3, 0x40, 0xA0, 0xE586}, {0xA4, 0x40, 0xA0, 0xE5E6}, {0xA4, 0xF4, 0xFE, 0xE772},
    {0xA5, 0x40, 0xA0, 0xE646}, {0xA5, 0xF7, 0xFE, 0xE77D}, {0xA6, 0x40, 0xA0, 0xE6A6},
    {0xA6, 0xB9, 0xC0, 0xE785}, {0xA6, 0xD9, 0xDF, 0xE78D}, {0xA6, 0xEC, 0xED, 0xE794},
    {0xA6, 0xF3, 0xF3, 0xE796}, {0xA6, 0xF6, 0xFE, 0xE797}, {0xA7, 0x40, 0xA0, 0xE706},
    {0xA7, 0xC2, 0xD0, 0xE7A0}, {0xA7, 0xF2, 0xFE, 0xE7AF}, {0xA8, 0x96, 0xA0, 0xE7BC},
    {0xA8, 0xBC, 0xBC, 0xE7C7}, {0xA8, 0xBF, 0xBF, 0xE7C8}, {0xA8, 0xC1, 0xC4, 0xE7C9},
    {0xA8, 0xEA, 0xFE, 0xE7CD}, {0xA9, 0x58, 0x58, 0xE7E2}, {0xA9, 0x5B, 0x5B, 0xE7E3},
    {0xA9, 0x5D, 0x5F, 0xE7E4}, {0xA9, 0x89, 0x95, 0xE7E7}, {0xA9, 0x97, 0xA3, 0xE7F4},
    {0xA9, 0xF0, 0xFE, 0xE801}, {0xAA, 0xA1, 0xFE, 0xE000}, {0xAB, 0xA1, 0xFE, 0xE05E},
    {0xAC, 0xA1, 0xFE, 0xE0BC}, {0xAD, 0xA1, 0xFE, 0xE11A}, {0xAE, 0xA1, 0xFE, 0xE178},
    {0xAF, 0xA1, 0xFE, 0xE1D6}, {0xD7, 0xFA, 0xFE, 0xE810}, {0xF8, 0xA1, 0xFE, 0xE234},
    {0xF9, 0xA1, 0xFE, 0xE292}, {0xFA, 0xA1, 0xFE, 0xE2F0}, {0xFB, 0xA1, 0xFE, 0xE34E},
    {0xFC, 0xA1, 0xFE, 0xE3AC}, {0xFD, 0xA1, 0xFE, 0xE40A}, {0xFE, 0x50, 0xA0, 0xE815},
    {0xFE, 0xA1, 0xFE, 0xE468},
};

// Position of a trail byte among the 190 (0x40-0x7E, 0x80-0xFE).
constexpr int TrailIndex(unsigned char trail) {
  return trail < 0x7F ? trail - 0x40 : trail - 0x41;
}
constexpr unsigned char TrailAt(int index) {
  return static_cast<unsigned char>(index < 0x3F ? index + 0x40 : index + 0x41);
}

}  // namespace

std::uint32_t FourByteNumber(const unsigned char* b) {
  return ((static_cast<std::uint32_t>(b[0] - 0x81) * 10 + (b[1] - 0x30)) * 126 + (b[2] - 0x81)) *
             10 +
         (b[3] - 0x30);
}

void FourByteCode(std::uint32_t number, unsigned char out[4]) {
  out[3] = static_cast<unsigned char>(0x30 + number % 10);
  number /= 10;
  out[2] = static_cast<unsigned char>(0x81 + number % 126);
  number /= 126;
  out[1] = static_cast<unsigned char>(0x30 + number % 10);
  out[0] = static_cast<unsigned char>(0x81 + number / 10);
}

char16_t BasicUnitOfNumber(std::uint32_t number) {
  if (number >= kBasicFourByteCount) return 0;
  const Run* run = std::upper_bound(std::begin(kRuns), std::end(kRuns), number,
                                    [](std::uint32_t n, const Run& r) { return n < r.number; });
  --run;  // the first run starts at 0
  return static_cast<char16_t>(run->unit + (number - run->number));
}

int NumberOfBasicUnit(char16_t unit) {
  const auto* run = std::upper_bound(kByUnit.begin(), kByUnit.end(), unit,
                                     [](char16_t u, const UnitRun& r) { return u < r.unit; });
  if (run == kByUnit.begin()) return -1;
  --run;
  const unsigned offset = unit - run->unit;
  return offset < run->count ? static_cast<int>(run->number + offset) : -1;
}

char16_t PrivateUseUnitOf(unsigned char lead, unsigned char trail) {
  for (const PrivateRun& r : kPrivateRuns) {
    if (r.lead == lead && trail >= r.first && trail <= r.last && trail != 0x7F) {
      return static_cast<char16_t>(r.unit + TrailIndex(trail) - TrailIndex(r.first));
    }
  }
  return 0;
}

std::uint16_t PrivateUsePairOf(char16_t unit) {
  for (const PrivateRun& r : kPrivateRuns) {
    const int count = TrailIndex(r.last) - TrailIndex(r.first) + 1;
    if (unit >= r.unit && unit < r.unit + count) {
      return static_cast<std::uint16_t>(r.lead << 8 |
                                        TrailAt(TrailIndex(r.first) + (unit - r.unit)));
    }
  }
  return 0;
}

}  // namespace rt::codepage
