#pragma once
// What a crawl fetches: the acquisition condition record and its flag word.

#include <cstdint>
#include <string>
#include <string_view>

#include "store/listmanager.h"

namespace kelvra::store {

// Archives, executables, sound, movies and PDF files are refused; the image line is off.
inline constexpr std::string_view kDefaultFilterText =
    "0:.(arc|gz|exe|lzh|zip|zoo|hqx|cab)$ .z$ \n"
    "0:.(aif|au$|ra|wav|mp|mov|avi$|pdf$) \n"
    "#0:.(mid|jp[eg]|gif$|bmp$|[px]bm$)";

struct AcquisitionCondition {
    // Text limits of the record's buffers, including the NUL.
    static constexpr std::size_t kFilterBuffer = 16384;
    static constexpr std::size_t kExtraHeaderBuffer = 1024;

    AcquisitionCondition() = default;
    AcquisitionCondition(const AcquisitionCondition&) = delete;
    AcquisitionCondition& operator=(const AcquisitionCondition&) = delete;

    // Both texts start empty; reading a condition fills in the default filter text.
    std::string filters;
    std::string extra_header;
    bool enable_filter = true;
    std::int16_t complete_trace = 0;  // n levels; -1 on with a count below 1
    bool no_cache = false;
    bool relative_link = false;
    std::int16_t get_all = 0;  // 0 off, 1 on, 2 undetermined
    bool save_error_page = false;
    bool authentication = true;
    bool form_tag = true;
    bool ftp_all = false;
    bool modify_check = true;
    bool strict_modify_check = false;
    bool send_cookie = false;
    bool preserve_old_data = false;
    // https: certificates accepted without checks.
    bool accept_any_certificate = false;
    std::uint8_t trace_moved = 1;  // 0 off, 2 on, 1 undetermined
    std::uint8_t src_object = 1;   // 0 off, 2 on, 1 undetermined
    std::int16_t reget_level = 1;  // 0..3
    std::int16_t classes = 0;      // link levels, 0 = unlimited
    listmanager accept;            // "host/dir/" or "!host/dir/"
};

// The flag word that every fetch job of a crawl started from the condition carries.
std::uint32_t ConditionFlags(const AcquisitionCondition& condition);

}  // namespace kelvra::store
