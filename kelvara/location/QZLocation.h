/** \addtogroup location
 @{ */
// CQZLocation: an offset inside a table of a field device, written by users
// as text and used by drivers as a number.
//
// A location has a number base, a fixed text width, an increment (only
// multiples of it are valid), a raw minimum and maximum, and an optional
// delimiter that follows its digits. A location may own a friend: the more
// significant component of a compound offset such as "007:12", so that one
// chain of objects parses, formats, counts and carries like a mixed-radix
// number. Values are held in increments (raw offset / increment).
//
// Every operation reports through its return value and the valid flag and
// error code of the component concerned; nothing throws, except loading a
// damaged archive (CArchiveException).
//
// Definitions outside the data model get a defined result instead of a
// division by zero, an endless loop or a huge allocation:
// - An increment below 1 (0 or negative): the location computes as though
//   the increment were 1 (bounds, boundary check, parsed and formatted
//   values); GetIncrement still returns the stored field.
// - A component whose modulus is below 1, whose bounds come near the ends of
//   the 32-bit range, or whose minimum exceeds its maximum does not carry
//   into its friend (see LocationCarry.h for the exact bounds).
// - A format length above MAX_FORMAT_LENGTH: Update does not pad a shorter
//   text to it (the text fails with LE_LENGTH unless it has exactly that many
//   characters), and Format prints the digits at most MAX_FORMAT_LENGTH wide.
// Values wrap around as 32-bit integers do (adding to a value near the top
// of the 32-bit range, or GetRawLocation of a very large chain).
#pragma once

#include "kelvara/framework/Archive.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/Object.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"
#include "kelvara/sibling/QZObject.h"

/// Raw offsets (in table units, not in increments).
struct TableOffsetRange {
    /// The lowest raw offset.
    LONG nMinLocation;
    /// The highest raw offset.
    LONG nMaxLocation;
};

/// The number base of a component's text.
enum LocationRadix : LONG {
    LR_OCTAL = 0,
    LR_HEXADECIMAL = 1,
    LR_DECIMAL = 2,
    LR_ALPHABETIC = 3,
};

/// How a component's text is written and stepped.
struct QZLocationDescriptor {
    LONG nIncrement;  ///< at least 1
    /// The number base.
    LocationRadix eNumberBase;
    LONG nFormatLength;          ///< characters of the component, delimiter included
    LONG nShortestFormatLength;  ///< fewest characters when it is the outermost
};

/// Last error found in a component; FormatError gives its message.
enum LocationError : LONG {
    LE_NONE = 0,
    LE_DECIMAL = 1,
    LE_HEXADECIMAL = 2,
    LE_OCTAL = 3,
    LE_RANGE = 4,
    LE_LENGTH = 5,
    LE_DELIMITER = 6,
    LE_FRIEND = 7,
    LE_BOUNDARY = 8,
    LE_ALPHABETIC = 9,
};

/// An offset inside a table of a field device, written as text and used as a number.
class KELVARA_API CQZLocation : public CQZObject {
    DECLARE_SERIAL(CQZLocation)
public:
    /// The longest text a location formats to.
    static constexpr LONG MAX_FORMAT_LENGTH = 1024;
    /// Chains loaded from an archive deeper than this are taken as damaged.
    static constexpr int MAX_LOADED_CHAIN = 256;

    /// Location 0, increment 1, decimal, 3 characters (shortest 1), range
    /// 0-255, valid, no delimiter, no friend.
    CQZLocation();
    /// The value is the raw minimum, stored unchanged as the value in
    /// increments; no range check.
    CQZLocation(TableOffsetRange range, QZLocationDescriptor descriptor);
    /// The value is nLocation (in increments), then the range check.
    CQZLocation(int nLocation, TableOffsetRange range, QZLocationDescriptor descriptor);
    /// A deep copy, through assignment, then the range check.
    CQZLocation(const CQZLocation& other);
    ~CQZLocation() override;

    /// Copies value, definition, flags and delimiter, replaces the friend
    /// chain by a deep copy of the other's, copies the base part; ends with
    /// the range check (self-assignment too).
    CQZLocation& operator=(const CQZLocation& other);

    /// The number base of this component.
    LocationRadix GetNumberBase() const { return m_Descriptor.eNumberBase; }
    ///@{
    /// The width of this component's text.
    int GetFormatLength() const { return m_Descriptor.nFormatLength; }
    int FormatLength() const { return m_Descriptor.nFormatLength; }
    ///@}
    /// The lowest raw offset of this component.
    int GetMinLocation() const { return m_Range.nMinLocation; }
    /// The highest raw offset of this component.
    int GetMaxLocation() const { return m_Range.nMaxLocation; }
    /// The step between this component's values.
    int GetIncrement() const { return m_Descriptor.nIncrement; }
    /// The friend itself (owned by this location), or nullptr.
    CQZLocation* GetFriendLocation() const { return m_pFriend; }
    /// The delimiter written before the friend's text.
    CString GetDelimiter() const { return m_strDelimiter; }
    /// Sets the delimiter to a copy of *pDelimiter (nullptr: empty).
    void AttatchDelimiter(CString* pDelimiter);
    /// Makes pFriend the friend and takes ownership of it. A friend already
    /// attached is not destroyed (its owner is now the caller). A location
    /// that is this one or already has this one in its friend chain is not
    /// attached, as the chain would never end.
    void AttatchFriendLocation(CQZLocation* pFriend);

    /// 1 only if every component of the chain is valid.
    int IsValid() const;
    /// The first nonzero error from the outermost component inwards, else
    /// this component's.
    int GetLocationError() const;
    /// The width of the whole chain's text, delimiters included.
    int GetTotalFormatLength() const;
    /// The outermost component's shortest length plus the full length of
    /// every other component.
    int GetShortestFormatLength() const;
    /// Value plus the friend's raw location times this component's modulus,
    /// in this component's increments.
    int GetRawLocation() const;
    /// 1 if pOther has the same definition along the whole chain (values and
    /// flags are not compared); 0 for nullptr.
    int CheckDefinition(CQZLocation* pOther);
    /// Takes over pOther's definition (and friend chain) keeping this
    /// location's raw position, carried into the new chain; returns IsValid().
    /// nullptr changes nothing and returns 0.
    int UpdateDefinition(CQZLocation* pOther);
    ///@{
    /// Whole chain to its maximum, minimum or zero; valid, no error.
    void SetAsMax();
    void SetAsMin();
    void SetAsZero();
    ///@}

    /// Parses text (outermost component first); 1 on success, 0 with the
    /// error set on failure. nullptr is taken as an empty text.
    int Update(CString* pText);
    /// Formats the chain (outermost component first) into strOut.
    void Format(CString& strOut);
    /// The message for GetLocationError(); unchanged for LE_FRIEND. For
    /// LE_RANGE the chain's flags end valid with no error.
    void FormatError(CString& strOut);

    void Serialize(CArchive& ar) override;

    /// Sets this component's value; checks the range.
    CQZLocation& operator=(int nLocation);
    ///@{
    /// Adds or subtracts, with carry through the chain; the range check sets the error.
    CQZLocation& operator+=(const CQZLocation& other);
    CQZLocation& operator+=(int nCount);
    CQZLocation& operator-=(const CQZLocation& other);
    CQZLocation& operator-=(int nCount);
    ///@}
    ///@{
    /// As += and -=, on a copy.
    CQZLocation operator+(const CQZLocation& other) const;
    CQZLocation operator+(int nCount) const;
    CQZLocation operator-(const CQZLocation& other) const;
    CQZLocation operator-(int nCount) const;
    ///@}
    /// Steps one increment up; returns this location.
    CQZLocation& operator++();
    ///@{
    /// Returns this location after the increment, not a copy from before.
    CQZLocation& operator++(int);
    CQZLocation& operator--();
    CQZLocation& operator--(int);
    ///@}

    ///@{
    /// Locations of different definitions compare 0 whatever the operator.
    int operator==(const CQZLocation& other) const;
    int operator<(const CQZLocation& other) const;
    int operator>(const CQZLocation& other) const;
    int operator<=(const CQZLocation& other) const;
    int operator>=(const CQZLocation& other) const;
    ///@}
    ///@{
    /// Against a location built from the int with this range and descriptor
    /// (no delimiter, no friend).
    int operator==(int nLocation) const;
    int operator<(int nLocation) const;
    int operator>(int nLocation) const;
    int operator<=(int nLocation) const;
    int operator>=(int nLocation) const;
    ///@}

protected:
    /// This component's value.
    LONG m_nLocation;
    /// The text form of this component.
    QZLocationDescriptor m_Descriptor;
    /// The range of this component.
    TableOffsetRange m_Range;
    /// TRUE when the value is within the range.
    BOOL m_bValid;
    /// The delimiter before the friend's text.
    CString m_strDelimiter;
    /// The error of the last operation (0: none).
    LONG m_nError;
    /// The next component of the chain (owned), or nullptr.
    CQZLocation* m_pFriend;

private:
    int ValidateString(CString* pText);
    void GetMissingDelimiter(CString& strOut);
    int CheckRange();

    LONG Increment() const;
    LONG MinIndex() const;
    LONG MaxIndex() const;
    bool SameDefinitionHere(const CQZLocation& other) const;
    void FormatComponent(CString& strOut) const;
    void SetEach(int nWhich);
    void SerializeFields(CArchive& ar);
};
/** @} */
