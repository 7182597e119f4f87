/** \addtogroup addressing
 @{ */
// EDF_RET: the result of every address-format and remote-address operation.
#pragma once

/// A plain enumeration so that callers write EDF_OK, EDF_OUT_OF_RANGE and so
/// on, as users of the address language always have. Values are fixed: hosts
/// store and compare them as numbers.
enum EDF_RET {
    EDF_OK = 0,
    EDF_NO_KEYWORD_MATCH = 2,
    EDF_UNKNOWN_FIELD_NAME = 8,
    EDF_UNKNOWN_FIELD_INDEX = 9,
    EDF_NOT_A_NUMBER = 10,
    EDF_NOT_A_KEYWORD = 11,
    EDF_OUT_OF_RANGE = 12,
    EDF_TOO_SHORT = 13,
    EDF_EXTRA_CHARACTERS = 14,
    EDF_LITERAL_MISMATCH = 15,
    EDF_FAILED = 999,
};
/** @} */
