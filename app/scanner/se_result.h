// What every operation of the host library answers: a 16-bit code, whose one test of success is
// ok(). A command passes the driver's answer on as it came (SE_OK, SE_NOT_SUPPORTED or a negative
// code of the plug-in boundary); the library's own operations answer SE_OK or one of the SE_HOST_
// codes of its two layers (se_host_session.h, se_host.h), which keep the numbers the host library
// has always given. Only a command's code goes further up, in failure messages as a number.
#pragma once

#include "se_boundary.h"

#include <cstdint>
#include <ostream>

namespace lumenfield {

class SEResult {
public:
    constexpr explicit SEResult(int16_t code) : code_(code) {}

    // The operation did what it was asked: the code is SE_OK.
    constexpr bool ok() const { return code_ == SE_OK; }
    constexpr int16_t code() const { return code_; }

    constexpr bool operator==(const SEResult&) const = default;

private:
    int16_t code_;
};

inline constexpr SEResult SE_SUCCESS{SE_OK};

inline std::ostream& operator<<(std::ostream& out, SEResult result)
{
    return out << result.code();
}

} // namespace lumenfield
