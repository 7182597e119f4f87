/** \addtogroup framework
 @{ */
/// COleDateTime: a status and a date as days since 1899-12-30 00:00, the
/// fraction being the time of day.
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"

class KELVARA_API COleDateTime {
public:
    /// Valid, invalid (a bad date), null (no date) or error.
    enum DateTimeStatus : LONG { error = -1, valid = 0, invalid = 1, null = 2 };

    /// The date 1899-12-30 00:00, valid.
    COleDateTime() = default;
    /// A date as days since 1899-12-30.
    explicit COleDateTime(double dtSrc) : m_dt(dtSrc) {}
    /// A date and time; status invalid when the date is not valid.
    COleDateTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec) {
        SetDateTime(nYear, nMonth, nDay, nHour, nMin, nSec);
    }

    /// Now, in the machine's local time zone, to the second.
    static COleDateTime GetCurrentTime();

    ///@{
    /// The status.
    DateTimeStatus GetStatus() const { return m_status; }
    void SetStatus(DateTimeStatus status) { m_status = status; }
    ///@}

    /// 0 when the date is valid (years 100 to 9999), else 1 and status invalid.
    int SetDateTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec);
    /// As SetDateTime at midnight.
    int SetDate(int nYear, int nMonth, int nDay) {
        return SetDateTime(nYear, nMonth, nDay, 0, 0, 0);
    }

    /// Calendar fields; -1 when the value is not a valid date.
    int GetYear() const;
    ///@{
    /// See GetYear.
    int GetMonth() const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;
    ///@}
    int GetDayOfWeek() const;  ///< 1 = Sunday

    /// "YYYY-MM-DD HH:MM:SS", or "invalid" / "null".
    CString Format() const;

    /// Days since 1899-12-30.
    operator double() const { return m_dt; }  // NOLINT
    ///@{
    /// Equal in status and value; ordered by value.
    bool operator==(const COleDateTime& o) const {
        return m_status == o.m_status && m_dt == o.m_dt;
    }
    bool operator!=(const COleDateTime& o) const { return !(*this == o); }
    bool operator<(const COleDateTime& o) const { return m_dt < o.m_dt; }
    ///@}

    /// Days since 1899-12-30; the fraction is the time of day.
    double m_dt = 0.0;
    /// The status.
    DateTimeStatus m_status = valid;

private:
    struct Fields {
        int year, month, day, hour, minute, second, dayOfWeek;
    };
    bool Split(Fields& f) const;
};
/** @} */
