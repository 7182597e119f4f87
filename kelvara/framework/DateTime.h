// COleDateTime: a status and a date as days since 1899-12-30 00:00, the
// fraction being the time of day.
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"

class KELVARA_API COleDateTime {
public:
    enum DateTimeStatus : LONG { error = -1, valid = 0, invalid = 1, null = 2 };

    COleDateTime() = default;
    explicit COleDateTime(double dtSrc) : m_dt(dtSrc) {}
    COleDateTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec) {
        SetDateTime(nYear, nMonth, nDay, nHour, nMin, nSec);
    }

    // Now, in the machine's local time zone, to the second.
    static COleDateTime GetCurrentTime();

    DateTimeStatus GetStatus() const { return m_status; }
    void SetStatus(DateTimeStatus status) { m_status = status; }

    // 0 when the date is valid (years 100 to 9999), else 1 and status invalid.
    int SetDateTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec);
    int SetDate(int nYear, int nMonth, int nDay) {
        return SetDateTime(nYear, nMonth, nDay, 0, 0, 0);
    }

    // Calendar fields; -1 when the value is not a valid date.
    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;
    int GetDayOfWeek() const;  // 1 = Sunday

    // "YYYY-MM-DD HH:MM:SS", or "invalid" / "null".
    CString Format() const;

    operator double() const { return m_dt; }  // NOLINT
    bool operator==(const COleDateTime& o) const {
        return m_status == o.m_status && m_dt == o.m_dt;
    }
    bool operator!=(const COleDateTime& o) const { return !(*this == o); }
    bool operator<(const COleDateTime& o) const { return m_dt < o.m_dt; }

    double m_dt = 0.0;
    DateTimeStatus m_status = valid;

private:
    struct Fields {
        int year, month, day, hour, minute, second, dayOfWeek;
    };
    bool Split(Fields& f) const;
};
