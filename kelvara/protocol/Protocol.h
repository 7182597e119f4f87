/** \addtogroup protocol
 @{ */
// CProtocol: the base class of every protocol driver.
//
// A host sees every driver through this virtual interface: it constructs
// the driver, gives it its properties, starts it, hands it communication
// blocks, reads its statistics and comms log, and stops it. Every operation
// has a working default here, so a driver overrides only what its device
// needs. A driver that overrides TransferData calls this class's
// TransferData after setting the block's com time, so the block is counted.
#pragma once

#include "kelvara/addressing/EDFFormat.h"
#include "kelvara/addressing/RemoteAddress.h"
#include "kelvara/framework/Archive.h"
#include "kelvara/framework/Array.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/List.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"
#include "kelvara/protocol/CommsStats.h"
#include "kelvara/sibling/GeneralProperties.h"
#include "kelvara/sibling/QZObject.h"
#include "kelvara/sibling/QZSheet.h"

class CComBlock;
class CPortData;

/// The base class of every protocol driver.
class KELVARA_API CProtocol : public CQZObject {
public:
    /// The library gives the type no meaning beyond its default, 1.
    enum ProtocolType : LONG { PROTOCOL_TYPE_DEFAULT = 1 };
    /// A master opens the connection; a slave waits for a master.
    enum ProtocolStyle : LONG { PROTOCOL_STYLE_MASTER = 0, PROTOCOL_STYLE_SLAVE = 1 };

    /// Constructs with the defaults of the class.
    CProtocol();
    /// EDF texts of the device address format, then of the remote address
    /// format; a null text counts as empty.
    CProtocol(const char* pszDeviceFormat, const char* pszRemoteFormat);
    ~CProtocol() override;
    CProtocol(const CProtocol&) = delete;
    CProtocol& operator=(const CProtocol&) = delete;

    /// 0, or 2006 when already started.
    virtual DWORD StartProtocol();
    /// 0, or 2007 when not started.
    virtual DWORD StopProtocol();
    /// Counts the block and its com time; 0 (2005 for a null block).
    virtual DWORD TransferData(CComBlock* pBlock);
    /// Counts the block and its com time; 2000, as the base class has no
    /// device transfer (2005 for a null block).
    virtual DWORD TransferDeviceData(CComBlock* pBlock);
    /// The driver's version text.
    virtual CString GetVersionInfo();
    /// 65535 unless a derived class knows its port.
    virtual WORD GetPortNumber();
    /// 0 when the sheet was shown (confirmed or cancelled), 2009 when not.
    virtual DWORD DisplayModalPropertySheet();
    /// The general-properties record; derived classes add theirs after it.
    virtual void SerializeProperties(CArchive& ar);
    /// Takes the settings of the host's older packed record for a port.
    virtual bool PackedFileConvertProperties(CPortData* pPortData, int nPortNumber);
    ///@{
    /// The port name the driver reports in its messages.
    virtual CString GetPortName();
    virtual void SetPortName(CString* pPortName);
    ///@}
    ///@{
    /// The first device address.
    virtual WORD GetFirstDevice();
    virtual void SetFirstDevice(WORD wFirstDevice);
    ///@}
    /// The protocol type.
    virtual ProtocolType GetProtocolType();
    /// Master or slave.
    virtual ProtocolStyle GetProtocolStyle();
    /// Waits between blocks, as the driver needs.
    virtual void InterBlockDelay();
    /// The special data format code.
    virtual WORD GetSpecialDataFormat();
    /// Appends the driver's record lines.
    virtual bool DumpToStringList(CStringList& list);
    /// Takes the driver's record lines.
    virtual bool UpdateFromStringList(CStringList* pList);
    /// Two texts the host hands a driver for its own setup.
    virtual void SetUpProtocolProperties(CString* pFirst, CString* pSecond);
    ///@{
    /// Called by the TCP/IP transport's listening thread when a master
    /// connects to, or leaves, a slave-style driver.
    virtual void MasterConnected();
    virtual void MasterDisconnected();
    ///@}

    ///@{
    /// Statistics and the comms log.
    virtual DWORD GetBlockCount();
    virtual DWORD GetTotalCommsTime();
    virtual DWORD GetAveBlockExecutionTime();
    virtual DWORD GetBlocksPerSecond();
    virtual DWORD GetBytesPerSecond();
    virtual DWORD GetTotalBytesIn();
    virtual DWORD GetTotalBytesOut();
    virtual DWORD GetNumberStandardErrors();
    virtual DWORD GetNumberDeviceErrors();
    virtual DWORD GetNumberCRCErrors();
    virtual DWORD GetNumberTimeoutErrors();
    virtual DWORD GetNumberOfRetries();
    virtual CString GetLastErrorString();
    virtual void ResetStatistics();
    virtual void AddToCommsLog(CByteArray* pData, bool bReceived);
    virtual void GetFromCommsLog(CString* pLine);
    virtual void ActivateCommsLog(bool bActive);
    virtual int GetCommsLogCount();
    virtual void LogAsHex(bool bHex);
    ///@}

    ///@{
    /// Feature queries of the driver; all 0 here.
    virtual BOOL BitOffsetActive();
    virtual BOOL DeviceAddressActive();
    virtual BOOL OffsetStyleActive();
    virtual BOOL StringLengthActive();
    ///@}

    /// Stores the name as the sub-protocol; 0.
    virtual DWORD LoadSubProtocol(CString* pSubProtocol);
    /// An IP address pair for drivers that need one.
    virtual void AddIPAddress(const char* pszFirst, const char* pszSecond);
    /// The dotted address a master-style TCP/IP transport connects to; the
    /// base class leaves the string as the caller gave it.
    virtual void GetFirstIPAddress(CString& strAddress);

    ///@{
    /// Kind of driver; a concrete driver answers these.
    virtual BOOL IsNetworkProtocol();
    virtual BOOL IsNoPortProtocol();
    virtual BOOL IsSerialProtocol();
    ///@}

    /// TRUE when pSecond is the address that follows pFirst.
    virtual BOOL IsNextPoint(CRemoteAddress* pFirst, CRemoteAddress* pSecond);
    /// TRUE when pAddress lies between pFirst and pSecond.
    virtual BOOL IsBetweenPoints(CRemoteAddress* pAddress, CRemoteAddress* pFirst,
                                 CRemoteAddress* pLast);
    /// The address after *pCurrent in rNext: 2008 when it cannot be stepped,
    /// else the EDF_RET of the step. An empty current address is copied to
    /// rNext first.
    virtual DWORD GetNextRemoteAddress(CRemoteAddress* pCurrent, CRemoteAddress& rNext);
    /// Steps as GetNextRemoteAddress does and always returns 0.
    virtual DWORD GetNextDeviceAddress(CRemoteAddress* pCurrent, CRemoteAddress& rNext);
    /// The address's own Validate result (an EDF_RET).
    virtual DWORD ValidateRemoteAddress(CRemoteAddress* pAddress);
    /// Validates the device address of a remote address.
    virtual DWORD ValidateDeviceAddress(CRemoteAddress* pAddress);
    /// Validates the block parameters that go with an address.
    virtual DWORD ValidateAdditionalParameters(CRemoteAddress* pAddress, WORD wBlockType,
                                               int nFirst, int nSecond);
    /// The largest block for an address.
    virtual DWORD GetMaxBlockSize(CRemoteAddress* pAddress);
    ///@{
    /// The formats of remote and device addresses.
    virtual CEDFFormat* GetEDFFormatRemote();
    virtual CEDFFormat* GetEDFFormatDevice();
    ///@}
    /// Appends the driver's table names ("Data" for the base class).
    virtual void GetProtocolTables(CStringArray* pTables);
    /// The table an address belongs to.
    virtual CString GetTableFromAddress(CRemoteAddress* pAddress);

    /// Sends a text to the log library (level 1 for system errors).
    void SendLogMessage(CString* pText, DWORD dwLevel);

    /// The statistics a driver hands to its transport and its blocks.
    CCommsStats* GetCommsStats() { return &m_CommsStats; }
    /// The driver's property sheet.
    CQZSheet* GetPropertySheet() { return &m_PropertySheet; }
    /// The general-properties record.
    CGeneralProperties* GetGeneralProperties() { return &m_GeneralProperties; }
    /// True once the driver has started.
    bool IsStarted() const { return m_bStarted != 0; }

protected:
    /// The general-properties record.
    CGeneralProperties m_GeneralProperties;
    /// The property sheet.
    CQZSheet m_PropertySheet;
    /// Nonzero once started.
    BOOL m_bStarted = 0;
    /// The statistics and comms log.
    CCommsStats m_CommsStats;
    /// The port name.
    CString m_strPortName;
    /// The protocol type.
    ProtocolType m_eProtocolType = PROTOCOL_TYPE_DEFAULT;
    /// Master or slave.
    ProtocolStyle m_eProtocolStyle = PROTOCOL_STYLE_MASTER;
    /// The sub-protocol name.
    CString m_strSubProtocol;
    /// The special data format code.
    WORD m_wSpecialDataFormat = 0;
    /// The first device address.
    WORD m_wFirstDevice = 0;
    ///@{
    /// The formats of remote and device addresses.
    CEDFFormat m_EDFFormatRemote;
    CEDFFormat m_EDFFormatDevice;
    ///@}

private:
    DWORD CountBlock(CComBlock* pBlock, DWORD dwResult);
    CString TableName();
};
/** @} */
