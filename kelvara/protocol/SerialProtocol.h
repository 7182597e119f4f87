/** \addtogroup protocol
 @{ */
/// CSerialProtocol: the base class of drivers that talk over a serial line.
///
/// It adds the port, flow and timing records, with getters for every
/// setting, setters for a driver's own defaults (properties loaded later
/// overwrite them), their pages in the property sheet, and their
/// persistence. The driver hands the records to its CComPort.
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/protocol/Protocol.h"
#include "kelvara/sibling/FlowProperties.h"
#include "kelvara/sibling/PortProperties.h"
#include "kelvara/sibling/TimingProperties.h"

class KELVARA_API CSerialProtocol : public CProtocol {
public:
    /// Constructs with the defaults of the class.
    CSerialProtocol();
    /// Device address format, then remote address format.
    CSerialProtocol(const char* pszDeviceFormat, const char* pszRemoteFormat);
    ~CSerialProtocol() override;

    /// The port record's port number.
    WORD GetPortNumber() override;
    /// General, then port, flow and timing records.
    void SerializeProperties(CArchive& ar) override;
    /// Takes the three records of an older packed configuration, the given
    /// port number, and the time-out from seconds to milliseconds. False, and
    /// nothing changed, without a record or when the time-out in
    /// milliseconds would not fit in 32 bits.
    bool PackedFileConvertProperties(CPortData* pPortData, int nPortNumber) override;
    /// Port, flow, timing; stops at the first record that fails.
    bool DumpToStringList(CStringList& list) override;
    /// Port, flow, timing, all or nothing: when a record fails, the result is
    /// false and every record and the list are as they were.
    bool UpdateFromStringList(CStringList* pList) override;

    ///@{
    /// The port record's settings.
    virtual BOOL IsParityEnabled();
    virtual DWORD GetBaudRate();
    virtual CPortProperties::PARITY_ENUM GetParity();
    virtual CPortProperties::STOPBITS_ENUM GetStopBits();
    virtual WORD GetDataBits();
    virtual CPortProperties::MEDIA_ENUM GetMediaType();
    ///@}
    /// Sets the port record's settings.
    virtual void SetPortDefaults(BOOL bParityEnabled, DWORD dwBaudRate,
                                 CPortProperties::PARITY_ENUM eParity,
                                 CPortProperties::STOPBITS_ENUM eStopBits, WORD wDataBits,
                                 WORD wPortNumber, CPortProperties::MEDIA_ENUM eMediaType);
    ///@{
    /// The flow record's settings.
    virtual BOOL IsFlowControlEnabled();
    virtual DWORD GetRTSCTSDelay();
    virtual CFlowProperties::DTR_ENUM GetDTRControl();
    virtual CFlowProperties::RTS_ENUM GetRTSControl();
    ///@}
    /// Sets the flow record's settings.
    virtual void SetFlowDefaults(BOOL bFlowControlEnabled, DWORD dwRTSCTSDelay,
                                 CFlowProperties::DTR_ENUM eDTRControl,
                                 CFlowProperties::RTS_ENUM eRTSControl);
    ///@{
    /// The timing record's settings.
    virtual DWORD GetRequestMessageDelay();
    virtual DWORD GetRetryCount();
    virtual DWORD GetTimeout();
    ///@}
    /// Sets the timing record's settings.
    virtual void SetTimingDefaults(DWORD dwRequestMessageDelay, DWORD dwRetryCount,
                                   DWORD dwTimeout);

    ///@{
    /// The records, for the driver's CComPort.
    CPortProperties* GetPortProperties() { return &m_PortProperties; }
    CFlowProperties* GetFlowProperties() { return &m_FlowProperties; }
    CTimingProperties* GetTimingProperties() { return &m_TimingProperties; }
    ///@}

protected:
    /// The port record.
    CPortProperties m_PortProperties;
    /// The flow record.
    CFlowProperties m_FlowProperties;
    /// The timing record.
    CTimingProperties m_TimingProperties;

private:
    void AddRecordPages();
};
/** @} */
