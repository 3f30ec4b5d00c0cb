#include "store/condition.h"

#include "store/fetchjob.h"

namespace kelvra::store {

std::uint32_t ConditionFlags(const AcquisitionCondition& c) {
    std::uint32_t f = static_cast<std::uint32_t>(c.reget_level) & JobFlag::kRegetMask;
    if (c.send_cookie) f |= JobFlag::kSendCookie;
    if (c.relative_link) f |= JobFlag::kRelativeLink;
    if (c.get_all == 1) f |= JobFlag::kGetAll;
    if (c.get_all == 2) f |= JobFlag::kGetAllUndetermined;
    if (c.save_error_page) f |= JobFlag::kSaveErrorPage;
    if (c.authentication) f |= JobFlag::kAuthentication;
    if (c.trace_moved == 2) f |= JobFlag::kTraceMoved;
    if (c.trace_moved == 1) f |= JobFlag::kTraceMovedStart;
    if (c.src_object == 1) f |= JobFlag::kSrcObject;
    if (c.src_object == 2) f |= JobFlag::kSrcObject | JobFlag::kSrcObjectAll;
    if (c.form_tag) f |= JobFlag::kFormTag;
    if (c.ftp_all) f |= JobFlag::kFtpAll;
    if (c.no_cache) f |= JobFlag::kNoCache;
    if (c.strict_modify_check) f |= JobFlag::kStrictModifyCheck;
    if (c.modify_check) f |= JobFlag::kModifyCheck;
    if (c.preserve_old_data) f |= JobFlag::kPreserveOldData;
    if (c.accept_any_certificate) f |= JobFlag::kAcceptAnyCertificate;
    return f;
}

}  // namespace kelvra::store
