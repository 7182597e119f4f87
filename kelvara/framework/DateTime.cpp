#include "kelvara/framework/DateTime.h"

#include <cmath>
#include <ctime>
#include <mutex>

namespace {

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
long DaysFromCivil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

void CivilFromDays(long z, int& y, int& m, int& d) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<long>(yoe) + era * 400 + (m <= 2));
}

// 1899-12-30, the date's day zero, counted from 1970-01-01.
constexpr long kEpochOffsetDays = -25569;
constexpr double kMinDate = -657434.0;      // 0100-01-01
constexpr double kMaxDate = 2958465.99999;  // 9999-12-31 23:59:59

}  // namespace

COleDateTime COleDateTime::GetCurrentTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    {
        // std::localtime shares one buffer; the lock keeps callers apart.
        static std::mutex lock;
        std::lock_guard<std::mutex> guard(lock);
        if (const std::tm* p = std::localtime(&now)) {
            local = *p;
        }
    }
    return COleDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec);
}

int COleDateTime::SetDateTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec) {
    static const int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (nYear % 4 == 0 && nYear % 100 != 0) || nYear % 400 == 0;
    const bool ok = nYear >= 100 && nYear <= 9999 && nMonth >= 1 && nMonth <= 12 && nDay >= 1 &&
                    nDay <= kDaysInMonth[nMonth >= 1 && nMonth <= 12 ? nMonth - 1 : 0] +
                                (nMonth == 2 && leap ? 1 : 0) &&
                    nHour >= 0 && nHour <= 23 && nMin >= 0 && nMin <= 59 && nSec >= 0 && nSec <= 59;
    if (!ok) {
        m_dt = 0;
        m_status = invalid;
        return 1;
    }
    const long days =
        DaysFromCivil(nYear, static_cast<unsigned>(nMonth), static_cast<unsigned>(nDay)) -
        kEpochOffsetDays;
    const double fraction = (nHour * 3600 + nMin * 60 + nSec) / 86400.0;
    // Before day zero the fraction still counts forward within the day.
    m_dt = days >= 0 ? days + fraction : days - fraction;
    m_status = valid;
    return 0;
}

bool COleDateTime::Split(Fields& f) const {
    if (m_status != valid || !(m_dt >= kMinDate && m_dt <= kMaxDate)) {
        return false;
    }
    const double whole = std::trunc(m_dt);
    long days = static_cast<long>(whole);
    long seconds = std::lround(std::fabs(m_dt - whole) * 86400.0);
    if (seconds >= 86400) {
        seconds -= 86400;
        days += m_dt >= 0 ? 1 : -1;
    }
    CivilFromDays(days + kEpochOffsetDays, f.year, f.month, f.day);
    f.hour = static_cast<int>(seconds / 3600);
    f.minute = static_cast<int>(seconds / 60 % 60);
    f.second = static_cast<int>(seconds % 60);
    // 1899-12-30 was a Saturday (7).
    f.dayOfWeek = static_cast<int>(((days % 7) + 7 + 6) % 7) + 1;
    return true;
}

#define KELVARA_DATE_FIELD(name, field) \
    int COleDateTime::name() const {    \
        Fields f{};                     \
        return Split(f) ? f.field : -1; \
    }
KELVARA_DATE_FIELD(GetYear, year)
KELVARA_DATE_FIELD(GetMonth, month)
KELVARA_DATE_FIELD(GetDay, day)
KELVARA_DATE_FIELD(GetHour, hour)
KELVARA_DATE_FIELD(GetMinute, minute)
KELVARA_DATE_FIELD(GetSecond, second)
KELVARA_DATE_FIELD(GetDayOfWeek, dayOfWeek)
#undef KELVARA_DATE_FIELD

CString COleDateTime::Format() const {
    if (m_status == null) {
        return "null";
    }
    Fields f{};
    if (!Split(f)) {
        return "invalid";
    }
    return FormatString("%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour, f.minute,
                        f.second);
}
