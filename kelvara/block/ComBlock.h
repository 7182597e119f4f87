/** \addtogroup block
 @{ */
// CComBlock: one read or write of a run of data points, handed by a host to
// a protocol driver and filled in by it.
#pragma once

#include <atomic>

#include "kelvara/addressing/RemoteAddress.h"
#include "kelvara/framework/Archive.h"
#include "kelvara/framework/Array.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/List.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"
#include "kelvara/location/QZLocation.h"
#include "kelvara/sibling/QZObject.h"

class CCommsStats;
class CQZProperties;

/// Whether a block reads from or writes to the device.
enum ReadOrWrite : int { RW_READ = 0, RW_WRITE = 1 };

/// Only the default, BLOCK_PRIORITY_NORMAL, means anything to the library;
/// hosts may use the others to order their work.
enum BlockPriority : int {
    BLOCK_PRIORITY_URGENT = 0,
    BLOCK_PRIORITY_HIGH = 1,
    BLOCK_PRIORITY_NORMAL = 2,
    BLOCK_PRIORITY_LOW = 3,
};

/// The unit in which a table-addressed block counts; the library reads it
/// only as an element size (1, 1, 1, 1, 2, 4 and 8 bytes).
enum ProtocolBaseUnit : int {
    PBU_BIT = 0,
    PBU_NIBBLE = 1,
    PBU_BYTE = 2,
    PBU_CHARACTER = 3,
    PBU_WORD = 4,
    PBU_DOUBLE_WORD = 5,
    PBU_QUAD_WORD = 6,
};

/// A pair of offsets a driver keeps with a block.
struct BitOffsetMapping {
    /// The first offset.
    int nFirstOffset;
    /// The second offset.
    int nSecondOffset;
};

/// The pairs of a block.
using BitOffsetMappingList = CList<BitOffsetMapping*, BitOffsetMapping*>;

/// One read or write of a run of data points, handed by a host to a driver and filled in by it.
class KELVARA_API CComBlock : public CQZObject {
public:
    /// Constructs with the defaults of the class.
    CComBlock();
    /// First address (copied), block type, item count, point count, element
    /// size.
    CComBlock(CRemoteAddress* pFirstAddress, WORD wBlockType, DWORD dwItemCount, DWORD dwPointCount,
              DWORD dwElementSize);
    /// Table name, PLC device type, table offset (copied), base unit, item
    /// count, point count. The block is table-addressed.
    CComBlock(CString* pTableName, int nPLCDeviceType, CQZLocation* pTableOffset,
              ProtocolBaseUnit eBaseUnit, DWORD dwItemCount, DWORD dwPointCount);
    /// Copies other.
    CComBlock(const CComBlock& src);
    ~CComBlock() override;

    /// Gives this block a fresh id and copies the source; the source's offset
    /// pairs are put in front of this block's own, in reverse order.
    CComBlock& operator=(const CComBlock& src);

    void Serialize(CArchive& ar) override;
    /// "Generated read block containing ..." for a host's log, or an empty
    /// string when the first address is a single blank.
    CString CreateLogString();

    ///@{
    /// Status and errors.
    void SetBlockGood() { m_bBad = 0; }
    void SetBlockBad() { m_bBad = 1; }
    int IsBlockGood() { return m_bBad == 0 ? 1 : 0; }
    void EnableBlock() { m_bDisabled = 0; }
    void DisableBlock() { m_bDisabled = 1; }
    int IsBlockEnabled() { return m_bDisabled == 0 ? 1 : 0; }
    ///@}
    /// Stores the code and its text and counts it in *pStats (2001 also as a
    /// time-out, 2002 also as a checksum error). pStats must not be null.
    void SetStandardErrorCode(DWORD dwCode, CCommsStats* pStats);
    /// Stores a device-specific code and text and counts it in *pStats.
    void SetDeviceError(DWORD dwCode, CString* pText, CCommsStats* pStats);
    /// Clears times, errors and status for the next transfer, and the data.
    void RecycleBlock();
    /// As RecycleBlock, keeping the data (to write the same values again).
    void RecycleBlockLeaveData();

    /// Data.
    void SetBlockData(CByteArray* pData);
    /// Sets the data and makes the block a write.
    void FillWriteBuffer(CByteArray* pData);
    /// 0 with rData untouched when the block is bad or has no data.
    int GetBlockData(CByteArray& rData);
    /// Stores the address encoded by the driver.
    void SetEncodedEDF(CByteArray* pEDF);
    /// The encoded address.
    CByteArray* GetEncodedEDF() { return &m_EncodedEDF; }
    /// Number of data bytes held.
    int GetBufferSize() { return m_Data.GetSize(); }

    ///@{
    /// Extraction. Each returns 1, or 0 with the output untouched when the
    /// block is bad, has no data, or the range does not lie in the data.
    int GetBlockElement(DWORD dwIndex, CByteArray& rOut);
    int GetBlockSegment(int nFirst, int nLast, CByteArray& rOut);
    int GetBlockBitSegment(int nFirst, int nLast, CByteArray& rOut);
    int GetBlockPackedBitSegment(int nFirstBit, int nLastBit, CByteArray& rOut);
    int GetBlockNibbleSegment(int nFirst, int nLast, CByteArray& rOut);
    ///@}

    /// Offset pairs. The block owns the records it holds.
    void AddNewOffsetPair(int nFirstOffset, int nSecondOffset);
    /// Appends the records of the list themselves, not copies: the block
    /// takes ownership of them and deletes them when it is destroyed. The
    /// caller must not delete them, nor give them to another block. The
    /// list itself is left holding the same pointers.
    void AddOffsetPairs(BitOffsetMappingList* pPairs);
    /// The next pair and 1; after the last pair (-1, -1) and 0, and the walk
    /// starts again at the first pair.
    int GetNextOffsetPair(int* pFirstOffset, int* pSecondOffset);
    /// Number of offset pairs held.
    int GetOffsetPairCount() { return m_OffsetPairs.GetCount(); }

    ///@{
    /// Fields.
    DWORD GetBlockId() { return m_dwBlockId; }
    ProtocolBaseUnit GetProtocolBaseUnit() { return m_eProtocolBaseUnit; }
    WORD GetBlockType() { return m_wBlockType; }
    void SetBlockType(WORD wBlockType) { m_wBlockType = wBlockType; }
    ReadOrWrite GetReadOrWrite() { return m_eReadOrWrite; }
    void SetReadOrWrite(ReadOrWrite eReadOrWrite) { m_eReadOrWrite = eReadOrWrite; }
    BlockPriority GetPriority() { return m_ePriority; }
    void SetBlockPriority(BlockPriority ePriority) { m_ePriority = ePriority; }
    DWORD GetComTime() { return m_dwComTime; }
    void SetComTime(DWORD dwComTime) { m_dwComTime = dwComTime; }
    DWORD GetStandardErrorCode() { return m_dwStandardErrorCode; }
    DWORD GetDeviceErrorCode() { return m_dwDeviceErrorCode; }
    CString* GetStandardErrorString() { return &m_strStandardError; }
    CString* GetDeviceErrorString() { return &m_strDeviceError; }
    DWORD GetItemCount() { return m_dwItemCount; }
    DWORD GetPointCount() { return m_dwPointCount; }
    CString* GetTableName() { return &m_strTableName; }
    int GetPLCDeviceType() { return m_nPLCDeviceType; }
    CQZLocation* GetTableOffset() { return &m_TableOffset; }
    CQZLocation* GetDeviceLocation() { return &m_DeviceLocation; }
    void SetDeviceLocation(CQZLocation* pLocation);
    int GetStringLength() { return m_nStringLength; }
    void SetStringLength(int nStringLength) { m_nStringLength = nStringLength; }
    int GetBitOffset() { return m_nBitOffset; }
    void SetBitOffset(int nBitOffset) { m_nBitOffset = nBitOffset; }
    BOOL IsTableAddressed() { return m_bTableAddressed; }
    CTypedPtrArray<CObArray, CQZProperties*>* GetPropArray() { return &m_PropArray; }
    DWORD GetElementSize() { return m_dwElementSize; }
    CRemoteAddress* GetFirstAddress() { return &m_FirstAddress; }
    CRemoteAddress* GetDeviceAddress() { return &m_DeviceAddress; }
    void SetDeviceAddress(CRemoteAddress* pAddress);
    ///@}

private:
    // Copy-construction starts from members built empty, then assigns.
    struct EmptyTag {};
    explicit CComBlock(EmptyTag);

    static DWORD TakeNextBlockId();
    // Element size of a table-addressed block, from its base unit or, for
    // an unknown unit, its block type.
    DWORD GetSizeFromBaseUnit();
    DWORD GetExtractionElementSize();
    // Whether [nFirst, nLast] is refused for a block whose indexes run
    // below nLimit (bytes or bits).
    bool RefusesRange(LONGLONG nFirst, LONGLONG nLast, LONGLONG nLimit);
    void ClearForTransfer();

    DWORD m_dwBlockId;
    ProtocolBaseUnit m_eProtocolBaseUnit = PBU_BIT;
    WORD m_wBlockType = 17;
    ReadOrWrite m_eReadOrWrite = RW_READ;
    BlockPriority m_ePriority = BLOCK_PRIORITY_NORMAL;
    BOOL m_bDisabled = 0;
    DWORD m_dwComTime = 0;
    DWORD m_dwStandardErrorCode = 0;
    DWORD m_dwDeviceErrorCode = 0;
    CString m_strStandardError;
    CString m_strDeviceError;
    BOOL m_bBad = 0;
    DWORD m_dwItemCount = 1;
    DWORD m_dwPointCount = 1;
    CString m_strTableName;
    int m_nPLCDeviceType = 0;
    CQZLocation m_TableOffset;
    CQZLocation m_DeviceLocation;
    CByteArray m_EncodedEDF;
    CByteArray m_Data;
    int m_nStringLength = -1;
    int m_nBitOffset = -1;
    BOOL m_bTableAddressed = 0;
    CTypedPtrArray<CObArray, CQZProperties*> m_PropArray;
    BitOffsetMappingList m_OffsetPairs;
    POSITION m_posOffsetPair = nullptr;
    DWORD m_dwElementSize = 1;
    CRemoteAddress m_FirstAddress;
    CRemoteAddress m_DeviceAddress;

    // The next block id, shared by every block of the process. Ids are
    // unique while blocks are made on one thread at a time; the atomic only
    // keeps concurrent use free of data races.
    static std::atomic<DWORD> m_dwNextBlockId;
};
/** @} */
