// Display names of the section numbers that give each record its type.
//
// The table is kept exactly as the game stores it: 256 fields of 10 bytes, a
// zero-terminated text followed by zero bytes. Three-letter names after "M_"
// carry one trailing blank ("M_FNT "), except "M_ALL"; sections without a
// name of their own show their number with three digits ("033").
//
// It belongs to the record-store library, which names sections in its debug
// reports; the record update and updkit store name them from here too.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kSectionNameField = 10;

constexpr uint8_t SECTION_FONT = 3;   // "M_FNT ": fonts, copied with their surfaces
constexpr uint8_t SECTION_ALL = 255;  // "M_ALL": never copied by a record update

inline constexpr char kSectionNames[256][kSectionNameField] = {
    "M_ANY ", "M_BMP ", "M_WAV ", "M_FNT ", "M_PCX ", "M_GIF ", "M_SPR ", "M_SSPR",  // 0..7
    "M_MSPR", "M_AME ", "M_AMAP", "M_IMT ", "M_AOBJ", "M_PLA ", "M_BMT ", "M_TMAP",  // 8..15
    "M_ALIB", "M_BMAP", "M_MSK ", "M_TSPR", "M_DAR ", "M_USPR", "M_TMSK", "M_SAR ",  // 16..23
    "M_SPAG", "M_ZONE", "M_JPG ", "M_3DX ", "M_PIC ", "M_RSPR", "M_QSPR", "M_QMT ",  // 24..31
    "M_PLT ", "033",    "034",    "035",    "036",    "037",    "038",    "039",     // 32..39
    "040",    "041",    "042",    "043",    "044",    "045",    "046",    "047",     // 40..47
    "048",    "049",    "050",    "051",    "052",    "053",    "054",    "055",     // 48..55
    "056",    "057",    "058",    "059",    "060",    "061",    "062",    "063",     // 56..63
    "064",    "065",    "066",    "067",    "068",    "069",    "070",    "071",     // 64..71
    "072",    "073",    "074",    "075",    "076",    "077",    "078",    "079",     // 72..79
    "080",    "081",    "082",    "083",    "084",    "085",    "086",    "087",     // 80..87
    "088",    "089",    "090",    "091",    "092",    "093",    "094",    "095",     // 88..95
    "096",    "097",    "098",    "099",    "100",    "101",    "102",    "103",     // 96..103
    "104",    "105",    "106",    "107",    "108",    "109",    "110",    "111",     // 104..111
    "112",    "113",    "114",    "115",    "116",    "117",    "118",    "119",     // 112..119
    "120",    "121",    "122",    "123",    "124",    "125",    "126",    "127",     // 120..127
    "M_USER", "129",    "130",    "131",    "132",    "133",    "134",    "135",     // 128..135
    "136",    "137",    "138",    "139",    "140",    "141",    "142",    "143",     // 136..143
    "144",    "145",    "146",    "147",    "148",    "149",    "150",    "151",     // 144..151
    "152",    "153",    "154",    "155",    "156",    "157",    "158",    "159",     // 152..159
    "160",    "161",    "162",    "163",    "164",    "165",    "166",    "167",     // 160..167
    "168",    "169",    "170",    "171",    "172",    "173",    "174",    "175",     // 168..175
    "176",    "177",    "178",    "179",    "180",    "181",    "182",    "183",     // 176..183
    "184",    "185",    "186",    "187",    "188",    "189",    "190",    "191",     // 184..191
    "192",    "193",    "194",    "195",    "196",    "197",    "198",    "199",     // 192..199
    "200",    "201",    "202",    "203",    "204",    "205",    "206",    "207",     // 200..207
    "208",    "209",    "210",    "211",    "212",    "213",    "214",    "215",     // 208..215
    "216",    "217",    "218",    "219",    "220",    "221",    "222",    "223",     // 216..223
    "224",    "225",    "226",    "227",    "228",    "229",    "230",    "231",     // 224..231
    "232",    "233",    "234",    "235",    "236",    "237",    "238",    "239",     // 232..239
    "240",    "241",    "242",    "243",    "244",    "245",    "246",    "247",     // 240..247
    "248",    "249",    "250",    "251",    "252",    "253",    "254",    "M_ALL",   // 248..255
};

// The display name of a section; every byte value has one.
inline const char* SectionName(uint8_t section) { return kSectionNames[section]; }
